#include "actions/dispatch.h"

#include <nlohmann/json.hpp>

#include "actions/action_json.h"
#include "actions/apply.h"
#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/context.h"
#include "kivo/actions/executor.h"
#include "kivo/base/log.h"

namespace remote::actions {

std::string dispatch_label(const RemoteAction& action) {
  const auto value = nlohmann::json::parse(action_json(action), nullptr, false);
  if (value.is_object() && value.size() == 1) {
    return kivo::actions::context::humanize_identifier(value.begin().key());
  }
  if (value.is_string()) return kivo::actions::context::humanize_identifier(value.get<std::string>());
  return "Update";
}

void register_decoder(kivo::actions::ActionRegistry& registry) {
  registry.insert(std::string(kActionTypeName), decode_action);
}

void dispatch_action(kivo::doc::Document& document, const RemoteAction& action, kivo::ui::ActionHost* host) {
  kivo::ui::ActionHost fallback;
  if (host == nullptr) {
    register_decoder(fallback.registry);
    host = &fallback;
  }
  namespace ctx = kivo::actions::context;
  const ctx::CallerContext caller{std::string(kCallerAppId), std::string(kCallerAppName), dispatch_label(action)};
  const auto encoded = encode_action(action);
  auto record = kivo::actions::bound_dispatch::typed_action_before(&host->journal, document, encoded, caller);

  ctx::ActionContext context;
  context.acting_device.assign(document.actor().bytes.begin(), document.actor().bytes.end());
  context.caller = caller;
  if (host->base_context) context = host->base_context->enriched_by(context);

  auto transport = host->transport(document);
  auto result = kivo::actions::executor::dispatch_by_with_context(transport, encoded, context);
  if (!result) {
    kivo::log_warn("remote::actions", "action dispatch failed: " + result.error().display());
    return;
  }
  if (record) kivo::actions::bound_dispatch::report_typed_action(&host->journal, std::move(*record), document.heads());
}

}  // namespace remote::actions
