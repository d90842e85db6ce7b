#include "xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <filesystem>

namespace remote::test {

std::optional<Xvfb> Xvfb::start(int width, int height) {
  for (int n = 150; n < 250; ++n) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (std::filesystem::exists(lock) || std::filesystem::exists(socket)) continue;
    const std::string display = ":" + std::to_string(n);
    auto process = Process::start({"Xvfb", display, "-screen", "0",
                                   std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp"},
                                  {}, std::filesystem::path("/dev/null"));
    const bool up = eventually(
        [&] {
          if (!process.running()) return false;
          Display* d = XOpenDisplay(display.c_str());
          if (d == nullptr) return false;
          XCloseDisplay(d);
          return true;
        },
        std::chrono::seconds(10));
    if (up) return Xvfb(std::move(process), display);
    if (!process.running()) continue;  // lost a race for this number: try the next
    return std::nullopt;
  }
  return std::nullopt;
}

Xvfb::~Xvfb() = default;

std::optional<unsigned long> Xvfb::find_window(const std::string& name) const {
  Display* d = XOpenDisplay(display_.c_str());
  if (d == nullptr) return std::nullopt;
  std::optional<unsigned long> found;
  Window root = DefaultRootWindow(d);
  Window parent;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(d, root, &root, &parent, &children, &count) != 0) {
    for (unsigned int i = 0; i < count && !found; ++i) {
      char* window_name = nullptr;
      if (XFetchName(d, children[i], &window_name) != 0 && window_name != nullptr) {
        if (name == window_name) found = children[i];
        XFree(window_name);
      }
    }
    if (children != nullptr) XFree(children);
  }
  XCloseDisplay(d);
  return found;
}

bool Xvfb::request_close(unsigned long window) const {
  Display* d = XOpenDisplay(display_.c_str());
  if (d == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(d, window, False, NoEventMask, &event) != 0;
  XFlush(d);
  XCloseDisplay(d);
  return sent;
}

}  // namespace remote::test
