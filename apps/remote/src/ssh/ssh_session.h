#pragma once
// An interactive SSH shell: the request built from a saved profile, the handle the UI
// thread owns, and the hand-over of input and output with the "remote-ssh" worker thread
// that owns the connection. The UI side never blocks: it only tries to send and receive.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kivo/sync/channel.h"
#include "kivo/sync/oneshot.h"
#include "kivo/sync/slot.h"
#include "session/session_status.h"
#include "ssh/known_hosts.h"
#include "vt/terminal_screen.h"

namespace remote::ssh {

struct Password {
  std::string text;
};
struct KeyFile {
  std::filesystem::path path;
  std::optional<std::string> passphrase;
};
// Only this one method is tried; there is no fallback to another.
using SshCredentials = std::variant<Password, KeyFile>;

struct SshConnectRequest {
  std::string host;  // exactly as the profile spells it
  std::string user;
  std::filesystem::path store_path;  // the host-key pin store
  SshCredentials credentials;
  std::uint16_t port = 22;
  std::uint16_t columns = 80;
  std::uint16_t rows = 24;
};

enum class SshAuthMethod { Password, PublicKey };

// Builds the request for a profile from its fields and the environment: the user is the
// profile's, else $USER, else "root"; a password comes from REMOTE_SSH_PASSWORD; a key file
// from REMOTE_SSH_KEY, else ~/.ssh/id_ed25519, else ~/.ssh/id_ecdsa, with an optional
// REMOTE_SSH_KEY_PASSPHRASE. The key file is not read here. Fails with the text to show.
[[nodiscard]] std::expected<SshConnectRequest, std::string> prepare_request(std::string host, std::uint16_t port,
                                                                            std::string_view profile_user,
                                                                            SshAuthMethod auth,
                                                                            std::filesystem::path store_path);

// The answer to an acknowledged input: delivered to the server, or the write error's text.
using InputAck = std::expected<void, std::string>;
using AckSender = kivo::sync::OneshotSender<InputAck>;
using AckReceiver = kivo::sync::OneshotReceiver<InputAck>;

struct SshInput {
  std::vector<std::uint8_t> data;  // 1 to kMaxSshInputBytes bytes
  std::optional<AckSender> ack;
};

using OutputChunk = std::vector<std::uint8_t>;

inline constexpr std::size_t kMaxSshInputBytes = 64 * 1024;
inline constexpr std::size_t kSshInputQueueCapacity = 256;
inline constexpr std::size_t kSshOutputQueueCapacity = 128;
inline constexpr std::uint16_t kTerminalColumns = 80;
inline constexpr std::uint16_t kTerminalRows = 24;

// The UI thread's handle of one SSH session. Dropping it closes both queues; the detached
// worker then sends end-of-file and a disconnect and ends on its own.
class SshSession {
 public:
  SshSession(SshSession&&) noexcept = default;
  SshSession& operator=(SshSession&&) noexcept = default;

  // Feeds the output chunks waiting in the queue to the screen, in arrival order, without
  // waiting: everything that was queued when the call began, and at most one queue's worth.
  // Whether anything was fed.
  bool drain_output();
  // Bytes fed to the screen so far.
  std::uint64_t output_bytes() const { return output_bytes_; }

  session::SessionStatus status() const { return status_->load(); }
  // The host-key problem that refused the connection, if any.
  std::optional<HostKeyCheck> host_key_observation() const { return observation_->load(); }

  const vt::TerminalScreen& screen() const { return screen_; }

 private:
  friend std::expected<SshSession, std::string> start_session(SshConnectRequest request);
  friend std::expected<void, std::string> submit_input(SshSession& session, std::span<const std::uint8_t> bytes);
  friend std::expected<AckReceiver, std::string> submit_input_with_ack(SshSession& session,
                                                                       std::span<const std::uint8_t> bytes);

  SshSession(std::uint16_t columns, std::uint16_t rows);

  vt::TerminalScreen screen_;
  std::shared_ptr<kivo::sync::Slot<session::SessionStatus>> status_;
  std::shared_ptr<kivo::sync::Slot<std::optional<HostKeyCheck>>> observation_;
  kivo::sync::Receiver<OutputChunk> output_;
  kivo::sync::Sender<SshInput> input_;
  std::uint64_t output_bytes_ = 0;
};

// Starts the "remote-ssh" worker for `request`. Fails only when the thread cannot be
// created (the system's text); connection failures show up in status().
[[nodiscard]] std::expected<SshSession, std::string> start_session(SshConnectRequest request);

// Queues bytes for the remote shell without waiting. Refused, with the text to show, when
// empty, over 64 KiB, when the queue is full or when the worker is gone; a refused item is
// dropped.
[[nodiscard]] std::expected<void, std::string> submit_input(SshSession& session, std::span<const std::uint8_t> bytes);
[[nodiscard]] std::expected<void, std::string> submit_input(SshSession& session, std::string_view bytes);

// As submit_input, with a reply that tells whether the bytes reached the server. The
// receiver is handed out only when the item was queued.
[[nodiscard]] std::expected<AckReceiver, std::string> submit_input_with_ack(SshSession& session,
                                                                          std::span<const std::uint8_t> bytes);
[[nodiscard]] std::expected<AckReceiver, std::string> submit_input_with_ack(SshSession& session,
                                                                          std::string_view bytes);

// The same checks on any SSH input queue (the session functions use these).
[[nodiscard]] std::expected<void, std::string> queue_ssh_input(kivo::sync::Sender<SshInput>& queue,
                                                               std::span<const std::uint8_t> bytes);
[[nodiscard]] std::expected<AckReceiver, std::string> queue_ssh_input_with_ack(kivo::sync::Sender<SshInput>& queue,
                                                                             std::span<const std::uint8_t> bytes);

// What a poll of an acknowledgement finds.
struct AckPending {
  friend bool operator==(const AckPending&, const AckPending&) = default;
};
struct AckSucceeded {
  friend bool operator==(const AckSucceeded&, const AckSucceeded&) = default;
};
struct AckFailed {
  std::string text;
  friend bool operator==(const AckFailed&, const AckFailed&) = default;
};
// The worker dropped the reply without answering (it ended with the item still queued,
// or while writing it).
struct AckDisconnected {
  friend bool operator==(const AckDisconnected&, const AckDisconnected&) = default;
};
using AckPoll = std::variant<AckPending, AckSucceeded, AckFailed, AckDisconnected>;

// Never waits. Once an answer was taken, later polls report AckDisconnected.
AckPoll receive_ack(AckReceiver& receiver);

}  // namespace remote::ssh
