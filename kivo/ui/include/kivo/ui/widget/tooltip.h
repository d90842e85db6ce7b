#pragma once
// Hover tooltips that appear after the pointer has rested on one control for 0.5 s.

#include <chrono>
#include <optional>
#include <string>

#include "kivo/ui/canvas.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui::widget::tooltip {

using Clock = std::chrono::steady_clock;

class TooltipHost {
 public:
  static constexpr std::chrono::milliseconds kDelay{500};

  // The pointer is at `position` over a control whose tooltip is `text` (none: no
  // tooltip there). Returns whether the screen needs a repaint.
  bool on_pointer(std::optional<std::string> text, Point position, Clock::time_point now);
  // Hides the tooltip until the pointer reaches another control. Returns whether a
  // repaint is needed.
  bool dismiss();
  // Shows the pending tooltip once its delay has passed. Returns whether a repaint is needed.
  bool tick(Clock::time_point now);

  // A tooltip is waiting for its delay (the caller keeps frames coming meanwhile).
  bool pending() const { return text_.has_value() && !visible_ && !suppressed_; }
  bool visible() const { return visible_; }
  const std::optional<std::string>& text() const { return text_; }
  Point anchor() const { return anchor_; }

 private:
  std::optional<std::string> text_;
  Point anchor_;
  Clock::time_point since_{};
  bool visible_ = false;
  bool suppressed_ = false;
};

// Draws the visible tooltip of `host` near its anchor, kept inside `bounds`.
void draw_hover_tooltip(Canvas& canvas, const TooltipHost& host, Rect bounds, const tokens::colors::Colors& colors);

}  // namespace kivo::ui::widget::tooltip
