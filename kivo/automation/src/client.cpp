#include "kivo/automation/client.h"

#include <nettle/base64.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace kivo::automation {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1'000'000));
}

}  // namespace

std::expected<Client, std::string> Client::connect(const std::filesystem::path& socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket.native().size() >= sizeof address.sun_path) {
    return std::unexpected(fmt::format("the socket path {} is too long", socket.native()));
  }
  std::memcpy(address.sun_path, socket.c_str(), socket.native().size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unexpected(fmt::format("cannot create a socket: {}", std::strerror(errno)));
  Client client(fd);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == ENOENT || errno == ECONNREFUSED) {
      return std::unexpected(fmt::format("nothing is listening at {}", socket.native()));
    }
    return std::unexpected(fmt::format("cannot connect to {}: {}", socket.native(), std::strerror(errno)));
  }
  return client;
}

Client::Client(Client&& other) noexcept : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)) {}

Client& Client::operator=(Client&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    buffer_ = std::move(other.buffer_);
  }
  return *this;
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

std::expected<void, std::string> Client::send_raw(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(fmt::format("cannot send to the endpoint: {}", std::strerror(errno)));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::expected<std::string, std::string> Client::read_line(std::chrono::milliseconds timeout) {
  auto line = read_line_for(timeout);
  if (!line) return std::unexpected(line.error());
  if (!*line) return std::unexpected(std::string("no reply in time"));
  return std::move(**line);
}

std::expected<std::optional<std::string>, std::string> Client::read_line_for(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t scanned = 0;
  while (true) {
    if (const auto nl = buffer_.find('\n', scanned); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    scanned = buffer_.size();
    if (buffer_.size() > kMaxReplyBytes) return std::unexpected(std::string("the reply exceeds the 64 MiB limit"));
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, remaining_ms(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(fmt::format("cannot wait for the reply: {}", std::strerror(errno)));
    }
    if (ready == 0) return std::nullopt;
    char chunk[64 * 1024];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::unexpected(fmt::format("cannot read the reply: {}", std::strerror(errno)));
    }
    if (n == 0) return std::unexpected(std::string("the endpoint closed the connection"));
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool Client::closed_by_peer(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, remaining_ms(deadline));
    if (ready <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void Client::shutdown_write() { ::shutdown(fd_, SHUT_WR); }

std::expected<nlohmann::json, std::string> Client::request(const nlohmann::json& request,
                                                           std::chrono::milliseconds timeout) {
  // A refusing endpoint may already have answered and closed; its answer is still readable,
  // so a failed send is only reported when no reply follows.
  auto sent = send_raw(request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  auto line = read_line(timeout);
  if (!line) return std::unexpected(sent ? line.error() : sent.error());
  nlohmann::json reply = nlohmann::json::parse(*line, nullptr, /*allow_exceptions=*/false);
  if (reply.is_discarded() || !reply.is_object()) {
    return std::unexpected(std::string("the endpoint answered something that is not a JSON object"));
  }
  return reply;
}

std::string hex_encode(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xf]);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> hex_decode(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]);
    const int lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::string base64_encode(std::span<const std::uint8_t> bytes) {
  std::string out(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
  base64_encode_raw(out.data(), bytes.size(), bytes.data());
  return out;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
  base64_decode_ctx ctx;
  base64_decode_init(&ctx);
  std::vector<std::uint8_t> out(BASE64_DECODE_LENGTH(text.size()));
  std::size_t length = out.size();
  if (base64_decode_update(&ctx, &length, out.data(), text.size(), text.data()) != 1) return std::nullopt;
  if (base64_decode_final(&ctx) != 1) return std::nullopt;
  out.resize(length);
  return out;
}

}  // namespace kivo::automation
