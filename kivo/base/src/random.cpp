#include "kivo/base/random.h"

#include <sys/random.h>

#include <cerrno>

#include "kivo/base/log.h"

namespace kivo {

void fill_random(std::span<std::uint8_t> out) {
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t n = ::getrandom(out.data() + filled, out.size() - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      fatal("getrandom failed");
    }
    filled += static_cast<std::size_t>(n);
  }
}

}  // namespace kivo
