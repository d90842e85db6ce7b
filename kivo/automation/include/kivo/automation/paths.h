#pragma once
// Where an application's automation endpoint lives, and the private directory around it.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace kivo::automation {

// The socket of `app_id`'s endpoint: $XDG_RUNTIME_DIR/kivo/<app-id>.sock. Without an absolute
// XDG_RUNTIME_DIR the runtime directory of this user does not exist, so the socket goes to
// /tmp/kivo-<uid>/<app-id>.sock instead: a directory named after the uid, which the endpoint
// creates 0700 or refuses when someone else made it first (see ensure_private_directory).
// Refused: an application id that is not a plain file name, a path too long for a socket.
[[nodiscard]] std::expected<std::filesystem::path, std::string> socket_path(std::string_view app_id);

// Makes sure `dir` is a directory of the effective user that nobody else can enter: creates it
// (mode 0700, parents must exist) when it is missing; refuses a symbolic link, anything but a
// directory, another user's directory and one that group or others can access.
[[nodiscard]] std::expected<void, std::string> ensure_private_directory(const std::filesystem::path& dir);

// The longest socket path a Unix socket address holds.
inline constexpr std::size_t kMaxSocketPath = 107;

}  // namespace kivo::automation
