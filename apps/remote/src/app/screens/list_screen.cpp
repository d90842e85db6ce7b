// The connection list: header with counts, the search field, one card per visible
// profile, the empty states.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/presentation.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/widget/button.h"

namespace remote::app {
namespace {

using kivo::ui::Color;
using kivo::ui::Point;
using kivo::ui::Rect;
using kivo::ui::text_render::kMedium;
using kivo::ui::text_render::kSemibold;
using kivo::ui::text_render::TextRenderer;
using kivo::ui::widget::button::Button;
using kivo::ui::widget::button::ButtonStyle;

constexpr double kShortHeaderWidth = 520;

// A ten-point star: five outer points (the first straight up) and five inner ones.
kivo::ui::Path star_path(Point centre, double outer, double inner) {
  kivo::ui::Path path;
  for (int i = 0; i < 10; ++i) {
    const double radius = i % 2 == 0 ? outer : inner;
    const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
    const double x = centre.x + radius * std::cos(angle);
    const double y = centre.y + radius * std::sin(angle);
    if (i == 0) {
      path.move_to(x, y);
    } else {
      path.line_to(x, y);
    }
  }
  path.close();
  return path;
}

std::string count_line(const std::vector<doc::ConnectionProfile>& profiles) {
  std::size_t online = 0;
  std::size_t available = 0;
  for (const auto& p : profiles) {
    if (p.presence == doc::Presence::Online) ++online;
    if (doc::availability(p) == doc::TransportAvailability::Ready) ++available;
  }
  std::string line = std::to_string(profiles.size()) + " saved · " + std::to_string(online) + " online";
  if (available != profiles.size()) line += " · " + std::to_string(available) + " connectable here";
  return line;
}

}  // namespace

void RemoteApp::measure_rows() {
  auto& text = TextRenderer::shared();
  if (metrics_.generation == text.generation()) return;
  metrics_.generation = text.generation();
  metrics_.name_line = text.measure("Ag", 16).height + 18;
  metrics_.sub_line = text.measure("Ag", 11).height + 4;
  metrics_.button_height = std::max(text.measure("Ag", 13).height + 12, 32.0);
  double widest = text.measure_weighted("Connect", 13, kMedium).width;
  for (auto a : {doc::TransportAvailability::NeedsCapability, doc::TransportAvailability::NotSupported,
                 doc::TransportAvailability::InvalidProfile}) {
    widest = std::max(widest, text.measure_weighted(*doc::short_label(a), 11.5, kMedium).width);
  }
  metrics_.connect_width = std::max(widest + 18, 100.0);
  metrics_.edit_width = std::max(text.measure_weighted("Edit", 13, kMedium).width + 24, 76.0);
  metrics_.row_height = std::max(metrics_.name_line + metrics_.sub_line + 16, 72.0);
  metrics_.stacked_row_height =
      std::max(metrics_.button_height + metrics_.name_line + metrics_.sub_line + 16 + 12, 116.0);
}

void RemoteApp::paint_list(kivo::ui::PaintContext& context, Rect area) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  auto& text = TextRenderer::shared();
  measure_rows();
  const double left = area.x;
  const double top = area.y;
  const double right = area.right();
  const bool short_header = area.w < kShortHeaderWidth;

  // Header.
  const std::string_view title = short_header ? "Remote" : "Remote Machines";
  const auto title_size = text.draw(canvas, title, {left + 24, top + 16}, {.px = 22, .weight = kSemibold}, colors.text);
  const double count_height = text.measure("Ag", 13).height;
  text.draw_text(canvas, count_line(profiles_), {left + 24, top + 16 + title_size.height + 4}, 13,
                 colors.muted_text);
  const std::string_view new_label = short_header ? "+ New" : "+ New connection";
  const double new_width =
      std::max(text.measure_weighted(new_label, 13, kMedium).width + 28, short_header ? 88.0 : 150.0);
  const Rect new_button{right - 24 - new_width, top + 16 + (title_size.height - 32) / 2, new_width, 32};
  Button{.label = new_label, .style = ButtonStyle::Primary, .hovered = hovered(new_button)}.paint(canvas, new_button,
                                                                                                 colors);
  add_region(new_button, msg::OpenNewForm{});

  const Rect search{left + 24, top + 8 + std::max(title_size.height + count_height + 32, 64.0), area.w - 48, 36};
  paint_field(context, kSearchField, search);

  const Rect list{left, search.bottom() + 16, area.w, std::max(area.bottom() - search.bottom() - 16, 0.0)};
  const auto& visible = visible_profiles();
  list_.stacked = text.text_scale() * 620 > area.w - 48;
  list_.row_height = list_.stacked ? metrics_.stacked_row_height : metrics_.row_height;
  list_.top = list.y;
  list_.viewport = std::max(list.h, list_.row_height);
  const double pitch = list_.row_height + 8;
  list_.max_scroll = std::max(0.0, pitch * static_cast<double>(visible.size()) - 8 - list.h);
  list_scroll_ = std::clamp(list_scroll_, 0.0, list_.max_scroll);

  if (visible.empty()) {
    if (!profiles_.empty()) {
      const std::string_view none = "No machines match your search.";
      const auto size = text.measure(none, 14);
      text.draw_text(canvas, none, {left + (area.w - size.width) / 2, list.y + 48}, 14, colors.muted_text);
      return;
    }
    const Point centre{left + area.w / 2, list.y + std::max(0.3 * list.h, 24.0) + 36};
    canvas.fill_circle(centre, 36, colors.accent.with_opacity(0.12));
    canvas.stroke_circle(centre, 36, colors.accent.with_opacity(0.80), 2);
    canvas.line({centre.x - 12, centre.y}, {centre.x + 12, centre.y}, colors.accent, 2.6);
    canvas.line({centre.x, centre.y - 12}, {centre.x, centre.y + 12}, colors.accent, 2.6);
    const double circle_top = centre.y - 36;
    const std::string_view heading = "No machines yet";
    const auto heading_size = text.measure_weighted(heading, 19, kSemibold);
    text.draw_text_weighted(canvas, heading, {left + (area.w - heading_size.width) / 2, circle_top + 96}, 19, kSemibold,
                            colors.text);
    const std::string_view body = "Add one to reach it over SSH, VNC, or the Kivo relay.";
    const double wrap = std::max(area.w - 48, 120.0);
    const auto body_size = text.layout_size(body, {.px = 13.5, .wrap_width = wrap});
    const double body_top = circle_top + 96 + heading_size.height + 6;
    text.draw(canvas, body, {left + (area.w - std::min(body_size.width, wrap)) / 2, body_top},
              {.px = 13.5, .wrap_width = wrap}, colors.muted_text);
    const std::string_view label = "+ New connection";
    const double width = std::max(text.measure_weighted(label, 13, kMedium).width + 32, 168.0);
    const Rect button{left + (area.w - width) / 2, body_top + body_size.height + 16, width, 40};
    Button{.label = label, .style = ButtonStyle::Primary, .hovered = hovered(button)}.paint(canvas, button, colors);
    add_region(button, msg::OpenNewForm{});
    return;
  }

  kivo::ui::ClipScope clip(canvas, list);
  // Only the part of a control inside the list takes clicks.
  const auto add_clipped = [&](Rect r, AppMessage message) {
    const double y0 = std::max(r.y, list.y);
    const double y1 = std::min(r.bottom(), list.bottom());
    if (y1 > y0) add_region({r.x, y0, r.w, y1 - y0}, std::move(message));
  };
  const double card_left = left + 24;
  const double card_width = area.w - 48;
  for (std::size_t i = 0; i < visible.size(); ++i) {
    const auto& p = *visible[i];
    const double row_top = list.y + pitch * static_cast<double>(i) - list_scroll_;
    if (row_top + list_.row_height < list.y || row_top > list.bottom()) continue;
    const Rect row{card_left, row_top, card_width, list_.row_height};
    const double visible_top = std::max(row.y, list.y);
    const Rect row_hit{row.x, visible_top, row.w, std::min(row.bottom(), list.bottom()) - visible_top};
    const bool row_hovered = hovered(row_hit);
    const bool selected = selected_ == p.id;
    kivo::ui::surface::card(canvas, row, 12, selected ? colors.surface_high : colors.surface);
    if (selected) {
      kivo::ui::surface::edge_on(canvas, row, 12, colors);
    } else if (row_hovered) {
      kivo::ui::surface::edge_outline(canvas, row, 12, colors);
    }
    add_clipped(row, msg::Select{p.id});
    const std::string element = "remote.connection:" + p.id.to_string();
    mark(element + ":select", row_hit);

    // Presence.
    const Point dot{row.x + 22, row.y + row.h / 2};
    if (p.presence == doc::Presence::Online) {
      canvas.fill_circle(dot, 9, colors.success.with_opacity(0.25));
      canvas.fill_circle(dot, 5, colors.success);
    } else {
      canvas.fill_circle(dot, 5, p.presence == doc::Presence::Offline ? colors.danger : colors.muted_text);
    }

    // Actions first: the name gives way to them.
    const auto availability = doc::availability(p);
    const double button_top = list_.stacked ? row.y + metrics_.name_line + metrics_.sub_line + 16
                                            : row.y + (row.h - metrics_.button_height) / 2;
    const double connect_right = list_.stacked ? row.right() - 12 : row.right() - 16;
    const Rect connect{connect_right - metrics_.connect_width, button_top, metrics_.connect_width,
                       metrics_.button_height};
    const Rect edit{connect.x - 12 - metrics_.edit_width, button_top, metrics_.edit_width, metrics_.button_height};

    double name_limit = row.right() - 16 - (row.x + 44) - 32;
    const auto last_used_size = text.measure(p.last_used, 12);
    if (!list_.stacked) name_limit = edit.x - 16 - last_used_size.width - 16 - (row.x + 44) - 32;
    name_limit = std::max(name_limit, 40.0);
    const auto name_size = text.draw(canvas, p.name, {row.x + 44, row.y + 13}, {.px = 16, .max_width = name_limit},
                                     colors.text);
    const double drawn_name = std::min(name_size.width, name_limit);

    const Point star{row.x + 44 + drawn_name + 16, row.y + 21};
    const auto star_shape = star_path(star, 7, 2.94);
    if (p.favorite) {
      canvas.fill_path(star_shape, colors.warning);
    } else {
      canvas.stroke_path(star_shape, colors.muted_text, 1.2);
    }
    add_clipped({star.x - 11, star.y - 11, 22, 22}, msg::ToggleFavorite{p.id});
    mark(element + ":favorite", {star.x - 11, star.y - 11, 22, 22});

    // Kind badge, target and group.
    const auto kind_label = doc::short_label(p.kind);
    const auto badge_text = text.measure_weighted(kind_label, 11, kMedium);
    const Rect badge{row.x + 44, row.y + metrics_.name_line, badge_text.width + 16, badge_text.height + 4};
    const Color kind = kind_colour(p.kind, colors);
    kivo::ui::surface::pill(canvas, badge, kind.with_opacity(0.18));
    text.draw_text_weighted(canvas, kind_label, {badge.x + 8, badge.y + 2}, 11, kMedium, kind);
    const double sub_limit = (list_.stacked ? row.right() - 16 : edit.x - 16) - (badge.right() + 12);
    const std::string target = target_text(p);
    const auto target_height = text.measure("Ag", 13).height;
    const double sub_y = badge.y + (badge.h - target_height) / 2;
    const auto target_size =
        text.draw(canvas, target, {badge.right() + 12, sub_y}, {.px = 13, .max_width = std::max(sub_limit, 20.0)},
                  colors.muted_text);
    if (!list_.stacked && !p.group.empty()) {
      const double group_x = badge.right() + 12 + std::min(target_size.width, sub_limit) + 14;
      const double room = edit.x - 16 - group_x;
      if (room > 24) {
        const double group_y = badge.y + (badge.h - text.measure("Ag", 12).height) / 2;
        text.draw(canvas, "· " + p.group, {group_x, group_y}, {.px = 12, .max_width = room}, colors.muted_text);
      }
    }

    // Connect, or why not.
    if (availability == doc::TransportAvailability::Ready) {
      Button{.label = "Connect", .style = ButtonStyle::Primary, .hovered = hovered(connect) && row_hovered}.paint(
          canvas, connect, colors);
      add_clipped(connect, msg::RequestConnect{p.id});
      mark(element + ":connect", connect);
    } else {
      const Color reason = availability_colour(availability, colors);
      canvas.fill_rounded(connect, 8, reason.with_opacity(0.12));
      canvas.stroke_rounded(connect, 8, reason.with_opacity(0.75), 1.0);
      const auto label = *doc::short_label(availability);
      const auto size = text.measure_weighted(label, 11.5, kMedium);
      text.draw_text_weighted(canvas, label,
                              {connect.x + (connect.w - size.width) / 2, connect.y + (connect.h - size.height) / 2},
                              11.5, kMedium, reason);
    }
    Button{.label = "Edit", .hovered = hovered(edit) && row_hovered}.paint(canvas, edit, colors);
    add_clipped(edit, msg::OpenEditForm{p.id});
    mark(element + ":edit", edit);

    // When it was last used.
    if (list_.stacked) {
      const Point at{row.x + 44, button_top + (metrics_.button_height - last_used_size.height) / 2};
      if (at.x + last_used_size.width <= edit.x - 12) text.draw_text(canvas, p.last_used, at, 12, colors.muted_text);
    } else {
      text.draw_text(canvas, p.last_used,
                     {edit.x - 16 - last_used_size.width, row.y + (row.h - last_used_size.height) / 2}, 12,
                     colors.muted_text);
    }
  }
}

}  // namespace remote::app
