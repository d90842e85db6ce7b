// Remote: fills in the launch descriptor and hands it to the framework.

#include "app/entry.h"
#include "kivo/ui/launch.h"

int main() { return kivo::ui::launch::run_or_exit(remote::app::launch_descriptor()); }
