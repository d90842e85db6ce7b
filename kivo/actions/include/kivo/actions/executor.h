#pragma once
// Runs encoded actions against the shared document, on this device.

#include <expected>
#include <functional>
#include <string>

#include "kivo/actions/context.h"
#include "kivo/actions/encoded.h"
#include "kivo/actions/error.h"
#include "kivo/actions/registry.h"

namespace kivo::doc {
class Document;
namespace persist {
class PersistedDocument;
}
}  // namespace kivo::doc

namespace kivo::actions::executor {

// Turns the document's pending edits into one committed change. The default commits the
// document itself; a persisted document passes its own commit so the change reaches its log.
using Committer = std::function<std::expected<void, std::string>(doc::Document&)>;

// Commits through a persisted document, so each change is appended to this device's log. The
// transport must be given `persisted.document()`; `persisted` must outlive the committer.
Committer persisted_committer(doc::persist::PersistedDocument& persisted);

// What a successful dispatch did.
struct DispatchReceipt {
  // The applied action's debug description.
  std::string description;
  // Whether a change was committed; an action that changed nothing commits nothing.
  bool committed = false;
};

// Decodes with the registry and applies to the document in one transaction. Used on the thread
// that owns the document only.
class LocalTransport {
 public:
  LocalTransport(const ActionRegistry& registry, doc::Document& document, Committer commit = {});

  // 1. Decode with the registry.
  // 2. Refuse an action that needs confirmation unless the context says it was confirmed, and
  //    an action meant for another device (the context names a different acting device).
  // 3. Commit edits that were already pending as a change of their own, so the action's
  //    change holds only the action.
  // 4. Apply. On failure, or when an action that is not a document edit changed the document,
  //    the document is restored to what it was before the apply and nothing is committed.
  // 5. Commit what the apply added, if anything. A commit that makes no change undoes the
  //    apply too; one that made the change but could not store it leaves it in place.
  [[nodiscard]] std::expected<DispatchReceipt, ActionError> send(const EncodedAction& action,
                                                                 const context::ActionContext* context);

 private:
  std::expected<void, ActionError> commit(const std::string& type_name);

  const ActionRegistry& registry_;
  doc::Document& document_;
  Committer commit_;
};

[[nodiscard]] std::expected<DispatchReceipt, ActionError> dispatch_by(LocalTransport& transport,
                                                                      const EncodedAction& action);
[[nodiscard]] std::expected<DispatchReceipt, ActionError> dispatch_by_with_context(
    LocalTransport& transport, const EncodedAction& action, const context::ActionContext& context);

}  // namespace kivo::actions::executor
