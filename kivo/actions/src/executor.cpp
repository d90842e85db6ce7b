#include "kivo/actions/executor.h"

#include <optional>

#include "kivo/base/log.h"
#include "kivo/doc/document.h"
#include "kivo/doc/persist.h"

namespace kivo::actions::executor {
namespace {

bool same_device(const std::vector<std::uint8_t>& acting, const doc::ActorId& actor) {
  return acting.size() == actor.bytes.size() && std::equal(acting.begin(), acting.end(), actor.bytes.begin());
}

}  // namespace

Committer persisted_committer(doc::persist::PersistedDocument& persisted) {
  return [&persisted](doc::Document& document) -> std::expected<void, std::string> {
    if (&document != &persisted.document()) {
      return std::unexpected(std::string("the transport's document is not the persisted document"));
    }
    auto written = persisted.commit();
    if (!written) return std::unexpected(written.error().message);
    return {};
  };
}

LocalTransport::LocalTransport(const ActionRegistry& registry, doc::Document& document, Committer commit)
    : registry_(registry), document_(document), commit_(std::move(commit)) {}

std::expected<void, ActionError> LocalTransport::commit(const std::string& type_name) {
  if (commit_) {
    if (auto committed = commit_(document_); !committed) {
      return std::unexpected(ActionError::commit(type_name, committed.error()));
    }
    return {};
  }
  document_.commit();
  return {};
}

std::expected<DispatchReceipt, ActionError> LocalTransport::send(const EncodedAction& encoded,
                                                                 const context::ActionContext* context) {
  auto decoded = registry_.decode(encoded);
  if (!decoded) {
    const DecodeError& error = decoded.error();
    if (!registry_.contains(encoded.type_name)) return std::unexpected(ActionError::unknown_type(encoded.type_name));
    return std::unexpected(ActionError::decode(error.type_name, error.message));
  }
  const ApplicableAction& action = **decoded;

  if (action.requires_confirmation() && !(context && context->confirmed)) {
    return std::unexpected(ActionError::confirmation_required(encoded.type_name));
  }
  if (context && !context->acting_device.empty() && !same_device(context->acting_device, document_.actor())) {
    return std::unexpected(ActionError::wrong_device(encoded.type_name));
  }

  if (document_.pending_ops() > 0) {
    if (auto earlier = commit(encoded.type_name); !earlier) return std::unexpected(earlier.error());
  }

  // The document offers no rollback of pending edits, so a copy taken now is the way back;
  // an edit that cannot fail needs none.
  const bool snapshot = !(action.is_document_edit() && action.infallible());
  std::optional<doc::Document> before;
  if (snapshot) before = document_;
  auto applied = action.apply(document_);
  if (!applied) {
    if (!before) kivo::fatal("an action declared infallible failed to apply: " + applied.error());
    document_ = std::move(*before);
    return std::unexpected(ActionError::apply(encoded.type_name, applied.error()));
  }
  DispatchReceipt receipt{action.debug_description(), false};
  if (document_.pending_ops() == 0) return receipt;
  if (!action.is_document_edit()) {
    document_ = std::move(*before);
    return std::unexpected(ActionError::apply(encoded.type_name, "an action that is not a document edit changed the document"));
  }
  if (auto committed = commit(encoded.type_name); !committed) {
    // When the change was never made, its edits are undone like a failed apply; a change that
    // was made but not stored stays, and its store writes it later.
    if (document_.pending_ops() > 0 && before) document_ = std::move(*before);
    return std::unexpected(committed.error());
  }
  receipt.committed = true;
  return receipt;
}

std::expected<DispatchReceipt, ActionError> dispatch_by(LocalTransport& transport, const EncodedAction& action) {
  return transport.send(action, nullptr);
}

std::expected<DispatchReceipt, ActionError> dispatch_by_with_context(LocalTransport& transport,
                                                                     const EncodedAction& action,
                                                                     const context::ActionContext& context) {
  return transport.send(action, &context);
}

}  // namespace kivo::actions::executor
