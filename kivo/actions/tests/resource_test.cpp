#include "kivo/actions/resource.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kivo/actions/json.h"

namespace kivo::actions {
namespace {

using nlohmann::json;

TEST(DeriveInput, SchemaFromParameters) {
  const struct {
    std::vector<ParamDescriptor> params;
    json schema;
  } cases[] = {
      {{}, json::parse(R"({"type":"object","properties":{},"required":[]})")},
      {{ParamDescriptor::text("value", "New name").with_hint("connection name")},
       json::parse(R"({"type":"object","properties":{"value":{"type":"string","title":"New name",
                      "x-hint":"connection name"}},"required":[]})")},
      {{ParamDescriptor::text("text", "command or text")
            .with_description("Text to deliver to the connected SSH terminal")
            .required_param(),
        ParamDescriptor::text("note", "Note")},
       json::parse(R"({"type":"object","properties":{
                      "text":{"type":"string","title":"command or text",
                              "description":"Text to deliver to the connected SSH terminal"},
                      "note":{"type":"string","title":"Note"}},"required":["text"]})")},
  };
  for (const auto& c : cases) EXPECT_EQ(json::parse(resource::derive_input(c.params)), c.schema);
}

TEST(EnforceOperationType, RefusesAnotherType) {
  auto same = resource::enforce_operation_type({"remote.operation", "\"ShowConnections\""}, "remote.operation");
  ASSERT_TRUE(same.has_value());
  EXPECT_EQ(same->payload, "\"ShowConnections\"");

  for (std::string_view declared : {"remote.action", "remote.operation.x", "", "Remote.operation"}) {
    auto other = resource::enforce_operation_type({"remote.operation", "{}"}, declared);
    ASSERT_FALSE(other.has_value()) << declared;
    EXPECT_EQ(other.error().kind, ActionError::Kind::WrongType);
    EXPECT_EQ(other.error().display(), "action payload has type `remote.operation` but `" + std::string(declared) +
                                           "` was declared");
  }
}

ActionSpec rename_spec(std::string produced_type) {
  return ActionSpec::from_arguments(
      "rename", "Rename connection", RiskLevel::DocumentEdit,
      {ParamDescriptor::text("value", "New name").with_hint("connection name")}, "remote.action",
      [produced_type](const params::ActionArgs& args) -> std::expected<EncodedAction, std::string> {
        const std::string name = args.text("value").value_or("");
        if (name == "refuse") return std::unexpected(std::string("name refused"));
        return EncodedAction{produced_type, json{{"name", name}}.dump()};
      });
}

TEST(ActionSpec, EncodeFromFixedPayloadsAndArguments) {
  const ActionSpec fixed =
      ActionSpec::fixed("open", "Show connections", RiskLevel::View, {"remote.operation", "\"ShowConnections\""});
  EXPECT_EQ(fixed.encode({}), (EncodedAction{"remote.operation", "\"ShowConnections\""}));
  EXPECT_EQ(fixed.operation_class(), OperationClass::View);

  const ActionSpec rename = rename_spec("remote.action");
  const struct {
    std::string args;
    std::expected<EncodedAction, ActionError::Kind> result;
  } cases[] = {
      {R"({"value":"Lab"})", EncodedAction{"remote.action", R"({"name":"Lab"})"}},
      {R"({})", EncodedAction{"remote.action", R"({"name":""})"}},
      {R"({"value":5})", EncodedAction{"remote.action", R"({"name":""})"}},  // not a text: absent
      {R"({"value":"refuse"})", std::unexpected(ActionError::Kind::Encode)},
  };
  for (const auto& c : cases) {
    auto args = params::ActionArgs::from_json(c.args);
    ASSERT_TRUE(args.has_value()) << c.args;
    auto encoded = rename.encode(*args);
    if (c.result) {
      ASSERT_TRUE(encoded.has_value()) << c.args << ": " << encoded.error().display();
      EXPECT_EQ(*encoded, *c.result);
    } else {
      ASSERT_FALSE(encoded.has_value()) << c.args;
      EXPECT_EQ(encoded.error().kind, c.result.error());
    }
  }

  // The encoder's output is checked against the declared type.
  auto mistyped = rename_spec("remote.operation").encode(params::ActionArgs().set_text("value", "x"));
  ASSERT_FALSE(mistyped.has_value());
  EXPECT_EQ(mistyped.error().kind, ActionError::Kind::WrongType);

  // An unavailable action refuses to encode, with its code and reason.
  const ActionSpec unavailable = ActionSpec::fixed("connect", "Connect", RiskLevel::Effect, {"remote.operation", "{}"})
                                     .with_unavailable("transport_backend_unavailable", "No backend.");
  auto refused = unavailable.encode({});
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, ActionError::Kind::Unavailable);
  EXPECT_EQ(refused.error().code, "transport_backend_unavailable");
  EXPECT_NE(refused.error().display().find("No backend."), std::string::npos);
}

TEST(ActionArgs, ReadsObjectsOnly) {
  for (std::string_view bad : {"[]", "\"x\"", "{", "", "null"}) {
    EXPECT_FALSE(params::ActionArgs::from_json(bad).has_value()) << bad;
  }
  auto args = params::ActionArgs::from_json(R"({"text":"ls\n","n":1,"o":{"a":"b"},"e":""})");
  ASSERT_TRUE(args.has_value());
  EXPECT_EQ(args->text("text"), "ls\n");
  EXPECT_EQ(args->text("e"), "");
  EXPECT_EQ(args->text("n"), std::nullopt);
  EXPECT_EQ(args->text("o"), std::nullopt);
  EXPECT_EQ(args->text("missing"), std::nullopt);
  EXPECT_TRUE(args->contains("n"));
  auto again = params::ActionArgs::from_json(args->to_json());
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->to_json(), args->to_json());
}

TEST(ResourceTree, BuildsInOrderAndServesJson) {
  Resource root =
      Resource::make("remote.connections", "remote.connection-list", "Remote connections")
          .with_action(ActionSpec::fixed("open", "Show connections", RiskLevel::View,
                                         {"remote.operation", "\"ShowConnections\""}))
          .with_action(ActionSpec::fixed("new", "New connection", RiskLevel::View,
                                         {"remote.operation", "\"NewConnectionForm\""}))
          .with_child(Resource::make("remote.connection:1", "remote.connection", "Lab")
                          .with_action(ActionSpec::fixed("connect", "Connect", RiskLevel::Effect,
                                                         {"remote.operation", "{\"Connect\":{}}"})
                                           .with_description("Open a live session.")
                                           .with_contract({"network", "session"})
                                           .with_unavailable("invalid_connection_profile", "Fix it."))
                          .with_action(rename_spec("remote.action"))
                          .with_action(ActionSpec::fixed("delete", "Delete connection", RiskLevel::DocumentEdit,
                                                         {"remote.action", "{}"})
                                           .destructive()));

  ASSERT_EQ(root.actions.size(), 2u);
  EXPECT_EQ(root.actions[1].name, "new");
  ASSERT_NE(root.find("remote.connection:1"), nullptr);
  EXPECT_EQ(root.find("remote.connection:2"), nullptr);
  EXPECT_EQ(root.find("remote.connection:1")->find_action("delete")->is_destructive, true);

  const json tree = json::parse(resources_json_text({root}));
  ASSERT_TRUE(tree.is_array());
  ASSERT_EQ(tree.size(), 1u);
  EXPECT_EQ(tree[0]["id"], "remote.connections");
  EXPECT_EQ(tree[0]["kind"], "remote.connection-list");
  EXPECT_EQ(tree[0]["actions"][0]["payload"],
            json::parse(R"({"type_name":"remote.operation","payload":"\"ShowConnections\""})"));
  EXPECT_EQ(tree[0]["actions"][0]["risk"], 2);

  const json& child = tree[0]["children"][0];
  EXPECT_EQ(child["label"], "Lab");
  EXPECT_EQ(child["children"], json::array());
  EXPECT_EQ(child["actions"][0], json::parse(R"({
      "name":"connect","label":"Connect","description":"Open a live session.","risk":1,"risk_name":"effect",
      "operation_class":"effect","input_schema":{"type":"object","properties":{},"required":[]},
      "payload":{"type_name":"remote.operation","payload":"{\"Connect\":{}}"},"argument_type":null,
      "contract":{"capabilities":["network","session"]},"destructive":false,"available":false,
      "unavailable":{"code":"invalid_connection_profile","reason":"Fix it."}})"));
  EXPECT_EQ(child["actions"][1]["payload"], nullptr);
  EXPECT_EQ(child["actions"][1]["argument_type"], "remote.action");
  EXPECT_EQ(child["actions"][1]["operation_class"], "none");
  EXPECT_EQ(child["actions"][1]["input_schema"]["properties"]["value"]["title"], "New name");
  EXPECT_EQ(child["actions"][2]["destructive"], true);
  EXPECT_EQ(child["actions"][2]["contract"], nullptr);
}

TEST(RiskLevel, OrdinalsAndClasses) {
  const struct {
    int ordinal;
    RiskLevel risk;
    OperationClass operation_class;
  } rows[] = {
      {0, RiskLevel::DocumentEdit, OperationClass::None},
      {1, RiskLevel::Effect, OperationClass::Effect},
      {2, RiskLevel::View, OperationClass::View},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ordinal(r.risk), r.ordinal);
    EXPECT_EQ(risk_from_ordinal(r.ordinal), r.risk);
    EXPECT_EQ(operation_class(r.risk), r.operation_class);
  }
  EXPECT_EQ(risk_from_ordinal(3), std::nullopt);
  EXPECT_EQ(risk_from_ordinal(-1), std::nullopt);
}

}  // namespace
}  // namespace kivo::actions
