#include "session/live_session.h"

#include "kivo/base/overloaded.h"

namespace remote::session {

SessionStatus current_status(const LiveSession& live) {
  return std::visit(kivo::Overloaded{
                        [](const SshTerminal& s) { return s.session.status(); },
                        [](const StartFailed& s) -> SessionStatus { return Failed{s.text}; },
                        [](const NotAvailable& s) -> SessionStatus {
                          return Unavailable{std::string(doc::availability_text(s.availability, s.kind))};
                        },
                        [](const Preview& s) { return s.status; },
                    },
                    live);
}

StatusPresentation present(const SessionStatus& status, doc::ConnectionKind kind) {
  return std::visit(
      kivo::Overloaded{
          [&](const Connecting&) -> StatusPresentation {
            if (kind == doc::ConnectionKind::Kivo) {
              return {"Waiting for consent…",
                      "Opening an authenticated route to the exact target, then waiting for it to share a workspace "
                      "surface…",
                      ""};
            }
            return {"Connecting…", "Negotiating the transport and authenticating…", ""};
          },
          [](const Connected&) -> StatusPresentation { return {"Connected", "", ""}; },
          [](const Ended&) -> StatusPresentation { return {"Session ended", "The remote closed the session.", ""}; },
          [&](const Unavailable& u) -> StatusPresentation {
            std::string further;
            switch (kind) {
              case doc::ConnectionKind::Ssh:
              case doc::ConnectionKind::Vnc:
                further = "Use Kivo device control now, or install Remote with live network and host-key trust access.";
                break;
              case doc::ConnectionKind::Rdp:
                further = "Edit this saved profile to use SSH, VNC, or Kivo device control.";
                break;
              case doc::ConnectionKind::Kivo: further = "No connection was attempted."; break;
            }
            return {"Connection not available", u.text, further};
          },
          [](const Failed& f) -> StatusPresentation {
            return {"Connection failed", f.text, "This is the real error — nothing is simulated."};
          },
      },
      status);
}

ConnectOutcome connect_outcome(const SessionStatus* status) {
  using K = ConnectOutcome::Kind;
  const ConnectOutcome closed{K::Failed, "remote.connection_closed", "remote connection closed before it became ready"};
  if (status == nullptr) return closed;
  return std::visit(kivo::Overloaded{
                        [](const Connecting&) { return ConnectOutcome{K::Running, "", ""}; },
                        [](const Connected&) { return ConnectOutcome{K::Succeeded, "", ""}; },
                        [&](const Ended&) { return closed; },
                        [](const Unavailable& u) { return ConnectOutcome{K::Failed, "remote.transport_unavailable", u.text}; },
                        [](const Failed& f) { return ConnectOutcome{K::Failed, "remote.connect_failed", f.text}; },
                    },
                    *status);
}

std::optional<ssh::HostKeyCheck> host_key_observation(const LiveSession& live) {
  if (const auto* ssh = std::get_if<SshTerminal>(&live)) return ssh->session.host_key_observation();
  if (const auto* preview = std::get_if<Preview>(&live)) return preview->observation;
  return std::nullopt;
}

}  // namespace remote::session
