#include "xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

#include <filesystem>

namespace remote::test {

namespace {

// The pid recorded in a display's lock file, or -1.
long lock_owner(int display) {
  std::ifstream lock("/tmp/.X" + std::to_string(display) + "-lock");
  long pid = -1;
  lock >> pid;
  return lock ? pid : -1;
}

}  // namespace

std::optional<Xvfb> Xvfb::start(int width, int height) {
  // Numbers well away from the ones desktops and other tools use; a display counts as
  // ours only once its lock file names our server and it accepts clients.
  const int first = 300 + static_cast<int>(getpid() % 400);
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int n = first + attempt;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock") || std::filesystem::exists(socket)) continue;
    const std::string display = ":" + std::to_string(n);
    auto process = Process::start({"Xvfb", display, "-screen", "0",
                                   std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp", "-noreset"},
                                  {}, std::filesystem::path("/dev/null"));
    // A server that lost the display to another one exits at once: try the next number
    // then instead of waiting out the time limit.
    bool ours = false;
    eventually(
        [&] {
          if (!process.running()) return true;
          if (lock_owner(n) != process.pid()) return false;
          Display* d = XOpenDisplay(display.c_str());
          if (d == nullptr) return false;
          XCloseDisplay(d);
          ours = true;
          return true;
        },
        std::chrono::seconds(20));
    if (ours) return Xvfb(std::move(process), display);
    process.stop();
  }
  return std::nullopt;
}

// A server that is killed outright leaves its socket and lock file behind.
Xvfb::~Xvfb() { process_.stop(); }

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
