// The test application launched like a real program, for driving a real window through the
// automation endpoint. Each automation request's command is printed to standard error by the
// launch hook that observes them.

#include <cstdio>

#include "kivo/doc/persist.h"
#include "kivo/ui/launch.h"
#include "test_app.h"

int main() {
  using namespace kivo::ui::launch;
  LaunchDescriptor d;
  d.app_id = "io.kivo.probe";
  d.create_application = [](const LaunchContext&) -> std::unique_ptr<kivo::ui::Application> {
    return std::make_unique<kivo::automation::test::TestApp>();
  };
  d.register_actions = [](kivo::ui::App& app) { kivo::automation::test::register_edit(app.action_registry_mut()); };
  d.window_size = [] { return std::pair<unsigned, unsigned>{480, 480}; };
  d.sync_between_devices = [] { return false; };
  d.persistence = [](std::string_view app_id, kivo::doc::persist::Options options) {
    return kivo::doc::persist::open(app_id, options);
  };
  d.on_automation_request = [](kivo::ui::App&, std::string_view command) {
    std::fprintf(stderr, "automation request: %.*s\n", static_cast<int>(command.size()), command.data());
  };
  return run_or_exit(d);
}
