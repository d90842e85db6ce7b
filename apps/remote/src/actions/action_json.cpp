#include "actions/action_json.h"

#include <fmt/format.h>

#include <array>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <vector>

#include "kivo/base/log.h"
#include "kivo/base/text.h"

namespace remote::actions {
namespace {

using Json = nlohmann::ordered_json;
template <typename T>
using Result = std::expected<T, std::string>;
using Problem = std::optional<std::string>;

// ---------------------------------------------------------------------------------------------
// Reading. The payload is first read into a small tree that keeps every member of an object in
// order, duplicates included, so that a repeated field can be refused instead of silently
// replaced.

struct Value {
  enum class Type { Null, Boolean, Negative, Unsigned, Float, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  std::int64_t negative = 0;
  std::uint64_t unsigned_value = 0;
  std::string text;  // a string, or a float's token as written
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;
};


// Nesting beyond this is refused before it is built; no payload of ours comes close.
constexpr std::size_t kMaxDepth = 128;

class TreeBuilder final : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return add(Value{}); }
  bool boolean(bool b) override {
    Value v;
    v.type = Value::Type::Boolean;
    v.boolean = b;
    return add(std::move(v));
  }
  bool number_integer(number_integer_t n) override {
    Value v;
    v.type = Value::Type::Negative;
    v.negative = n;
    return add(std::move(v));
  }
  bool number_unsigned(number_unsigned_t n) override {
    Value v;
    v.type = Value::Type::Unsigned;
    v.unsigned_value = n;
    return add(std::move(v));
  }
  bool number_float(number_float_t, const string_t& token) override {
    Value v;
    v.type = Value::Type::Float;
    v.text = token;
    return add(std::move(v));
  }
  bool string(string_t& s) override {
    Value v;
    v.type = Value::Type::String;
    v.text = std::move(s);
    return add(std::move(v));
  }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool start_object(std::size_t) override { return open(Value::Type::Object); }
  bool key(string_t& k) override {
    keys_.back() = std::move(k);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value::Type::Array); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
    std::string_view what = ex.what();
    // "[json.exception.parse_error.101] parse error at …": the bracketed tag means nothing to
    // the reader of the message.
    if (what.starts_with('[')) {
      if (const auto end = what.find("] "); end != std::string_view::npos) what.remove_prefix(end + 2);
    }
    // The parser quotes what it last read, which may be any bytes; messages stay UTF-8.
    return fail(kivo::text::to_valid_utf8(what));
  }

  Result<Value> take() {
    if (error_) return std::unexpected(*error_);
    if (!root_) return std::unexpected(std::string("EOF while parsing a value"));
    return std::move(*root_);
  }

 private:
  bool fail(std::string message) {
    if (!error_) error_ = std::move(message);
    return false;
  }

  bool open(Value::Type type) {
    if (stack_.size() >= kMaxDepth) return fail("recursion limit exceeded");
    Value v;
    v.type = type;
    stack_.push_back(std::move(v));
    keys_.emplace_back();
    return true;
  }

  bool close() {
    Value done = std::move(stack_.back());
    stack_.pop_back();
    keys_.pop_back();
    return add(std::move(done));
  }

  bool add(Value v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return true;
    }
    Value& parent = stack_.back();
    if (parent.type == Value::Type::Array) {
      parent.items.push_back(std::move(v));
    } else {
      parent.members.emplace_back(std::move(keys_.back()), std::move(v));
    }
    return true;
  }

  std::vector<Value> stack_;
  std::vector<std::string> keys_;
  std::optional<Value> root_;
  std::optional<std::string> error_;
};

Result<Value> read_tree(std::string_view payload) {
  TreeBuilder builder;
  nlohmann::json::sax_parse(payload, &builder, nlohmann::json::input_format_t::json, /*strict=*/true);
  return builder.take();
}

std::string json_quoted(std::string_view text) {
  return Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// How a value is named in messages: "string \"x\"", "integer `5`", "map", …
std::string unexpected(const Value& v) {
  switch (v.type) {
    case Value::Type::Null: return "null";
    case Value::Type::Boolean: return fmt::format("boolean `{}`", v.boolean);
    case Value::Type::Negative: return fmt::format("integer `{}`", v.negative);
    case Value::Type::Unsigned: return fmt::format("integer `{}`", v.unsigned_value);
    case Value::Type::Float: return fmt::format("floating point `{}`", v.text);
    case Value::Type::String: return "string " + json_quoted(v.text);
    case Value::Type::Array: return "sequence";
    case Value::Type::Object: return "map";
  }
  return "value";
}

std::string invalid_type(const Value& v, std::string_view expected) {
  return fmt::format("invalid type: {}, expected {}", unexpected(v), expected);
}
std::string invalid_value(const Value& v, std::string_view expected) {
  return fmt::format("invalid value: {}, expected {}", unexpected(v), expected);
}
std::string invalid_length(std::size_t length, std::string_view expected) {
  return fmt::format("invalid length {}, expected {}", length, expected);
}
std::string unknown_variant(std::string_view name, std::span<const std::string_view> variants) {
  std::string message = fmt::format("unknown variant `{}`, expected ", name);
  if (variants.size() == 1) return message + fmt::format("`{}`", variants[0]);
  message += "one of ";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    if (i > 0) message += ", ";
    message += fmt::format("`{}`", variants[i]);
  }
  return message;
}

Problem read_uuid(const Value& v, kivo::Uuid& out) {
  if (v.type != Value::Type::String) return invalid_type(v, "a UUID string");
  auto id = kivo::Uuid::parse(v.text);
  if (!id) return invalid_value(v, "a UUID");
  out = *id;
  return std::nullopt;
}

Problem read_text(const Value& v, std::string& out) {
  if (v.type != Value::Type::String) return invalid_type(v, "a string");
  out = v.text;
  return std::nullopt;
}

Problem read_port(const Value& v, std::uint16_t& out) {
  if (v.type == Value::Type::Negative) return invalid_value(v, "u16");
  if (v.type != Value::Type::Unsigned) return invalid_type(v, "u16");
  if (v.unsigned_value > 65535) return invalid_value(v, "u16");
  out = static_cast<std::uint16_t>(v.unsigned_value);
  return std::nullopt;
}

Problem read_bool(const Value& v, bool& out) {
  if (v.type != Value::Type::Boolean) return invalid_type(v, "a boolean");
  out = v.boolean;
  return std::nullopt;
}

// A field-less enum: the string of a variant name, or (as any externally tagged enum may be
// written) a single-member object naming it with a null value.
template <typename E, std::size_t N>
Problem read_unit_enum(const Value& v, std::string_view enum_name, const E (&values)[N],
                       std::string_view (*text_of)(E), E& out) {
  const std::string* name = nullptr;
  const Value* content = nullptr;
  if (v.type == Value::Type::String) {
    name = &v.text;
  } else if (v.type == Value::Type::Object) {
    if (v.members.size() != 1) return invalid_value(v, "map with a single key");
    name = &v.members[0].first;
    content = &v.members[0].second;
  } else {
    return invalid_type(v, fmt::format("enum {}", enum_name));
  }
  for (E candidate : values) {
    if (text_of(candidate) == *name) {
      if (content && content->type != Value::Type::Null) return invalid_type(*content, "unit variant");
      out = candidate;
      return std::nullopt;
    }
  }
  std::array<std::string_view, N> names{};
  for (std::size_t i = 0; i < N; ++i) names[i] = text_of(values[i]);
  return unknown_variant(*name, names);
}

Problem read_kind(const Value& v, doc::ConnectionKind& out) {
  return read_unit_enum(v, "ConnectionKind", doc::kAllKinds, doc::json_text, out);
}
Problem read_auth(const Value& v, doc::ConnectionAuth& out) {
  return read_unit_enum(v, "ConnectionAuth", doc::kAllAuths, doc::json_text, out);
}

using FieldReader = std::function<Problem(std::size_t index, const Value& value)>;

// The fields of a struct, from an object (any order, unknown members ignored, repeats refused)
// or from an array in declaration order. `expecting` names the struct in messages.
Problem read_fields(const Value& v, std::string_view expecting, std::span<const std::string_view> names,
                    const FieldReader& read) {
  if (v.type == Value::Type::Array) {
    const std::size_t n = names.size();
    const std::string with_count = fmt::format("{} with {} element{}", expecting, n, n == 1 ? "" : "s");
    for (std::size_t i = 0; i < v.items.size() && i < n; ++i) {
      if (auto problem = read(i, v.items[i])) return problem;
    }
    if (v.items.size() != n) return invalid_length(v.items.size(), with_count);
    return std::nullopt;
  }
  if (v.type != Value::Type::Object) return invalid_type(v, expecting);
  std::vector<bool> seen(names.size(), false);
  for (const auto& [key, member] : v.members) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] != key) continue;
      if (seen[i]) return fmt::format("duplicate field `{}`", key);
      seen[i] = true;
      if (auto problem = read(i, member)) return problem;
      break;
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!seen[i]) return fmt::format("missing field `{}`", names[i]);
  }
  return std::nullopt;
}

Problem read_observed(const Value& v, ObservedHostKey& out) {
  static constexpr std::string_view kNames[] = {"algorithm", "fingerprint"};
  return read_fields(v, "struct HostKeyIdentity", kNames, [&](std::size_t i, const Value& field) {
    return read_text(field, i == 0 ? out.algorithm : out.fingerprint);
  });
}

// One variant of an externally tagged enum: its name, its field names (none for a unit
// variant) and how to read it.
template <typename Enum>
struct VariantReader {
  std::string_view name;
  std::vector<std::string_view> fields;
  // Reads the fields into a fresh variant; unit variants ignore the reader.
  std::function<Result<Enum>(const std::function<Problem(const FieldReader&)>&)> build;
};

template <typename Enum>
Result<Enum> read_enum(const Value& v, std::string_view enum_name, const std::vector<VariantReader<Enum>>& variants) {
  const std::string* name = nullptr;
  const Value* content = nullptr;
  if (v.type == Value::Type::String) {
    name = &v.text;
  } else if (v.type == Value::Type::Object) {
    if (v.members.size() != 1) return std::unexpected(invalid_value(v, "map with a single key"));
    name = &v.members[0].first;
    content = &v.members[0].second;
  } else {
    return std::unexpected(invalid_type(v, fmt::format("enum {}", enum_name)));
  }
  for (const auto& variant : variants) {
    if (variant.name != *name) continue;
    const std::string expecting = fmt::format("struct variant {}::{}", enum_name, variant.name);
    if (variant.fields.empty()) {
      if (content && content->type != Value::Type::Null) {
        return std::unexpected(invalid_type(*content, "unit variant"));
      }
    } else if (!content) {
      return std::unexpected(fmt::format("invalid type: unit variant, expected {}", expecting));
    }
    return variant.build([&](const FieldReader& read) -> Problem {
      return read_fields(*content, expecting, variant.fields, read);
    });
  }
  std::vector<std::string_view> names;
  for (const auto& variant : variants) names.push_back(variant.name);
  return std::unexpected(unknown_variant(*name, names));
}

template <typename T, typename Enum>
Result<Enum> finish(Problem problem, T value) {
  if (problem) return std::unexpected(std::move(*problem));
  return Enum{std::move(value)};
}

const std::vector<VariantReader<RemoteAction>>& action_variants() {
  using Fields = std::function<Problem(const FieldReader&)>;
  static const std::vector<VariantReader<RemoteAction>> variants = {
      {"UpsertConnection",
       {"id", "name", "host", "port", "user", "kind", "auth", "group"},
       [](const Fields& fields) {
         UpsertConnection a;
         auto problem = fields([&](std::size_t i, const Value& v) -> Problem {
           switch (i) {
             case 0: return read_uuid(v, a.id);
             case 1: return read_text(v, a.name);
             case 2: return read_text(v, a.host);
             case 3: return read_port(v, a.port);
             case 4: return read_text(v, a.user);
             case 5: return read_kind(v, a.kind);
             case 6: return read_auth(v, a.auth);
             default: return read_text(v, a.group);
           }
         });
         return finish<UpsertConnection, RemoteAction>(std::move(problem), std::move(a));
       }},
      {"RenameConnection",
       {"id", "name"},
       [](const Fields& fields) {
         RenameConnection a;
         auto problem = fields([&](std::size_t i, const Value& v) {
           return i == 0 ? read_uuid(v, a.id) : read_text(v, a.name);
         });
         return finish<RenameConnection, RemoteAction>(std::move(problem), std::move(a));
       }},
      {"SetFavorite",
       {"id", "favorite"},
       [](const Fields& fields) {
         SetFavorite a;
         auto problem = fields([&](std::size_t i, const Value& v) {
           return i == 0 ? read_uuid(v, a.id) : read_bool(v, a.favorite);
         });
         return finish<SetFavorite, RemoteAction>(std::move(problem), std::move(a));
       }},
      {"DeleteConnection",
       {"id"},
       [](const Fields& fields) {
         DeleteConnection a;
         auto problem = fields([&](std::size_t, const Value& v) { return read_uuid(v, a.id); });
         return finish<DeleteConnection, RemoteAction>(std::move(problem), std::move(a));
       }},
  };
  return variants;
}

// Operations whose only field is the profile id.
template <typename Op>
VariantReader<RemoteOperation> id_only(std::string_view name) {
  return {name, {"connection_id"}, [](const std::function<Problem(const FieldReader&)>& fields) {
            Op op;
            auto problem = fields([&](std::size_t, const Value& v) { return read_uuid(v, op.connection_id); });
            return finish<Op, RemoteOperation>(std::move(problem), std::move(op));
          }};
}

template <typename Op>
VariantReader<RemoteOperation> unit(std::string_view name) {
  return {name, {}, [](const std::function<Problem(const FieldReader&)>&) -> Result<RemoteOperation> {
            return RemoteOperation{Op{}};
          }};
}

const std::vector<VariantReader<RemoteOperation>>& operation_variants() {
  using Fields = std::function<Problem(const FieldReader&)>;
  static const std::vector<VariantReader<RemoteOperation>> variants = {
      unit<ShowConnections>("ShowConnections"),
      unit<NewConnectionForm>("NewConnectionForm"),
      id_only<EditConnection>("EditConnection"),
      id_only<Connect>("Connect"),
      id_only<Disconnect>("Disconnect"),
      {"SendText",
       {"connection_id", "text"},
       [](const Fields& fields) {
         SendText op;
         auto problem = fields([&](std::size_t i, const Value& v) {
           return i == 0 ? read_uuid(v, op.connection_id) : read_text(v, op.text);
         });
         return finish<SendText, RemoteOperation>(std::move(problem), std::move(op));
       }},
      {"TrustSshHostKey",
       {"connection_id", "observed"},
       [](const Fields& fields) {
         TrustSshHostKey op;
         auto problem = fields([&](std::size_t i, const Value& v) {
           return i == 0 ? read_uuid(v, op.connection_id) : read_observed(v, op.observed);
         });
         return finish<TrustSshHostKey, RemoteOperation>(std::move(problem), std::move(op));
       }},
      id_only<ForgetSshHostKey>("ForgetSshHostKey"),
  };
  return variants;
}

// ---------------------------------------------------------------------------------------------
// Writing.

Json tagged(std::string_view variant, Json fields) {
  Json out = Json::object();
  out[std::string(variant)] = std::move(fields);
  return out;
}

Json to_json(const RemoteAction& action) {
  return std::visit(
      [&](const auto& a) -> Json {
        using T = std::decay_t<decltype(a)>;
        Json fields = Json::object();
        fields["id"] = a.id.to_string();
        if constexpr (std::is_same_v<T, UpsertConnection>) {
          fields["name"] = a.name;
          fields["host"] = a.host;
          fields["port"] = a.port;
          fields["user"] = a.user;
          fields["kind"] = doc::json_text(a.kind);
          fields["auth"] = doc::json_text(a.auth);
          fields["group"] = a.group;
        } else if constexpr (std::is_same_v<T, RenameConnection>) {
          fields["name"] = a.name;
        } else if constexpr (std::is_same_v<T, SetFavorite>) {
          fields["favorite"] = a.favorite;
        }
        return tagged(variant_name(action), std::move(fields));
      },
      action);
}

Json to_json(const RemoteOperation& operation) {
  return std::visit(
      [&](const auto& op) -> Json {
        using T = std::decay_t<decltype(op)>;
        const std::string_view name = variant_name(operation);
        if constexpr (std::is_same_v<T, ShowConnections> || std::is_same_v<T, NewConnectionForm>) {
          return Json(name);
        } else {
          Json fields = Json::object();
          fields["connection_id"] = op.connection_id.to_string();
          if constexpr (std::is_same_v<T, SendText>) {
            fields["text"] = op.text;
          } else if constexpr (std::is_same_v<T, TrustSshHostKey>) {
            fields["observed"] = {{"algorithm", op.observed.algorithm}, {"fingerprint", op.observed.fingerprint}};
          }
          return tagged(name, std::move(fields));
        }
      },
      operation);
}

}  // namespace

std::string action_json(const RemoteAction& action) {
  try {
    return to_json(action).dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::exception&) {
    kivo::fatal("RemoteAction is always serializable");
  }
}

std::string operation_json(const RemoteOperation& operation) {
  try {
    return to_json(operation).dump();
  } catch (const std::exception&) {
    return {};
  }
}

Result<RemoteAction> parse_action(std::string_view payload) {
  auto tree = read_tree(payload);
  if (!tree) return std::unexpected(std::move(tree.error()));
  return read_enum(*tree, "RemoteAction", action_variants());
}

Result<RemoteOperation> parse_operation(std::string_view payload) {
  auto tree = read_tree(payload);
  if (!tree) return std::unexpected(std::move(tree.error()));
  return read_enum(*tree, "RemoteOperation", operation_variants());
}

kivo::actions::EncodedAction encode_action(const RemoteAction& action) {
  return {std::string(kActionTypeName), action_json(action)};
}

kivo::actions::EncodedAction encode_operation(const RemoteOperation& operation) {
  return {std::string(kOperationTypeName), operation_json(operation)};
}

std::optional<Result<RemoteOperation>> decode_operation(std::string_view type_name, std::string_view payload) {
  if (type_name != kOperationTypeName) return std::nullopt;
  return parse_operation(payload);
}

}  // namespace remote::actions
