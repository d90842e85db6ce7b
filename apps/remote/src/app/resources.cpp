// The resource tree automation sees. (Being written: empty so far.)

#include "app/remote_app.h"

namespace remote::app {

std::vector<kivo::actions::Resource> RemoteApp::action_resources(kivo::doc::Document&) { return {}; }

}  // namespace remote::app
