#include "kivo/base/file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace kivo {

std::string errno_text(int error) { return std::system_category().message(error); }

std::expected<std::string, int> read_bounded(int fd, std::size_t limit, std::size_t size_hint) {
  constexpr std::size_t kStep = 4096;
  std::string text(std::min(size_hint, limit) + 1, '\0');
  std::size_t filled = 0;
  while (true) {
    if (filled == text.size()) {
      if (text.size() > limit) break;
      text.resize(std::min(text.size() + kStep, limit + 1));
    }
    const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  text.resize(filled);
  return text;
}

}  // namespace kivo
