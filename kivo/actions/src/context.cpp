#include "kivo/actions/context.h"

#include <nlohmann/json.hpp>

namespace kivo::actions::context {
namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char to_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

std::string merged(const std::string& base, const std::string& other) { return other.empty() ? base : other; }

}  // namespace

ActionContext ActionContext::enriched_by(const ActionContext& other) const {
  ActionContext result = *this;
  if (!other.acting_device.empty()) result.acting_device = other.acting_device;
  if (other.caller) {
    if (!result.caller) {
      result.caller = other.caller;
    } else {
      result.caller->app_id = merged(result.caller->app_id, other.caller->app_id);
      result.caller->app_name = merged(result.caller->app_name, other.caller->app_name);
      result.caller->label = merged(result.caller->label, other.caller->label);
    }
  }
  result.confirmed = confirmed || other.confirmed;
  return result;
}

std::string humanize_identifier(std::string_view identifier) {
  // Split into words at separators, at lower→upper and letter↔digit changes, and before the
  // last capital of a run that is followed by a lower-case letter ("SSHKey" → "SSH", "Key").
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (std::size_t i = 0; i < identifier.size(); ++i) {
    const char c = identifier[i];
    if (c == '_' || c == '-' || c == ' ' || c == '.') {
      flush();
      continue;
    }
    if (!word.empty()) {
      const char prev = word.back();
      const bool next_lower = i + 1 < identifier.size() && is_lower(identifier[i + 1]);
      if ((is_upper(c) && (is_lower(prev) || is_digit(prev))) ||
          (is_upper(c) && is_upper(prev) && next_lower) || (is_digit(c) && !is_digit(prev)) ||
          (!is_digit(c) && is_digit(prev))) {
        flush();
      }
    }
    word += c;
  }
  flush();

  std::string out;
  for (std::size_t w = 0; w < words.size(); ++w) {
    std::string text = words[w];
    bool acronym = text.size() > 1;
    for (char c : text) acronym = acronym && (is_upper(c) || is_digit(c));
    if (!acronym) {
      for (char& c : text) c = to_lower(c);
    }
    if (w == 0 && !text.empty()) text[0] = to_upper(text[0]);
    if (w > 0) out += ' ';
    out += text;
  }
  return out;
}

std::string dispatch_label(const EncodedAction& action) {
  const auto payload = nlohmann::json::parse(action.payload, nullptr, /*allow_exceptions=*/false);
  if (payload.is_object() && payload.size() == 1) return humanize_identifier(payload.begin().key());
  if (payload.is_string()) return humanize_identifier(payload.get<std::string>());
  return humanize_identifier(action.type_name);
}

}  // namespace kivo::actions::context
