#include "kivo/automation/protocol.h"

#include <array>
#include <set>
#include <vector>

#include <fmt/format.h>

#include "kivo/automation/client.h"

namespace kivo::automation {
namespace {

using Json = nlohmann::json;

// Duplicate keys would make a request mean what the last one says while a reader of the log
// sees the first; they and deep nesting are refused while parsing.
struct Scope {
  bool object = false;
  std::set<std::string, std::less<>> keys;
};

struct ParseChecks {
  std::vector<Scope> scopes;
  bool duplicate = false;
  bool too_deep = false;
};

std::expected<Json, std::string> parse_object(std::string_view line) {
  ParseChecks checks;
  const Json::parser_callback_t callback = [&checks](int, Json::parse_event_t event, Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
      case Json::parse_event_t::array_start:
        checks.scopes.push_back({event == Json::parse_event_t::object_start, {}});
        if (checks.scopes.size() > static_cast<std::size_t>(kMaxRequestDepth)) checks.too_deep = true;
        break;
      case Json::parse_event_t::object_end:
      case Json::parse_event_t::array_end:
        if (!checks.scopes.empty()) checks.scopes.pop_back();
        break;
      case Json::parse_event_t::key:
        if (!checks.scopes.empty() && parsed.is_string() &&
            !checks.scopes.back().keys.insert(parsed.get<std::string>()).second) {
          checks.duplicate = true;
        }
        break;
      case Json::parse_event_t::value: break;
    }
    return !checks.too_deep;
  };
  Json value = Json::parse(line.begin(), line.end(), callback, /*allow_exceptions=*/false);
  if (checks.too_deep) return std::unexpected(fmt::format("the request nests deeper than {} levels", kMaxRequestDepth));
  if (value.is_discarded()) return std::unexpected(std::string("the request is not valid JSON"));
  if (checks.duplicate) return std::unexpected(std::string("the request repeats a key"));
  if (!value.is_object()) return std::unexpected(std::string("the request is not a JSON object"));
  return value;
}

class Fields {
 public:
  Fields(const Json& object, const Json& id) : object_(object), id_(id) {}

  RequestError bad(std::string message) const { return {"bad_request", std::move(message), id_}; }

  std::expected<std::optional<std::string>, RequestError> text(std::string_view key, bool required) const {
    const auto it = object_.find(key);
    if (it == object_.end()) {
      if (required) return std::unexpected(bad(fmt::format("the request needs \"{}\"", key)));
      return std::nullopt;
    }
    if (!it->is_string()) return std::unexpected(bad(fmt::format("\"{}\" must be a string", key)));
    return it->get<std::string>();
  }

  std::expected<std::string, RequestError> required_text(std::string_view key) const {
    auto value = text(key, true);
    if (!value) return std::unexpected(value.error());
    return std::move(**value);
  }

  std::expected<bool, RequestError> flag(std::string_view key) const {
    const auto it = object_.find(key);
    if (it == object_.end()) return false;
    if (!it->is_boolean()) return std::unexpected(bad(fmt::format("\"{}\" must be true or false", key)));
    return it->get<bool>();
  }

  std::expected<std::optional<actions::context::CallerContext>, RequestError> caller() const {
    const auto it = object_.find("caller");
    if (it == object_.end()) return std::nullopt;
    if (!it->is_object()) return std::unexpected(bad("\"caller\" must be an object"));
    Fields inner(*it, id_);
    auto app_id = inner.text("app_id", false);
    if (!app_id) return std::unexpected(app_id.error());
    auto app_name = inner.text("app_name", false);
    if (!app_name) return std::unexpected(app_name.error());
    actions::context::CallerContext caller;
    caller.app_id = app_id->value_or("");
    caller.app_name = app_name->value_or("");
    return caller;
  }

  const Json& object() const { return object_; }

 private:
  const Json& object_;
  const Json& id_;
};

std::expected<Command, RequestError> parse_command(std::string_view name, const Fields& fields) {
  if (name == "resources") return command::Resources{};
  if (name == "tree") return command::Tree{};
  if (name == "screenshot") return command::Screenshot{};
  if (name == "dispatch") {
    auto type = fields.required_text("type");
    if (!type) return std::unexpected(type.error());
    if (type->empty()) return std::unexpected(fields.bad("\"type\" must not be empty"));
    const auto payload = fields.object().find("payload");
    if (payload == fields.object().end()) return std::unexpected(fields.bad("the request needs \"payload\""));
    auto caller = fields.caller();
    if (!caller) return std::unexpected(caller.error());
    return command::Dispatch{{std::move(*type), payload->dump()}, std::move(*caller)};
  }
  if (name == "invoke") {
    auto resource = fields.required_text("resource");
    if (!resource) return std::unexpected(resource.error());
    auto action = fields.required_text("action");
    if (!action) return std::unexpected(action.error());
    actions::params::ActionArgs arguments;
    if (const auto args = fields.object().find("arguments"); args != fields.object().end()) {
      if (!args->is_object()) return std::unexpected(fields.bad("\"arguments\" must be an object"));
      auto parsed = actions::params::ActionArgs::from_json(args->dump());
      if (!parsed) return std::unexpected(fields.bad(parsed.error()));
      arguments = std::move(*parsed);
    }
    auto caller = fields.caller();
    if (!caller) return std::unexpected(caller.error());
    return command::Invoke{std::move(*resource), std::move(*action), std::move(arguments), std::move(*caller)};
  }
  if (name == "poll") {
    auto text = fields.required_text("invocation");
    if (!text) return std::unexpected(text.error());
    const auto bytes = hex_decode(*text);
    command::Poll poll;
    if (!bytes || bytes->size() != poll.invocation.size()) {
      return std::unexpected(fields.bad("\"invocation\" must be 32 hex digits"));
    }
    std::copy(bytes->begin(), bytes->end(), poll.invocation.begin());
    auto cancel = fields.flag("cancel");
    if (!cancel) return std::unexpected(cancel.error());
    poll.cancel = *cancel;
    return poll;
  }
  if (name == "journal") {
    command::Journal journal;
    if (const auto since = fields.object().find("since"); since != fields.object().end()) {
      if (!since->is_number_unsigned()) return std::unexpected(fields.bad("\"since\" must be a non-negative integer"));
      journal.since = since->get<std::uint64_t>();
    }
    return journal;
  }
  if (name == "semantic-action") {
    auto element = fields.required_text("element");
    if (!element) return std::unexpected(element.error());
    auto action_name = fields.text("action", false);
    if (!action_name) return std::unexpected(action_name.error());
    auto value = fields.text("value", false);
    if (!value) return std::unexpected(value.error());
    const auto kind = semantic_action_kind(action_name->value_or("primary"));
    if (!kind) {
      return std::unexpected(
          fields.bad("\"action\" must be one of primary, focus, toggle, set-value and scroll"));
    }
    if (*kind == ui::a11y::SemanticActionKind::SetValue && !*value) {
      return std::unexpected(fields.bad("set-value needs \"value\""));
    }
    command::SemanticAction out;
    out.element = std::move(*element);
    out.action.kind = *kind;
    if (*kind == ui::a11y::SemanticActionKind::SetValue) out.action.value = std::move(**value);
    return out;
  }
  return std::unexpected(RequestError{"unknown_command", fmt::format("unknown command \"{}\"", name), nullptr});
}

}  // namespace

std::optional<ui::a11y::SemanticActionKind> semantic_action_kind(std::string_view name) {
  using Kind = ui::a11y::SemanticActionKind;
  for (const Kind kind : {Kind::Primary, Kind::Focus, Kind::Toggle, Kind::SetValue, Kind::ScrollIntoView}) {
    if (ui::a11y::action_name(kind) == name) return kind;
  }
  return std::nullopt;
}

std::expected<Request, RequestError> parse_request(std::string_view line) {
  if (line.size() > kMaxRequestBytes) {
    return std::unexpected(RequestError{"request_too_large", "the request exceeds the 64 KiB limit", nullptr});
  }
  auto object = parse_object(line);
  if (!object) return std::unexpected(RequestError{"bad_request", std::move(object.error()), nullptr});
  Json id = nullptr;
  if (const auto it = object->find("id"); it != object->end()) {
    if (it->is_structured()) return std::unexpected(RequestError{"bad_request", "\"id\" must be a scalar", nullptr});
    id = *it;
  }
  const Fields fields(*object, id);
  auto name = fields.required_text("command");
  if (!name) return std::unexpected(name.error());
  auto command = parse_command(*name, fields);
  if (!command) {
    command.error().id = id;
    return std::unexpected(std::move(command.error()));
  }
  return Request{std::move(*name), std::move(*command), std::move(id)};
}

nlohmann::ordered_json error_reply(std::string_view code, std::string_view message, const nlohmann::json& id) {
  nlohmann::ordered_json reply = nlohmann::ordered_json::object();
  if (!id.is_null()) reply["id"] = id;
  reply["ok"] = false;
  reply["error"] = message;
  reply["code"] = code;
  return reply;
}

std::string reply_line(const nlohmann::ordered_json& reply) {
  return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json access_tree_json(const ui::a11y::AccessNode& node) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["id"] = node.id;
  out["role"] = ui::a11y::role_name(node.role);
  out["label"] = node.label;
  out["value"] = node.value;
  out["description"] = node.description;
  out["selected"] = node.selected;
  out["focused"] = node.focused;
  nlohmann::ordered_json actions = nlohmann::ordered_json::array();
  for (const auto kind : node.actions) actions.push_back(ui::a11y::action_name(kind));
  out["actions"] = std::move(actions);
  if (node.bounds) {
    out["bounds"] = {{"x", node.bounds->x}, {"y", node.bounds->y}, {"w", node.bounds->w}, {"h", node.bounds->h}};
  }
  nlohmann::ordered_json children = nlohmann::ordered_json::array();
  for (const auto& child : node.children) children.push_back(access_tree_json(child));
  out["children"] = std::move(children);
  return out;
}

}  // namespace kivo::automation
