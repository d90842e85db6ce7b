#include "ssh/worker.h"

#include <fcntl.h>
#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <nettle/base64.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "kivo/base/file.h"
#include "kivo/base/log.h"
#include "kivo/base/unique_fd.h"

namespace remote::ssh::detail {
namespace {

using Clock = std::chrono::steady_clock;

// A connection with no traffic for this long is closed.
constexpr auto kInactivityTimeout = std::chrono::seconds(3600);
// Re-key after this much data in either direction, or this much time.
constexpr std::uint64_t kRekeyBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kRekeySeconds = 3600;
// While connecting nothing else wakes us when the handle is dropped, so waits are sliced.
constexpr int kSetupSliceMs = 100;
// Upper bound of one output chunk (and so of what 128 queued chunks can hold).
constexpr std::size_t kMaxChunkBytes = 64 * 1024;
// Chunks forwarded before queued input gets its turn, so a flood of output never starves
// a keystroke such as Ctrl-C.
constexpr int kChunksPerPass = 8;
// The largest private key file read; real keys are a few kilobytes.
constexpr std::size_t kMaxKeyFileBytes = 1024 * 1024;

constexpr std::string_view kLogTarget = "remote-ssh";

struct SessionFree {
  void operator()(ssh_session session) const { ssh_free(session); }
};
struct ChannelFree {
  void operator()(ssh_channel channel) const { ssh_channel_free(channel); }
};
struct KeyFree {
  void operator()(ssh_key key) const { ssh_key_free(key); }
};
struct StringFree {
  void operator()(char* text) const { ssh_string_free_char(text); }
};
using SessionPtr = std::unique_ptr<ssh_session_struct, SessionFree>;
using ChannelPtr = std::unique_ptr<ssh_channel_struct, ChannelFree>;
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyFree>;
using SshText = std::unique_ptr<char, StringFree>;

using kivo::errno_text;

// libssh explains why a private key could not be decoded only through its log, which is
// per thread. For the duration of one import the worker thread's log is captured.
class KeyImportLog {
 public:
  KeyImportLog() {
    previous_level_ = ssh_get_log_level();
    previous_callback_ = ssh_get_log_callback();
    previous_userdata_ = ssh_get_log_userdata();
    ssh_set_log_userdata(this);
    ssh_set_log_callback(&KeyImportLog::record);
    ssh_set_log_level(SSH_LOG_WARN);
  }
  ~KeyImportLog() {
    ssh_set_log_level(previous_level_);
    ssh_set_log_userdata(previous_userdata_);
    if (previous_callback_ != nullptr) {
      ssh_set_log_callback(previous_callback_);
    } else {
      ssh_set_log_callback(&KeyImportLog::silence);
    }
  }
  KeyImportLog(const KeyImportLog&) = delete;
  KeyImportLog& operator=(const KeyImportLog&) = delete;

  // The first warning: the most specific reason; later ones repeat it more vaguely.
  const std::string& first_warning() const { return first_; }

 private:
  static void record(int priority, const char* function, const char* message, void* userdata) {
    auto* self = static_cast<KeyImportLog*>(userdata);
    if (self == nullptr || priority > SSH_LOG_WARN || !self->first_.empty()) return;
    std::string_view text = message;
    // Lines arrive as "function: text".
    if (function != nullptr) {
      const std::string prefix = std::string(function) + ": ";
      if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    }
    self->first_ = std::string(text);
  }
  static void silence(int, const char*, const char*, void*) {}

  int previous_level_ = 0;
  ssh_logging_callback previous_callback_ = nullptr;
  void* previous_userdata_ = nullptr;
  std::string first_;
};

std::expected<std::string, std::string> read_key_file(const std::filesystem::path& path) {
  const kivo::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return std::unexpected(errno_text(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(errno_text(errno));
  if (S_ISDIR(st.st_mode)) return std::unexpected(errno_text(EISDIR));
  const auto too_large = [] {
    return std::unexpected(fmt::format("the key file exceeds the {} KiB limit", kMaxKeyFileBytes / 1024));
  };
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kMaxKeyFileBytes) return too_large();
  auto text = kivo::read_bounded(fd.get(), kMaxKeyFileBytes, static_cast<std::size_t>(st.st_size));
  if (!text) return std::unexpected(errno_text(text.error()));
  if (text->size() > kMaxKeyFileBytes) return too_large();
  return std::move(*text);
}

std::expected<KeyPtr, std::string> load_private_key(const KeyFile& file) {
  auto fail = [&](std::string_view why) {
    return std::unexpected(fmt::format("load key {}: {}", file.path.string(), why));
  };
  auto text = read_key_file(file.path);
  if (!text) return fail(text.error());
  ssh_key raw = nullptr;
  KeyImportLog log;
  const int rc = ssh_pki_import_privkey_base64(text->c_str(), file.passphrase ? file.passphrase->c_str() : nullptr,
                                               nullptr, nullptr, &raw);
  KeyPtr key(raw);
  if (rc != SSH_OK || !key) {
    if (!log.first_warning().empty()) return fail(log.first_warning());
    return fail(file.passphrase ? "the key could not be decoded with the given passphrase"
                                : "the key could not be decoded (it may need REMOTE_SSH_KEY_PASSPHRASE)");
  }
  return key;
}

// The identity of the key the server presented: its algorithm name and the SHA-256 of its
// wire encoding (which libssh hands out as Base64).
std::expected<HostKeyIdentity, std::string> server_key_identity(ssh_key key) {
  const char* type_name = ssh_key_type_to_char(ssh_key_type(key));
  char* raw = nullptr;
  if (ssh_pki_export_pubkey_base64(key, &raw) != SSH_OK || raw == nullptr) {
    return std::unexpected(std::string("the server's host key could not be encoded"));
  }
  SshText encoded(raw);
  const std::size_t encoded_length = std::strlen(encoded.get());
  std::vector<std::uint8_t> blob(BASE64_DECODE_LENGTH(encoded_length));
  base64_decode_ctx context;
  base64_decode_init(&context);
  std::size_t blob_length = blob.size();
  if (base64_decode_update(&context, &blob_length, blob.data(), encoded_length, encoded.get()) != 1 ||
      base64_decode_final(&context) != 1) {
    return std::unexpected(std::string("the server's host key could not be encoded"));
  }
  blob.resize(blob_length);
  return host_key_identity(type_name != nullptr ? type_name : "unknown", blob);
}

class Worker {
 public:
  Worker(SshConnectRequest request, WorkerLinks links) : request_(std::move(request)), links_(std::move(links)) {}

  void run() {
    auto outcome = run_session();
    finish(outcome);
  }

 private:
  // How the session steps end: quietly (the shell ended, the user left) or with a failure.
  struct Failure {
    std::string text;
  };
  using Outcome = std::expected<void, Failure>;

  static std::unexpected<Failure> failure(std::string text) { return std::unexpected(Failure{std::move(text)}); }
  std::string library_error() const { return ssh_get_error(session_.get()); }

  Outcome run_session() {
    auto wake = links_.input.wake_fd();
    if (!wake) return failure("runtime: " + wake.error().message());
    wake_fd_ = *wake;
    session_.reset(ssh_new());
    if (!session_) return failure("runtime: the SSH library could not create a session");

    if (auto configured = configure(); !configured) return configured;
    if (auto connected = connect(); !connected || abandoned_) return connected;
    if (auto checked = check_server_key(); !checked) return checked;
    if (auto authenticated = authenticate(); !authenticated || abandoned_) return authenticated;
    if (auto opened = open_shell(); !opened || abandoned_) return opened;
    set_status(session::Connected{});
    connected_ = true;
    return pump();
  }

  Outcome configure() {
    ssh_session s = session_.get();
    const unsigned int port = request_.port;
    const int no_delay = 0;
    const bool process_config = false;
    const std::uint64_t rekey_bytes = kRekeyBytes;
    const std::uint32_t rekey_seconds = kRekeySeconds;
    // The library must not consult the user's OpenSSH files: its config could redirect the
    // connection, and its known_hosts would reorder the host-key algorithms we offer.
    const char* no_file = "/dev/null";
    if (ssh_options_set(s, SSH_OPTIONS_HOST, request_.host.c_str()) != SSH_OK) {
      // libssh refuses some host texts (white space, for one) without saying why.
      const std::string why = library_error();
      return failure("connect: " + (why.empty() ? fmt::format("invalid host name \"{}\"", request_.host) : why));
    }
    const bool ok = ssh_options_set(s, SSH_OPTIONS_PORT, &port) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_USER, request_.user.c_str()) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &process_config) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, no_file) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, no_file) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_NODELAY, &no_delay) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_REKEY_DATA, &rekey_bytes) == SSH_OK &&
                    ssh_options_set(s, SSH_OPTIONS_REKEY_TIME, &rekey_seconds) == SSH_OK;
    if (!ok) return failure("connect: " + library_error());
    // The worker runs its own loop over the socket and the input queue.
    ssh_set_blocking(s, 0);
    return {};
  }

  Outcome connect() {
    const int rc = drive([&] { return ssh_connect(session_.get()); }, SSH_AGAIN);
    if (abandoned_) return {};
    if (rc != SSH_OK) return failure("connect: " + library_error());
    return {};
  }

  // The host-key decision comes before any authentication: credentials never go to a
  // server whose key is not pinned.
  Outcome check_server_key() {
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(session_.get(), &raw) != SSH_OK || raw == nullptr) {
      return failure("connect: " + library_error());
    }
    KeyPtr key(raw);
    auto identity = server_key_identity(key.get());
    if (!identity) return failure("connect: " + identity.error());

    HostKeyCheck check;
    if (auto store = load_known_hosts(request_.store_path); !store) {
      check = StoreUnavailable{std::move(store.error())};
    } else {
      check = check_host_key(*store, request_.host, request_.port, *identity);
    }
    if (std::holds_alternative<Trusted>(check)) return {};
    std::string message = host_key_message(check, request_.host, request_.port);
    links_.observation->store(std::move(check));
    return failure(std::move(message));
  }

  Outcome authenticate() {
    int rc = SSH_AUTH_ERROR;
    if (const auto* password = std::get_if<Password>(&request_.credentials)) {
      rc = drive([&] { return ssh_userauth_password(session_.get(), nullptr, password->text.c_str()); },
                 SSH_AUTH_AGAIN);
    } else {
      auto key = load_private_key(std::get<KeyFile>(request_.credentials));
      if (!key) return failure(std::move(key.error()));
      // For RSA keys libssh signs with the best SHA-2 hash the server announces.
      rc = drive([&] { return ssh_userauth_publickey(session_.get(), nullptr, key->get()); }, SSH_AUTH_AGAIN);
    }
    if (abandoned_) return {};
    if (rc == SSH_AUTH_SUCCESS) return {};
    if (rc == SSH_AUTH_ERROR) return failure(library_error());
    return failure("Authentication failed");
  }

  Outcome open_shell() {
    channel_.reset(ssh_channel_new(session_.get()));
    if (!channel_) return failure(library_error());
    ssh_channel channel = channel_.get();
    int rc = drive([&] { return ssh_channel_open_session(channel); }, SSH_AGAIN);
    if (abandoned_) return {};
    if (rc != SSH_OK) return failure(library_error());
    rc = drive([&] { return request_pty(channel); }, SSH_AGAIN);
    if (abandoned_) return {};
    if (rc != SSH_OK) return failure(library_error());
    rc = drive([&] { return ssh_channel_request_shell(channel); }, SSH_AGAIN);
    if (abandoned_) return {};
    if (rc != SSH_OK) return failure(library_error());
    return {};
  }

  // The remote terminal starts from its own default modes: no modes are sent. libssh
  // before 0.11 cannot express that and sends the modes of our standard input when it is a
  // terminal (else fixed defaults).
  int request_pty(ssh_channel channel) {
#if LIBSSH_VERSION_INT >= SSH_VERSION_INT(0, 11, 0)
    static const unsigned char kNoModes[] = {0};  // TTY_OP_END
    return ssh_channel_request_pty_size_modes(channel, "xterm-256color", request_.columns, request_.rows, kNoModes,
                                              sizeof kNoModes);
#else
    return ssh_channel_request_pty_size(channel, "xterm-256color", request_.columns, request_.rows);
#endif
  }

  // Moves bytes both ways until the shell ends, the handle is dropped or the connection
  // goes quiet for too long.
  Outcome pump() {
    while (true) {
      bool progress = false;
      for (int i = 0; i < kChunksPerPass; ++i) {
        const Forward forwarded = forward_output();
        if (forwarded == Forward::Nothing) break;
        if (forwarded == Forward::StreamEnded) return {};
        if (forwarded == Forward::HandleGone) {
          abandoned_ = true;
          return {};
        }
        progress = true;
      }

      while (true) {
        auto item = links_.input.try_recv();
        if (!item) {
          if (item.error() == kivo::sync::RecvError::Closed) {
            abandoned_ = true;
            return {};
          }
          break;
        }
        progress = true;
        auto written = write_input(item->data);
        if (!written) {
          if (item->ack) item->ack->send(std::unexpected(written.error()));
          return failure(std::move(written.error()));
        }
        if (item->ack) item->ack->send(InputAck{});
      }
      if (progress) continue;

      if (channel_finished()) return {};
      const Wait waited = wait_socket(/*watch_input=*/true, /*slice_ms=*/-1);
      if (waited == Wait::TimedOut) {
        kivo::log_info(kLogTarget, "closing the SSH connection after an hour without traffic");
        return {};
      }
    }
  }

  enum class Forward { Nothing, Forwarded, StreamEnded, HandleGone };

  // Hands one chunk of what the server sent (standard output or standard error, alike)
  // to the UI, waiting while the output queue is full.
  Forward forward_output() {
    ssh_channel channel = channel_.get();
    for (const int is_stderr : {0, 1}) {
      const int available = ssh_channel_poll(channel, is_stderr);
      if (available == SSH_ERROR) {
        kivo::log_debug(kLogTarget, fmt::format("SSH connection ended: {}", library_error()));
        return Forward::StreamEnded;
      }
      if (available <= 0) continue;  // nothing, or end of file on this stream
      OutputChunk chunk(std::min<std::size_t>(static_cast<std::size_t>(available), kMaxChunkBytes));
      const int got = ssh_channel_read_nonblocking(channel, chunk.data(), static_cast<std::uint32_t>(chunk.size()),
                                                   is_stderr);
      if (got == SSH_ERROR) return Forward::StreamEnded;
      if (got <= 0) continue;
      chunk.resize(static_cast<std::size_t>(got));
      last_activity_ = Clock::now();
      if (!links_.output.send(std::move(chunk))) return Forward::HandleGone;
      return Forward::Forwarded;
    }
    return Forward::Nothing;
  }

  bool channel_finished() const {
    ssh_channel channel = channel_.get();
    return ssh_channel_is_eof(channel) != 0 || ssh_channel_is_closed(channel) != 0 ||
           ssh_is_connected(session_.get()) == 0;
  }

  // Writes every byte and pushes it onto the wire before returning, so an acknowledgement
  // means the server was sent the bytes. Output is not forwarded meanwhile.
  std::expected<void, std::string> write_input(const std::vector<std::uint8_t>& data) {
    ssh_channel channel = channel_.get();
    std::size_t written = 0;
    while (written < data.size()) {
      const int n = ssh_channel_write(channel, data.data() + written, static_cast<std::uint32_t>(data.size() - written));
      if (n == SSH_ERROR) return std::unexpected(library_error());
      written += static_cast<std::size_t>(n);
      last_activity_ = Clock::now();
      if (written < data.size() && wait_socket(false, -1) == Wait::TimedOut) {
        return std::unexpected(std::string("the SSH connection timed out while sending input"));
      }
    }
    // SSH_AGAIN while libssh still holds bytes the socket has not taken.
    while (true) {
      const int flushed = ssh_blocking_flush(session_.get(), 0);
      if (flushed == SSH_OK) return {};
      if (flushed == SSH_ERROR) return std::unexpected(library_error());
      if (wait_socket(false, -1) == Wait::TimedOut) {
        return std::unexpected(std::string("the SSH connection timed out while sending input"));
      }
    }
  }

  enum class Wait { Ready, TimedOut };

  // Waits until the socket can move what libssh needs moved, the input queue has news
  // (when watched) or `slice_ms` passes; TimedOut only when the inactivity limit is hit.
  Wait wait_socket(bool watch_input, int slice_ms) {
    const auto deadline = last_activity_ + kInactivityTimeout;
    const auto now = Clock::now();
    if (now >= deadline) return Wait::TimedOut;
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    int timeout = static_cast<int>(std::min<std::int64_t>(remaining, 60'000));
    if (slice_ms >= 0) timeout = std::min(timeout, slice_ms);

    pollfd fds[2] = {};
    nfds_t count = 0;
    const socket_t socket = ssh_get_fd(session_.get());
    if (socket != SSH_INVALID_SOCKET) {
      short events = POLLIN;
      if ((ssh_get_poll_flags(session_.get()) & SSH_WRITE_PENDING) != 0) events |= POLLOUT;
      fds[count++] = {socket, events, 0};
    }
    if (watch_input) fds[count++] = {wake_fd_, POLLIN, 0};
    const int ready = ::poll(fds, count, timeout);
    if (ready > 0 && socket != SSH_INVALID_SOCKET && fds[0].revents != 0) last_activity_ = Clock::now();
    if (ready == 0 && Clock::now() >= deadline) return Wait::TimedOut;
    return Wait::Ready;
  }

  // Calls a non-blocking libssh step until it stops asking to be called again, waiting for
  // the socket in between. Gives up (abandoned_) when the session handle is dropped.
  template <class Step>
  int drive(Step step, int again) {
    while (true) {
      const int rc = step();
      if (rc != again) return rc;
      if (handle_dropped()) {
        abandoned_ = true;
        return rc;
      }
      if (wait_socket(false, kSetupSliceMs) == Wait::TimedOut) return SSH_ERROR;
    }
  }

  // The server may still be sending when we close: read until it goes quiet (briefly),
  // since closing a socket with unread data resets the connection and loses the disconnect.
  void drain_incoming() {
    ssh_event event = ssh_event_new();
    if (event == nullptr) return;
    if (ssh_event_add_session(event, session_.get()) == SSH_OK) {
      const auto deadline = Clock::now() + std::chrono::seconds(1);
      while (Clock::now() < deadline && ssh_is_connected(session_.get()) != 0) {
        if (ssh_event_dopoll(event, 50) != SSH_OK) break;
      }
      ssh_event_remove_session(event, session_.get());
    }
    ssh_event_free(event);
  }

  // libssh writes a packet at once only after its poll loop has seen the socket writable
  // since the previous write; otherwise it waits for the next poll. The disconnect closes
  // the socket right after queueing its packet, so that poll must happen first.
  void prime_socket_for_write() {
    ssh_event event = ssh_event_new();
    if (event == nullptr) return;
    if (ssh_event_add_session(event, session_.get()) == SSH_OK) {
      ssh_event_dopoll(event, 0);
      ssh_event_remove_session(event, session_.get());
    }
    ssh_event_free(event);
  }

  bool handle_dropped() const { return links_.input.senders_gone() || links_.output.is_closed(); }

  void set_status(session::SessionStatus status) { links_.status->store(std::move(status)); }

  void finish(const Outcome& outcome) {
    bool closed_by_us = false;
    if (channel_ && ssh_channel_is_open(channel_.get()) != 0) {
      // The user left: tell the shell its input ended before hanging up.
      if (abandoned_ || handle_dropped()) ssh_channel_send_eof(channel_.get());
      ssh_channel_close(channel_.get());
      closed_by_us = true;
    }
    // Freed before the disconnect, which frees every channel of the session itself.
    channel_.reset();
    if (closed_by_us) drain_incoming();
    if (session_) {
      if (ssh_is_connected(session_.get()) != 0) {
        ssh_blocking_flush(session_.get(), 1000);
        prime_socket_for_write();
      }
      ssh_session_set_disconnect_message(session_.get(), "");
      ssh_disconnect(session_.get());
    }
    if (!outcome) {
      set_status(session::Failed{outcome.error().text});
    } else if (connected_) {
      set_status(session::Ended{});
    }
    // Anything still queued goes now, and with it the replies it carried.
    links_.input = kivo::sync::Receiver<SshInput>();
    links_.output = kivo::sync::Sender<OutputChunk>();
  }

  SshConnectRequest request_;
  WorkerLinks links_;
  SessionPtr session_;
  ChannelPtr channel_;
  int wake_fd_ = -1;
  Clock::time_point last_activity_ = Clock::now();
  bool connected_ = false;
  bool abandoned_ = false;
};

}  // namespace

void run_worker(SshConnectRequest request, WorkerLinks links) {
  Worker worker(std::move(request), std::move(links));
  worker.run();
}

}  // namespace remote::ssh::detail
