#pragma once
// Why an action could not be encoded, decoded or run.

#include <string>
#include <string_view>

namespace kivo::actions {

struct ActionError {
  enum class Kind {
    UnknownType,           // no decoder is registered for the type name
    Decode,                // the payload is not a valid action of its type
    WrongType,             // an encoder produced a payload of another type than declared
    Unavailable,           // the action is marked unavailable
    ConfirmationRequired,  // the action must be confirmed and the context does not say so
    Encode,                // an encoder refused its arguments
    WrongDevice,           // the context names another acting device than the document's
    Apply,                 // applying to the document failed; nothing was committed
    Commit,                // the change was made but could not be committed or stored
  };

  Kind kind;
  // The action type concerned; may be empty when none is known.
  std::string type_name;
  // The complete sentence; `display()` returns it.
  std::string message;
  // The machine code of an unavailable action, empty otherwise.
  std::string code;

  const std::string& display() const { return message; }

  static ActionError unknown_type(std::string type_name);
  static ActionError decode(std::string type_name, std::string_view reason);
  static ActionError wrong_type(std::string declared, std::string_view actual);
  static ActionError unavailable(std::string type_name, std::string_view code, std::string_view reason);
  static ActionError confirmation_required(std::string type_name);
  static ActionError encode(std::string type_name, std::string_view reason);
  static ActionError wrong_device(std::string type_name);
  static ActionError apply(std::string type_name, std::string_view reason);
  static ActionError commit(std::string type_name, std::string_view reason);

  friend bool operator==(const ActionError&, const ActionError&) = default;
};

}  // namespace kivo::actions
