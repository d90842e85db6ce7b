#pragma once
// The arguments an automation caller supplies to an argument-driven action.

#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::actions::params {

// A JSON object of named arguments. Each value is kept as its compact JSON text, so callers
// read it in the type they expect and any other type reads as absent.
class ActionArgs {
 public:
  ActionArgs() = default;

  // The arguments of a JSON object text; anything but an object is refused with the reason.
  [[nodiscard]] static std::expected<ActionArgs, std::string> from_json(std::string_view text);

  ActionArgs& set_text(std::string key, std::string_view value);

  // The text argument under a key; none when it is missing or not a string.
  std::optional<std::string> text(std::string_view key) const;
  bool contains(std::string_view key) const;
  bool empty() const { return values_.empty(); }

  // The arguments as one compact JSON object text.
  std::string to_json() const;

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace kivo::actions::params
