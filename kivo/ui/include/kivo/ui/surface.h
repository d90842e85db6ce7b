#pragma once
// Surface helpers: the framework's cards, pills and edges.

#include "kivo/ui/canvas.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui::surface {

using tokens::colors::Colors;

// A filled rounded rectangle.
void card(Canvas& canvas, Rect r, double radius, Color fill);
// A fully rounded capsule (radius = half the height).
void pill(Canvas& canvas, Rect r, Color fill);
// The highlight edge of a selected or hovered card: 1.5 px in the accent colour.
void edge_on(Canvas& canvas, Rect r, double radius, const Colors& colors);
// The highlight edge in a given colour and width.
void edge_on_with(Canvas& canvas, Rect r, double radius, Color colour, double width);
// A quiet 1 px outline in the theme's border colour.
void edge_outline(Canvas& canvas, Rect r, double radius, const Colors& colors);

}  // namespace kivo::ui::surface

namespace kivo::ui::chrome::shell {

// A 1 px divider from `from` to `to` (horizontal or vertical), on whole pixels.
void chrome_hairline(Canvas& canvas, Point from, Point to, const tokens::colors::Colors& colors);
// The ground of side panels and sheets.
Color panel_ground(const tokens::colors::Colors& colors);
// The edge of side panels and sheets.
Color panel_border(const tokens::colors::Colors& colors);

}  // namespace kivo::ui::chrome::shell
