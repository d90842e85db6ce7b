#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "kivo/ui/canvas.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui::widget::toggle_group {

// A segmented control of equal segments; at most one is selected.
struct ToggleGroup {
  std::span<const std::string_view> labels;
  std::optional<std::size_t> selected;
  std::optional<std::size_t> hovered;
  double px = 13;
  double radius = 8;

  void paint(Canvas& canvas, Rect r, const tokens::colors::Colors& colors) const;
  // The rectangle of segment i within r.
  static Rect segment(Rect r, std::size_t count, std::size_t i);
};

}  // namespace kivo::ui::widget::toggle_group
