#pragma once
// How much an action can change, and the class of operation that follows from it.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kivo::actions {

// Ordinals are part of the interface: automation sees them as numbers.
enum class RiskLevel : std::uint8_t {
  DocumentEdit = 0,  // changes the shared document, and nothing else
  Effect = 1,        // starts or stops work, or changes state private to this device
  View = 2,          // only changes what this device shows
};

// What an invoked operation declares about itself. Document edits are not operations: they go
// through the registry and the executor instead.
enum class OperationClass { None, View, Effect };

constexpr int ordinal(RiskLevel risk) { return static_cast<int>(risk); }
std::optional<RiskLevel> risk_from_ordinal(int ordinal);
OperationClass operation_class(RiskLevel risk);

// "document_edit", "effect", "view"; and "none", "view", "effect".
std::string_view name(RiskLevel risk);
std::string_view name(OperationClass operation_class);

}  // namespace kivo::actions
