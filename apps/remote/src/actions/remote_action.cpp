#include "actions/remote_action.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "kivo/base/overloaded.h"

namespace remote::actions {
namespace {

std::string json_quoted(std::string_view text) {
  return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string_view variant_name(const RemoteAction& action) {
  static constexpr std::string_view kNames[] = {"UpsertConnection", "RenameConnection", "SetFavorite",
                                                "DeleteConnection"};
  return kNames[action.index()];
}

std::string_view variant_name(const RemoteOperation& operation) {
  static constexpr std::string_view kNames[] = {"ShowConnections", "NewConnectionForm", "EditConnection",
                                                "Connect",         "Disconnect",        "SendText",
                                                "TrustSshHostKey", "ForgetSshHostKey"};
  return kNames[operation.index()];
}

kivo::actions::OperationClass operation_class(const RemoteOperation& operation) {
  const bool view = std::holds_alternative<ShowConnections>(operation) ||
                    std::holds_alternative<NewConnectionForm>(operation) ||
                    std::holds_alternative<EditConnection>(operation);
  return view ? kivo::actions::OperationClass::View : kivo::actions::OperationClass::Effect;
}

std::string debug_description(const RemoteAction& action) {
  const std::string fields = std::visit(
      kivo::Overloaded{
          [](const UpsertConnection& a) {
            return fmt::format("id: {}, name: {}, host: {}, port: {}, user: {}, kind: {}, auth: {}, group: {}",
                               a.id.to_string(), json_quoted(a.name), json_quoted(a.host), a.port, json_quoted(a.user),
                               doc::json_text(a.kind), doc::json_text(a.auth), json_quoted(a.group));
          },
          [](const RenameConnection& a) { return fmt::format("id: {}, name: {}", a.id.to_string(), json_quoted(a.name)); },
          [](const SetFavorite& a) { return fmt::format("id: {}, favorite: {}", a.id.to_string(), a.favorite); },
          [](const DeleteConnection& a) { return fmt::format("id: {}", a.id.to_string()); },
      },
      action);
  return fmt::format("{} {{ {} }}", variant_name(action), fields);
}

std::string debug_description(const RemoteOperation& operation) {
  const std::string fields = std::visit(
      kivo::Overloaded{
          [](const ShowConnections&) { return std::string(); },
          [](const NewConnectionForm&) { return std::string(); },
          [](const SendText& op) {
            return fmt::format("connection_id: {}, text: {}", op.connection_id.to_string(), json_quoted(op.text));
          },
          [](const TrustSshHostKey& op) {
            return fmt::format("connection_id: {}, observed: HostKeyIdentity {{ algorithm: {}, fingerprint: {} }}",
                               op.connection_id.to_string(), json_quoted(op.observed.algorithm),
                               json_quoted(op.observed.fingerprint));
          },
          [](const auto& op) { return fmt::format("connection_id: {}", op.connection_id.to_string()); },
      },
      operation);
  if (fields.empty()) return std::string(variant_name(operation));
  return fmt::format("{} {{ {} }}", variant_name(operation), fields);
}

}  // namespace remote::actions
