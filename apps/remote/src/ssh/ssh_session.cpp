#include "ssh/ssh_session.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "kivo/base/text.h"
#include "kivo/sync/thread.h"
#include "ssh/worker.h"

namespace remote::ssh {
namespace {


// An environment variable that is set and valid UTF-8 (anything else counts as unset).
std::optional<std::string> text_variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !kivo::text::is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

bool metadata_readable(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::expected<void, std::string> check_input_size(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return std::unexpected(std::string("SSH input cannot be empty"));
  if (bytes.size() > kMaxSshInputBytes) {
    return std::unexpected("SSH input exceeds the " + std::to_string(kMaxSshInputBytes / 1024) +
                           " KiB per-operation limit");
  }
  return {};
}

std::expected<void, std::string> try_queue(kivo::sync::Sender<SshInput>& queue, SshInput item) {
  auto sent = queue.try_send(std::move(item));
  if (sent) return {};
  if (sent.error() == kivo::sync::SendError::Full) {
    return std::unexpected(std::string("SSH input is busy; wait for the remote session to catch up"));
  }
  return std::unexpected(std::string("SSH session input channel is closed"));
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::expected<SshConnectRequest, std::string> prepare_request(std::string host, std::uint16_t port,
                                                              std::string_view profile_user, SshAuthMethod auth,
                                                              std::filesystem::path store_path) {
  SshConnectRequest request;
  request.host = std::move(host);
  request.port = port;
  request.store_path = std::move(store_path);
  request.columns = kTerminalColumns;
  request.rows = kTerminalRows;

  if (!profile_user.empty()) {
    request.user = std::string(profile_user);
  } else if (auto user = text_variable("USER"); user && !user->empty()) {
    // An empty USER names nobody; it falls back like an unset one.
    request.user = std::move(*user);
  } else {
    request.user = "root";
  }

  if (auth == SshAuthMethod::Password) {
    auto password = text_variable("REMOTE_SSH_PASSWORD");
    if (!password) return std::unexpected(std::string("no SSH password: set REMOTE_SSH_PASSWORD"));
    request.credentials = Password{std::move(*password)};
    return request;
  }

  KeyFile key;
  if (auto path = text_variable("REMOTE_SSH_KEY")) {
    key.path = std::move(*path);
  } else {
    // An unset HOME leaves the candidates relative, as the variable's value would.
    const char* home_value = std::getenv("HOME");
    const std::filesystem::path home = home_value != nullptr ? home_value : "";
    for (const char* name : {"id_ed25519", "id_ecdsa"}) {
      const std::filesystem::path candidate = home / ".ssh" / name;
      if (metadata_readable(candidate)) {
        key.path = candidate;
        break;
      }
    }
    if (key.path.empty()) return std::unexpected(std::string("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519"));
  }
  key.passphrase = text_variable("REMOTE_SSH_KEY_PASSPHRASE");
  request.credentials = std::move(key);
  return request;
}

SshSession::SshSession(std::uint16_t columns, std::uint16_t rows)
    : screen_(columns, rows),
      status_(std::make_shared<kivo::sync::Slot<session::SessionStatus>>(session::Connecting{})),
      observation_(std::make_shared<kivo::sync::Slot<std::optional<HostKeyCheck>>>()) {}

bool SshSession::drain_output() {
  bool applied = false;
  // At most one queue's worth per call: a worker refilling as fast as the screen reads must
  // not keep the caller (the UI thread) from painting and taking keys.
  for (std::size_t taken = 0; taken < kSshOutputQueueCapacity; ++taken) {
    auto chunk = output_.try_recv();
    if (!chunk) break;
    screen_.feed(std::span<const std::uint8_t>(*chunk));
    output_bytes_ += chunk->size();
    applied = true;
  }
  return applied;
}

std::expected<SshSession, std::string> start_session(SshConnectRequest request) {
  SshSession session(request.columns, request.rows);
  auto [output_tx, output_rx] = kivo::sync::channel<OutputChunk>(kSshOutputQueueCapacity);
  auto [input_tx, input_rx] = kivo::sync::channel<SshInput>(kSshInputQueueCapacity);
  session.output_ = std::move(output_rx);
  session.input_ = std::move(input_tx);

  detail::WorkerLinks links{session.status_, session.observation_, std::move(output_tx), std::move(input_rx)};
  auto spawned = kivo::sync::spawn_detached(
      "remote-ssh", [request = std::move(request), links = std::move(links)]() mutable {
        detail::run_worker(std::move(request), std::move(links));
      });
  if (!spawned) return std::unexpected(std::move(spawned.error()));
  return session;
}

std::expected<void, std::string> queue_ssh_input(kivo::sync::Sender<SshInput>& queue,
                                                 std::span<const std::uint8_t> bytes) {
  if (auto valid = check_input_size(bytes); !valid) return valid;
  return try_queue(queue, SshInput{{bytes.begin(), bytes.end()}, std::nullopt});
}

std::expected<AckReceiver, std::string> queue_ssh_input_with_ack(kivo::sync::Sender<SshInput>& queue,
                                                                 std::span<const std::uint8_t> bytes) {
  if (auto valid = check_input_size(bytes); !valid) return std::unexpected(std::move(valid.error()));
  auto [reply_tx, reply_rx] = kivo::sync::oneshot<InputAck>();
  if (auto queued = try_queue(queue, SshInput{{bytes.begin(), bytes.end()}, std::move(reply_tx)}); !queued) {
    return std::unexpected(std::move(queued.error()));
  }
  return std::move(reply_rx);
}

std::expected<void, std::string> submit_input(SshSession& session, std::span<const std::uint8_t> bytes) {
  return queue_ssh_input(session.input_, bytes);
}

std::expected<void, std::string> submit_input(SshSession& session, std::string_view bytes) {
  return submit_input(session, as_bytes(bytes));
}

std::expected<AckReceiver, std::string> submit_input_with_ack(SshSession& session,
                                                              std::span<const std::uint8_t> bytes) {
  return queue_ssh_input_with_ack(session.input_, bytes);
}

std::expected<AckReceiver, std::string> submit_input_with_ack(SshSession& session, std::string_view bytes) {
  return submit_input_with_ack(session, as_bytes(bytes));
}

AckPoll receive_ack(AckReceiver& receiver) {
  auto answer = receiver.try_recv();
  if (answer) {
    if (*answer) return AckSucceeded{};
    return AckFailed{std::move(answer->error())};
  }
  if (answer.error() == kivo::sync::OneshotError::NothingYet) return AckPending{};
  return AckDisconnected{};
}

}  // namespace remote::ssh
