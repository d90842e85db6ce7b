#pragma once
// The framework's side of a running application: its action registry, the action
// journal and the local transport its own dispatches go through.

#include <memory>
#include <optional>
#include <string>

#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/context.h"
#include "kivo/actions/executor.h"
#include "kivo/actions/registry.h"

namespace kivo::ui {

// What an application dispatches its own document edits through.
class ActionHost {
 public:
  actions::ActionRegistry registry;
  actions::bound_dispatch::ActionJournal journal;
  // Merged into every dispatch the application makes.
  std::optional<actions::context::ActionContext> base_context;
  // How a dispatch commits: a persisted document commits through its log. Empty: the
  // document commits itself (tests, throw-away documents).
  actions::executor::Committer committer;

  // The framework's local transport over `document`.
  actions::executor::LocalTransport transport(doc::Document& document) const {
    return actions::executor::LocalTransport(registry, document, committer);
  }
};

// The handle registration hooks receive.
class App {
 public:
  App(std::string app_id, std::shared_ptr<ActionHost> host) : app_id_(std::move(app_id)), host_(std::move(host)) {}

  const std::string& app_id() const { return app_id_; }
  // The registry the application's action types go into.
  actions::ActionRegistry& action_registry_mut() { return host_->registry; }
  const std::shared_ptr<ActionHost>& action_host() const { return host_; }

 private:
  std::string app_id_;
  std::shared_ptr<ActionHost> host_;
};

}  // namespace kivo::ui
