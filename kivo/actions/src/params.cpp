#include "kivo/actions/params.h"

#include <nlohmann/json.hpp>

namespace kivo::actions::params {

std::expected<ActionArgs, std::string> ActionArgs::from_json(std::string_view text) {
  const nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::unexpected(std::string("arguments are not valid JSON"));
  if (!value.is_object()) return std::unexpected(std::string("arguments must be a JSON object"));
  ActionArgs args;
  for (const auto& [key, item] : value.items()) {
    args.values_.emplace(key, item.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
  return args;
}

ActionArgs& ActionArgs::set_text(std::string key, std::string_view value) {
  values_[std::move(key)] =
      nlohmann::json(std::string(value)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return *this;
}

std::optional<std::string> ActionArgs::text(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const nlohmann::json value = nlohmann::json::parse(it->second, nullptr, false);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

bool ActionArgs::contains(std::string_view key) const { return values_.find(key) != values_.end(); }

std::string ActionArgs::to_json() const {
  std::string out = "{";
  bool first = true;
  for (const auto& [key, value] : values_) {
    if (!first) out += ',';
    first = false;
    out += nlohmann::json(key).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out += ':';
    out += value;
  }
  out += '}';
  return out;
}

}  // namespace kivo::actions::params
