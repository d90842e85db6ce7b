#include "actions/dispatch.h"

#include "actions/action_json.h"
#include "actions/apply.h"
#include "kivo/actions/context.h"
#include "kivo/base/log.h"

namespace remote::actions {

std::string dispatch_label(const RemoteAction& action) {
  return kivo::actions::context::humanize_identifier(variant_name(action));
}

void register_decoder(kivo::actions::ActionRegistry& registry) {
  registry.insert(std::string(kActionTypeName), decode_action);
}

void dispatch_action(kivo::doc::Document& document, const RemoteAction& action, kivo::ui::ActionHost* host) {
  std::optional<kivo::ui::ActionHost> fallback;
  if (host == nullptr) {
    register_decoder(fallback.emplace().registry);
    host = &*fallback;
  }
  const kivo::actions::context::CallerContext caller{std::string(kCallerAppId), std::string(kCallerAppName),
                                                     dispatch_label(action)};
  auto result = host->dispatch(document, encode_action(action), caller);
  if (!result) kivo::log_warn("remote::actions", "action dispatch failed: " + result.error().display());
}

}  // namespace remote::actions
