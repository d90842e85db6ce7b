#include "actions/apply.h"

#include <gtest/gtest.h>

#include "actions/action_json.h"
#include "doc/store.h"
#include "kivo/actions/executor.h"
#include "kivo/doc/document.h"

namespace remote::actions {
namespace {

using doc::ConnectionAuth;
using doc::ConnectionKind;

TEST(DecodeAction, RefusalsCarryTheTypeName) {
  auto refused = decode_action(R"({"DeleteConnection":{}})");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), (kivo::actions::DecodeError{"remote.action", "missing field `id`"}));

  const kivo::Uuid id = kivo::Uuid::new_v4();
  auto decoded = decode_action(encode_action(SetFavorite{id, true}).payload);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ((*decoded)->debug_description(), "SetFavorite { id: " + id.to_string() + ", favorite: true }");
  EXPECT_FALSE((*decoded)->requires_confirmation());
  EXPECT_TRUE((*decoded)->is_document_edit());
}

// Document edits decoded from their JSON and run by the framework's executor against a real
// document, the way automation reaches them.
TEST(DecodeAction, EditsThroughTheExecutor) {
  kivo::actions::ActionRegistry registry;
  registry.insert(std::string(kActionTypeName), decode_action);
  kivo::doc::Document document;
  kivo::actions::executor::LocalTransport transport(registry, document);
  const kivo::Uuid id = kivo::Uuid::new_v4();
  const kivo::Uuid absent = kivo::Uuid::new_v4();
  const UpsertConnection upsert{id, "Lab", "lab.example", 22, "ops", ConnectionKind::Ssh, ConnectionAuth::Password, ""};
  UpsertConnection renamed_upsert = upsert;
  renamed_upsert.name = "Lab 2";
  renamed_upsert.port = 2222;

  const struct {
    const char* name;
    RemoteAction action;
    bool commits;
    std::vector<std::tuple<std::string, std::uint16_t, bool, std::string>> profiles;  // name, port, favourite, last used
  } steps[] = {
      {"new profile", upsert, true, {{"Lab", 22, false, "Never"}}},
      {"same upsert again writes nothing", upsert, false, {{"Lab", 22, false, "Never"}}},
      {"favourite", SetFavorite{id, true}, true, {{"Lab", 22, true, "Never"}}},
      {"upsert keeps the favourite", renamed_upsert, true, {{"Lab 2", 2222, true, "Never"}}},
      {"rename", RenameConnection{id, "Bench"}, true, {{"Bench", 2222, true, "Never"}}},
      {"rename of an absent id", RenameConnection{absent, "Ghost"}, false, {{"Bench", 2222, true, "Never"}}},
      {"favourite of an absent id", SetFavorite{absent, true}, false, {{"Bench", 2222, true, "Never"}}},
      {"delete of an absent id", DeleteConnection{absent}, false, {{"Bench", 2222, true, "Never"}}},
      {"delete", DeleteConnection{id}, true, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    auto receipt = kivo::actions::executor::dispatch_by(transport, encode_action(step.action));
    ASSERT_TRUE(receipt.has_value()) << receipt.error().display();
    EXPECT_EQ(receipt->committed, step.commits);
    std::vector<std::tuple<std::string, std::uint16_t, bool, std::string>> got;
    for (const auto& p : doc::read_profiles(document)) got.emplace_back(p.name, p.port, p.favorite, p.last_used);
    EXPECT_EQ(got, step.profiles);
  }

  auto bad = kivo::actions::executor::dispatch_by(transport, {"remote.action", R"({"SetFavorite":{"id":"x"}})"});
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().kind, kivo::actions::ActionError::Kind::Decode);
  EXPECT_EQ(bad.error().display(),
            R"(could not decode `remote.action` action: invalid value: string "x", expected a UUID)");
}

}  // namespace
}  // namespace remote::actions
