// Every request kind through the real socket, against the test application.

#include <sys/stat.h>

#include "endpoint_fixture.h"

namespace kivo::automation::test {
namespace {

using nlohmann::json;

const json* find_action(const json& resource, std::string_view name) {
  for (const auto& action : resource["actions"]) {
    if (action["name"] == name) return &action;
  }
  return nullptr;
}

const json* find_node(const json& node, std::string_view id) {
  if (node["id"] == id) return &node;
  for (const auto& child : node["children"]) {
    if (const json* hit = find_node(child, id)) return hit;
  }
  return nullptr;
}

TEST_F(EndpointTest, ListsResourcesWithEveryActionDescribed) {
  const json reply = call({{"id", 1}, {"command", "resources"}});
  ASSERT_EQ(reply["ok"], true) << reply;
  EXPECT_EQ(reply["id"], 1);
  ASSERT_EQ(reply["resources"].size(), 1u);
  const json& root = reply["resources"][0];
  EXPECT_EQ(root["id"], "test.root");
  EXPECT_EQ(root["kind"], "test.list");
  EXPECT_EQ(root["label"], "Test root");
  ASSERT_EQ(root["children"].size(), 1u);
  EXPECT_EQ(root["children"][0]["id"], "test.item:1");
  EXPECT_EQ(root["children"][0]["actions"][0]["name"], "open");

  const json* slow = find_action(root, "slow");
  ASSERT_NE(slow, nullptr);
  EXPECT_EQ((*slow)["label"], "Slow");
  EXPECT_EQ((*slow)["description"], "Takes two polls");
  EXPECT_EQ((*slow)["risk"], 1);
  EXPECT_EQ((*slow)["contract"]["capabilities"], json({"network", "session"}));
  EXPECT_EQ((*slow)["payload"]["type_name"], "test.operation");
  EXPECT_EQ((*slow)["payload"]["payload"], "\"slow\"");
  EXPECT_EQ((*slow)["arguments"], false);
  EXPECT_EQ((*slow)["destructive"], false);
  EXPECT_TRUE((*slow)["unavailable"].is_null());

  const json* rename = find_action(root, "rename");
  ASSERT_NE(rename, nullptr);
  EXPECT_EQ((*rename)["risk"], 0);
  EXPECT_EQ((*rename)["arguments"], true);
  EXPECT_TRUE((*rename)["payload"].is_null());
  EXPECT_EQ((*rename)["input_schema"]["properties"]["value"]["title"], "New name");

  const json* locked = find_action(root, "locked");
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ((*locked)["unavailable"], json({{"code", "test_locked"}, {"reason", "Locked for the test"}}));
  EXPECT_EQ((*find_action(root, "forget"))["destructive"], true);
  EXPECT_EQ((*find_action(root, "show"))["risk"], 2);
  EXPECT_EQ(observed_, std::vector<std::string>{"resources"});
}

TEST_F(EndpointTest, DispatchedEditIsCommittedReportedAndJournalledBeforeTheReply) {
  const json reply = call({{"command", "dispatch"},
                           {"type", "test.edit"},
                           {"payload", {{"SetName", "Alpha"}}},
                           {"caller", {{"app_id", "io.example.script"}, {"app_name", "Script"}}}});
  ASSERT_EQ(reply["ok"], true) << reply;
  EXPECT_EQ(reply["committed"], true);
  EXPECT_EQ(reply["journal_sequence"], 1);
  // The application heard of the change before the caller heard back.
  EXPECT_EQ(app_.saved_name, "Alpha");
  EXPECT_EQ(document_.pending_ops(), 0u);

  const json tree = call({{"command", "tree"}});
  ASSERT_EQ(tree["ok"], true) << tree;
  const json* name = find_node(tree["tree"], "test.name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ((*name)["value"], "Alpha");

  const json journal = call({{"command", "journal"}});
  ASSERT_EQ(journal["entries"].size(), 1u) << journal;
  const json& entry = journal["entries"][0];
  EXPECT_EQ(entry["type_name"], "test.edit");
  EXPECT_EQ(entry["caller"], json({{"app_id", "io.example.script"}, {"app_name", "Script"}, {"label", "Set name"}}));
  EXPECT_NE(entry["heads_before"], entry["heads_after"]);
  EXPECT_EQ(journal["last_sequence"], 1);
  EXPECT_TRUE(call({{"command", "journal"}, {"since", 1}})["entries"].empty());

  // Refused dispatches change nothing and journal nothing.
  struct Refused {
    json request;
    std::string code;
  };
  const std::vector<Refused> refused = {
      {{{"command", "dispatch"}, {"type", "test.nothing"}, {"payload", json::object()}}, "unknown_type"},
      {{{"command", "dispatch"}, {"type", "test.edit"}, {"payload", {{"SetName", 5}}}}, "decode_failed"},
  };
  const auto heads = document_.heads();
  for (const auto& r : refused) {
    const json answer = call(r.request);
    EXPECT_EQ(answer["ok"], false) << r.request;
    EXPECT_EQ(answer["code"], r.code) << answer;
    EXPECT_FALSE(answer["error"].get<std::string>().empty());
  }
  EXPECT_EQ(document_.heads(), heads);
  EXPECT_EQ(call({{"command", "journal"}})["last_sequence"], 1);
}

TEST_F(EndpointTest, InvokeRoutesByTheDeclaredClassAndRefusesWhatCannotRun) {
  struct Case {
    std::string resource;
    std::string action;
    json arguments;
    // Expected: ok with route and outcome, or the error code.
    std::string route_or_code;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {"test.root", "show", nullptr, "perform", "done"},
      {"test.item:1", "open", nullptr, "perform", "done"},
      {"test.root", "quick", nullptr, "start", "completed"},
      {"test.root", "rename", {{"value", "Beta"}}, "document", ""},
      {"test.root", "refused", nullptr, "operation_error", ""},
      {"test.root", "locked", nullptr, "action_unavailable", ""},
      {"test.root", "sneaky", nullptr, "risk_mismatch", ""},
      {"test.root", "stray", nullptr, "unknown_type", ""},
      {"test.root", "fly", nullptr, "unknown_action", ""},
      {"test.nowhere", "show", nullptr, "unknown_resource", ""},
  };
  for (const auto& c : cases) {
    json request = {{"command", "invoke"}, {"resource", c.resource}, {"action", c.action}};
    if (!c.arguments.is_null()) request["arguments"] = c.arguments;
    const json reply = call(request);
    if (!c.outcome.empty() || c.route_or_code == "document") {
      ASSERT_EQ(reply["ok"], true) << c.action << ": " << reply;
      EXPECT_EQ(reply["route"], c.route_or_code) << c.action;
      if (!c.outcome.empty()) {
        EXPECT_EQ(reply["outcome"], c.outcome) << c.action;
      }
      EXPECT_FALSE(reply.contains("invocation")) << c.action;
    } else {
      ASSERT_EQ(reply["ok"], false) << c.action << ": " << reply;
      EXPECT_EQ(reply["code"], c.route_or_code) << c.action << ": " << reply;
    }
  }
  using Class = actions::OperationClass;
  EXPECT_EQ(app_.performed, (std::vector<std::pair<std::string, Class>>{{"show", Class::View}, {"open-item", Class::View}}));
  EXPECT_EQ(app_.started, (std::vector<std::pair<std::string, Class>>{{"quick", Class::Effect}, {"refused", Class::Effect}}));
  EXPECT_EQ(app_.saved_name, "Beta");

  const json locked = call({{"command", "invoke"}, {"resource", "test.root"}, {"action", "locked"}});
  EXPECT_EQ(locked["error"], "Locked for the test");
  EXPECT_EQ(locked["unavailable"], json({{"code", "test_locked"}, {"reason", "Locked for the test"}}));

  // The document action is journalled under the action's label for the named caller.
  const json journal = call({{"command", "journal"}});
  ASSERT_EQ(journal["entries"].size(), 1u);
  EXPECT_EQ(journal["entries"][0]["caller"]["label"], "Rename");
  EXPECT_EQ(journal["entries"][0]["caller"]["app_name"], kDefaultCallerName);
}

TEST_F(EndpointTest, BackgroundInvocationsArePolledUntilTheyFinish) {
  const auto start = [&](std::string_view action) {
    const json reply = call({{"command", "invoke"}, {"resource", "test.root"}, {"action", action}});
    EXPECT_EQ(reply["outcome"], "started") << reply;
    return reply["invocation"].get<std::string>();
  };
  const auto poll = [&](const std::string& id, bool cancel = false) {
    return call({{"command", "poll"}, {"invocation", id}, {"cancel", cancel}});
  };

  const std::string slow = start("slow");
  EXPECT_EQ(slow.size(), 32u);
  EXPECT_EQ(poll(slow)["outcome"], "nothing_yet");
  EXPECT_EQ(poll(slow)["outcome"], "completed");
  EXPECT_EQ(poll(slow)["code"], "unknown_invocation");  // finished ids are forgotten

  const std::string doomed = start("doomed");
  EXPECT_NE(doomed, slow);
  const json failed = poll(doomed);
  EXPECT_EQ(failed["ok"], true);
  EXPECT_EQ(failed["outcome"], "failed");
  EXPECT_EQ(failed["code"], "test.doomed");
  EXPECT_EQ(failed["message"], "the doomed operation failed");

  const std::string cancelled = start("slow");
  const json answer = poll(cancelled, true);
  EXPECT_EQ(answer["outcome"], "cancelled");
  EXPECT_EQ(answer["message"], "cancelled on request");

  EXPECT_EQ(poll(std::string(32, 'a'))["code"], "unknown_invocation");
}

TEST_F(EndpointTest, SemanticActionsChangeTheNextTree) {
  struct Case {
    json request;
    bool handled;
  };
  const std::vector<Case> cases = {
      {{{"command", "semantic-action"}, {"element", "test.field"}, {"action", "set-value"}, {"value", "héllo"}}, true},
      {{{"command", "semantic-action"}, {"element", "test.button"}}, true},
      {{{"command", "semantic-action"}, {"element", "test.button"}, {"action", "primary"}}, true},
      {{{"command", "semantic-action"}, {"element", "test.button"}, {"action", "toggle"}}, false},
      {{{"command", "semantic-action"}, {"element", "test.missing"}}, false},
  };
  for (const auto& c : cases) {
    const json reply = call(c.request);
    ASSERT_EQ(reply["ok"], true) << reply;
    EXPECT_EQ(reply["handled"], c.handled) << c.request;
  }
  const json tree = call({{"command", "tree"}})["tree"];
  EXPECT_EQ(tree["role"], "window");
  const json* field = find_node(tree, "test.field");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ((*field)["value"], "héllo");
  EXPECT_EQ((*field)["focused"], true);
  EXPECT_EQ((*field)["role"], "text-field");
  EXPECT_EQ((*field)["actions"], json({"focus", "set-value"}));
  EXPECT_EQ((*find_node(tree, "test.button"))["value"], "2");
}

TEST_F(EndpointTest, ScreenshotIsAPngOfTheWindowShowingTheCurrentState) {
  const auto shot = [&] {
    const json reply = call({{"command", "screenshot"}});
    EXPECT_EQ(reply["ok"], true) << reply.dump().substr(0, 200);
    EXPECT_EQ(reply["width"], kWidth);
    EXPECT_EQ(reply["height"], kHeight);
    const auto png = base64_decode(reply["png_base64"].get<std::string>());
    EXPECT_TRUE(png);
    auto decoded = png ? decode_png(*png) : std::nullopt;
    EXPECT_TRUE(decoded);
    return decoded;
  };
  const auto before = shot();
  ASSERT_TRUE(before);
  EXPECT_EQ(before->width, kWidth);
  EXPECT_EQ(before->height, kHeight);
  EXPECT_NE(before->at(20, 20), TestApp::kPressedColor);
  ASSERT_EQ(call({{"command", "semantic-action"}, {"element", "test.button"}})["handled"], true);
  const auto after = shot();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->at(20, 20), TestApp::kPressedColor);
  EXPECT_EQ(after->at(40, 40), before->at(40, 40));
}

TEST_F(EndpointTest, SocketIsPrivateAndRemovedWhenTheEndpointStops) {
  struct stat st{};
  ASSERT_EQ(lstat(socket().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(socket().parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  client_.reset();
  endpoint_.reset();
  EXPECT_FALSE(std::filesystem::exists(socket()));
  const auto gone = Client::connect(socket());
  ASSERT_FALSE(gone);
  EXPECT_NE(gone.error().find("nothing is listening"), std::string::npos) << gone.error();
}

}  // namespace
}  // namespace kivo::automation::test
