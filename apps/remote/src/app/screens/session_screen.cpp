// The session screen: a status card while a session is opening, has failed or ended,
// and the live view once it is connected — a header bar over the SSH terminal.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/presentation.h"
#include "app/remote_app.h"
#include "kivo/base/text.h"
#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/widget/button.h"
#include "vt/terminal_screen.h"

namespace remote::app {
namespace {

using kivo::ui::Color;
using kivo::ui::Point;
using kivo::ui::Rect;
using kivo::ui::a11y::AccessNode;
using kivo::ui::a11y::node;
using kivo::ui::a11y::Role;
using kivo::ui::text_render::Face;
using kivo::ui::text_render::kMedium;
using kivo::ui::text_render::kNormal;
using kivo::ui::text_render::kSemibold;
using kivo::ui::text_render::TextRenderer;
using kivo::ui::widget::button::Button;
using kivo::ui::widget::button::ButtonStyle;
using Kind = kivo::ui::a11y::SemanticActionKind;

constexpr double kHeaderHeight = 48;
constexpr double kCellWidth = 8.4;
constexpr double kCellHeight = 21;
constexpr double kTerminalPx = 14;
constexpr double kTerminalInset = 16;
constexpr double kLinePitch = 22;
constexpr double kWrappedPitch = 18;
// A long failure text wraps inside the card; past this many lines per paragraph it is
// cut with an ellipsis (the access tree keeps the whole text).
constexpr std::size_t kMaxLinesPerParagraph = 4;

constexpr std::string_view kGone = "Connection no longer exists.";
constexpr std::string_view kSurfaceDescription = "Keyboard and pointer input are sent to the remote machine";

// How a status card is tinted: quiet, in progress, or failed.
enum class Tone { Quiet, Busy, Alarm };

Color tone_colour(Tone tone, const kivo::ui::tokens::colors::Colors& colors) {
  switch (tone) {
    case Tone::Quiet: return colors.muted_text;
    case Tone::Busy: return colors.warning;
    case Tone::Alarm: return colors.danger;
  }
  return colors.muted_text;
}

// Everything a status card shows besides the profile.
struct CardContent {
  std::string title;
  std::vector<std::string> paragraphs;
  Tone tone = Tone::Quiet;
  // The button before "Back to list", if any.
  std::string_view extra_label;
  std::optional<AppMessage> extra_message;
};

CardContent card_content(const RemoteApp& app, const doc::ConnectionProfile& profile) {
  CardContent card;
  const auto status = app.current_status();
  if (!status) {
    card.title = "Not connected";
    card.paragraphs = {"This transport is unavailable in this build.", "Your saved connection is unchanged."};
    return card;
  }
  const auto presented = session::present(*status, profile.kind);
  card.title = presented.title;
  for (const auto* text : {&presented.detail, &presented.further}) {
    if (!text->empty()) card.paragraphs.push_back(*text);
  }
  if (std::holds_alternative<session::Connecting>(*status)) card.tone = Tone::Busy;
  if (std::holds_alternative<session::Unavailable>(*status)) {
    card.extra_label = "Edit profile";
    card.extra_message = msg::OpenEditForm{profile.id};
  }
  if (std::holds_alternative<session::Failed>(*status)) {
    card.tone = Tone::Alarm;
    card.extra_label = "Retry";
    card.extra_message = msg::RequestConnect{profile.id};
    // A key problem is settled by trusting or forgetting the key; retrying alone would
    // meet the same refusal.
    if (profile.kind == doc::ConnectionKind::Ssh) {
      if (const auto observation = app.host_key_observation(profile.id)) {
        if (std::holds_alternative<ssh::NeedsTrust>(*observation)) {
          card.extra_label = "Trust key";
          card.extra_message = msg::RequestTrustHostKey{profile.id};
        } else if (std::holds_alternative<ssh::Changed>(*observation)) {
          card.extra_label = "Forget key";
          card.extra_message = msg::RequestForgetHostKey{profile.id};
        }
      }
    }
  }
  return card;
}

// The access id of the card's extra button.
std::string extra_element(const kivo::Uuid& id, const AppMessage& message) {
  const std::string prefix = "remote.connection:" + id.to_string();
  if (std::holds_alternative<msg::RequestConnect>(message)) return prefix + ":connect";
  if (std::holds_alternative<msg::RequestTrustHostKey>(message)) return prefix + ":trust-host-key";
  if (std::holds_alternative<msg::RequestForgetHostKey>(message)) return prefix + ":forget-host-key";
  return prefix + ":edit";
}

// Greedy word wrap: lines no wider than `width`, at most `max_lines`, the last one cut
// with "…" when text remains. A single word wider than a line is ellipsized.
std::vector<std::string> wrap_lines(std::string_view text, double px, double width, std::size_t max_lines) {
  auto& renderer = TextRenderer::shared();
  std::vector<std::string> lines;
  std::string current;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    const std::string_view word = text.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at);
    at = space == std::string_view::npos ? text.size() : space + 1;
    if (word.empty()) continue;
    std::string candidate = current.empty() ? std::string(word) : current + " " + std::string(word);
    if (current.empty() || renderer.measure(candidate, px).width <= width) {
      current = std::move(candidate);
      continue;
    }
    lines.push_back(std::move(current));
    current = std::string(word);
    if (lines.size() == max_lines) {
      lines.back() += "…";
      return lines;
    }
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

// The terminal the session shows: the live SSH grid, or the one a preview carries.
const vt::TerminalScreen* shown_terminal(const session::LiveSession& live) {
  if (const auto* ssh = std::get_if<session::SshTerminal>(&live)) return &ssh->session.screen();
  if (const auto* preview = std::get_if<session::Preview>(&live)) {
    return preview->terminal ? &*preview->terminal : nullptr;
  }
  return nullptr;
}

Color cell_colour(vt::TerminalColor colour, const kivo::ui::tokens::terminal_palette::TerminalPalette& palette) {
  if (colour.is_default()) return palette.foreground;
  return palette.ansi[std::min<std::size_t>(colour.index(), 15)];
}

// Each row is drawn as runs of equal colour and weight, one string per run: the face's
// advance is exactly one cell, so a run lands on the grid without placing every glyph.
void paint_terminal(kivo::ui::Canvas& canvas, Rect surface, const vt::TerminalScreen& screen) {
  const auto& palette = kivo::ui::tokens::terminal_palette::TerminalPalette::dark();
  auto& renderer = TextRenderer::shared();
  canvas.fill_rect(surface, palette.background);
  kivo::ui::ClipScope clip(canvas, surface);
  const Point origin{surface.x + kTerminalInset, surface.y + kTerminalInset};
  std::string run;
  run.reserve(screen.columns() * 4);
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    const double y = origin.y + kCellHeight * static_cast<double>(r);
    if (y > surface.bottom()) break;
    const auto cells = screen.row(r);
    std::size_t start = 0;
    while (start < cells.size()) {
      const auto& first = cells[start];
      std::size_t end = start + 1;
      while (end < cells.size() && cells[end].foreground == first.foreground && cells[end].bold == first.bold) ++end;
      // Blanks draw nothing: leave them out at both ends of the run.
      std::size_t lo = start;
      std::size_t hi = end;
      while (lo < hi && cells[lo].ch == U' ') ++lo;
      while (hi > lo && cells[hi - 1].ch == U' ') --hi;
      if (lo < hi) {
        run.clear();
        for (std::size_t c = lo; c < hi; ++c) kivo::text::append_utf8(cells[c].ch, run);
        renderer.draw(canvas, run, {origin.x + kCellWidth * static_cast<double>(lo), y},
                      {.px = kTerminalPx, .weight = first.bold ? kSemibold : kNormal, .face = Face::Mono},
                      cell_colour(first.foreground, palette));
      }
      start = end;
    }
  }
  // A cursor in the pending-wrap position stays on the last column.
  const auto [column, row] = screen.cursor();
  const std::size_t shown_column = std::min(column, screen.columns() - 1);
  canvas.fill_rect({origin.x + kCellWidth * static_cast<double>(shown_column),
                    origin.y + kCellHeight * static_cast<double>(row), kCellWidth, kCellHeight * 0.8},
                   palette.foreground.with_opacity(0.6));
}

// What the terminal shows, for reading aloud and for automation: rows top to bottom,
// trailing blanks of each row and trailing empty rows left out.
std::string terminal_text(const vt::TerminalScreen& screen) {
  std::string text;
  std::size_t kept = 0;  // length of text up to the last row that had content
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    const auto cells = screen.row(r);
    std::size_t end = cells.size();
    while (end > 0 && cells[end - 1].ch == U' ') --end;
    if (r > 0) text.push_back('\n');
    for (std::size_t c = 0; c < end; ++c) kivo::text::append_utf8(cells[c].ch, text);
    if (end > 0) kept = text.size();
  }
  text.resize(kept);
  return text;
}

std::string_view live_detail_template(doc::ConnectionKind kind) {
  switch (kind) {
    case doc::ConnectionKind::Ssh: return "shell";
    case doc::ConnectionKind::Vnc: return "framebuffer";
    default: return "workspace stream";
  }
}

std::string status_label(const session::SessionStatus& status) {
  if (std::holds_alternative<session::Connecting>(status)) return "Connecting";
  if (std::holds_alternative<session::Connected>(status)) return "Connected";
  if (std::holds_alternative<session::Ended>(status)) return "Session ended";
  if (const auto* unavailable = std::get_if<session::Unavailable>(&status)) return "Not available: " + unavailable->text;
  return "Connection failed: " + std::get<session::Failed>(status).text;
}

}  // namespace

void RemoteApp::paint_session(kivo::ui::PaintContext& context, Rect area) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  auto& text = TextRenderer::shared();
  const auto* shown = std::get_if<screen::Session>(&screen_);
  const auto* profile = shown != nullptr ? find_profile(shown->id) : nullptr;
  if (profile == nullptr) {
    text.draw(canvas, kGone, {area.x + 24, area.y + 24}, {.px = 14, .max_width = std::max(area.w - 48, 40.0)},
              colors.muted_text);
    return;
  }
  const auto status = current_status();

  if (status && std::holds_alternative<session::Connected>(*status)) {
    Rect surface = area;
    if (!fullscreen_) {
      const Rect bar{area.x, area.y, area.w, kHeaderHeight};
      canvas.fill_rect(bar, colors.surface);
      kivo::ui::chrome::shell::chrome_hairline(canvas, {bar.x, bar.bottom() - 1}, {bar.right(), bar.bottom() - 1},
                                               colors);
      const double middle = bar.y + bar.h / 2;
      canvas.fill_circle({bar.x + 18, middle}, 5, colors.success);
      const Rect disconnect{bar.right() - 122, middle - 16, 110, 32};
      const double room = disconnect.x - 16 - (bar.x + 32);
      const auto name_size = text.measure_weighted(profile->name, 14, kMedium);
      const double name_width = std::min(name_size.width, std::max(room, 40.0));
      text.draw(canvas, profile->name, {bar.x + 32, middle - name_size.height / 2},
                {.px = 14, .weight = kMedium, .max_width = name_width < name_size.width ? name_width : 0}, colors.text);
      const double detail_room = room - name_width - 8;
      if (detail_room > 24) {
        const std::string detail = "· " + target_text(*profile) + " · " + std::string(live_detail_template(profile->kind));
        const double detail_height = text.measure("Ag", 12).height;
        text.draw(canvas, detail, {bar.x + 32 + name_width + 8, middle - detail_height / 2},
                  {.px = 12, .max_width = detail_room}, colors.muted_text);
      }
      Button{.label = "Disconnect", .hovered = hovered(disconnect)}.paint(canvas, disconnect, colors);
      add_region(disconnect, msg::Disconnect{});
      mark("remote.session.disconnect", disconnect);
      surface = {area.x, bar.bottom(), area.w, std::max(area.h - kHeaderHeight, 0.0)};
    }
    if (profile->kind == doc::ConnectionKind::Ssh) {
      if (const auto* terminal = live_ ? shown_terminal(*live_) : nullptr) {
        paint_terminal(canvas, surface, *terminal);
      } else {
        canvas.fill_rect(surface, kivo::ui::tokens::terminal_palette::TerminalPalette::dark().background);
      }
    }
    return;
  }

  // A status card.
  const CardContent card = card_content(*this, *profile);
  const Color tone = tone_colour(card.tone, colors);
  const double card_width = std::max(std::min(area.w - 40, 460.0), 200.0);
  const double text_width = card_width - 48;
  // Paragraphs start a full line pitch apart; the lines of a wrapped one sit closer, so
  // a long error still reads as one text.
  struct Line {
    std::string text;
    double offset;  // from the first line's top
  };
  std::vector<Line> lines;
  double lines_height = 0;
  for (const auto& paragraph : card.paragraphs) {
    bool first = true;
    for (auto& line : wrap_lines(paragraph, 13, text_width, kMaxLinesPerParagraph)) {
      const double offset = lines.empty() ? 0 : lines.back().offset + (first ? kLinePitch : kWrappedPitch);
      lines.push_back({std::move(line), offset});
      lines_height += first ? kLinePitch : kWrappedPitch;
      first = false;
    }
  }
  const double height = 336 + lines_height;
  const double centre = area.x + area.w / 2;
  const Rect box{centre - card_width / 2, area.y + std::max((area.h - height) / 2, 16.0), card_width, height};
  kivo::ui::surface::card(canvas, box, 16, colors.surface);
  kivo::ui::surface::edge_outline(canvas, box, 16, colors);

  // Badge with the kind.
  const Point badge{centre, box.y + 68};
  canvas.fill_circle(badge, 34, tone.with_opacity(0.14));
  canvas.stroke_circle(badge, 34, tone.with_opacity(0.90), 2);
  const auto kind_label = doc::short_label(profile->kind);
  const auto kind_size = text.measure_weighted(kind_label, 15, kSemibold);
  text.draw_text_weighted(canvas, kind_label, {centre - kind_size.width / 2, badge.y - 10}, 15, kSemibold,
                          colors.text);

  // Centred single lines, ellipsized to the card.
  const auto centred = [&](std::string_view line, double y, const kivo::ui::text_render::TextStyle& style,
                           Color colour) {
    const double width = std::min(text.layout_size(line, style).width, text_width);
    auto fitted = style;
    fitted.max_width = text_width;
    text.draw(canvas, line, {centre - width / 2, y}, fitted, colour);
  };
  centred(profile->name, box.y + 124, {.px = 20, .weight = kSemibold}, colors.text);
  centred(target_text(*profile) + " · " + std::string(doc::display_label(profile->kind)), box.y + 154, {.px = 13},
          colors.muted_text);

  // Status pill.
  const auto title_size = text.measure_weighted(card.title, 13, kMedium);
  const Rect pill{centre - (title_size.width + 44) / 2, box.y + 184, title_size.width + 44, 30};
  kivo::ui::surface::pill(canvas, pill, tone.with_opacity(0.16));
  canvas.stroke_rounded(pill, pill.h / 2, tone.with_opacity(0.55), 1);
  canvas.fill_circle({pill.x + 16, pill.y + pill.h / 2}, 4, tone);
  text.draw_text_weighted(canvas, card.title, {pill.x + 28, pill.y + (pill.h - title_size.height) / 2}, 13, kMedium,
                          colors.text);

  double y = pill.y + 46;
  for (const auto& line : lines) centred(line.text, y + line.offset, {.px = 13}, colors.muted_text);
  y += (lines.empty() ? 0 : lines.back().offset) + text.measure("Ag", 13).height + 14;

  double x = card.extra_message ? centre - 124 : centre - 66;
  if (card.extra_message) {
    const Rect extra{x, y, 104, 38};
    Button{.label = card.extra_label, .hovered = hovered(extra)}.paint(canvas, extra, colors);
    add_region(extra, *card.extra_message);
    mark(extra_element(profile->id, *card.extra_message), extra);
    x += 104 + 12;
  }
  const Rect back{x, y, 132, 38};
  Button{.label = "Back to list", .style = ButtonStyle::Primary, .hovered = hovered(back)}.paint(canvas, back, colors);
  add_region(back, msg::Disconnect{});
  mark("remote.session.disconnect", back);
}

AccessNode RemoteApp::session_access() const {
  const auto* shown = std::get_if<screen::Session>(&screen_);
  const auto* profile = shown != nullptr ? find_profile(shown->id) : nullptr;
  AccessNode screen = node("remote.screen.session", Role::Group, "Session");
  screen.push(node("remote.session.heading", Role::Heading, profile != nullptr ? profile->name : "Remote session"));
  if (profile == nullptr) {
    screen.push(node("remote.session.status", Role::Status, std::string(kGone)));
    return screen;
  }
  const auto status = current_status();
  const bool connected = status && std::holds_alternative<session::Connected>(*status);
  AccessNode state = node("remote.session.status", Role::Status, status ? status_label(*status) : "Not connected");
  if (status && !connected) state.description = session::present(*status, profile->kind).further;
  screen.push(std::move(state));

  const std::string id = "remote.connection:" + profile->id.to_string();
  if (connected) {
    const bool terminal_kind = profile->kind == doc::ConnectionKind::Ssh;
    AccessNode surface = node("remote.session.surface", terminal_kind ? Role::Text : Role::Image,
                              terminal_kind ? "Interactive SSH terminal" : "Interactive remote desktop");
    surface.description = std::string(kSurfaceDescription);
    if (const auto* terminal = terminal_kind && live_ ? shown_terminal(*live_) : nullptr) {
      surface.value = terminal_text(*terminal);
      const auto [column, row] = terminal->cursor();
      surface.description += " · cursor " + std::to_string(column) + "," + std::to_string(row);
    }
    screen.push(std::move(surface));
  } else {
    const CardContent card = card_content(*this, *profile);
    if (card.extra_message) {
      const std::string element = extra_element(profile->id, *card.extra_message);
      std::string label = "Edit connection";
      if (std::holds_alternative<msg::RequestConnect>(*card.extra_message)) label = "Retry connection";
      if (std::holds_alternative<msg::RequestTrustHostKey>(*card.extra_message)) label = "Trust SSH host key";
      if (std::holds_alternative<msg::RequestForgetHostKey>(*card.extra_message)) label = "Forget SSH host key";
      screen.push(node(element, Role::Button, label, {Kind::Primary}));
    }
  }
  screen.push(node("remote.session.disconnect", Role::Button, connected ? "Disconnect" : "Back to list",
                   {Kind::Primary}));
  return screen;
}

}  // namespace remote::app
