#pragma once
// An action in transit: the name of its type and its JSON payload text.

#include <string>

namespace kivo::actions {

struct EncodedAction {
  std::string type_name;
  std::string payload;

  friend bool operator==(const EncodedAction&, const EncodedAction&) = default;
};

}  // namespace kivo::actions
