#pragma once
// The one live session the application holds: a running transport, or why there is none.

#include <string>
#include <variant>

#include "doc/availability.h"
#include "session/session_status.h"
#include "ssh/ssh_session.h"

namespace remote::session {

struct SshTerminal {
  ssh::SshSession session;
};
// The start itself failed before any worker ran.
struct StartFailed {
  std::string text;
};
// The availability check refused the profile; nothing was attempted.
struct NotAvailable {
  doc::TransportAvailability availability;
  doc::ConnectionKind kind;
};
// A fixed status shown for visual review, with no worker behind it; it may carry a
// terminal to show and the host-key problem a handshake would have recorded.
struct Preview {
  SessionStatus status;
  std::optional<vt::TerminalScreen> terminal;
  std::optional<ssh::HostKeyCheck> observation;
};

using LiveSession = std::variant<SshTerminal, StartFailed, NotAvailable, Preview>;

// What the session reports now: the worker's shared status, or the fixed one.
SessionStatus current_status(const LiveSession& live);

// The status card's texts (all statuses but Connected).
struct StatusPresentation {
  std::string title;
  std::string detail;
  std::string further;  // empty when there is no further line
};
StatusPresentation present(const SessionStatus& status, doc::ConnectionKind kind);

// A background connect's outcome from the current status.
struct ConnectOutcome {
  enum class Kind { Running, Succeeded, Failed } kind = Kind::Running;
  std::string code;
  std::string message;
};
ConnectOutcome connect_outcome(const SessionStatus* status);

// The host-key problem the SSH handshake recorded, when the session is an SSH terminal.
std::optional<ssh::HostKeyCheck> host_key_observation(const LiveSession& live);

}  // namespace remote::session
