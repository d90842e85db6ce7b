#include "kivo/ui/offscreen.h"

#include <cmath>

namespace kivo::ui::offscreen {

OffscreenWindow::OffscreenWindow(Application& app, int width, int height, double scale_factor)
    : app_(app), scale_(scale_factor), now_(Clock::time_point{} + std::chrono::hours(1)) {
  frame_.resize(static_cast<int>(std::lround(width * scale_)), static_cast<int>(std::lround(height * scale_)));
}

void OffscreenWindow::resize(int width, int height) {
  frame_.resize(static_cast<int>(std::lround(width * scale_)), static_cast<int>(std::lround(height * scale_)));
}

EventContext OffscreenWindow::context() const { return {.scale_factor = scale_, .now = now_, .document = document_}; }

bool OffscreenWindow::send(const Event& event) { return app_.on_event(event, context()); }

bool OffscreenWindow::semantic_action(std::string_view id, const a11y::SemanticAction& action) {
  return app_.semantic_action(id, action, context());
}

void OffscreenWindow::paint() {
  frame_.paint(app_, scale_, now_);
  app_.clear_repaint();
}

int OffscreenWindow::settle(int limit) {
  int frames = 0;
  paint();
  while (frames < limit && (app_.wants_frame() || app_.needs_repaint())) {
    now_ += std::chrono::milliseconds(16);
    paint();
    ++frames;
  }
  return frames;
}

}  // namespace kivo::ui::offscreen
