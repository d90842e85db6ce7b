#include "app/entry.h"

#include "actions/dispatch.h"
#include "app/remote_app.h"

namespace remote::app {

std::unique_ptr<kivo::ui::Application> create_application(const kivo::ui::launch::LaunchContext& /*context*/) {
  return std::make_unique<RemoteApp>(std::vector<doc::ConnectionProfile>{}, std::vector<DiscoveredDevice>{});
}

std::unique_ptr<kivo::ui::Application> create_review_application(const kivo::ui::launch::LaunchContext& context) {
  const std::string_view state = context.review_state ? std::string_view(*context.review_state) : std::string_view();
  auto app = std::make_unique<RemoteApp>(std::vector<doc::ConnectionProfile>{}, std::vector<DiscoveredDevice>{});
  if (state == "narrow") app->set_pending_flap_override(false);
  if (state == "narrow-open") app->set_pending_flap_override(true);
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
