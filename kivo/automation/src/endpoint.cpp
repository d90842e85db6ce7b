#include "kivo/automation/endpoint.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "kivo/automation/paths.h"
#include "kivo/base/log.h"
#include "kivo/base/unique_fd.h"
#include "kivo/sync/channel.h"
#include "kivo/sync/thread.h"

namespace kivo::automation {
namespace {

constexpr std::string_view kTarget = "kivo::automation";
constexpr std::size_t kReadChunk = 16 * 1024;
// Each connection has at most one request with the UI thread; a connection that closed while
// its request was there still counts until the reply comes back.
constexpr std::size_t kQueueCapacity = 2 * kMaxConnections;

struct Incoming {
  std::uint64_t connection = 0;
  Request request;
};

struct Outgoing {
  std::uint64_t connection = 0;
  std::string line;  // with its newline
};

struct Connection {
  std::uint64_t id = 0;
  UniqueFd fd;
  std::string in;        // received bytes not yet framed
  std::string out;       // reply bytes not yet written
  std::size_t sent = 0;  // of `out`
  bool discarding = false;  // dropping the rest of an oversized line
  bool awaiting = false;    // a request is with the UI thread
  bool peer_done = false;   // the caller will send nothing more
  bool broken = false;

  // One request at a time: the next line is looked at only when the previous one is answered
  // and its reply written, so a caller that never reads cannot make us buffer replies. A line
  // held back while the UI thread's queue is full stops reading too, so `in` stays bounded.
  bool wants_read() const {
    return !awaiting && out.empty() && !peer_done && !broken && in.size() <= kMaxRequestBytes;
  }
  bool finished() const { return broken || (peer_done && !awaiting && out.empty() && in.empty()); }
};

sockaddr_un socket_address(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  return address;
}

// Clears the way for binding: nothing there, or a socket nobody answers on any more.
std::expected<void, std::string> clear_stale_socket(const std::filesystem::path& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return std::unexpected(fmt::format("cannot inspect {}: {}", path.native(), std::strerror(errno)));
  }
  if (!S_ISSOCK(st.st_mode)) {
    return std::unexpected(fmt::format("{} exists and is not a socket; not replacing it", path.native()));
  }
  UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return std::unexpected(fmt::format("cannot create a socket: {}", std::strerror(errno)));
  const sockaddr_un address = socket_address(path);
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN) {
    return std::unexpected(fmt::format("another instance is already serving automation at {}", path.native()));
  }
  if (errno == ENOENT) return {};
  if (errno != ECONNREFUSED) {
    return std::unexpected(fmt::format("cannot check the socket {}: {}", path.native(), std::strerror(errno)));
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return std::unexpected(fmt::format("cannot remove the stale socket {}: {}", path.native(), std::strerror(errno)));
  }
  return {};
}

void send_and_forget(int fd, std::string_view code, std::string_view message) {
  const std::string line = reply_line(error_reply(code, message)) + "\n";
  [[maybe_unused]] const ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

struct Endpoint::Impl {
  std::filesystem::path path;
  UniqueFd listener;
  UniqueFd stop;
  dev_t socket_dev = 0;
  ino_t socket_ino = 0;

  // Endpoint thread → UI thread, and back.
  sync::Sender<Incoming> to_ui;
  sync::Receiver<Incoming> requests;
  sync::Sender<Outgoing> to_endpoint;
  sync::Receiver<Outgoing> replies;
  int requests_wake = -1;
  int replies_wake = -1;

  std::thread thread;

  // Owned by the endpoint thread.
  std::vector<Connection> connections;
  std::uint64_t next_connection = 1;
  std::size_t in_flight = 0;
  bool accept_paused = false;

  ~Impl() {
    if (thread.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = ::write(stop.get(), &one, sizeof one);
      thread.join();
    }
    connections.clear();
    listener.reset();
    // Only our own socket: a later instance may have replaced a file we thought was ours.
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && st.st_dev == socket_dev && st.st_ino == socket_ino) {
      ::unlink(path.c_str());
    }
  }

  void run() {
    sync::set_current_thread_name("kivo-automation");
    std::vector<pollfd> fds;
    while (true) {
      fds.clear();
      fds.push_back({stop.get(), POLLIN, 0});
      fds.push_back({replies_wake, POLLIN, 0});
      fds.push_back({listener.get(), static_cast<short>(accept_paused ? 0 : POLLIN), 0});
      for (const Connection& c : connections) {
        short events = 0;
        if (c.wants_read()) events |= POLLIN;
        if (!c.out.empty()) events |= POLLOUT;
        fds.push_back({c.fd.get(), events, 0});
      }
      const int ready = ::poll(fds.data(), fds.size(), accept_paused ? 1000 : -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        log_error(kTarget, fmt::format("the automation endpoint stopped: poll failed: {}", std::strerror(errno)));
        return;
      }
      if ((fds[0].revents & POLLIN) != 0) return;
      if (ready == 0) accept_paused = false;

      for (std::size_t i = 0; i < connections.size(); ++i) handle_io(connections[i], fds[3 + i].revents);
      if ((fds[1].revents & POLLIN) != 0) take_replies();
      for (Connection& c : connections) advance(c);
      const auto before = connections.size();
      std::erase_if(connections, [](const Connection& c) { return c.finished(); });
      if (connections.size() != before) accept_paused = false;
      if ((fds[2].revents & POLLIN) != 0) accept_all();
    }
  }

  void handle_io(Connection& c, short revents) {
    if ((revents & (POLLERR | POLLNVAL)) != 0) {
      c.broken = true;
      return;
    }
    if ((revents & POLLOUT) != 0) flush(c);
    if ((revents & POLLIN) != 0) {
      char chunk[kReadChunk];
      const ssize_t n = ::recv(c.fd.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        c.in.append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0) {
        c.peer_done = true;
      } else if (errno != EAGAIN && errno != EINTR) {
        c.broken = true;
      }
      return;
    }
    // Hung up while we were not reading: the caller is gone and no reply can reach it.
    if ((revents & POLLHUP) != 0) c.broken = true;
  }

  void flush(Connection& c) {
    while (c.sent < c.out.size()) {
      const ssize_t n = ::send(c.fd.get(), c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) c.broken = true;
        return;
      }
      c.sent += static_cast<std::size_t>(n);
    }
    c.out.clear();
    c.out.shrink_to_fit();
    c.sent = 0;
  }

  void fail(Connection& c, std::string_view code, std::string_view message, const nlohmann::json& id = nullptr) {
    c.out += reply_line(error_reply(code, message, id));
    c.out += '\n';
  }

  // Frames the next line and hands it on; refuses what cannot be a request.
  void advance(Connection& c) {
    while (!c.broken && !c.awaiting && c.out.empty()) {
      const auto nl = c.in.find('\n');
      if (nl == std::string::npos) {
        if (c.discarding) {
          c.in.clear();
        } else if (c.in.size() > kMaxRequestBytes) {
          fail(c, "request_too_large", "the request exceeds the 64 KiB limit");
          c.in.clear();
          c.discarding = !c.peer_done;
        } else if (c.peer_done && !c.in.empty()) {
          fail(c, "incomplete_request", "the connection was closed in the middle of a request");
          c.in.clear();
        }
        return;
      }
      if (c.discarding) {
        c.in.erase(0, nl + 1);
        c.discarding = false;
        continue;
      }
      if (in_flight >= kQueueCapacity) return;  // taken up again when a reply comes back
      std::string_view line(c.in.data(), nl);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find_first_not_of(" \t") == std::string_view::npos) {
        c.in.erase(0, nl + 1);
        continue;
      }
      auto parsed = parse_request(line);
      c.in.erase(0, nl + 1);
      if (!parsed) {
        fail(c, parsed.error().code, parsed.error().message, parsed.error().id);
        continue;
      }
      const nlohmann::json id = parsed->id;
      if (auto queued = to_ui.try_send(Incoming{c.id, std::move(*parsed)}); !queued) {
        fail(c, "unavailable", "the application is not taking automation requests", id);
        continue;
      }
      ++in_flight;
      c.awaiting = true;
    }
  }

  void take_replies() {
    while (auto reply = replies.try_recv()) {
      if (in_flight > 0) --in_flight;
      for (Connection& c : connections) {
        if (c.id != reply->connection) continue;
        c.out += reply->line;
        c.awaiting = false;
        flush(c);
        break;
      }
    }
  }

  void accept_all() {
    while (true) {
      UniqueFd fd(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (fd.get() < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        // Out of descriptors or memory: try again once a connection closed or in a second,
        // instead of being woken for the same pending connection over and over.
        log_warn(kTarget, fmt::format("cannot accept an automation connection: {}", std::strerror(errno)));
        accept_paused = true;
        return;
      }
      ucred peer{};
      socklen_t length = sizeof peer;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer ||
          peer.uid != ::geteuid()) {
        log_warn(kTarget, fmt::format("refused an automation connection from uid {}", peer.uid));
        send_and_forget(fd.get(), "forbidden", "this endpoint serves only the user who started it");
        continue;
      }
      if (connections.size() >= kMaxConnections) {
        send_and_forget(fd.get(), "too_many_connections",
                        fmt::format("too many automation connections (at most {})", kMaxConnections));
        continue;
      }
      Connection c;
      c.id = next_connection++;
      c.fd = std::move(fd);
      connections.push_back(std::move(c));
    }
  }
};

Endpoint::Endpoint(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Endpoint::~Endpoint() = default;

std::expected<std::unique_ptr<Endpoint>, std::string> Endpoint::start(const std::filesystem::path& socket) {
  if (socket.native().size() > kMaxSocketPath) {
    return std::unexpected(fmt::format("the socket path {} is longer than the {} bytes a socket address holds",
                                       socket.native(), kMaxSocketPath));
  }
  if (auto dir = ensure_private_directory(socket.parent_path()); !dir) return std::unexpected(dir.error());
  if (auto cleared = clear_stale_socket(socket); !cleared) return std::unexpected(cleared.error());

  auto impl = std::make_unique<Impl>();
  impl->path = socket;
  impl->listener = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (impl->listener.get() < 0) return std::unexpected(fmt::format("cannot create a socket: {}", std::strerror(errno)));
  const sockaddr_un address = socket_address(socket);
  // The directory already keeps others out; the mask makes the socket itself 0600 from the
  // moment it exists (sockets are created 0777 less the mask).
  const mode_t old_mask = ::umask(0177);
  const int bound = ::bind(impl->listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bind_errno = errno;
  ::umask(old_mask);
  if (bound != 0) {
    if (bind_errno == EADDRINUSE) {
      return std::unexpected(fmt::format("another instance is already serving automation at {}", socket.native()));
    }
    return std::unexpected(fmt::format("cannot bind {}: {}", socket.native(), std::strerror(bind_errno)));
  }
  struct stat st{};
  if (::lstat(socket.c_str(), &st) != 0) {
    return std::unexpected(fmt::format("cannot inspect {}: {}", socket.native(), std::strerror(errno)));
  }
  impl->socket_dev = st.st_dev;
  impl->socket_ino = st.st_ino;
  if (::listen(impl->listener.get(), static_cast<int>(kMaxConnections)) != 0) {
    return std::unexpected(fmt::format("cannot listen on {}: {}", socket.native(), std::strerror(errno)));
  }
  impl->stop = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (impl->stop.get() < 0) return std::unexpected(fmt::format("cannot create an eventfd: {}", std::strerror(errno)));

  auto [to_ui, requests] = sync::channel<Incoming>(kQueueCapacity);
  auto [to_endpoint, replies] = sync::channel<Outgoing>(kQueueCapacity);
  impl->to_ui = std::move(to_ui);
  impl->requests = std::move(requests);
  impl->to_endpoint = std::move(to_endpoint);
  impl->replies = std::move(replies);
  auto requests_wake = impl->requests.wake_fd();
  auto replies_wake = impl->replies.wake_fd();
  if (!requests_wake || !replies_wake) {
    const auto& error = requests_wake ? replies_wake.error() : requests_wake.error();
    return std::unexpected(fmt::format("cannot create a wake-up descriptor: {}", error.message()));
  }
  impl->requests_wake = *requests_wake;
  impl->replies_wake = *replies_wake;

  Impl* raw = impl.get();
  try {
    impl->thread = std::thread([raw] { raw->run(); });
  } catch (const std::system_error& error) {
    return std::unexpected(fmt::format("cannot start the endpoint thread: {}", error.what()));
  }
  return std::unique_ptr<Endpoint>(new Endpoint(std::move(impl)));
}

int Endpoint::wake_fd() const { return impl_->requests_wake; }

const std::filesystem::path& Endpoint::socket_path() const { return impl_->path; }

std::size_t Endpoint::serve(const std::function<nlohmann::ordered_json(const Request&)>& handle) {
  std::size_t served = 0;
  while (auto incoming = impl_->requests.try_recv()) {
    nlohmann::ordered_json body = handle(incoming->request);
    nlohmann::ordered_json reply = nlohmann::ordered_json::object();
    if (!incoming->request.id.is_null()) reply["id"] = incoming->request.id;
    for (auto it = body.begin(); it != body.end(); ++it) reply[it.key()] = std::move(it.value());
    if (auto sent = impl_->to_endpoint.try_send(Outgoing{incoming->connection, reply_line(reply) + "\n"}); !sent) {
      log_error(kTarget, "an automation reply could not be handed back to the endpoint");
    }
    ++served;
  }
  return served;
}

}  // namespace kivo::automation
