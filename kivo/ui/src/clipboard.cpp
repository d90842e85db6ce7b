#include "kivo/ui/clipboard.h"

namespace kivo::ui::clipboard {
namespace {

Provider& provider() {
  static Provider p;
  return p;
}

}  // namespace

std::string text() { return provider().get ? provider().get() : std::string(); }

void set_text(const std::string& text) {
  if (provider().set) provider().set(text);
}

void install(Provider p) { provider() = std::move(p); }

}  // namespace kivo::ui::clipboard
