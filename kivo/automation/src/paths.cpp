#include "kivo/automation/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "kivo/base/unique_fd.h"

namespace kivo::automation {
namespace {

bool plain_file_name(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.front() == '.') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::expected<std::filesystem::path, std::string> socket_path(std::string_view app_id) {
  if (!plain_file_name(app_id)) {
    return std::unexpected(fmt::format("the application id \"{}\" is not a plain file name", app_id));
  }
  std::filesystem::path dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    dir = std::filesystem::path(runtime) / "kivo";
  } else {
    dir = fmt::format("/tmp/kivo-{}", ::geteuid());
  }
  auto path = dir / (std::string(app_id) + ".sock");
  if (path.native().size() > kMaxSocketPath) {
    return std::unexpected(
        fmt::format("the socket path {} is longer than the {} bytes a socket address holds", path.native(), kMaxSocketPath));
  }
  return path;
}

std::expected<void, std::string> ensure_private_directory(const std::filesystem::path& dir) {
  const auto open_dir = [&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); };
  UniqueFd handle(open_dir());
  if (handle.get() < 0 && errno == ENOENT) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::unexpected(fmt::format("cannot create {}: {}", dir.native(), std::strerror(errno)));
    }
    handle.reset(open_dir());
  }
  if (handle.get() < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      return std::unexpected(fmt::format("{} is a symbolic link or not a directory", dir.native()));
    }
    return std::unexpected(fmt::format("cannot open {}: {}", dir.native(), std::strerror(errno)));
  }
  struct stat st{};
  if (::fstat(handle.get(), &st) != 0) {
    return std::unexpected(fmt::format("cannot inspect {}: {}", dir.native(), std::strerror(errno)));
  }
  if (st.st_uid != ::geteuid()) {
    return std::unexpected(fmt::format("{} belongs to another user (uid {})", dir.native(), st.st_uid));
  }
  if ((st.st_mode & 077) != 0) {
    return std::unexpected(fmt::format("{} is accessible to other users (mode {:04o}); it must be 0700", dir.native(),
                                       st.st_mode & 07777));
  }
  return {};
}

}  // namespace kivo::automation
