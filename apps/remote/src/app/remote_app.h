#pragma once
// The application object: every piece of user-interface state, changed in one place
// (`update`) by messages that input, semantic actions, operations and review states
// produce.

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/app_message.h"
#include "app/confirmation.h"
#include "app/pending_operation.h"
#include "doc/profile.h"
#include "kivo/ui/application.h"
#include "session/live_session.h"
#include "kivo/ui/widget/nav_split.h"
#include "kivo/ui/widget/text_input.h"
#include "kivo/ui/widget/tooltip.h"

namespace remote::app {

// A device that offered itself for a workspace stream.
struct DiscoveredDevice {
  std::string name;
  std::string endpoint_id;
  bool online = true;
};

// A clickable area recorded by the last paint; one without a message only blocks
// what lies under it.
struct HitRegion {
  kivo::ui::Rect rect;
  std::optional<AppMessage> message;
};

// Which of the form's fields the user has left at least once, and whether a save
// was attempted: together they decide which validation messages are shown.
using doc::ProblemVisibility;

class RemoteApp : public kivo::ui::Application {
 public:
  static constexpr std::string_view kTypeName = "remote::app::RemoteApp";
  static constexpr double kNarrowWidth = 720;

  RemoteApp(std::vector<doc::ConnectionProfile> profiles, std::vector<DiscoveredDevice> devices);

  // Applies one message. `document` is what remote actions are dispatched against.
  void update(const AppMessage& message, kivo::doc::Document& document);

  // --- framework calls -------------------------------------------------------------
  std::string_view type_name() const override { return kTypeName; }
  std::string_view short_name() const override { return "RemoteApp"; }
  void document_changed(kivo::doc::Document& document) override;
  void apply_layout(kivo::ui::Rect bounds) override;
  void paint(kivo::ui::PaintContext& context) override;
  bool on_event(const kivo::ui::Event& event, const kivo::ui::EventContext& context) override;
  kivo::ui::a11y::AccessNode access_tree() const override;
  bool semantic_action(std::string_view id, const kivo::ui::a11y::SemanticAction& action,
                       const kivo::ui::EventContext& context) override;
  kivo::ui::Rect bounds() const override { return bounds_; }
  void set_reduced_motion(bool reduced) override;
  bool first_document_sync_pending() const override { return !document_synced_; }
  bool wants_frame() const override;
  bool needs_repaint() const override { return needs_repaint_; }
  void clear_repaint() override { needs_repaint_ = false; }

  // Automation: the resource tree (resources.cpp) and operations (operations.cpp).
  std::vector<kivo::actions::Resource> action_resources(kivo::doc::Document& document) override;
  std::vector<std::string> operation_types() const override;
  kivo::ui::operation::PerformResult perform_operation(const kivo::ui::Invocation& invocation,
                                                       kivo::actions::OperationClass declared,
                                                       const kivo::ui::EventContext& context) override;
  kivo::ui::operation::StartResult start_operation(const kivo::ui::Invocation& invocation,
                                                   kivo::actions::OperationClass declared,
                                                   const kivo::ui::InvocationId& id,
                                                   const kivo::ui::EventContext& context) override;
  kivo::ui::operation::PollResult poll_operation(const kivo::ui::InvocationId& id, bool cancel,
                                                 const kivo::ui::EventContext& context) override;
  const std::optional<PendingOperation>& pending_operation() const { return pending_operation_; }

  // --- state read by screens, input and tests -------------------------------------------
  const std::vector<doc::ConnectionProfile>& profiles() const { return profiles_; }
  const std::vector<DiscoveredDevice>& devices() const { return devices_; }
  const std::optional<Uuid>& selected() const { return selected_; }
  const Screen& screen() const { return screen_; }
  const doc::ConnectionForm& form() const { return form_; }
  const ProblemVisibility& problem_visibility() const { return problem_visibility_; }
  std::optional<int> focused_field() const { return focused_field_; }
  const std::string& field_text(int field) const;
  const std::string& search_text() const { return search_; }
  double list_scroll() const { return list_scroll_; }
  bool narrow() const { return narrow_; }
  bool reduced_motion() const { return reduced_motion_; }
  const kivo::ui::widget::nav_split::FlapState& flap() const { return flap_; }
  bool flap_target_open() const { return flap_.target_open(narrow_); }
  bool scale_to_fit() const { return scale_to_fit_; }
  bool fullscreen() const { return fullscreen_; }
  bool document_synced() const { return document_synced_; }
  const std::optional<std::string>& notice() const { return notice_; }
  const kivo::ui::widget::text_input::TextInput& input(int field) const { return inputs_.at(field); }
  const std::vector<HitRegion>& hit_regions() const { return hit_regions_; }
  const kivo::ui::widget::tooltip::TooltipHost& tooltips() const { return tooltips_; }
  kivo::ui::Point pointer() const { return pointer_; }
  // The largest list scroll offset the last paint allowed.
  double max_list_scroll() const { return list_.max_scroll; }
  // Whether a confirmation sheet is open (input then reaches only the sheet).
  bool confirmation_pending() const { return pending_confirmation_.has_value(); }
  const std::optional<PendingConfirmation>& pending_confirmation() const { return pending_confirmation_; }

  // The content area of the window: the bounds less the navigation strip.
  kivo::ui::Rect content_area() const;

  // The visible list for the current search (filtered and ordered). Valid until the
  // profiles or the search change.
  const std::vector<const doc::ConnectionProfile*>& visible_profiles() const;
  const doc::ConnectionProfile* find_profile(const Uuid& id) const;

  // --- sessions --------------------------------------------------------------------------
  std::uint64_t session_identity() const { return session_identity_; }
  const std::optional<Uuid>& session_target() const { return session_target_; }
  const std::optional<session::LiveSession>& live_session() const { return live_; }
  // The live session's status; none without a live session.
  std::optional<session::SessionStatus> current_status() const;
  // The SSH handshake's recorded host-key problem, for the profile whose session is live.
  std::optional<ssh::HostKeyCheck> host_key_observation(const Uuid& id) const;
  // Starts (or restarts) the one live session for a saved profile.
  void start_session(const Uuid& id);
  void end_session();
  // Shows a fixed status on the session screen without any worker (visual review).
  void show_preview(const Uuid& id, session::Preview preview);

  // --- operations other parts of the application use ---------------------------------
  void focus_field(int field);
  // A direct edit of one text field (typing, a set-value action): the state text
  // becomes `text` (the port field keeps only the digits 0–9) and its input shows it.
  void set_field_text(int field, std::string text);
  void blur_field();
  // Selects the first visible profile for the current search, or nothing.
  void select_first_visible();
  // Opens the host-key trust sheet for a key no session observed (visual review).
  void open_trust_confirmation(const Uuid& id, ssh::HostKeyIdentity identity);
  // Records a pending flap override that the next layout pass applies (review states).
  void set_pending_flap_override(std::optional<bool> open) { pending_flap_override_ = open; }

 private:
  void apply(const msg::ShowList&);
  void apply(const msg::OpenNewForm&);
  void apply(const msg::OpenEditForm&);
  void apply(const msg::Select&);
  void apply(const msg::FocusField&);
  void apply(const msg::SetKind&);
  void apply(const msg::SetAuth&);
  void apply(const msg::CancelForm&);
  void apply(const msg::ToggleScale&);
  void apply(const msg::ToggleFullscreen&);
  void apply(const msg::PickDevice&);
  void apply(const msg::ToggleNavigation&);
  void apply(const msg::SaveForm&, kivo::doc::Document& document);
  void apply(const msg::Connect& m) { start_session(m.id); }
  // Confirmations (confirmations.cpp).
  void apply(const msg::RequestConnect& m);
  void apply(const msg::RequestDelete& m);
  void apply(const msg::RequestTrustHostKey& m);
  void apply(const msg::RequestForgetHostKey& m);
  void apply(const msg::ConfirmPending&, kivo::doc::Document& document);
  void apply(const msg::CancelPending&);
  void apply(const msg::Disconnect&) { end_session(); }
  void apply(const msg::ToggleFavorite&, kivo::doc::Document& document);

  // Keeps the selection when its profile is still listed; otherwise selects the first
  // visible profile, or nothing.
  void repair_selection();

  std::string& field_text_mut(int field);
  // Every change of `profiles_` goes through here, so cached views of it are renewed.
  std::vector<doc::ConnectionProfile>& profiles_mut() {
    ++profiles_version_;
    return profiles_;
  }

  // Input (input.cpp).
  bool on_pointer_moved(kivo::ui::Point position, const kivo::ui::EventContext& context);
  bool on_wheel(const kivo::ui::Wheel& wheel, const kivo::ui::EventContext& context);
  bool on_button(const kivo::ui::PointerButtonEvent& button, const kivo::ui::EventContext& context);
  bool on_key(const kivo::ui::KeyEvent& key, const kivo::ui::EventContext& context);
  bool on_named_key(const kivo::ui::KeyEvent& key, const kivo::ui::EventContext& context);
  // Passes a key or press to the focused field's input and copies its text back.
  bool to_focused_input(const kivo::ui::Event& event);
  void send(const AppMessage& message, const kivo::ui::EventContext& context);
  const HitRegion* region_at(kivo::ui::Point position) const;
  std::optional<std::string> tooltip_for(const std::optional<AppMessage>& message) const;
  void move_selection(int delta);
  void scroll_into_view(const Uuid& id);
  void tab_focus();

  // Drains terminal output and marks a connected profile online (session.cpp).
  void refresh_session();
  // Sends a key to a connected terminal; whether it was sent.
  bool send_key_to_session(const kivo::ui::KeyEvent& key);

  // Painting (screens/*.cpp).
  void add_region(kivo::ui::Rect rect, std::optional<AppMessage> message);
  // Records where the element with this access id was drawn.
  void mark(std::string id, kivo::ui::Rect rect) { element_bounds_[std::move(id)] = rect; }
  bool hovered(kivo::ui::Rect rect) const { return rect.contains(pointer_); }
  void paint_list(kivo::ui::PaintContext& context, kivo::ui::Rect area);
  void paint_rail(kivo::ui::PaintContext& context);
  void paint_field(kivo::ui::PaintContext& context, int field, kivo::ui::Rect rect);
  kivo::ui::a11y::AccessNode list_access() const;
  // The form (screens/form_screen.cpp), the session screen and terminal
  // (screens/session_screen.cpp), the sheet and the notice (screens/overlays.cpp).
  void paint_form(kivo::ui::PaintContext& context, kivo::ui::Rect area);
  void paint_session(kivo::ui::PaintContext& context, kivo::ui::Rect area);
  void paint_overlays(kivo::ui::PaintContext& context);
  kivo::ui::a11y::AccessNode form_access() const;
  kivo::ui::a11y::AccessNode session_access() const;
  void add_overlay_access(kivo::ui::a11y::AccessNode& root) const;
  kivo::ui::a11y::AccessNode navigation_access() const;
  void refill_inputs();
  void close_narrow_navigation();
  void advance_flap(kivo::ui::Clock::time_point now);
  void refresh_inputs();

  // Profiles and list.
  std::vector<doc::ConnectionProfile> profiles_;
  std::uint64_t profiles_version_ = 0;
  struct VisibleCache {
    std::uint64_t version = ~0ull;
    std::string search;
    std::vector<const doc::ConnectionProfile*> list;
  };
  mutable VisibleCache visible_cache_;
  std::vector<DiscoveredDevice> devices_;
  std::string search_;
  std::optional<Uuid> selected_;
  double list_scroll_ = 0;
  bool document_synced_ = false;

  // Form.
  doc::ConnectionForm form_ = doc::ConnectionForm::new_form();
  std::array<kivo::ui::widget::text_input::TextInput, kFieldCount> inputs_;
  std::optional<int> focused_field_;
  ProblemVisibility problem_visibility_;

  Screen screen_ = screen::List{};

  // Session.
  std::uint64_t session_identity_ = 0;
  std::optional<Uuid> session_target_;
  // Host and port the live session dialled.
  std::optional<std::pair<std::string, std::uint16_t>> session_address_;
  std::optional<session::LiveSession> live_;
  // The status the last paint showed: a worker's change is drawn once more after it
  // stops asking for frames (connecting → failed).
  std::optional<session::SessionStatus> painted_status_;
  std::uint8_t pointer_buttons_ = 0;
  bool scale_to_fit_ = true;
  bool fullscreen_ = false;

  // Overlays and automation.
  std::optional<PendingConfirmation> pending_confirmation_;
  std::optional<PendingOperation> pending_operation_;
  std::optional<std::string> notice_;
  kivo::ui::widget::tooltip::TooltipHost tooltips_;

  // Layout and chrome.
  kivo::ui::Rect bounds_;
  bool narrow_ = false;
  kivo::ui::widget::nav_split::FlapState flap_;
  std::optional<bool> pending_flap_override_;
  bool reduced_motion_ = false;
  bool needs_repaint_ = true;
  kivo::ui::Clock::time_point last_paint_;
  kivo::ui::Point pointer_;
  std::vector<HitRegion> hit_regions_;
  std::map<std::string, kivo::ui::Rect, std::less<>> element_bounds_;

  // What the list screen measured at its last paint, for keyboard scrolling and the
  // wheel clamp.
  struct ListGeometry {
    double top = 0;
    double viewport = 0;
    double row_height = 72;
    double max_scroll = 0;
    bool stacked = false;
  } list_;
  // Row metrics, measured again whenever the text scale changes.
  struct RowMetrics {
    unsigned generation = ~0u;
    double name_line = 0;
    double sub_line = 0;
    double button_height = 0;
    double connect_width = 0;
    double edit_width = 0;
    double row_height = 0;
    double stacked_row_height = 0;
  } metrics_;
  void measure_rows();
};

}  // namespace remote::app
