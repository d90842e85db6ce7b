#include "app/remote_app.h"

#include <algorithm>
#include <cmath>

#include "app/visible_list.h"
#include "kivo/base/overloaded.h"
#include "kivo/ui/text_render.h"

namespace remote::app {
namespace {

constexpr std::array<const char*, kFieldCount> kPlaceholders = {
    "Search machines…  ( / )", "My machine", "hostname or IP", "Port", "username", "group (optional)"};
constexpr const char* kKivoHostPlaceholder = "certified Kivo endpoint id";
constexpr double kInputTextSize = 14;

}  // namespace

RemoteApp::RemoteApp(std::vector<doc::ConnectionProfile> profiles, std::vector<DiscoveredDevice> devices)
    : profiles_(std::move(profiles)),
      devices_(std::move(devices)),
      inputs_{kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[0]),
              kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[1]),
              kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[2]),
              kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[3]),
              kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[4]),
              kivo::ui::widget::text_input::TextInput::local().with_placeholder(kPlaceholders[5])},
      last_paint_(kivo::ui::Clock::now()) {
  for (auto& input : inputs_) input.set_text_size(kInputTextSize);
  refill_inputs();
  select_first_visible();
}

const std::string& RemoteApp::field_text(int field) const {
  switch (field) {
    case kSearchField: return search_;
    case kNameField: return form_.name;
    case kHostField: return form_.host;
    case kPortField: return form_.port;
    case kUserField: return form_.user;
    default: return form_.group;
  }
}

std::string& RemoteApp::field_text_mut(int field) { return const_cast<std::string&>(field_text(field)); }

const std::vector<const doc::ConnectionProfile*>& RemoteApp::visible_profiles() const {
  if (visible_cache_.version != profiles_version_ || visible_cache_.search != search_) {
    visible_cache_.list = visible_list(profiles_, search_);
    visible_cache_.version = profiles_version_;
    visible_cache_.search = search_;
  }
  return visible_cache_.list;
}

const doc::ConnectionProfile* RemoteApp::find_profile(const Uuid& id) const {
  for (const auto& profile : profiles_) {
    if (profile.id == id) return &profile;
  }
  return nullptr;
}

void RemoteApp::select_first_visible() {
  const auto& visible = visible_profiles();
  selected_ = visible.empty() ? std::nullopt : std::optional<Uuid>(visible.front()->id);
}

void RemoteApp::update(const AppMessage& message, kivo::doc::Document& document) {
  needs_repaint_ = true;
  std::visit(kivo::Overloaded{
                 [this](const msg::ShowList& m) { apply(m); },
                 [this](const msg::OpenNewForm& m) { apply(m); },
                 [this](const msg::OpenEditForm& m) { apply(m); },
                 [this](const msg::Select& m) { apply(m); },
                 [this](const msg::FocusField& m) { apply(m); },
                 [this](const msg::SetKind& m) { apply(m); },
                 [this](const msg::SetAuth& m) { apply(m); },
                 [this](const msg::CancelForm& m) { apply(m); },
                 [this](const msg::ToggleScale& m) { apply(m); },
                 [this](const msg::ToggleFullscreen& m) { apply(m); },
                 [this](const msg::PickDevice& m) { apply(m); },
                 [this](const msg::ToggleNavigation& m) { apply(m); },
                 [&](const msg::SaveForm& m) { apply(m, document); },
                 [this](const msg::Connect& m) { apply(m); },
                 [this](const msg::RequestConnect& m) { apply(m); },
                 [this](const msg::RequestDelete& m) { apply(m); },
                 [this](const msg::RequestTrustHostKey& m) { apply(m); },
                 [this](const msg::RequestForgetHostKey& m) { apply(m); },
                 [&](const msg::ConfirmPending& m) { apply(m, document); },
                 [this](const msg::CancelPending& m) { apply(m); },
                 [this](const msg::Disconnect& m) { apply(m); },
                 [&](const msg::ToggleFavorite& m) { apply(m, document); },
             },
             message);
}

// --- message effects ---------------------------------------------------------------------

void RemoteApp::close_narrow_navigation() {
  if (narrow_ && flap_.open_override == true) flap_.open_override = false;
}

void RemoteApp::apply(const msg::ShowList&) {
  screen_ = screen::List{};
  blur_field();
  close_narrow_navigation();
}

void RemoteApp::apply(const msg::CancelForm&) { apply(msg::ShowList{}); }

void RemoteApp::apply(const msg::OpenNewForm&) {
  // Leave the field of the screen being left first: its blur must not count as touching a
  // field of the new form.
  blur_field();
  form_ = doc::ConnectionForm::new_form();
  problem_visibility_ = {};
  screen_ = screen::Form{FormNew{}};
  refill_inputs();
  focus_field(kNameField);
  close_narrow_navigation();
}

void RemoteApp::apply(const msg::OpenEditForm& m) {
  const auto* profile = find_profile(m.id);
  if (profile == nullptr) return;
  blur_field();
  form_ = doc::ConnectionForm::from_profile(*profile);
  problem_visibility_ = {};
  screen_ = screen::Form{FormEdit{m.id}};
  refill_inputs();
  focus_field(kNameField);
}

void RemoteApp::apply(const msg::Select& m) { selected_ = m.id; }

void RemoteApp::apply(const msg::FocusField& m) {
  if (m.field >= 0 && m.field < kFieldCount) focus_field(m.field);
}

void RemoteApp::apply(const msg::SetKind& m) {
  form_.kind = m.kind;
  if (m.kind == doc::ConnectionKind::Kivo) {
    form_.port.clear();
    form_.auth = doc::ConnectionAuth::DeviceIdentity;
  } else {
    const auto port = doc::trim_text(form_.port);
    if (port.empty() || port == "0") form_.port = std::to_string(doc::default_port(m.kind).value_or(0));
  }
  if (!doc::auth_allowed(form_.kind, form_.auth)) form_.auth = doc::allowed_auths(form_.kind).front();
  refill_inputs();
}

void RemoteApp::apply(const msg::SetAuth& m) { form_.auth = m.auth; }

void RemoteApp::apply(const msg::ToggleScale&) { scale_to_fit_ = !scale_to_fit_; }

void RemoteApp::apply(const msg::ToggleFullscreen&) { fullscreen_ = !fullscreen_; }

void RemoteApp::apply(const msg::PickDevice& m) {
  if (m.index >= devices_.size()) return;
  const auto& device = devices_[m.index];
  form_.name = device.name;
  form_.host = device.endpoint_id;
  form_.kind = doc::ConnectionKind::Kivo;
  form_.auth = doc::ConnectionAuth::DeviceIdentity;
  form_.port.clear();
  refill_inputs();
  focus_field(kNameField);
}

void RemoteApp::apply(const msg::ToggleNavigation&) { flap_.open_override = !flap_.target_open(narrow_); }

// --- text fields -------------------------------------------------------------------------

void RemoteApp::refill_inputs() {
  inputs_[kHostField].set_placeholder(form_.kind == doc::ConnectionKind::Kivo ? kKivoHostPlaceholder
                                                                              : kPlaceholders[kHostField]);
  for (int field = 0; field < kFieldCount; ++field) {
    inputs_[field].set_text(field_text(field));
    inputs_[field].set_cursor_pos(field_text(field).size());
  }
}

void RemoteApp::refresh_inputs() {
  inputs_[kHostField].set_placeholder(form_.kind == doc::ConnectionKind::Kivo ? kKivoHostPlaceholder
                                                                              : kPlaceholders[kHostField]);
  for (int field = 0; field < kFieldCount; ++field) {
    if (focused_field_ != field) inputs_[field].set_text(field_text(field));
  }
}

void RemoteApp::set_field_text(int field, std::string text) {
  if (field < 0 || field >= kFieldCount) return;
  if (field == kPortField) std::erase_if(text, [](char c) { return c < '0' || c > '9'; });
  auto& input = inputs_[field];
  const bool caret_at_end = input.cursor_pos() == input.text().size();
  const std::size_t caret = input.cursor_pos();
  const bool search_changed = field == kSearchField && field_text(field) != text;
  field_text_mut(field) = text;
  if (input.text() != text) {
    input.set_text(std::move(text));
    input.set_cursor_pos(caret_at_end ? input.text().size() : caret);
  }
  if (search_changed) {
    // A selection the search hides must not stay the one Enter connects to.
    const auto& visible = visible_profiles();
    if (!selected_ || std::ranges::none_of(visible, [&](const auto* p) { return p->id == *selected_; })) {
      select_first_visible();
    }
    list_scroll_ = 0;
  }
  needs_repaint_ = true;
}

void RemoteApp::focus_field(int field) {
  blur_field();
  focused_field_ = field;
  inputs_[field].set_focused(true);
}

void RemoteApp::blur_field() {
  if (!focused_field_) return;
  const int field = *focused_field_;
  inputs_[field].set_focused(false);
  focused_field_.reset();
  if (std::holds_alternative<screen::Form>(screen_)) {
    if (field == kNameField) problem_visibility_.name_touched = true;
    if (field == kHostField) problem_visibility_.host_touched = true;
    if (field == kPortField) problem_visibility_.port_touched = true;
  }
}

// --- layout and flap -------------------------------------------------------------------------

void RemoteApp::apply_layout(kivo::ui::Rect bounds) {
  using kivo::ui::widget::nav_split::LayoutClass;
  bounds_ = bounds;
  narrow_ = bounds.w < kNarrowWidth;
  if (pending_flap_override_) {
    flap_.open_override = pending_flap_override_;
    pending_flap_override_.reset();
    flap_.progress = flap_.target_progress(narrow_);
  }
  const LayoutClass layout_class = narrow_ ? LayoutClass::Narrow : LayoutClass::Wide;
  if (!flap_.last_layout_class) {
    flap_.last_layout_class = layout_class;
    flap_.progress = flap_.target_progress(narrow_);
  } else if (*flap_.last_layout_class != layout_class) {
    flap_.open_override.reset();
    flap_.last_layout_class = layout_class;
  }
}

void RemoteApp::advance_flap(kivo::ui::Clock::time_point now) {
  const double dt = std::min(std::chrono::duration<double>(now - last_paint_).count(), 0.1);
  last_paint_ = now;
  const double target = flap_.target_progress(narrow_);
  if (reduced_motion_) {
    flap_.progress = target;
    return;
  }
  flap_.progress += (target - flap_.progress) * (1 - std::exp(-14 * std::max(dt, 0.0)));
  if (std::abs(target - flap_.progress) < 0.001) {
    flap_.progress = target;
  } else {
    needs_repaint_ = true;
  }
}

void RemoteApp::set_reduced_motion(bool reduced) {
  reduced_motion_ = reduced;
  if (reduced) flap_.progress = flap_.target_progress(narrow_);
  needs_repaint_ = true;
}

bool RemoteApp::wants_frame() const {
  const bool flap_moving = !reduced_motion_ && flap_.progress != flap_.target_progress(narrow_);
  // Output, pictures and status changes of a live session arrive without input.
  const auto status = current_status();
  const bool session_active =
      status && (std::holds_alternative<session::Connecting>(*status) || std::holds_alternative<session::Connected>(*status));
  return flap_moving || tooltips_.pending() || session_active || status != painted_status_;
}

// --- paint ---------------------------------------------------------------------------------------

void RemoteApp::paint(kivo::ui::PaintContext& context) {
  hit_regions_.clear();
  element_bounds_.clear();
  refresh_inputs();
  advance_flap(context.now);
  // A session left running behind the list still has its output read: a worker whose queue
  // stays full stops reading the connection, and typed or sent input would wait behind it.
  refresh_session();
  painted_status_ = current_status();
  if (tooltips_.tick(context.now)) needs_repaint_ = true;

  auto& canvas = context.canvas;
  canvas.fill_rect(context.window, context.colors.background);
  const kivo::ui::Rect content = content_area();
  std::visit(kivo::Overloaded{[&](const screen::List&) { paint_list(context, content); },
                        [&](const screen::Form&) { paint_form(context, content); },
                        [&](const screen::Session&) { paint_session(context, content); }},
             screen_);
  const bool sheet_open = confirmation_pending();
  if (!fullscreen_ && !sheet_open) paint_rail(context);
  paint_overlays(context);
  if (!sheet_open) kivo::ui::widget::tooltip::draw_hover_tooltip(canvas, tooltips_, bounds_, context.colors);
}

}  // namespace remote::app
