// Operations invoked by automation. (Being written: nothing is handled yet.)

#include "app/remote_app.h"

namespace remote::app {

std::vector<std::string> RemoteApp::operation_types() const { return {}; }

kivo::ui::operation::PerformResult RemoteApp::perform_operation(const kivo::ui::Invocation&,
                                                                kivo::actions::OperationClass,
                                                                const kivo::ui::EventContext&) {
  return kivo::ui::operation::NotHandled{};
}

kivo::ui::operation::StartResult RemoteApp::start_operation(const kivo::ui::Invocation&, kivo::actions::OperationClass,
                                                            const kivo::ui::InvocationId&,
                                                            const kivo::ui::EventContext&) {
  return kivo::ui::operation::NotHandled{};
}

kivo::ui::operation::PollResult RemoteApp::poll_operation(const kivo::ui::InvocationId&, bool,
                                                          const kivo::ui::EventContext&) {
  return kivo::ui::operation::NothingToReport{};
}

}  // namespace remote::app
