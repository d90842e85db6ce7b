#pragma once
// A background operation started by automation and not yet answered by a poll.

#include <cstdint>
#include <variant>

#include "kivo/base/uuid.h"
#include "kivo/ui/application.h"
#include "ssh/ssh_session.h"

namespace remote::app {

struct ConnectPending {
  kivo::ui::InvocationId invocation;
  kivo::Uuid profile;
  std::uint64_t identity = 0;  // the session identity when it started
};

struct SendTextPending {
  ssh::AckReceiver ack;
  kivo::ui::InvocationId invocation;
  kivo::Uuid profile;
  std::uint64_t identity = 0;
};

using PendingOperation = std::variant<ConnectPending, SendTextPending>;

}  // namespace remote::app
