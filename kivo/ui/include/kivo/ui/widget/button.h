#pragma once

#include <string_view>

#include "kivo/ui/canvas.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui::widget::button {

enum class ButtonStyle { Normal, Primary, Destructive };

struct Button {
  std::string_view label;
  ButtonStyle style = ButtonStyle::Normal;
  bool hovered = false;
  double px = 13;
  int weight = 2;
  double radius = 8;

  void paint(Canvas& canvas, Rect r, const tokens::colors::Colors& colors) const;
};

}  // namespace kivo::ui::widget::button
