#include "kivo/ui/surface.h"

#include <cmath>

namespace kivo::ui::surface {

void card(Canvas& canvas, Rect r, double radius, Color fill) { canvas.fill_rounded(r, radius, fill); }

void pill(Canvas& canvas, Rect r, Color fill) { canvas.fill_rounded(r, r.h / 2, fill); }

void edge_on(Canvas& canvas, Rect r, double radius, const Colors& colors) {
  canvas.stroke_rounded(r, radius, colors.accent.with_opacity(0.85), 1.5);
}

void edge_on_with(Canvas& canvas, Rect r, double radius, Color colour, double width) {
  canvas.stroke_rounded(r, radius, colour, width);
}

void edge_outline(Canvas& canvas, Rect r, double radius, const Colors& colors) {
  canvas.stroke_rounded(r, radius, colors.border, 1.0);
}

}  // namespace kivo::ui::surface

namespace kivo::ui::chrome::shell {

void chrome_hairline(Canvas& canvas, Point from, Point to, const tokens::colors::Colors& colors) {
  // Centre the line on a pixel row or column so it stays one pixel wide.
  if (from.y == to.y) {
    const double y = std::floor(from.y) + 0.5;
    canvas.line({from.x, y}, {to.x, y}, colors.border, 1.0);
  } else {
    const double x = std::floor(from.x) + 0.5;
    canvas.line({x, from.y}, {x, to.y}, colors.border, 1.0);
  }
}

Color panel_ground(const tokens::colors::Colors& colors) { return colors.background.mix(colors.surface, 0.55); }

Color panel_border(const tokens::colors::Colors& colors) { return colors.border.mix(colors.text, 0.06); }

}  // namespace kivo::ui::chrome::shell
