#pragma once
// Shared pieces of the application tests.

#include <memory>
#include <string>

#include "actions/dispatch.h"
#include "doc/profile.h"
#include "kivo/base/uuid.h"
#include "kivo/ui/app.h"

namespace remote::app::testing {

// An action host that decodes the application's own actions, as the framework sets up.
inline std::shared_ptr<kivo::ui::ActionHost> action_host() {
  auto host = std::make_shared<kivo::ui::ActionHost>();
  actions::register_decoder(host->registry);
  return host;
}

// A profile for tests that only care about a name and the favourite flag.
inline doc::ConnectionProfile profile(std::string name, bool favorite = false) {
  doc::ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.host = "example.net";
  p.port = 22;
  p.favorite = favorite;
  return p;
}

}  // namespace remote::app::testing
