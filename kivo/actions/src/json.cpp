#include "kivo/actions/json.h"

#include <nlohmann/json.hpp>

namespace kivo::actions {
namespace {

using Json = nlohmann::ordered_json;

Json action_json(const ActionSpec& action) {
  Json out = Json::object();
  out["name"] = action.name;
  out["label"] = action.label;
  out["description"] = action.description ? Json(*action.description) : Json(nullptr);
  out["risk"] = ordinal(action.risk);
  out["risk_name"] = name(action.risk);
  out["operation_class"] = name(action.operation_class());
  Json schema = Json::parse(action.input_schema, nullptr, /*allow_exceptions=*/false);
  out["input_schema"] = schema.is_discarded() ? Json::object() : std::move(schema);
  if (const EncodedAction* fixed = action.fixed_payload()) {
    out["payload"] = {{"type_name", fixed->type_name}, {"payload", fixed->payload}};
    out["argument_type"] = nullptr;
  } else {
    out["payload"] = nullptr;
    out["argument_type"] = action.type_name();
  }
  out["contract"] = action.contract ? Json{{"capabilities", action.contract->capabilities}} : Json(nullptr);
  out["destructive"] = action.is_destructive;
  out["available"] = action.available();
  out["unavailable"] = action.unavailability
                           ? Json{{"code", action.unavailability->code}, {"reason", action.unavailability->reason}}
                           : Json(nullptr);
  return out;
}

Json heads_json(const std::vector<doc::ChangeHash>& heads) {
  Json out = Json::array();
  for (const doc::ChangeHash& head : heads) out.push_back(head.to_string());
  return out;
}

}  // namespace

nlohmann::ordered_json resource_json(const Resource& resource) {
  Json out = Json::object();
  out["id"] = resource.id;
  out["kind"] = resource.kind;
  out["label"] = resource.label;
  Json actions = Json::array();
  for (const ActionSpec& action : resource.actions) actions.push_back(action_json(action));
  out["actions"] = std::move(actions);
  out["children"] = resources_json(resource.children);
  return out;
}

nlohmann::ordered_json resources_json(const std::vector<Resource>& resources) {
  Json out = Json::array();
  for (const Resource& resource : resources) out.push_back(resource_json(resource));
  return out;
}

std::string resources_json_text(const std::vector<Resource>& resources) {
  return resources_json(resources).dump(-1, ' ', false, Json::error_handler_t::replace);
}

nlohmann::ordered_json journal_json(const std::vector<bound_dispatch::JournalEntry>& entries) {
  Json out = Json::array();
  for (const auto& entry : entries) {
    Json item = Json::object();
    item["sequence"] = entry.sequence;
    item["type_name"] = entry.action.type_name;
    item["payload"] = entry.action.payload;
    item["caller"] = entry.caller ? Json{{"app_id", entry.caller->app_id},
                                         {"app_name", entry.caller->app_name},
                                         {"label", entry.caller->label}}
                                  : Json(nullptr);
    item["heads_before"] = heads_json(entry.heads_before);
    item["heads_after"] = heads_json(entry.heads_after);
    out.push_back(std::move(item));
  }
  return out;
}

}  // namespace kivo::actions
