#pragma once
// One invokable action as it is offered to the user interface, automation and assistants.

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kivo/actions/encoded.h"
#include "kivo/actions/error.h"
#include "kivo/actions/params.h"
#include "kivo/actions/risk.h"

namespace kivo::actions {

// One argument of an argument-driven action: its key, the label a person reads, an optional
// longer description and an optional hint of what to type.
struct ParamDescriptor {
  std::string key;
  std::string label;
  std::optional<std::string> description;
  std::optional<std::string> hint;
  bool required = false;

  static ParamDescriptor text(std::string key, std::string label);
  ParamDescriptor with_description(std::string description) &&;
  ParamDescriptor with_hint(std::string hint) &&;
  ParamDescriptor required_param() &&;

  friend bool operator==(const ParamDescriptor&, const ParamDescriptor&) = default;
};

// What an action needs from the system to run, as capability tags ("network", "session", …).
struct Contract {
  std::vector<std::string> capabilities;
  friend bool operator==(const Contract&, const Contract&) = default;
};

// Why an action cannot run now: a stable machine code and a sentence for people.
struct Unavailability {
  std::string code;
  std::string reason;
  friend bool operator==(const Unavailability&, const Unavailability&) = default;
};

// Builds the payload of an argument-driven action; an error text refuses the arguments.
using ArgumentEncoder = std::function<std::expected<EncodedAction, std::string>(const params::ActionArgs&)>;

// An encoder together with the type its payloads must have.
struct ArgumentBinding {
  std::string type_name;
  ArgumentEncoder encoder;
};

struct ActionSpec {
  std::string name;
  std::string label;
  std::optional<std::string> description;
  RiskLevel risk = RiskLevel::View;
  std::vector<ParamDescriptor> params;
  // A JSON-Schema object text describing the arguments (see resource::derive_input).
  std::string input_schema;
  std::variant<EncodedAction, ArgumentBinding> payload;
  std::optional<Contract> contract;
  bool is_destructive = false;
  std::optional<Unavailability> unavailability;

  // An action whose payload is fixed when it is described.
  static ActionSpec fixed(std::string name, std::string label, RiskLevel risk, EncodedAction payload);
  // An action whose payload is built from arguments; every payload the encoder returns must be
  // of `type_name`.
  static ActionSpec from_arguments(std::string name, std::string label, RiskLevel risk,
                                   std::vector<ParamDescriptor> params, std::string type_name,
                                   ArgumentEncoder encoder);

  ActionSpec with_description(std::string description) &&;
  ActionSpec with_contract(std::vector<std::string> capabilities) &&;
  ActionSpec destructive() &&;
  ActionSpec with_unavailable(std::string code, std::string reason) &&;

  bool available() const { return !unavailability.has_value(); }
  OperationClass operation_class() const { return actions::operation_class(risk); }
  // The fixed payload, or none for an argument-driven action.
  const EncodedAction* fixed_payload() const { return std::get_if<EncodedAction>(&payload); }
  // The type of every payload this action produces.
  const std::string& type_name() const;

  // The payload to invoke with these arguments: refused while unavailable; a fixed payload
  // ignores the arguments; an encoder's result must have the declared type.
  [[nodiscard]] std::expected<EncodedAction, ActionError> encode(const params::ActionArgs& args) const;
};

}  // namespace kivo::actions
