#pragma once
// The caller's side of an automation endpoint: one connection, JSON lines out, reply lines in.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kivo::automation {

// Replies can carry a screenshot; anything longer than this is not a reply of ours.
inline constexpr std::size_t kMaxReplyBytes = 64u * 1024 * 1024;

class Client {
 public:
  // Connects to the endpoint at `socket`. Fails with a sentence that says whether nothing is
  // listening there, or why the connection failed.
  [[nodiscard]] static std::expected<Client, std::string> connect(const std::filesystem::path& socket);

  Client(Client&& other) noexcept;
  Client& operator=(Client&& other) noexcept;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client();

  // Sends one request and waits at most `timeout` for its reply, which must be a JSON object.
  [[nodiscard]] std::expected<nlohmann::json, std::string> request(const nlohmann::json& request,
                                                                   std::chrono::milliseconds timeout);

  // Raw access, for callers that frame requests themselves. send_raw returns once every byte
  // was written (or the connection broke); read_line waits at most `timeout`.
  [[nodiscard]] std::expected<void, std::string> send_raw(std::string_view bytes);
  [[nodiscard]] std::expected<std::string, std::string> read_line(std::chrono::milliseconds timeout);
  // The same, with "nothing in time" as an empty answer rather than an error.
  [[nodiscard]] std::expected<std::optional<std::string>, std::string> read_line_for(std::chrono::milliseconds timeout);
  // Whether the endpoint closed the connection (waits at most `timeout` to find out).
  bool closed_by_peer(std::chrono::milliseconds timeout);
  // No more requests will follow; replies can still be read.
  void shutdown_write();
  int fd() const { return fd_; }

 private:
  explicit Client(int fd) : fd_(fd) {}
  int fd_ = -1;
  std::string buffer_;
};

// Lower-case hex and back; none for text that is not an even run of hex digits.
std::string hex_encode(std::span<const std::uint8_t> bytes);
std::optional<std::vector<std::uint8_t>> hex_decode(std::string_view text);

// Standard base64 with padding; none for text that is not valid base64.
std::string base64_encode(std::span<const std::uint8_t> bytes);
std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

}  // namespace kivo::automation
