#pragma once
// The framework's side of a running application: its action registry, the action
// journal and the local transport its own dispatches go through.

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/context.h"
#include "kivo/actions/executor.h"
#include "kivo/actions/registry.h"
#include "kivo/doc/document.h"

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

  // Dispatches `action` as this device on behalf of `caller`, merged with the base context.
  // The journal records it before, and completes the entry with the document's heads right
  // after a successful dispatch (before anyone reacts to the change).
  std::expected<actions::executor::DispatchReceipt, actions::ActionError> dispatch(
      doc::Document& document, const actions::EncodedAction& action, actions::context::CallerContext caller) {
    auto record = actions::bound_dispatch::typed_action_before(&journal, document, action, caller);
    actions::context::ActionContext context;
    context.acting_device.assign(document.actor().bytes.begin(), document.actor().bytes.end());
    context.caller = std::move(caller);
    if (base_context) context = base_context->enriched_by(context);
    auto local = transport(document);
    auto result = actions::executor::dispatch_by_with_context(local, action, context);
    if (result && record) actions::bound_dispatch::report_typed_action(&journal, std::move(*record), document.heads());
    return result;
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
