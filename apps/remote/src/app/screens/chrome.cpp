// What every screen shares: the content area, the text fields and the navigation rail.

#include <algorithm>

#include "app/remote_app.h"
#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"

namespace remote::app {
namespace {

using kivo::ui::Rect;
using kivo::ui::text_render::kSemibold;
using kivo::ui::text_render::TextRenderer;

constexpr double kRailWidth = 64;

}  // namespace

Rect RemoteApp::content_area() const {
  double strip = 0;
  if (!fullscreen_) strip = narrow_ ? kRailWidth : flap_.reveal() * kRailWidth;
  return {bounds_.x + strip, bounds_.y, std::max(bounds_.w - strip, 0.0), bounds_.h};
}

void RemoteApp::add_region(Rect rect, std::optional<AppMessage> message) {
  hit_regions_.push_back({rect, std::move(message)});
}

void RemoteApp::paint_field(kivo::ui::PaintContext& context, int field, Rect rect) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  const bool focused = focused_field_ == field;
  canvas.fill_rounded(rect, 8, colors.background.mix(colors.surface, 0.35));
  if (focused) {
    canvas.stroke_rounded(rect, 8, colors.focus_ring, 2);
  } else {
    canvas.stroke_rounded(rect, 8, hovered(rect) ? colors.border.mix(colors.text, 0.2) : colors.border, 1);
  }
  auto& input = inputs_[field];
  input.apply_layout_external({rect.x + 12, rect.y, std::max(rect.w - 24, 1.0), rect.h});
  input.draw(canvas, colors);
  add_region(rect, msg::FocusField{field});
  static constexpr const char* kNames[kFieldCount] = {"search", "name", "host", "port", "user", "group"};
  mark(std::string("remote.field:") + kNames[field], rect);
}

void RemoteApp::paint_rail(kivo::ui::PaintContext& context) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  auto& text = TextRenderer::shared();
  const Rect area = bounds_;
  const double reveal = flap_.reveal();

  if (narrow_ && reveal > 0.001) canvas.fill_rect(area, kivo::ui::Color{0, 0, 0, reveal * 0.26});

  if (reveal > 0.001) {
    const double rail_left = area.x - (1 - flap_.slide()) * kRailWidth;
    const Rect rail{rail_left, area.y, kRailWidth, area.h};
    canvas.fill_rect(rail, kivo::ui::chrome::shell::panel_ground(colors));
    kivo::ui::chrome::shell::chrome_hairline(canvas, {rail.right() - 1, rail.y}, {rail.right() - 1, rail.bottom()},
                                             colors);
    // Blocks clicks from reaching the content under the rail.
    add_region(rail, std::nullopt);

    // The mark: a rounded screen on a small foot. In the narrow layout the rail toggle
    // sits in its place.
    if (!narrow_) {
      canvas.fill_rounded({rail.x + 16, rail.y + 18, 32, 26}, 5, colors.accent);
      canvas.fill_rounded({rail.x + 20, rail.y + 21, 24, 17}, 3, colors.accent.mix(colors.background, 0.55));
      canvas.fill_rect({rail.x + 32 - 6, rail.y + 44, 12, 5}, colors.accent);
    }

    struct Item {
      const char* glyph;
      double top;
      AppMessage message;
      bool selected;
      const char* id;
    };
    const Item items[] = {
        {"≡", rail.y + 72, msg::ShowList{}, std::holds_alternative<screen::List>(screen_), "remote.nav.list"},
        {"+", rail.y + 72 + 56, msg::OpenNewForm{}, false, "remote.connection.new"},
    };
    for (const auto& item : items) {
      const Rect cell{rail.x + 12, item.top, rail.w - 24, 40};
      if (item.selected) {
        kivo::ui::surface::card(canvas, cell, 8, colors.surface_high);
        kivo::ui::surface::edge_outline(canvas, cell, 8, colors);
      } else if (hovered(cell)) {
        canvas.fill_rounded(cell, 8, colors.lift(0.5));
      }
      const auto size = text.measure_weighted(item.glyph, 22, kSemibold);
      text.draw_text_weighted(canvas, item.glyph, {cell.x + (cell.w - size.width) / 2, cell.y + 6}, 22, kSemibold,
                              item.selected ? colors.text : colors.muted_text);
      add_region(cell, item.message);
      mark(item.id, cell);
    }
  }

  if (narrow_) {
    const Rect toggle{area.x + 12, area.y + 12, 40, 40};
    kivo::ui::surface::card(canvas, toggle, 8, colors.surface);
    if (hovered(toggle)) kivo::ui::surface::edge_outline(canvas, toggle, 8, colors);
    if (flap_target_open()) {
      const auto size = text.measure_weighted("≡", 22, kSemibold);
      text.draw_text_weighted(canvas, "≡", {toggle.x + (toggle.w - size.width) / 2, toggle.y + (toggle.h - size.height) / 2},
                              22, kSemibold, colors.text);
    } else {
      for (int i = 0; i < 3; ++i) {
        canvas.fill_rect({toggle.x + 11, toggle.y + 11 + 8 * i, 18, 2}, colors.text);
      }
    }
    add_region(toggle, msg::ToggleNavigation{});
    mark("remote.nav.toggle", toggle);
  }
}

}  // namespace remote::app
