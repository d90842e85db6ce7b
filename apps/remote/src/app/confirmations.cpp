// The four risky user actions — connect, delete, trust and forget a host key — open a
// confirmation sheet first; confirming re-checks what the sheet showed.

#include "actions/dispatch.h"
#include "app/confirmation.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "kivo/base/overloaded.h"

namespace remote::app {
namespace {

constexpr const char* kGone = "That saved connection no longer exists.";

}  // namespace

std::string target_snapshot(const doc::ConnectionProfile& p) {
  return std::string(doc::short_label(p.kind)) + "|" + p.host + "|" + std::to_string(p.port) + "|" + p.user + "|" +
         std::string(doc::display_label(p.auth));
}

const kivo::Uuid& confirmation_profile(const PendingConfirmation& confirmation) {
  return std::visit([](const auto& c) -> const kivo::Uuid& { return c.id; }, confirmation);
}

SheetText sheet_text(const PendingConfirmation& confirmation, const std::string& name) {
  return std::visit(
      kivo::Overloaded{
          [&](const ConfirmConnect&) -> SheetText {
            return {"Connect to " + name + "?",
                    "This opens a live remote session. Remote will recheck the saved target and access before "
                    "anything is sent.",
                    "The target and access are rechecked before a remote session opens.", "Connect"};
          },
          [&](const ConfirmDelete&) -> SheetText {
            return {"Delete " + name + "?",
                    "This removes the shared saved profile from Remote. It does not modify the remote machine.",
                    "This removes the shared saved profile, not the remote machine.", "Delete"};
          },
          [&](const ConfirmTrustHostKey& c) -> SheetText {
            const std::string key = c.identity.algorithm + " " + c.identity.fingerprint;
            return {"Trust SSH key for " + name + "?",
                    "Verify this out of band before trusting: " + key + ". This pin is private to this device.",
                    "Verify " + key + " out of band. This device-private trust is checked again before connecting.",
                    "Trust key"};
          },
          [&](const ConfirmForgetHostKey&) -> SheetText {
            return {"Forget SSH key for " + name + "?",
                    "This removes only this device's saved host-key pin. Reconnect to inspect and explicitly trust a "
                    "replacement key.",
                    "Remove this device-private pin, then reconnect to inspect a replacement key before trusting it.",
                    "Forget key"};
          },
      },
      confirmation);
}

void RemoteApp::apply(const msg::RequestConnect& m) {
  const auto* profile = find_profile(m.id);
  if (profile == nullptr) {
    notice_ = kGone;
    return;
  }
  if (doc::availability(*profile) != doc::TransportAvailability::Ready) {
    // Nothing would be sent: show why at once instead of asking first.
    start_session(m.id);
    return;
  }
  notice_.reset();
  pending_confirmation_ = ConfirmConnect{m.id, target_snapshot(*profile)};
  blur_field();
}

void RemoteApp::apply(const msg::RequestDelete& m) {
  const auto* profile = find_profile(m.id);
  if (profile == nullptr) {
    notice_ = kGone;
    return;
  }
  notice_.reset();
  pending_confirmation_ = ConfirmDelete{m.id, target_snapshot(*profile)};
  blur_field();
}

void RemoteApp::apply(const msg::RequestTrustHostKey& m) {
  const auto* profile = find_profile(m.id);
  if (profile == nullptr) return;
  const auto observation = host_key_observation(m.id);
  const auto* fresh = observation ? std::get_if<ssh::NeedsTrust>(&*observation) : nullptr;
  if (fresh == nullptr) {
    notice_ =
        "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be reviewed again.";
    return;
  }
  pending_confirmation_ = ConfirmTrustHostKey{m.id, target_snapshot(*profile), fresh->observed};
  blur_field();
}

void RemoteApp::apply(const msg::RequestForgetHostKey& m) {
  const auto* profile = find_profile(m.id);
  if (profile == nullptr) return;
  const auto observation = host_key_observation(m.id);
  if (!observation || !std::holds_alternative<ssh::Changed>(*observation)) {
    notice_ = "Only a currently changed SSH host key can be forgotten. Reconnect to revalidate this target first.";
    return;
  }
  pending_confirmation_ = ConfirmForgetHostKey{m.id, target_snapshot(*profile)};
  blur_field();
}

void RemoteApp::open_trust_confirmation(const Uuid& id, ssh::HostKeyIdentity identity) {
  const auto* profile = find_profile(id);
  if (profile == nullptr) return;
  pending_confirmation_ = ConfirmTrustHostKey{id, target_snapshot(*profile), std::move(identity)};
  needs_repaint_ = true;
}

void RemoteApp::apply(const msg::CancelPending&) {
  pending_confirmation_.reset();
  notice_ = "Action cancelled. No connection or profile was changed.";
}

void RemoteApp::apply(const msg::ConfirmPending&, kivo::doc::Document& document) {
  if (!pending_confirmation_) return;
  const PendingConfirmation confirmation = std::move(*pending_confirmation_);
  pending_confirmation_.reset();
  const kivo::Uuid id = confirmation_profile(confirmation);
  const auto* profile = find_profile(id);
  if (profile == nullptr) {
    notice_ = "The saved connection was removed before confirmation.";
    return;
  }
  const std::string recorded = std::visit([](const auto& c) { return c.snapshot; }, confirmation);
  if (target_snapshot(*profile) != recorded) {
    notice_ = "This connection changed while confirmation was open. Review the current profile, then try again.";
    return;
  }
  std::visit(
      kivo::Overloaded{
          [&](const ConfirmConnect&) { start_session(id); },
          [&](const ConfirmDelete&) {
            auto& profiles = profiles_mut();
            std::erase_if(profiles, [&](const doc::ConnectionProfile& p) { return p.id == id; });
            actions::dispatch_action(document, actions::DeleteConnection{id}, action_host().get());
            if (selected_ == id) select_first_visible();
            // A form still editing the profile goes with it: its Save would bring the profile back.
            if (const auto* form = std::get_if<screen::Form>(&screen_)) {
              const auto* edit = std::get_if<FormEdit>(&form->mode);
              if (edit != nullptr && edit->id == id) {
                screen_ = screen::List{};
                blur_field();
              }
            }
          },
          [&](const ConfirmTrustHostKey& c) {
            const auto observation = host_key_observation(id);
            const auto* fresh = observation ? std::get_if<ssh::NeedsTrust>(&*observation) : nullptr;
            if (fresh == nullptr || fresh->observed != c.identity) {
              notice_ = "The observed SSH host key changed before it was trusted. Review it again.";
              return;
            }
            auto store = ssh::resolve_store_path();
            if (!store) {
              notice_ = "Could not use private SSH host-key storage: " + store.error();
              return;
            }
            if (auto trusted = ssh::trust_host_key(*store, profile->host, profile->port, c.identity); !trusted) {
              notice_ = "Could not save SSH host-key trust: " + trusted.error();
              return;
            }
            start_session(id);
          },
          [&](const ConfirmForgetHostKey&) {
            const auto observation = host_key_observation(id);
            if (!observation || !std::holds_alternative<ssh::Changed>(*observation)) {
              notice_ =
                  "The SSH host key is no longer the changed key you approved for removal. Reconnect to review it "
                  "again.";
              return;
            }
            auto store = ssh::resolve_store_path();
            if (!store) {
              notice_ = "Could not use private SSH host-key storage: " + store.error();
              return;
            }
            auto removed = ssh::forget_host_key(*store, profile->host, profile->port);
            if (!removed) {
              notice_ = "Could not forget SSH host-key trust: " + removed.error();
              return;
            }
            if (*removed) {
              notice_ = "Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it.";
              end_session();
            } else {
              notice_ = "No local SSH host-key pin was found for this target.";
            }
          },
      },
      confirmation);
}

}  // namespace remote::app
