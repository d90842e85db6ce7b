#pragma once
// Runs an application object with no display: events in, PNG out. For tests and for
// visual review of every screen. Time is injected, so animations and delays are
// reproducible.

#include <string>

#include "kivo/ui/application.h"
#include "kivo/ui/frame.h"

namespace kivo::ui::offscreen {

class OffscreenWindow {
 public:
  OffscreenWindow(Application& app, int width, int height, double scale_factor = 1.0);

  void set_document(doc::Document* document) { document_ = document; }
  void resize(int width, int height);

  Clock::time_point now() const { return now_; }
  void set_now(Clock::time_point now) { now_ = now; }
  void advance(Clock::duration by) { now_ += by; }

  // Delivers one event with positions in logical pixels; returns whether it was used.
  bool send(const Event& event);
  bool semantic_action(std::string_view id, const a11y::SemanticAction& action);
  // Paints one frame (laying out first when the size changed).
  void paint();
  // Paints until the application stops asking for frames, advancing the clock by
  // one frame each time (at most `limit` frames).
  int settle(int limit = 600);

  const FrameBuffer& frame() const { return frame_; }
  const a11y::AccessNode& access_tree() const { return frame_.access_tree(); }
  std::expected<void, std::string> write_png(const std::string& path) const { return frame_.write_png(path); }

 private:
  EventContext context() const;

  Application& app_;
  double scale_;
  doc::Document* document_ = nullptr;
  Clock::time_point now_;
  FrameBuffer frame_;
};

}  // namespace kivo::ui::offscreen
