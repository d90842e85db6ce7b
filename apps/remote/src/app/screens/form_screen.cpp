// The connection form: protocol, discovered devices, target fields, authentication,
// what still stops the form from being saved, and the actions.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "app/presentation.h"
#include "app/remote_app.h"
#include "kivo/ui/surface.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/widget/button.h"
#include "kivo/ui/widget/toggle_group.h"

namespace remote::app {
namespace {

using kivo::ui::Point;
using kivo::ui::Rect;
using kivo::ui::a11y::AccessNode;
using kivo::ui::a11y::node;
using kivo::ui::a11y::Role;
using kivo::ui::text_render::kMedium;
using kivo::ui::text_render::kSemibold;
using kivo::ui::text_render::TextRenderer;
using kivo::ui::widget::button::Button;
using kivo::ui::widget::button::ButtonStyle;
using kivo::ui::widget::toggle_group::ToggleGroup;
using Kind = kivo::ui::a11y::SemanticActionKind;

constexpr double kColumnMax = 560;
constexpr double kControlHeight = 40;
// From the top of one labelled control to the label of the next.
constexpr double kRowPitch = 56;
constexpr double kPortWidth = 118;
constexpr double kDeviceRow = 36;
constexpr double kDevicePitch = 44;

// The protocol toggle offers the kinds that can still be opened; an RDP profile shows
// none of its segments selected.
constexpr std::array<doc::ConnectionKind, 3> kToggleKinds = {doc::ConnectionKind::Ssh, doc::ConnectionKind::Vnc,
                                                             doc::ConnectionKind::Kivo};
constexpr std::array<std::string_view, 3> kToggleLabels = {"SSH", "VNC", "Kivo"};

constexpr std::string_view kHint = "Enter a name and target to save this connection.";
constexpr std::string_view kLegacyTitle = "Legacy RDP profile";
constexpr std::string_view kLegacyBody =
    "RDP has no client backend here. Select SSH, VNC, or Kivo to migrate this profile.";
constexpr std::string_view kKivoAuthInfo =
    "Authenticated by Kivo device identity over the P2P fabric — no password needed.";

std::optional<std::size_t> toggle_index(doc::ConnectionKind kind) {
  for (std::size_t i = 0; i < kToggleKinds.size(); ++i) {
    if (kToggleKinds[i] == kind) return i;
  }
  return std::nullopt;
}

// Equal parts of the whole control: clicks on a segment's padding still choose it.
Rect segment_hit(Rect r, std::size_t count, std::size_t i) {
  const double w = r.w / static_cast<double>(count);
  return {r.x + w * static_cast<double>(i), r.y, w, r.h};
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// The saved profile the form edits; none for a new one.
std::optional<Uuid> edited_profile(const Screen& screen) {
  const auto* form = std::get_if<screen::Form>(&screen);
  if (form == nullptr) return std::nullopt;
  const auto* edit = std::get_if<FormEdit>(&form->mode);
  if (edit == nullptr) return std::nullopt;
  return edit->id;
}

}  // namespace

void RemoteApp::paint_form(kivo::ui::PaintContext& context, Rect area) {
  auto& canvas = context.canvas;
  const auto& colors = context.colors;
  auto& text = TextRenderer::shared();
  const auto edit_id = edited_profile(screen_);
  const bool editing = edit_id.has_value();
  const doc::ConnectionKind kind = form_.kind;
  const bool kivo = kind == doc::ConnectionKind::Kivo;

  text.draw(canvas, editing ? "Edit connection" : "New connection", {area.x + 24, area.y + 18},
            {.px = 22, .weight = kSemibold, .max_width = std::max(area.w - 48, 40.0)}, colors.text);

  const double w = std::max(std::min(area.w - 48, kColumnMax), 120.0);
  const double x = area.x + (area.w - w) / 2;
  const double label_gap = text.measure_weighted("Ag", 12, kMedium).height + 4;
  // Draws a field label at y; the labelled control starts below it.
  const auto label = [&](std::string_view caption, double at_x, double y) {
    text.draw_text_weighted(canvas, caption, {at_x, y}, 12, kMedium, colors.muted_text);
    return y + label_gap;
  };

  // Protocol.
  double y = area.y + 72;
  {
    const double top = label("Protocol", x, y);
    const Rect toggle{x, top, w, kControlHeight};
    std::optional<std::size_t> hovered_segment;
    for (std::size_t i = 0; i < kToggleKinds.size(); ++i) {
      const Rect hit = segment_hit(toggle, kToggleKinds.size(), i);
      if (hovered(hit)) hovered_segment = i;
      add_region(hit, msg::SetKind{kToggleKinds[i]});
    }
    ToggleGroup{.labels = kToggleLabels, .selected = toggle_index(kind), .hovered = hovered_segment}.paint(
        canvas, toggle, colors);
    y = top + kRowPitch;
  }

  if (kind == doc::ConnectionKind::Rdp) {
    // The box grows when the explanation wraps in a narrow column.
    const auto body = text.layout_size(kLegacyBody, {.px = 11.5, .wrap_width = w - 24});
    const Rect box{x, y, w, std::max(54.0, 29 + body.height + 9)};
    canvas.fill_rounded(box, 8, colors.warning.with_opacity(0.12));
    canvas.stroke_rounded(box, 8, colors.warning.with_opacity(0.75), 1);
    text.draw(canvas, kLegacyTitle, {x + 12, y + 9}, {.px = 12, .max_width = w - 24}, colors.text);
    text.draw(canvas, kLegacyBody, {x + 12, y + 29}, {.px = 11.5, .wrap_width = w - 24}, colors.muted_text);
    y = box.bottom() + 12;
  }

  // With no device discovered the section would be a heading over nothing.
  if (kivo && !devices_.empty()) {
    double row_top = label("Discovered Kivo devices", x, y);
    const double name_height = text.measure("Ag", 13).height;
    const double id_height = text.measure("Ag", 12).height;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const auto& device = devices_[i];
      const Rect row{x, row_top, w, kDeviceRow};
      const bool selected = device.endpoint_id == form_.host;
      if (selected) {
        kivo::ui::surface::card(canvas, row, 8, colors.surface);
        kivo::ui::surface::edge_on(canvas, row, 8, colors);
      } else {
        kivo::ui::surface::card(canvas, row, 8, hovered(row) ? colors.surface : colors.background);
        kivo::ui::surface::edge_outline(canvas, row, 8, colors);
      }
      canvas.fill_circle({row.x + 16, row.y + row.h / 2}, 4, device.online ? colors.success : colors.muted_text);
      const double id_x = row.right() - 160;
      text.draw(canvas, device.name, {row.x + 30, row.y + (row.h - name_height) / 2},
                {.px = 13, .max_width = std::max(id_x - 12 - (row.x + 30), 20.0)}, colors.text);
      text.draw(canvas, short_endpoint(device.endpoint_id), {id_x, row.y + (row.h - id_height) / 2},
                {.px = 12, .max_width = 148}, colors.muted_text);
      add_region(row, msg::PickDevice{i});
      row_top += kDevicePitch;
    }
    y = row_top - kDevicePitch + kDeviceRow + 8;
  }

  // Name.
  {
    const double top = label("Name", x, y);
    paint_field(context, kNameField, {x, top, w, kControlHeight});
    y = top + kRowPitch;
  }

  // Host, and the port beside it.
  {
    const double top = label(kivo ? "Device node" : "Host", x, y);
    if (kivo) {
      paint_field(context, kHostField, {x, top, w, kControlHeight});
    } else {
      const double port_x = x + w - kPortWidth;
      label("Port", port_x, y);
      paint_field(context, kHostField, {x, top, w - kPortWidth - 12, kControlHeight});
      paint_field(context, kPortField, {port_x, top, kPortWidth, kControlHeight});
    }
    y = top + kRowPitch;
  }

  // Third row: user and group, the group alone, or how a device authenticates.
  {
    if (kind == doc::ConnectionKind::Vnc) {
      const double top = label("Group", x, y);
      paint_field(context, kGroupField, {x, top, w, kControlHeight});
      y = top + kRowPitch;
    } else if (kivo) {
      const double top = label("Authentication", x, y);
      const auto info = text.layout_size(kKivoAuthInfo, {.px = 12.5, .wrap_width = w - 24});
      const Rect box{x, top, w, std::max(kControlHeight, info.height + 16)};
      canvas.fill_rounded(box, 8, colors.accent.with_opacity(0.10));
      text.draw(canvas, kKivoAuthInfo, {x + 12, box.y + (box.h - info.height) / 2},
                {.px = 12.5, .wrap_width = w - 24}, colors.muted_text);
      y = top + kRowPitch + (box.h - kControlHeight);
    } else {
      const double half = (w - 12) / 2;
      const double group_x = x + (w + 12) / 2;
      const double top = label("User", x, y);
      label("Group", group_x, y);
      paint_field(context, kUserField, {x, top, half, kControlHeight});
      paint_field(context, kGroupField, {group_x, top, half, kControlHeight});
      y = top + kRowPitch;
    }
  }

  // Authentication methods the kind allows.
  if (!kivo) {
    const double top = label("Authentication", x, y);
    const auto allowed = doc::allowed_auths(kind);
    std::vector<std::string_view> labels;
    std::optional<std::size_t> selected;
    std::optional<std::size_t> hovered_segment;
    const Rect toggle{x, top, w, kControlHeight};
    for (std::size_t i = 0; i < allowed.size(); ++i) {
      labels.push_back(doc::display_label(allowed[i]));
      if (allowed[i] == form_.auth) selected = i;
      const Rect hit = segment_hit(toggle, allowed.size(), i);
      if (hovered(hit)) hovered_segment = i;
      add_region(hit, msg::SetAuth{allowed[i]});
    }
    ToggleGroup{.labels = labels, .selected = selected, .hovered = hovered_segment}.paint(canvas, toggle, colors);
    y = top + kRowPitch;
  }

  // What still stops a save, or how to get there.
  const auto problems = doc::visible_form_problems(form_, problem_visibility_);
  const std::string line = problems.empty() ? std::string(kHint) : join(problems, " · ");
  const auto line_size = text.draw(canvas, line, {x, y}, {.px = 12.5, .wrap_width = w},
                                   problems.empty() ? colors.muted_text : colors.danger);

  // Actions; a wrapped problems line pushes them down rather than under it.
  const double buttons_top = y + std::max(28.0, line_size.height + 12);
  const Rect save{x + w - 120, buttons_top, 120, kControlHeight};
  const Rect cancel{save.x - 110, buttons_top, 98, kControlHeight};
  Button{.label = "Save", .style = ButtonStyle::Primary, .hovered = hovered(save)}.paint(canvas, save, colors);
  Button{.label = "Cancel", .hovered = hovered(cancel)}.paint(canvas, cancel, colors);
  add_region(save, msg::SaveForm{});
  add_region(cancel, msg::CancelForm{});
  if (editing) {
    // A quiet destructive action: only its label until the pointer is over it.
    const Rect remove{x, buttons_top, 120, kControlHeight};
    if (hovered(remove)) {
      canvas.fill_rounded(remove, 8, colors.danger.with_opacity(0.10));
      canvas.stroke_rounded(remove, 8, colors.danger.with_opacity(0.65), 1);
    }
    const auto size = text.measure_weighted("Delete", 13, kMedium);
    text.draw_text_weighted(canvas, "Delete",
                            {remove.x + (remove.w - size.width) / 2, remove.y + (remove.h - size.height) / 2}, 13,
                            kMedium, colors.danger);
    add_region(remove, msg::RequestDelete{*edit_id});
  }
}

AccessNode RemoteApp::form_access() const {
  const auto edit_id = edited_profile(screen_);
  const bool editing = edit_id.has_value();
  const doc::ConnectionKind kind = form_.kind;
  const bool kivo = kind == doc::ConnectionKind::Kivo;

  AccessNode screen = node("remote.screen.form", Role::Group, "Connection form");
  screen.push(node("remote.form.heading", Role::Heading, editing ? "Edit connection" : "New connection"));

  AccessNode protocol = node("remote.form.protocol", Role::Group, "Protocol");
  for (std::size_t i = 0; i < kToggleKinds.size(); ++i) {
    AccessNode segment = node("remote.kind:" + std::string(kToggleLabels[i]), Role::ToggleButton,
                              std::string(doc::display_label(kToggleKinds[i])), {Kind::Primary, Kind::Toggle});
    segment.selected = kind == kToggleKinds[i];
    protocol.push(std::move(segment));
  }
  screen.push(std::move(protocol));

  if (kind == doc::ConnectionKind::Rdp) {
    screen.push(node("remote.form.legacy-rdp", Role::Text,
                     "Legacy RDP profile. RDP has no client backend in this build; select SSH, VNC, or Kivo to "
                     "migrate this profile."));
  }

  if (kivo) {
    AccessNode devices = node("remote.form.devices", Role::List, "Discovered Kivo devices");
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      AccessNode device =
          node("remote.device:" + std::to_string(i), Role::ListItem, devices_[i].name, {Kind::Primary, Kind::Focus});
      device.value = devices_[i].online ? "Online" : "Offline";
      device.selected = devices_[i].endpoint_id == form_.host;
      devices.push(std::move(device));
    }
    screen.push(std::move(devices));
  }

  const auto field = [&](int number, std::string_view name, std::string label) {
    AccessNode n = node("remote.field:" + std::string(name), Role::TextField, std::move(label),
                        {Kind::Focus, Kind::Primary, Kind::SetValue});
    n.value = field_text(number);
    n.focused = focused_field_ == number;
    screen.push(std::move(n));
  };
  field(kNameField, "name", "Connection name");
  field(kHostField, "host", kivo ? "Device node" : "Host name or IP address");
  if (!kivo) field(kPortField, "port", "Port");
  if (kind == doc::ConnectionKind::Ssh || kind == doc::ConnectionKind::Rdp) field(kUserField, "user", "User name");
  if (!kivo) field(kGroupField, "group", "Group");

  if (kivo) {
    screen.push(node("remote.form.kivo-authentication", Role::Text,
                     "Authentication: Kivo device identity. No password is stored or requested."));
  } else {
    AccessNode methods = node("remote.form.authentication", Role::Group, "Authentication");
    for (const auto auth : doc::allowed_auths(kind)) {
      AccessNode method = node("remote.auth:" + std::string(doc::identifier_text(auth)), Role::ToggleButton,
                               std::string(doc::display_label(auth)), {Kind::Primary, Kind::Toggle});
      method.selected = form_.auth == auth;
      methods.push(std::move(method));
    }
    screen.push(std::move(methods));
  }

  const auto problems = doc::visible_form_problems(form_, problem_visibility_);
  AccessNode status = node("remote.form.problems", Role::Status, "Problems");
  status.value = join(problems, ". ");
  if (problems.empty()) status.description = std::string(kHint);
  screen.push(std::move(status));

  AccessNode actions = node("remote.form.actions", Role::Group, "Form actions");
  actions.push(node("remote.form.cancel", Role::Button, "Cancel", {Kind::Primary}));
  actions.push(node("remote.form.save", Role::Button, "Save connection", {Kind::Primary}));
  if (editing) {
    actions.push(
        node("remote.connection:" + edit_id->to_string() + ":delete", Role::Button, "Delete connection", {Kind::Primary}));
  }
  screen.push(std::move(actions));
  return screen;
}

}  // namespace remote::app
