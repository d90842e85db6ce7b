// Keeping the in-memory profile list in step with the shared document, and turning the
// user's own profile edits into dispatched document actions.

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "doc/store.h"

namespace remote::app {

void RemoteApp::document_changed(kivo::doc::Document& document) {
  auto stored = doc::read_profiles(document);
  if (!document_synced_) {
    document_synced_ = true;
    needs_repaint_ = true;
    if (!stored.empty()) {
      profiles_mut() = std::move(stored);
      repair_selection();
    } else {
      // An empty document receives what this device started with (the sample profiles).
      for (const auto& profile : profiles_) doc::upsert_profile(document, profile);
    }
    return;
  }
  if (stored == profiles_) return;
  profiles_mut() = std::move(stored);
  repair_selection();
  needs_repaint_ = true;
  // A session whose profile left the document ends.
  if (session_target_ && find_profile(*session_target_) == nullptr) end_session();
}

void RemoteApp::repair_selection() {
  if (selected_ && find_profile(*selected_) != nullptr) return;
  select_first_visible();
}

void RemoteApp::apply(const msg::SaveForm&, kivo::doc::Document& document) {
  if (!doc::validate_form(form_).empty()) {
    problem_visibility_.save_attempted = true;
    if (doc::trim_text(form_.name).empty()) {
      focus_field(kNameField);
    } else if (doc::trim_text(form_.host).empty() || form_.kind == doc::ConnectionKind::Kivo) {
      focus_field(kHostField);
    } else if (doc::trim_text(form_.port).empty()) {
      focus_field(kPortField);
    }
    return;
  }
  const auto* mode = std::get_if<screen::Form>(&screen_);
  const auto* edit = mode != nullptr ? std::get_if<FormEdit>(&mode->mode) : nullptr;
  const Uuid id = edit != nullptr ? edit->id : Uuid::new_v4();
  auto profile = doc::profile_from_form(form_, id);
  if (const auto* existing = find_profile(id)) {
    profile.favorite = existing->favorite;
    profile.presence = existing->presence;
    profile.last_used = existing->last_used;
  }
  actions::dispatch_action(document,
                           actions::UpsertConnection{profile.id, profile.name, profile.host, profile.port,
                                                     profile.user, profile.kind, profile.auth, profile.group},
                           action_host().get());
  selected_ = id;
  screen_ = screen::List{};
  blur_field();
}

void RemoteApp::apply(const msg::ToggleFavorite& m, kivo::doc::Document& document) {
  for (auto& profile : profiles_mut()) {
    if (profile.id != m.id) continue;
    profile.favorite = !profile.favorite;
    actions::dispatch_action(document, actions::SetFavorite{m.id, profile.favorite}, action_host().get());
    return;
  }
}

}  // namespace remote::app
