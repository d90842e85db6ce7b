// Pointer, wheel and keyboard input, focus movement and semantic actions. Input only
// produces messages (and edits of the focused text field); `update` changes the state.

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/remote_app.h"
#include "kivo/base/text.h"
#include "kivo/doc/document.h"

namespace remote::app {
namespace {

using kivo::ui::Event;
using kivo::ui::KeyEvent;
using kivo::ui::Point;
using kivo::ui::a11y::SemanticActionKind;

constexpr double kLineScroll = 48;
constexpr double kRailStrip = 64;

constexpr std::string_view kFieldNames[kFieldCount] = {"search", "name", "host", "port", "user", "group"};

std::vector<int> tab_order(doc::ConnectionKind kind) {
  switch (kind) {
    case doc::ConnectionKind::Vnc: return {kNameField, kHostField, kPortField, kGroupField};
    case doc::ConnectionKind::Kivo: return {kNameField, kHostField};
    default: return {kNameField, kHostField, kPortField, kUserField, kGroupField};
  }
}

std::optional<kivo::Uuid> id_between(std::string_view id, std::string_view prefix, std::string_view suffix) {
  if (!id.starts_with(prefix) || !id.ends_with(suffix) || id.size() < prefix.size() + suffix.size()) {
    return std::nullopt;
  }
  const auto text = id.substr(prefix.size(), id.size() - prefix.size() - suffix.size());
  if (text.size() != 36) return std::nullopt;  // the tree writes the hyphenated form only
  return kivo::Uuid::parse(text);
}

}  // namespace

void RemoteApp::send(const AppMessage& message, const kivo::ui::EventContext& context) {
  if (context.document != nullptr) {
    update(message, *context.document);
    return;
  }
  // Without the persisted document (offscreen review), edits go to a throw-away one.
  kivo::doc::Document scratch;
  update(message, scratch);
}

const HitRegion* RemoteApp::region_at(Point position) const {
  for (auto it = hit_regions_.rbegin(); it != hit_regions_.rend(); ++it) {
    if (it->rect.contains(position)) return &*it;
  }
  return nullptr;
}

std::optional<std::string> RemoteApp::tooltip_for(const std::optional<AppMessage>& message) const {
  if (!message) return std::nullopt;
  if (std::holds_alternative<msg::ShowList>(*message)) return "Connections";
  if (std::holds_alternative<msg::OpenNewForm>(*message)) return "Add connection (Ctrl+N)";
  if (const auto* favorite = std::get_if<msg::ToggleFavorite>(&*message)) {
    const auto* profile = find_profile(favorite->id);
    if (profile == nullptr) return std::nullopt;
    return profile->favorite ? "Remove from favourites" : "Add to favourites";
  }
  if (std::holds_alternative<msg::ToggleNavigation>(*message)) {
    return flap_target_open() ? "Close navigation" : "Open navigation";
  }
  return std::nullopt;
}

bool RemoteApp::on_event(const Event& event, const kivo::ui::EventContext& context) {
  if (const auto* moved = std::get_if<kivo::ui::PointerMoved>(&event)) return on_pointer_moved(moved->position, context);
  if (tooltips_.dismiss()) needs_repaint_ = true;
  if (const auto* wheel = std::get_if<kivo::ui::Wheel>(&event)) return on_wheel(*wheel, context);
  if (const auto* button = std::get_if<kivo::ui::PointerButtonEvent>(&event)) return on_button(*button, context);
  if (const auto* key = std::get_if<KeyEvent>(&event)) return on_key(*key, context);
  return false;
}

bool RemoteApp::on_pointer_moved(Point position, const kivo::ui::EventContext& context) {
  // The framework already delivers logical pixels.
  if (position != pointer_) {
    pointer_ = position;
    needs_repaint_ = true;
  }
  const HitRegion* region = region_at(position);
  if (tooltips_.on_pointer(region != nullptr ? tooltip_for(region->message) : std::nullopt, position, context.now)) {
    needs_repaint_ = true;
  }
  if (focused_field_) inputs_[*focused_field_].handle_event(kivo::ui::PointerMoved{position});
  return true;
}

bool RemoteApp::on_wheel(const kivo::ui::Wheel& wheel, const kivo::ui::EventContext& context) {
  if (!std::holds_alternative<screen::List>(screen_) || confirmation_pending()) return false;
  const double delta = wheel.unit == kivo::ui::Wheel::Unit::Line ? -kLineScroll * wheel.dy
                                                                  : -wheel.dy / std::max(context.scale_factor, 1e-6);
  const double next = std::clamp(list_scroll_ + delta, 0.0, list_.max_scroll);
  if (std::abs(next - list_scroll_) <= std::numeric_limits<double>::epsilon()) return false;
  list_scroll_ = next;
  needs_repaint_ = true;
  return true;
}

bool RemoteApp::on_button(const kivo::ui::PointerButtonEvent& button, const kivo::ui::EventContext& context) {
  if (!button.pressed) return to_focused_input(button);
  if (button.button != kivo::ui::PointerButton::Primary) return false;
  const HitRegion* region = region_at(button.position);
  if (confirmation_pending()) {
    if (region != nullptr && region->message &&
        (std::holds_alternative<msg::ConfirmPending>(*region->message) ||
         std::holds_alternative<msg::CancelPending>(*region->message))) {
      send(*region->message, context);
    }
    return true;
  }
  if (narrow_ && flap_.open_override == true) {
    const kivo::ui::Rect strip{bounds_.x, bounds_.y, kRailStrip, bounds_.h};
    const kivo::ui::Rect toggle{bounds_.x + 12, bounds_.y + 12, 40, 40};
    if (!strip.contains(button.position) && !toggle.contains(button.position)) {
      flap_.open_override = false;
      needs_repaint_ = true;
      return true;
    }
  }
  if (region == nullptr) {
    blur_field();
    needs_repaint_ = true;
    return false;
  }
  if (!region->message) return true;
  if (const auto* focus = std::get_if<msg::FocusField>(&*region->message)) {
    focus_field(focus->field);
    inputs_[focus->field].handle_event(button);
    needs_repaint_ = true;
    return true;
  }
  send(*region->message, context);
  return true;
}

bool RemoteApp::to_focused_input(const Event& event) {
  if (!focused_field_) return false;
  const int field = *focused_field_;
  auto& input = inputs_[field];
  const bool consumed = input.handle_event(event);
  if (input.text() != field_text(field)) set_field_text(field, input.text());
  needs_repaint_ = true;
  return consumed;
}

bool RemoteApp::on_key(const KeyEvent& key, const kivo::ui::EventContext& context) {
  if (!key.pressed) return false;
  if (confirmation_pending()) {
    if (key.key.is_named("Enter")) {
      send(msg::ConfirmPending{}, context);
      return true;
    }
    if (key.key.is_named("Escape")) {
      send(msg::CancelPending{}, context);
      return true;
    }
    return to_focused_input(key);
  }
  if (key.key.is_character() && (key.modifiers.control || key.modifiers.super)) {
    const std::string shortcut = kivo::text::to_lower(key.key.value);
    if (shortcut == "n") {
      send(msg::OpenNewForm{}, context);
      return true;
    }
    if (shortcut == "f") {
      send(msg::FocusField{kSearchField}, context);
      if (!std::holds_alternative<screen::List>(screen_)) {
        send(msg::ShowList{}, context);
        send(msg::FocusField{kSearchField}, context);
      }
      return true;
    }
    if (shortcut == "w" && std::holds_alternative<screen::Session>(screen_)) {
      send(msg::Disconnect{}, context);
      return true;
    }
  }
  if (key.key.is_named("Escape") && fullscreen_) return on_named_key(key, context);
  if (std::holds_alternative<screen::Session>(screen_) && send_key_to_session(key)) return true;
  if (key.key.is_character() && key.key.value == "/" && !focused_field_ &&
      std::holds_alternative<screen::List>(screen_)) {
    focus_field(kSearchField);
    needs_repaint_ = true;
    return true;
  }
  if (key.key.kind == kivo::ui::Key::Kind::Named && on_named_key(key, context)) return true;
  return to_focused_input(key);
}

bool RemoteApp::on_named_key(const KeyEvent& key, const kivo::ui::EventContext& context) {
  const bool on_list = std::holds_alternative<screen::List>(screen_);
  const bool on_form = std::holds_alternative<screen::Form>(screen_);
  const bool on_session = std::holds_alternative<screen::Session>(screen_);
  const std::string& name = key.key.value;
  if (name == "Enter") {
    if (on_list && selected_) send(msg::RequestConnect{*selected_}, context);
    if (on_form) send(msg::SaveForm{}, context);
    return on_list || on_form || on_session;
  }
  if (name == "Tab" && on_form) {
    tab_focus();
    return true;
  }
  if ((name == "ArrowDown" || name == "ArrowUp") && on_list && !focused_field_) {
    move_selection(name == "ArrowDown" ? 1 : -1);
    return true;
  }
  if (name == "Escape") {
    if (narrow_ && flap_.open_override == true) {
      flap_.open_override = false;
      needs_repaint_ = true;
      return true;
    }
    if (on_list && focused_field_ == kSearchField) {
      search_.clear();
      blur_field();
      refresh_inputs();
      needs_repaint_ = true;
      return true;
    }
    if (on_form) {
      send(msg::CancelForm{}, context);
      return true;
    }
    if (on_session) {
      if (fullscreen_) {
        fullscreen_ = false;
        needs_repaint_ = true;
      } else {
        send(msg::CancelForm{}, context);
      }
      return true;
    }
    return false;
  }
  return false;
}

void RemoteApp::tab_focus() {
  const auto order = tab_order(form_.kind);
  int next = kNameField;
  if (focused_field_) {
    const auto it = std::find(order.begin(), order.end(), *focused_field_);
    next = it == order.end() ? order[1] : *(it + 1 == order.end() ? order.begin() : it + 1);
  }
  focus_field(next);
  needs_repaint_ = true;
}

void RemoteApp::move_selection(int delta) {
  const auto& visible = visible_profiles();
  if (visible.empty()) return;
  std::size_t position = 0;
  for (std::size_t i = 0; i < visible.size(); ++i) {
    if (selected_ && visible[i]->id == *selected_) position = i;
  }
  if (delta > 0) {
    position = std::min(position + 1, visible.size() - 1);
  } else if (position > 0) {
    position -= 1;
  }
  selected_ = visible[position]->id;
  scroll_into_view(*selected_);
  needs_repaint_ = true;
}

void RemoteApp::scroll_into_view(const Uuid& id) {
  const auto& visible = visible_profiles();
  std::size_t index = visible.size();
  for (std::size_t i = 0; i < visible.size(); ++i) {
    if (visible[i]->id == id) index = i;
  }
  if (index == visible.size()) return;
  const double h = list_.row_height;
  const double v = std::max(list_.viewport, h);
  const double pitch = h + 8;
  const double max_offset = std::max(pitch * static_cast<double>(visible.size()) - 8 - v, 0.0);
  const double row_top = pitch * static_cast<double>(index);
  const double row_bottom = row_top + h;
  if (list_scroll_ > row_top) {
    list_scroll_ = row_top;
  } else if (row_bottom > list_scroll_ + v) {
    list_scroll_ = row_bottom - v;
  }
  list_scroll_ = std::clamp(list_scroll_, 0.0, max_offset);
  list_.max_scroll = std::max(list_.max_scroll, max_offset);
  needs_repaint_ = true;
}

bool RemoteApp::semantic_action(std::string_view id, const kivo::ui::a11y::SemanticAction& action,
                                const kivo::ui::EventContext& context) {
  const auto kind = action.kind;
  const auto is = [&](std::initializer_list<SemanticActionKind> kinds) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
  };
  if (confirmation_pending()) {
    if (kind != SemanticActionKind::Primary) return false;
    if (id == "remote.confirmation.cancel") {
      send(msg::CancelPending{}, context);
      return true;
    }
    if (id == "remote.confirmation.confirm") {
      send(msg::ConfirmPending{}, context);
      return true;
    }
    return false;
  }
  needs_repaint_ = true;
  if (id.starts_with("remote.field:")) {
    const auto name = id.substr(std::string_view("remote.field:").size());
    const auto it = std::find(std::begin(kFieldNames), std::end(kFieldNames), name);
    if (it == std::end(kFieldNames)) return false;
    const int field = static_cast<int>(it - std::begin(kFieldNames));
    if (is({SemanticActionKind::Focus, SemanticActionKind::Primary})) {
      focus_field(field);
      return true;
    }
    if (kind != SemanticActionKind::SetValue) return false;
    set_field_text(field, action.value);
    inputs_[field].set_cursor_pos(inputs_[field].text().size());
    focus_field(field);
    if (field == kSearchField) {
      select_first_visible();
      list_scroll_ = 0;
    }
    return true;
  }
  if (id.starts_with("remote.kind:") && is({SemanticActionKind::Primary, SemanticActionKind::Toggle})) {
    const auto label = id.substr(std::string_view("remote.kind:").size());
    const auto kind_value = label == "VNC"  ? doc::ConnectionKind::Vnc
                            : label == "RDP" ? doc::ConnectionKind::Rdp
                            : label == "Kivo" ? doc::ConnectionKind::Kivo
                                              : doc::ConnectionKind::Ssh;
    send(msg::SetKind{kind_value}, context);
    return true;
  }
  if (id.starts_with("remote.auth:") && is({SemanticActionKind::Primary, SemanticActionKind::Toggle})) {
    const auto name = id.substr(std::string_view("remote.auth:").size());
    const auto auth = name == "public-key"        ? doc::ConnectionAuth::PublicKey
                      : name == "device-identity" ? doc::ConnectionAuth::DeviceIdentity
                                                  : doc::ConnectionAuth::Password;
    if (!doc::auth_allowed(form_.kind, auth)) return false;
    send(msg::SetAuth{auth}, context);
    return true;
  }
  if (id.starts_with("remote.device:") && is({SemanticActionKind::Primary, SemanticActionKind::Focus})) {
    const auto digits = id.substr(std::string_view("remote.device:").size());
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) {
          return c >= '0' && c <= '9';
        })) {
      return false;
    }
    send(msg::PickDevice{static_cast<std::size_t>(std::stoul(std::string(digits)))}, context);
    return true;
  }
  struct Suffix {
    std::string_view suffix;
    std::vector<SemanticActionKind> kinds;
    AppMessage (*make)(const Uuid&);
  };
  static const Suffix suffixes[] = {
      {":select", {SemanticActionKind::Primary, SemanticActionKind::Focus},
       [](const Uuid& u) -> AppMessage { return msg::Select{u}; }},
      {":favorite", {SemanticActionKind::Primary, SemanticActionKind::Toggle},
       [](const Uuid& u) -> AppMessage { return msg::ToggleFavorite{u}; }},
      {":edit", {SemanticActionKind::Primary}, [](const Uuid& u) -> AppMessage { return msg::OpenEditForm{u}; }},
      {":connect", {SemanticActionKind::Primary}, [](const Uuid& u) -> AppMessage { return msg::RequestConnect{u}; }},
      {":delete", {SemanticActionKind::Primary}, [](const Uuid& u) -> AppMessage { return msg::RequestDelete{u}; }},
      {":trust-host-key", {SemanticActionKind::Primary},
       [](const Uuid& u) -> AppMessage { return msg::RequestTrustHostKey{u}; }},
      {":forget-host-key", {SemanticActionKind::Primary},
       [](const Uuid& u) -> AppMessage { return msg::RequestForgetHostKey{u}; }},
  };
  for (const auto& s : suffixes) {
    if (auto uuid = id_between(id, "remote.connection:", s.suffix)) {
      if (std::find(s.kinds.begin(), s.kinds.end(), kind) == s.kinds.end()) return false;
      send(s.make(*uuid), context);
      return true;
    }
  }
  if (auto uuid = id_between(id, "remote.connection:", "")) {
    if (kind != SemanticActionKind::ScrollIntoView) return false;
    const auto& visible = visible_profiles();
    if (std::none_of(visible.begin(), visible.end(), [&](const auto* p) { return p->id == *uuid; })) return true;
    selected_ = *uuid;
    scroll_into_view(*uuid);
    return true;
  }
  struct Fixed {
    std::string_view id;
    std::vector<SemanticActionKind> kinds;
    AppMessage message;
  };
  const Fixed fixed[] = {
      {"remote.nav.toggle", {SemanticActionKind::Primary, SemanticActionKind::Toggle}, msg::ToggleNavigation{}},
      {"remote.nav.list", {SemanticActionKind::Primary}, msg::ShowList{}},
      {"remote.connection.new", {SemanticActionKind::Primary}, msg::OpenNewForm{}},
      {"remote.form.cancel", {SemanticActionKind::Primary}, msg::CancelForm{}},
      {"remote.form.save", {SemanticActionKind::Primary}, msg::SaveForm{}},
      {"remote.session.disconnect", {SemanticActionKind::Primary}, msg::Disconnect{}},
      {"remote.session.scale", {SemanticActionKind::Primary, SemanticActionKind::Toggle}, msg::ToggleScale{}},
      {"remote.session.fullscreen", {SemanticActionKind::Primary}, msg::ToggleFullscreen{}},
  };
  for (const auto& f : fixed) {
    if (id != f.id) continue;
    if (std::find(f.kinds.begin(), f.kinds.end(), kind) == f.kinds.end()) return false;
    send(f.message, context);
    return true;
  }
  return false;
}

}  // namespace remote::app
