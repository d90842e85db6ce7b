#pragma once
// The automation requests: one JSON object per line, {"command": …, …}, with an optional "id"
// of any scalar type that the reply repeats. Every reply is one JSON object line with
// "ok": true and the command's fields, or "ok": false, an "error" sentence and a machine "code".
// The commands and their fields are listed in this folder's README.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "kivo/actions/context.h"
#include "kivo/actions/encoded.h"
#include "kivo/actions/params.h"
#include "kivo/ui/a11y.h"
#include "kivo/ui/application.h"

namespace kivo::automation {

// A request line longer than this is refused without being parsed.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// Deeper JSON is refused: nothing we accept nests that far, and printing it back recurses.
inline constexpr int kMaxRequestDepth = 32;

namespace command {
struct Resources {};
struct Dispatch {
  actions::EncodedAction action;
  std::optional<actions::context::CallerContext> caller;  // label left empty
};
struct Invoke {
  std::string resource;
  std::string action;
  actions::params::ActionArgs arguments;
  std::optional<actions::context::CallerContext> caller;  // label left empty
};
struct Poll {
  ui::InvocationId invocation{};
  bool cancel = false;
};
struct Journal {
  std::uint64_t since = 0;
};
struct Tree {};
struct SemanticAction {
  std::string element;
  ui::a11y::SemanticAction action;
};
struct Screenshot {};
}  // namespace command

using Command = std::variant<command::Resources, command::Dispatch, command::Invoke, command::Poll, command::Journal,
                             command::Tree, command::SemanticAction, command::Screenshot>;

struct Request {
  std::string name;  // the "command" text, for observers
  Command command;
  nlohmann::json id;  // null when the request had none
};

struct RequestError {
  std::string code;
  std::string message;
  nlohmann::json id;  // the request's id when it could be read
};

[[nodiscard]] std::expected<Request, RequestError> parse_request(std::string_view line);

// {"ok": false, "error": message, "code": code}, with "id" first when `id` is not null.
nlohmann::ordered_json error_reply(std::string_view code, std::string_view message, const nlohmann::json& id = nullptr);
// One compact line (no newline); invalid UTF-8 from the application is replaced, never fatal.
std::string reply_line(const nlohmann::ordered_json& reply);

// The accessibility tree as automation reads it: {"id","role","label","value","description",
// "selected","focused","actions":[…],"children":[…]}.
nlohmann::ordered_json access_tree_json(const ui::a11y::AccessNode& node);

// A semantic action kind by the name the accessibility tree gives it (primary, focus, toggle,
// set-value, scroll).
std::optional<ui::a11y::SemanticActionKind> semantic_action_kind(std::string_view name);

}  // namespace kivo::automation
