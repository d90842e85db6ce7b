#include "app/entry.h"

#include "actions/dispatch.h"
#include "app/remote_app.h"
#include "doc/availability.h"
#include "doc/sample.h"
#include "kivo/doc/document.h"

namespace remote::app {

namespace {

std::unique_ptr<RemoteApp> build_sample_application();
void apply_review_screen(RemoteApp& app, std::string_view state);

}  // namespace

std::unique_ptr<kivo::ui::Application> create_application(const kivo::ui::launch::LaunchContext& /*context*/) {
  return std::make_unique<RemoteApp>(std::vector<doc::ConnectionProfile>{}, std::vector<DiscoveredDevice>{});
}

namespace {

std::unique_ptr<RemoteApp> build_sample_application() {
  std::vector<DiscoveredDevice> devices;
  for (auto& d : doc::sample_devices()) devices.push_back({std::move(d.name), std::move(d.endpoint_id), d.online});
  return std::make_unique<RemoteApp>(doc::sample_profiles(), std::move(devices));
}

void apply_review_screen(RemoteApp& app, std::string_view state) {
  // A throw-away document: nothing a review state does reaches the saved profiles.
  kivo::doc::Document scratch;
  const auto first = [&](doc::ConnectionKind kind) -> std::optional<kivo::Uuid> {
    for (const auto& p : app.profiles()) {
      if (p.kind == kind) return p.id;
    }
    return std::nullopt;
  };
  const auto preview = [&](doc::ConnectionKind kind, session::SessionStatus status) {
    if (auto id = first(kind)) app.show_preview(*id, session::Preview{std::move(status), std::nullopt, std::nullopt});
  };
  using K = doc::ConnectionKind;
  if (state == "form") {
    app.update(msg::OpenNewForm{}, scratch);
  } else if (state == "form-kivo") {
    app.update(msg::OpenNewForm{}, scratch);
    app.update(msg::SetKind{K::Kivo}, scratch);
  } else if (state == "session-ssh" || state == "session-vnc") {
    if (auto id = first(state == "session-ssh" ? K::Ssh : K::Vnc)) app.update(msg::Connect{*id}, scratch);
  } else if (state == "session-rdp") {
    preview(K::Rdp, session::Unavailable{std::string(doc::availability_text(doc::TransportAvailability::NotSupported, K::Rdp))});
  } else if (state == "session-kivo") {
    preview(K::Kivo, session::Connecting{});
  } else if (state == "session-connecting") {
    preview(K::Ssh, session::Connecting{});
  } else if (state == "session-failed") {
    preview(K::Vnc, session::Failed{"Connection refused"});
  } else if (state == "confirm-connect") {
    if (auto id = first(K::Kivo)) app.update(msg::RequestConnect{*id}, scratch);
  } else if (state == "confirm-delete") {
    if (!app.profiles().empty()) app.update(msg::RequestDelete{app.profiles().front().id}, scratch);
  } else if (state == "confirm-ssh-trust") {
    if (auto id = first(K::Ssh)) {
      app.open_trust_confirmation(*id, {"ssh-ed25519", "SHA256:DemoFingerprintForVisualReviewOnly"});
    }
  }
}

}  // namespace

std::unique_ptr<kivo::ui::Application> create_review_application(const kivo::ui::launch::LaunchContext& context) {
  const std::string_view state = context.review_state ? std::string_view(*context.review_state) : std::string_view();
  const char* sample = std::getenv("KIVO_REMOTE_SAMPLE");
  const bool with_sample = sample != nullptr && std::string_view(sample) == "1";
  auto app = with_sample ? build_sample_application()
                         : std::make_unique<RemoteApp>(std::vector<doc::ConnectionProfile>{},
                                                       std::vector<DiscoveredDevice>{});
  if (state == "narrow") app->set_pending_flap_override(false);
  if (state == "narrow-open") app->set_pending_flap_override(true);
  if (with_sample) apply_review_screen(*app, state);
  return app;
}

void register_actions(kivo::ui::App& app) { actions::register_decoder(app.action_registry_mut()); }

kivo::ui::launch::LaunchDescriptor launch_descriptor() {
  kivo::ui::launch::LaunchDescriptor d;
  d.app_id = kAppId;
  d.review_states.assign(kReviewStates.begin(), kReviewStates.end());
  d.create_application = create_application;
  d.review_state = create_review_application;
  d.register_actions = register_actions;
  d.window_size = [] { return std::pair<unsigned, unsigned>{1280, 800}; };
  d.sync_between_devices = [] { return true; };
  d.persistence = &kivo::doc::persist::open;
  d.switches = {1, 0, 1, 1};
  return d;
}

}  // namespace remote::app
