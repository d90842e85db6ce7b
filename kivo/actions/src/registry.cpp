#include "kivo/actions/registry.h"

#include <fmt/format.h>

namespace kivo::actions {

std::string DecodeError::display() const {
  return fmt::format("could not decode `{}` action: {}", type_name, message);
}

void ActionRegistry::insert(std::string type_name, Decoder decoder) {
  decoders_.insert_or_assign(std::move(type_name), std::move(decoder));
}

bool ActionRegistry::contains(std::string_view type_name) const {
  return decoders_.find(type_name) != decoders_.end();
}

std::vector<std::string> ActionRegistry::type_names() const {
  std::vector<std::string> names;
  for (const auto& [name, decoder] : decoders_) names.push_back(name);
  return names;
}

DecodeResult ActionRegistry::decode(const EncodedAction& action) const {
  const auto it = decoders_.find(action.type_name);
  if (it == decoders_.end() || !it->second) {
    return std::unexpected(DecodeError{action.type_name, "no decoder is registered for this action type"});
  }
  DecodeResult result = it->second(action.payload);
  if (result && !*result) {
    return std::unexpected(DecodeError{action.type_name, "the decoder produced no action"});
  }
  return result;
}

}  // namespace kivo::actions
