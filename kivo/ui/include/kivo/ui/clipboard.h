#pragma once
// The system clipboard as the running backend provides it (empty offscreen).

#include <functional>
#include <string>

namespace kivo::ui::clipboard {

std::string text();
void set_text(const std::string& text);

// Installed by the window backend.
struct Provider {
  std::function<std::string()> get;
  std::function<void(const std::string&)> set;
};
void install(Provider provider);

}  // namespace kivo::ui::clipboard
