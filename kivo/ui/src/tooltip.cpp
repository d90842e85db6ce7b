#include "kivo/ui/widget/tooltip.h"

#include <algorithm>

#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"

namespace kivo::ui::widget::tooltip {

bool TooltipHost::on_pointer(std::optional<std::string> text, Point position, Clock::time_point now) {
  if (text == text_) {
    if (!visible_) anchor_ = position;
    return false;
  }
  const bool was_visible = visible_;
  text_ = std::move(text);
  anchor_ = position;
  since_ = now;
  visible_ = false;
  suppressed_ = false;
  return was_visible;
}

bool TooltipHost::dismiss() {
  const bool was_visible = visible_;
  visible_ = false;
  suppressed_ = text_.has_value();
  return was_visible;
}

bool TooltipHost::tick(Clock::time_point now) {
  if (!pending() || now - since_ < kDelay) return false;
  visible_ = true;
  return true;
}

void draw_hover_tooltip(Canvas& canvas, const TooltipHost& host, Rect bounds, const tokens::colors::Colors& colors) {
  if (!host.visible() || !host.text()) return;
  auto& renderer = text_render::TextRenderer::shared();
  constexpr double kPx = 12;
  const auto size = renderer.measure_weighted(*host.text(), kPx, text_render::kMedium);
  const double w = size.width + 20;
  const double h = size.height + 12;
  double x = host.anchor().x + 12;
  double y = host.anchor().y + 20;
  x = std::clamp(x, bounds.x + 4, std::max(bounds.right() - w - 4, bounds.x + 4));
  if (y + h > bounds.bottom() - 4) y = host.anchor().y - h - 8;
  y = std::max(y, bounds.y + 4);
  const Rect box{x, y, w, h};
  canvas.fill_rounded({box.x, box.y + 2, box.w, box.h}, 7, Color{0, 0, 0, 0.35});
  canvas.fill_rounded(box, 7, colors.surface_high.mix(colors.text, 0.05));
  canvas.stroke_rounded(box, 7, chrome::shell::panel_border(colors), 1.0);
  renderer.draw_text_weighted(canvas, *host.text(), {box.x + 10, box.y + 6}, kPx, text_render::kMedium, colors.text);
}

}  // namespace kivo::ui::widget::tooltip
