#include "kivo/actions/declared_action.h"

#include "kivo/actions/resource.h"

namespace kivo::actions {

ParamDescriptor ParamDescriptor::text(std::string key, std::string label) {
  ParamDescriptor param;
  param.key = std::move(key);
  param.label = std::move(label);
  return param;
}

ParamDescriptor ParamDescriptor::with_description(std::string description) && {
  this->description = std::move(description);
  return std::move(*this);
}

ParamDescriptor ParamDescriptor::with_hint(std::string hint) && {
  this->hint = std::move(hint);
  return std::move(*this);
}

ParamDescriptor ParamDescriptor::required_param() && {
  required = true;
  return std::move(*this);
}

ActionSpec ActionSpec::fixed(std::string name, std::string label, RiskLevel risk, EncodedAction payload) {
  ActionSpec out;
  out.name = std::move(name);
  out.label = std::move(label);
  out.risk = risk;
  out.input_schema = resource::derive_input({});
  out.payload = std::move(payload);
  return out;
}

ActionSpec ActionSpec::from_arguments(std::string name, std::string label, RiskLevel risk,
                                      std::vector<ParamDescriptor> params, std::string type_name,
                                      ArgumentEncoder encoder) {
  ActionSpec out;
  out.name = std::move(name);
  out.label = std::move(label);
  out.risk = risk;
  out.input_schema = resource::derive_input(params);
  out.params = std::move(params);
  out.payload = ArgumentBinding{std::move(type_name), std::move(encoder)};
  return out;
}

ActionSpec ActionSpec::with_description(std::string description) && {
  this->description = std::move(description);
  return std::move(*this);
}

ActionSpec ActionSpec::with_contract(std::vector<std::string> capabilities) && {
  contract = Contract{std::move(capabilities)};
  return std::move(*this);
}

ActionSpec ActionSpec::destructive() && {
  is_destructive = true;
  return std::move(*this);
}

ActionSpec ActionSpec::with_unavailable(std::string code, std::string reason) && {
  unavailability = Unavailability{std::move(code), std::move(reason)};
  return std::move(*this);
}

const std::string& ActionSpec::type_name() const {
  if (const auto* fixed = std::get_if<EncodedAction>(&payload)) return fixed->type_name;
  return std::get<ArgumentBinding>(payload).type_name;
}

std::expected<EncodedAction, ActionError> ActionSpec::encode(const params::ActionArgs& args) const {
  if (unavailability) {
    return std::unexpected(ActionError::unavailable(type_name(), unavailability->code, unavailability->reason));
  }
  if (const auto* fixed = std::get_if<EncodedAction>(&payload)) return *fixed;
  const auto& binding = std::get<ArgumentBinding>(payload);
  if (!binding.encoder) return std::unexpected(ActionError::encode(binding.type_name, "the action has no encoder"));
  auto encoded = binding.encoder(args);
  if (!encoded) return std::unexpected(ActionError::encode(binding.type_name, encoded.error()));
  return resource::enforce_operation_type(std::move(*encoded), binding.type_name);
}

}  // namespace kivo::actions
