// Starting, replacing and ending the one live session, and what each paint takes from it.

#include <limits>

#include "app/remote_app.h"
#include "doc/availability.h"
#include "ssh/known_hosts.h"
#include "vt/key_encoding.h"

namespace remote::app {
namespace {

constexpr std::uint64_t kLastIdentity = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::optional<session::SessionStatus> RemoteApp::current_status() const {
  if (!live_) return std::nullopt;
  return session::current_status(*live_);
}

std::optional<ssh::HostKeyCheck> RemoteApp::host_key_observation(const Uuid& id) const {
  if (!live_ || session_target_ != id) return std::nullopt;
  // The key was seen at the address the session dialled. Once the profile points elsewhere,
  // trusting or forgetting "this" key would pin or unpin it for a host that never showed it.
  const auto* profile = find_profile(id);
  if (profile == nullptr || !session_address_ || session_address_->first != profile->host ||
      session_address_->second != profile->port) {
    return std::nullopt;
  }
  return session::host_key_observation(*live_);
}

void RemoteApp::start_session(const Uuid& id) {
  const auto* profile = find_profile(id);
  if (profile == nullptr) return;
  needs_repaint_ = true;
  if (session_identity_ == kLastIdentity) {
    session_target_ = id;
    live_ = session::StartFailed{"remote session identity exhausted; restart the application"};
    screen_ = screen::Session{id};
    return;
  }
  ++session_identity_;
  session_target_ = id;
  session_address_.emplace(profile->host, profile->port);
  fullscreen_ = false;
  pointer_buttons_ = 0;
  // Dropping the old session closes its queues; its worker ends on its own.
  live_.reset();

  const auto availability = doc::availability(*profile);
  if (availability != doc::TransportAvailability::Ready) {
    live_ = session::NotAvailable{availability, profile->kind};
    screen_ = screen::Session{id};
    return;
  }
  switch (profile->kind) {
    case doc::ConnectionKind::Ssh: {
      auto store = ssh::resolve_store_path();
      if (!store) {
        live_ = session::StartFailed{"SSH host-key trust is unavailable: " + store.error()};
        break;
      }
      const auto method =
          profile->auth == doc::ConnectionAuth::PublicKey ? ssh::SshAuthMethod::PublicKey : ssh::SshAuthMethod::Password;
      auto request = ssh::prepare_request(profile->host, profile->port, profile->user, method, *store);
      if (!request) {
        live_ = session::StartFailed{request.error()};
        break;
      }
      auto started = ssh::start_session(std::move(*request));
      if (!started) {
        live_ = session::StartFailed{started.error()};
        break;
      }
      live_ = session::SshTerminal{std::move(*started)};
      break;
    }
    case doc::ConnectionKind::Vnc:
      live_ = session::StartFailed{"VNC sessions cannot be opened by this build yet"};
      break;
    case doc::ConnectionKind::Kivo:
      live_ = session::StartFailed{"Kivo device sessions cannot be opened by this build yet"};
      break;
    case doc::ConnectionKind::Rdp:
      // Never Ready: the availability check above refuses it.
      break;
  }
  for (auto& p : profiles_mut()) {
    if (p.id == id) p.last_used = "just now";
  }
  screen_ = screen::Session{id};
}

void RemoteApp::end_session() {
  live_.reset();
  session_target_.reset();
  session_address_.reset();
  if (session_identity_ != kLastIdentity) ++session_identity_;
  fullscreen_ = false;
  screen_ = screen::List{};
  needs_repaint_ = true;
}

void RemoteApp::show_preview(const Uuid& id, session::Preview preview) {
  const auto* profile = find_profile(id);
  if (profile == nullptr) return;
  live_ = std::move(preview);
  session_target_ = id;
  session_address_.emplace(profile->host, profile->port);
  screen_ = screen::Session{id};
  needs_repaint_ = true;
}

void RemoteApp::refresh_session() {
  if (!live_) return;
  bool changed = false;
  if (auto* ssh = std::get_if<session::SshTerminal>(&*live_)) {
    // The terminal is only drawn on the session screen.
    changed = ssh->session.drain_output() && std::holds_alternative<screen::Session>(screen_);
  }
  const auto status = current_status();
  if (session_target_ && status && std::holds_alternative<session::Connected>(*status)) {
    for (std::size_t i = 0; i < profiles_.size(); ++i) {
      if (profiles_[i].id != *session_target_ || profiles_[i].presence == doc::Presence::Online) continue;
      profiles_mut()[i].presence = doc::Presence::Online;
      changed = true;
    }
  }
  if (changed) needs_repaint_ = true;
}

bool RemoteApp::send_key_to_session(const kivo::ui::KeyEvent& key) {
  if (confirmation_pending() || !live_) return false;
  auto* ssh = std::get_if<session::SshTerminal>(&*live_);
  if (ssh == nullptr || !std::holds_alternative<session::Connected>(ssh->session.status())) return false;
  const std::string bytes = vt::encode_key(key);
  if (bytes.empty()) return false;
  // A keystroke that does not fit is lost without a notice, like on a real terminal.
  [[maybe_unused]] auto queued = ssh::submit_input(ssh->session, std::string_view(bytes));
  needs_repaint_ = true;
  return true;
}

}  // namespace remote::app
