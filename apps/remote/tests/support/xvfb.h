#pragma once
// A private X server (Xvfb) on a free display number, and the few X11 requests GUI
// tests need that xdotool lacks.

#include <X11/Xlib.h>

#include <optional>
#include <string>

#include "process.h"

namespace remote::test {

class Xvfb {
 public:
  // Starts a server with one 1280 × 800 × 24 screen; nullopt when it does not come up.
  static std::optional<Xvfb> start(int width = 1280, int height = 800);
  Xvfb(Xvfb&&) = default;
  Xvfb& operator=(Xvfb&&) = default;
  ~Xvfb();

  const std::string& display() const { return display_; }

  // The id of the first top-level window whose name equals `name`.
  std::optional<unsigned long> find_window(const std::string& name) const;
  // Asks the window to close, as a window manager's close button does.
  bool request_close(unsigned long window) const;

 private:
  Xvfb(Process process, std::string display) : process_(std::move(process)), display_(std::move(display)) {}
  Process process_;
  std::string display_;
};

}  // namespace remote::test
