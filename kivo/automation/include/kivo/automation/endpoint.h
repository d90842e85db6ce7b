#pragma once
// The automation endpoint's socket side. A thread of its own accepts connections of this user,
// frames request lines, refuses malformed ones and writes replies; the requests themselves are
// answered on the UI thread, which only ever tries to receive and to send, so it never waits
// for a caller.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "kivo/automation/protocol.h"

namespace kivo::automation {

// Callers connected at once; one more is told so and disconnected.
inline constexpr std::size_t kMaxConnections = 16;

class Endpoint {
 public:
  // Listens at `socket`. Its directory must be this user's alone (ensure_private_directory);
  // the socket is created 0600. A socket file left by an instance that is gone is replaced; one
  // that still answers is refused, and so is any other file in the way.
  [[nodiscard]] static std::expected<std::unique_ptr<Endpoint>, std::string> start(
      const std::filesystem::path& socket);
  // Stops the thread, drops every connection and removes the socket file if it is still ours.
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Readable while requests wait for serve(). Only poll it (Window::watch_fd); never read it.
  int wake_fd() const;
  // Answers every waiting request with `handle`, on the calling (UI) thread; never blocks.
  // The reply gets the request's id and goes back to its caller. Returns how many it answered.
  std::size_t serve(const std::function<nlohmann::ordered_json(const Request&)>& handle);

  const std::filesystem::path& socket_path() const;

 private:
  struct Impl;
  explicit Endpoint(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kivo::automation
