#include "kivo/ui/text_render.h"
#include "kivo/ui/widget/button.h"
#include "kivo/ui/widget/toggle_group.h"

#include <algorithm>
#include <cmath>

namespace kivo::ui::widget {

namespace button {

void Button::paint(Canvas& canvas, Rect r, const tokens::colors::Colors& colors) const {
  Color fill;
  Color text;
  bool outline = false;
  switch (style) {
    case ButtonStyle::Primary:
      fill = hovered ? colors.accent.mix(colors.on_accent, 0.12) : colors.accent;
      text = colors.on_accent;
      break;
    case ButtonStyle::Destructive:
      fill = hovered ? colors.danger.mix(colors.on_accent, 0.12) : colors.danger.mix(colors.background, 0.08);
      text = colors.on_accent;
      break;
    case ButtonStyle::Normal:
      fill = hovered ? colors.lift(1.0) : colors.surface_high;
      text = colors.text;
      outline = true;
      break;
  }
  canvas.fill_rounded(r, radius, fill);
  if (outline) canvas.stroke_rounded(r, radius, hovered ? colors.border.mix(colors.text, 0.18) : colors.border, 1.0);
  auto& renderer = text_render::TextRenderer::shared();
  const auto size = renderer.measure_weighted(label, px, weight);
  const double max_width = std::max(r.w - 12, 1.0);
  renderer.draw(canvas, label,
                {r.x + std::max((r.w - std::min(size.width, max_width)) / 2, 6.0), r.y + (r.h - size.height) / 2},
                {.px = px, .weight = weight, .max_width = size.width > max_width ? max_width : 0}, text);
}

}  // namespace button

namespace toggle_group {

Rect ToggleGroup::segment(Rect r, std::size_t count, std::size_t i) {
  if (count == 0) return r;
  const double pad = 3;
  const double inner_w = r.w - 2 * pad;
  const double w = inner_w / static_cast<double>(count);
  return {r.x + pad + w * static_cast<double>(i), r.y + pad, w, r.h - 2 * pad};
}

void ToggleGroup::paint(Canvas& canvas, Rect r, const tokens::colors::Colors& colors) const {
  canvas.fill_rounded(r, radius, colors.background);
  canvas.stroke_rounded(r, radius, colors.border, 1.0);
  auto& renderer = text_render::TextRenderer::shared();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const Rect s = segment(r, labels.size(), i);
    const bool is_selected = selected == i;
    const double inner_radius = std::max(radius - 3, 2.0);
    if (is_selected) {
      canvas.fill_rounded(s, inner_radius, colors.accent.with_opacity(0.20));
      canvas.stroke_rounded(s, inner_radius, colors.accent.with_opacity(0.75), 1.0);
    } else if (hovered == i) {
      canvas.fill_rounded(s, inner_radius, colors.lift(0.6));
    }
    const int weight = is_selected ? text_render::kSemibold : text_render::kMedium;
    const auto size = renderer.measure_weighted(labels[i], px, weight);
    renderer.draw_text_weighted(canvas, labels[i], {s.x + (s.w - size.width) / 2, s.y + (s.h - size.height) / 2},
                                px, weight, is_selected ? colors.text : colors.muted_text);
  }
}

}  // namespace toggle_group

}  // namespace kivo::ui::widget
