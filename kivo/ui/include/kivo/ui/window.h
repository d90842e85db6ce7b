#pragma once
// The real window: SDL owns the window, events and the frame clock; every paint goes
// through cairo into a software surface that is uploaded once per frame. The loop
// sleeps while nothing happens, runs frames while the application wants them and
// never busy-waits.

#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "kivo/ui/application.h"
#include "kivo/ui/frame.h"

namespace kivo::ui {

struct WindowOptions {
  std::string title;
  int width = 1280;   // logical pixels
  int height = 800;
  bool resizable = true;
  bool fullscreen = false;
  bool high_dpi = true;
};

class Window {
 public:
  // Opens the window, or says why not (no display, no video driver).
  static std::expected<std::unique_ptr<Window>, std::string> open(const WindowOptions& options);
  ~Window();

  // Calls `on_readable` on the UI thread whenever `fd` is readable; the handler must
  // consume what made it readable. Watched by a helper thread, so the loop still sleeps.
  void watch_fd(int fd, std::function<void()> on_readable);
  // Called on the UI thread after every batch of events and watched descriptors.
  void after_events(std::function<void()> callback) { after_events_ = std::move(callback); }
  void on_focus_changed(std::function<void(bool)> callback) { on_focus_ = std::move(callback); }

  // Runs the loop until the window is closed or quit() is called.
  void run(Application& app, doc::Document* document);
  void quit();

  // Valid while run() runs: the last frame, and the context events are delivered with.
  const FrameBuffer& frame() const;
  EventContext context() const;
  // Makes sure the next loop iteration paints (for example after an automation request).
  void request_paint();
  // Paints now (to take a screenshot of the current state).
  void paint_now();

 private:
  Window();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::function<void()> after_events_;
  std::function<void(bool)> on_focus_;
};

}  // namespace kivo::ui
