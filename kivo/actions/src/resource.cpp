#include "kivo/actions/resource.h"

#include <nlohmann/json.hpp>

namespace kivo::actions {

Resource Resource::make(std::string id, std::string kind, std::string label) {
  Resource resource;
  resource.id = std::move(id);
  resource.kind = std::move(kind);
  resource.label = std::move(label);
  return resource;
}

Resource Resource::with_action(ActionSpec action) && {
  actions.push_back(std::move(action));
  return std::move(*this);
}

Resource Resource::with_child(Resource child) && {
  children.push_back(std::move(child));
  return std::move(*this);
}

const ActionSpec* Resource::find_action(std::string_view name) const {
  for (const ActionSpec& action : actions) {
    if (action.name == name) return &action;
  }
  return nullptr;
}

const Resource* Resource::find(std::string_view wanted) const {
  if (id == wanted) return this;
  for (const Resource& child : children) {
    if (const Resource* found = child.find(wanted)) return found;
  }
  return nullptr;
}

namespace resource {

std::string derive_input(const std::vector<ParamDescriptor>& params) {
  nlohmann::ordered_json properties = nlohmann::ordered_json::object();
  nlohmann::ordered_json required = nlohmann::ordered_json::array();
  for (const ParamDescriptor& param : params) {
    nlohmann::ordered_json property = {{"type", "string"}, {"title", param.label}};
    if (param.description) property["description"] = *param.description;
    if (param.hint) property["x-hint"] = *param.hint;
    properties[param.key] = std::move(property);
    if (param.required) required.push_back(param.key);
  }
  nlohmann::ordered_json schema = {{"type", "object"},
                                   {"properties", std::move(properties)},
                                   {"required", std::move(required)}};
  return schema.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::expected<EncodedAction, ActionError> enforce_operation_type(EncodedAction action,
                                                                 std::string_view declared_type) {
  if (action.type_name != declared_type) {
    return std::unexpected(ActionError::wrong_type(std::string(declared_type), action.type_name));
  }
  return action;
}

}  // namespace resource
}  // namespace kivo::actions
