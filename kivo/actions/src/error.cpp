#include "kivo/actions/error.h"

#include <fmt/format.h>

namespace kivo::actions {

ActionError ActionError::unknown_type(std::string type_name) {
  std::string message = fmt::format("no decoder is registered for action type `{}`", type_name);
  return {Kind::UnknownType, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::decode(std::string type_name, std::string_view reason) {
  std::string message = fmt::format("could not decode `{}` action: {}", type_name, reason);
  return {Kind::Decode, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::wrong_type(std::string declared, std::string_view actual) {
  std::string message =
      fmt::format("action payload has type `{}` but `{}` was declared", actual, declared);
  return {Kind::WrongType, std::move(declared), std::move(message), {}};
}

ActionError ActionError::unavailable(std::string type_name, std::string_view code, std::string_view reason) {
  std::string message = fmt::format("action is unavailable ({}): {}", code, reason);
  return {Kind::Unavailable, std::move(type_name), std::move(message), std::string(code)};
}

ActionError ActionError::confirmation_required(std::string type_name) {
  std::string message = fmt::format("`{}` action needs a person's confirmation before it runs", type_name);
  return {Kind::ConfirmationRequired, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::encode(std::string type_name, std::string_view reason) {
  std::string message = fmt::format("could not encode `{}` action: {}", type_name, reason);
  return {Kind::Encode, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::apply(std::string type_name, std::string_view reason) {
  std::string message = fmt::format("applying `{}` action failed: {}", type_name, reason);
  return {Kind::Apply, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::wrong_device(std::string type_name) {
  std::string message = fmt::format("`{}` action was dispatched for another device's document", type_name);
  return {Kind::WrongDevice, std::move(type_name), std::move(message), {}};
}

ActionError ActionError::commit(std::string type_name, std::string_view reason) {
  std::string message = fmt::format("committing `{}` action failed: {}", type_name, reason);
  return {Kind::Commit, std::move(type_name), std::move(message), {}};
}

}  // namespace kivo::actions
