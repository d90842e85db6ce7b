// Remote operations invoked by automation: run now, started in the background and polled.
// They act directly — their risk was declared with the action — so no confirmation sheet
// opens, and their outcomes go back to the caller, never into the notice.

#include "actions/action_json.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "kivo/base/overloaded.h"
#include "kivo/doc/document.h"
#include "ssh/known_hosts.h"

namespace remote::app {
namespace {

namespace op = kivo::ui::operation;
using kivo::actions::OperationClass;

using kivo::Overloaded;

constexpr const char* kProfileGone = "saved connection no longer exists";
constexpr const char* kSessionGone = "that remote session is no longer active";

// What an invocation holds: none when it is not ours, else the operation or why its payload
// does not decode.
std::optional<std::expected<actions::RemoteOperation, std::string>> decode(const kivo::ui::Invocation& invocation) {
  return actions::decode_operation(invocation.type_name, invocation.payload);
}

// The SSH session text may go to: only a terminal its worker reports connected.
ssh::SshSession* connected_terminal(std::optional<session::LiveSession>& live) {
  auto* terminal = live ? std::get_if<session::SshTerminal>(&*live) : nullptr;
  if (terminal == nullptr || !std::holds_alternative<session::Connected>(terminal->session.status())) return nullptr;
  return &terminal->session;
}

constexpr const char* kNotATerminal = "text input requires a connected SSH terminal";

}  // namespace

std::vector<std::string> RemoteApp::operation_types() const { return {std::string(actions::kOperationTypeName)}; }

kivo::ui::operation::PerformResult RemoteApp::perform_operation(const kivo::ui::Invocation& invocation,
                                                                OperationClass declared,
                                                                const kivo::ui::EventContext&) {
  if (declared == OperationClass::None) return op::NotHandled{};
  auto decoded = decode(invocation);
  if (!decoded) return op::NotHandled{};
  if (!*decoded) return op::Error{decoded->error()};
  const actions::RemoteOperation& operation = **decoded;
  if (actions::operation_class(operation) != declared) {
    return op::Error{"remote operation kind does not match its declared contract"};
  }

  // View operations only move what this device shows; a throw-away document makes sure
  // nothing they touch can reach the persisted one.
  const auto show = [this](const AppMessage& message) {
    kivo::doc::Document scratch;
    update(message, scratch);
  };
  using Result = op::PerformResult;
  return std::visit(
      Overloaded{
          [&](const actions::ShowConnections&) -> Result {
            show(msg::ShowList{});
            return op::Done{};
          },
          [&](const actions::NewConnectionForm&) -> Result {
            show(msg::OpenNewForm{});
            return op::Done{};
          },
          [&](const actions::EditConnection& o) -> Result {
            if (find_profile(o.connection_id) == nullptr) return op::Error{kProfileGone};
            show(msg::OpenEditForm{o.connection_id});
            return op::Done{};
          },
          [&](const actions::Connect& o) -> Result {
            if (find_profile(o.connection_id) == nullptr) return op::Error{kProfileGone};
            start_session(o.connection_id);
            return op::Done{};
          },
          [&](const actions::Disconnect& o) -> Result {
            if (session_target_ != o.connection_id) return op::Error{kSessionGone};
            end_session();
            return op::Done{};
          },
          [&](const actions::SendText& o) -> Result {
            if (session_target_ != o.connection_id) return op::Error{kSessionGone};
            auto* terminal = connected_terminal(live_);
            if (terminal == nullptr) return op::Error{kNotATerminal};
            if (auto queued = ssh::submit_input(*terminal, std::string_view(o.text)); !queued) {
              return op::Error{queued.error()};
            }
            needs_repaint_ = true;
            return op::Done{};
          },
          [&](const actions::TrustSshHostKey& o) -> Result {
            const auto* profile = find_profile(o.connection_id);
            if (profile == nullptr) return op::Error{kProfileGone};
            const auto observation = host_key_observation(o.connection_id);
            const auto* fresh = observation ? std::get_if<ssh::NeedsTrust>(&*observation) : nullptr;
            if (fresh == nullptr || fresh->observed.algorithm != o.observed.algorithm ||
                fresh->observed.fingerprint != o.observed.fingerprint) {
              return op::Error{"the observed SSH host key is stale; reconnect to inspect the current key"};
            }
            auto store = ssh::resolve_store_path();
            if (!store) return op::Error{"private SSH host-key storage is unavailable: " + store.error()};
            if (auto trusted = ssh::trust_host_key(*store, profile->host, profile->port, fresh->observed); !trusted) {
              return op::Error{"could not save SSH host-key trust: " + trusted.error()};
            }
            start_session(o.connection_id);
            return op::Done{};
          },
          [&](const actions::ForgetSshHostKey& o) -> Result {
            const auto* profile = find_profile(o.connection_id);
            if (profile == nullptr) return op::Error{kProfileGone};
            const auto observation = host_key_observation(o.connection_id);
            if (!observation || !std::holds_alternative<ssh::Changed>(*observation)) {
              return op::Error{"only the currently observed changed SSH host key can be forgotten"};
            }
            auto store = ssh::resolve_store_path();
            if (!store) return op::Error{"private SSH host-key storage is unavailable: " + store.error()};
            // Finding no pin is fine: the changed key still blocks, so the session ends either way.
            if (auto removed = ssh::forget_host_key(*store, profile->host, profile->port); !removed) {
              return op::Error{"could not forget SSH host-key trust: " + removed.error()};
            }
            end_session();
            return op::Done{};
          },
      },
      operation);
}

kivo::ui::operation::StartResult RemoteApp::start_operation(const kivo::ui::Invocation& invocation,
                                                            OperationClass declared,
                                                            const kivo::ui::InvocationId& id,
                                                            const kivo::ui::EventContext& context) {
  if (declared != OperationClass::Effect) return op::NotHandled{};
  auto decoded = decode(invocation);
  if (!decoded) return op::NotHandled{};
  if (!*decoded) return op::Error{decoded->error()};
  if (pending_operation_) return op::Error{"another remote operation is still running"};
  const actions::RemoteOperation& operation = **decoded;
  if (actions::operation_class(operation) == OperationClass::View) return op::Error{"view operations do not start background work"};

  using Result = op::StartResult;
  const auto now = [&]() -> Result {
    return std::visit(Overloaded{
                          [](const op::Done&) -> Result { return op::Completed{}; },
                          [](const op::Error& e) -> Result { return e; },
                          [](const op::NotHandled&) -> Result { return op::NotHandled{}; },
                      },
                      perform_operation(invocation, declared, context));
  };

  if (const auto* connect = std::get_if<actions::Connect>(&operation)) {
    const auto* profile = find_profile(connect->connection_id);
    if (profile == nullptr) return op::Error{kProfileGone};
    const auto availability = doc::availability(*profile);
    if (availability != doc::TransportAvailability::Ready) {
      return op::Error{doc::availability_reason(*profile, availability)};
    }
    start_session(connect->connection_id);
    const auto status = current_status();
    if (!status) return op::Error{"remote transport did not start"};
    return std::visit(Overloaded{
                          [&](const session::Connecting&) -> Result {
                            pending_operation_ = ConnectPending{id, connect->connection_id, session_identity_};
                            return op::Started{};
                          },
                          [](const session::Connected&) -> Result { return op::Completed{}; },
                          [](const session::Ended&) -> Result { return op::Error{"remote transport did not start"}; },
                          [](const session::Unavailable& u) -> Result { return op::Error{u.text}; },
                          [](const session::Failed& f) -> Result { return op::Error{f.text}; },
                      },
                      *status);
  }

  if (const auto* send = std::get_if<actions::SendText>(&operation)) {
    if (session_target_ != send->connection_id) return op::Error{kSessionGone};
    auto* terminal = connected_terminal(live_);
    if (terminal == nullptr) return op::Error{kNotATerminal};
    auto ack = ssh::submit_input_with_ack(*terminal, std::string_view(send->text));
    if (!ack) return op::Error{ack.error()};
    pending_operation_ = SendTextPending{std::move(*ack), id, send->connection_id, session_identity_};
    needs_repaint_ = true;
    return op::Started{};
  }

  // Disconnect and the host-key operations finish at once.
  return now();
}

kivo::ui::operation::PollResult RemoteApp::poll_operation(const kivo::ui::InvocationId& id, bool cancel,
                                                          const kivo::ui::EventContext&) {
  if (!pending_operation_) return op::NothingToReport{};
  const bool ours = std::visit([&](const auto& p) { return p.invocation == id; }, *pending_operation_);
  if (!ours) return op::NothingToReport{};

  using Result = op::PollResult;
  const auto answer = std::visit(
      Overloaded{
          [&](const ConnectPending& p) -> Result {
            const bool same_session = session_target_ == p.profile && session_identity_ == p.identity;
            if (cancel) {
              // A session the user has since replaced is theirs now and stays.
              if (same_session) end_session();
              return op::Cancelled{"remote connection attempt cancelled"};
            }
            if (!same_session) {
              return op::Failed{"remote.session_replaced", "the connection attempt was superseded by a newer session"};
            }
            const auto status = current_status();
            auto outcome = session::connect_outcome(status ? &*status : nullptr);
            switch (outcome.kind) {
              case session::ConnectOutcome::Kind::Running: return op::NothingToReport{};
              case session::ConnectOutcome::Kind::Succeeded: return op::Completed{};
              case session::ConnectOutcome::Kind::Failed:
                return op::Failed{std::move(outcome.code), std::move(outcome.message)};
            }
            return op::NothingToReport{};
          },
          [&](SendTextPending& p) -> Result {
            if (session_target_ != p.profile || session_identity_ != p.identity) {
              return op::Failed{"remote.session_replaced", "the SSH session ended before input delivery was acknowledged"};
            }
            return std::visit(Overloaded{
                                  [](const ssh::AckPending&) -> Result { return op::NothingToReport{}; },
                                  [](const ssh::AckSucceeded&) -> Result { return op::Completed{}; },
                                  [](const ssh::AckFailed& f) -> Result { return op::Failed{"remote.input_failed", f.text}; },
                                  [](const ssh::AckDisconnected&) -> Result {
                                    return op::Failed{"remote.input_worker_lost",
                                                      "remote input worker stopped before acknowledgement"};
                                  },
                              },
                              ssh::receive_ack(p.ack));
          },
      },
      *pending_operation_);
  if (!std::holds_alternative<op::NothingToReport>(answer)) pending_operation_.reset();
  return answer;
}

}  // namespace remote::app
