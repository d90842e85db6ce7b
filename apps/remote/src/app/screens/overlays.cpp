// Drawn above every screen: the action notice, and the confirmation sheet with its scrim.

#include <algorithm>

#include "app/presentation.h"
#include "app/remote_app.h"
#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/widget/button.h"

namespace remote::app {
namespace {

using kivo::ui::Rect;
using kivo::ui::text_render::kSemibold;
using kivo::ui::text_render::TextRenderer;
using kivo::ui::widget::button::Button;
using kivo::ui::widget::button::ButtonStyle;
using Kind = kivo::ui::a11y::SemanticActionKind;

constexpr const char* kGoneName = "this saved connection";

}  // namespace

void RemoteApp::paint_overlays(kivo::ui::PaintContext& context) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  auto& text = TextRenderer::shared();
  const Rect window = bounds_;

  if (notice_) {
    const double width = std::min(window.w - 32, 520.0);
    const Rect box{window.right() - 16 - width, window.bottom() - 70, width, 54};
    canvas.fill_rounded(box, 10, colors.background);
    canvas.fill_rounded(box, 10, colors.warning.with_opacity(0.18));
    canvas.stroke_rounded(box, 10, colors.warning.with_opacity(0.55), 1);
    text.draw(canvas, "Action needs review", {box.x + 12, box.y + 9}, {.px = 12.5, .max_width = box.w - 24},
              colors.text);
    text.draw(canvas, *notice_, {box.x + 12, box.y + 27}, {.px = 12, .max_width = box.w - 24}, colors.muted_text);
  }

  if (!pending_confirmation_) return;
  const auto& confirmation = *pending_confirmation_;
  canvas.fill_rect(window, colors.scrim.with_opacity(0.62));
  // The scrim takes every click that misses the sheet's two buttons.
  add_region(window, std::nullopt);

  const double width = std::min(std::max(window.w - 32, 280.0), 460.0);
  const Rect sheet{window.x + (window.w - width) / 2, window.y + (window.h - 224) / 2, width, 224};
  canvas.fill_rounded({sheet.x, sheet.y + 6, sheet.w, sheet.h}, 14, kivo::ui::Color{0, 0, 0, 0.35});
  canvas.fill_rounded(sheet, 14, kivo::ui::chrome::shell::panel_ground(colors));
  canvas.stroke_rounded(sheet, 14, kivo::ui::chrome::shell::panel_border(colors), 1);
  kivo::ui::surface::edge_outline(canvas, {sheet.x + 1, sheet.y + 1, sheet.w - 2, sheet.h - 2}, 13, colors);

  const auto* profile = find_profile(confirmation_profile(confirmation));
  const SheetText texts = sheet_text(confirmation, profile != nullptr ? profile->name : kGoneName);
  const double wrap = sheet.w - 48;
  // A long title may take two lines: what follows moves down rather than overlap it.
  const auto title = text.draw(canvas, texts.title, {sheet.x + 24, sheet.y + 28},
                               {.px = 18, .weight = kSemibold, .wrap_width = wrap}, colors.text);
  double y = std::max(sheet.y + 58, sheet.y + 28 + title.height + 4);
  if (profile != nullptr) {
    const auto target = text.draw(canvas, target_text(*profile), {sheet.x + 24, y}, {.px = 12.5, .wrap_width = wrap},
                                  colors.muted_text);
    y += target.height;
  }
  y = std::max(sheet.y + 92, y + 12);
  const Rect buttons_row{sheet.x, sheet.bottom() - 58, sheet.w, 40};
  {
    kivo::ui::ClipScope clip(canvas, {sheet.x, y, sheet.w, buttons_row.y - 8 - y});
    text.draw(canvas, texts.body, {sheet.x + 24, y}, {.px = 13, .wrap_width = wrap},
              colors.text.mix(colors.muted_text, 0.3));
  }

  const Rect cancel{sheet.right() - 244, buttons_row.y, 112, 40};
  const Rect confirm{sheet.right() - 120, buttons_row.y, 102, 40};
  Button{.label = "Cancel", .hovered = hovered(cancel)}.paint(canvas, cancel, colors);
  const bool destructive = std::holds_alternative<ConfirmDelete>(confirmation);
  Button{.label = destructive ? "Delete" : texts.confirm_label,
         .style = destructive ? ButtonStyle::Destructive : ButtonStyle::Primary,
         .hovered = hovered(confirm)}
      .paint(canvas, confirm, colors);
  add_region(cancel, msg::CancelPending{});
  add_region(confirm, msg::ConfirmPending{});
  mark("remote.confirmation.cancel", cancel);
  mark("remote.confirmation.confirm", confirm);
}

void RemoteApp::add_overlay_access(kivo::ui::a11y::AccessNode& root) const {
  using kivo::ui::a11y::AccessNode;
  using kivo::ui::a11y::Role;
  if (notice_) {
    AccessNode notice;
    notice.id = "remote.action.notice";
    notice.role = Role::Status;
    notice.label = "Action needs review";
    notice.value = *notice_;
    root.push(std::move(notice));
  }
  if (!pending_confirmation_) return;
  const auto* profile = find_profile(confirmation_profile(*pending_confirmation_));
  const SheetText texts = sheet_text(*pending_confirmation_, profile != nullptr ? profile->name : kGoneName);
  AccessNode sheet;
  sheet.id = "remote.confirmation";
  sheet.role = Role::Dialog;
  sheet.label = texts.title;
  sheet.description = texts.description;
  if (profile != nullptr) sheet.value = target_text(*profile);
  AccessNode cancel;
  cancel.id = "remote.confirmation.cancel";
  cancel.role = Role::Button;
  cancel.label = "Cancel";
  cancel.actions = {Kind::Primary};
  AccessNode confirm;
  confirm.id = "remote.confirmation.confirm";
  confirm.role = Role::Button;
  confirm.label = texts.confirm_label;
  confirm.actions = {Kind::Primary};
  sheet.push(std::move(cancel));
  sheet.push(std::move(confirm));
  root.push(std::move(sheet));
}

}  // namespace remote::app
