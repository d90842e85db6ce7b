#pragma once
// The tree of resources an application publishes, each with its actions.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/actions/declared_action.h"

namespace kivo::actions {

struct Resource {
  std::string id;
  std::string kind;
  std::string label;
  std::vector<ActionSpec> actions;
  std::vector<Resource> children;

  static Resource make(std::string id, std::string kind, std::string label);
  // Appends the action after those already present.
  Resource with_action(ActionSpec action) &&;
  Resource with_child(Resource child) &&;

  const ActionSpec* find_action(std::string_view name) const;
  // This resource or a descendant, depth first.
  const Resource* find(std::string_view id) const;
};

namespace resource {

// The input schema of an argument-driven action: a JSON-Schema object text with one string
// property per parameter (title = label, "description", hint as "x-hint") and the keys of the
// required parameters under "required".
std::string derive_input(const std::vector<ParamDescriptor>& params);

// Passes an encoder's payload on when its type is the declared one, and refuses it otherwise.
[[nodiscard]] std::expected<EncodedAction, ActionError> enforce_operation_type(
    EncodedAction action, std::string_view declared_type);

}  // namespace resource
}  // namespace kivo::actions
