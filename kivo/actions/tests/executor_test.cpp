#include "kivo/actions/executor.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kivo/actions/bound_dispatch.h"
#include "kivo/actions/json.h"
#include "kivo/doc/document.h"
#include "kivo/doc/persist.h"

namespace kivo::actions {
namespace {

// Test actions over the root map. Payload "key=value" puts the value under the key; what each
// type does besides is in its name.
struct Behaviour {
  bool fail_after_put = false;
  bool document_edit = true;
  bool needs_confirmation = false;
  bool put = true;
};

class TestAction final : public ApplicableAction {
 public:
  TestAction(std::string key, std::string value, Behaviour behaviour)
      : key_(std::move(key)), value_(std::move(value)), behaviour_(behaviour) {}
  std::string debug_description() const override { return "Put { " + key_ + " = " + value_ + " }"; }
  std::expected<void, std::string> apply(doc::Document& document) const override {
    if (behaviour_.put) {
      if (auto put = document.put(doc::kRoot, key_, doc::Value{value_}); !put) return std::unexpected(put.error().message);
    }
    if (behaviour_.fail_after_put) return std::unexpected(std::string("disk on fire"));
    return {};
  }
  bool requires_confirmation() const override { return behaviour_.needs_confirmation; }
  bool is_document_edit() const override { return behaviour_.document_edit; }

 private:
  std::string key_, value_;
  Behaviour behaviour_;
};

Decoder decoder_for(std::string type_name, Behaviour behaviour) {
  return [type_name, behaviour](std::string_view payload) -> DecodeResult {
    const auto eq = payload.find('=');
    if (eq == std::string_view::npos) return std::unexpected(DecodeError{type_name, "expected key=value"});
    return std::make_unique<TestAction>(std::string(payload.substr(0, eq)), std::string(payload.substr(eq + 1)),
                                        behaviour);
  };
}

class ExecutorTest : public ::testing::Test {
 protected:
  ExecutorTest() {
    registry.insert("test.put", decoder_for("test.put", {}));
    registry.insert("test.fail", decoder_for("test.fail", {.fail_after_put = true}));
    registry.insert("test.view", decoder_for("test.view", {.document_edit = false, .put = false}));
    registry.insert("test.sneaky", decoder_for("test.sneaky", {.document_edit = false}));
    registry.insert("test.confirm", decoder_for("test.confirm", {.needs_confirmation = true}));
  }

  std::optional<std::string> value(std::string_view key) const {
    auto got = document.get(doc::kRoot, key);
    if (!got || !*got) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&**got)) return *text;
    return std::nullopt;
  }

  context::ActionContext acting(bool confirmed = false) const {
    return {{document.actor().bytes.begin(), document.actor().bytes.end()}, std::nullopt, confirmed};
  }

  ActionRegistry registry;
  doc::Document document;
};

TEST_F(ExecutorTest, OutcomesOfOneDispatch) {
  executor::LocalTransport transport(registry, document);
  const auto other_device = context::ActionContext{std::vector<std::uint8_t>(16, 0xee), std::nullopt, true};
  const struct {
    const char* name;
    EncodedAction action;
    std::optional<context::ActionContext> context;
    std::optional<ActionError::Kind> error;
    bool changes_document;
  } cases[] = {
      {"applies and commits", {"test.put", "a=1"}, std::nullopt, std::nullopt, true},
      {"with the acting device's context", {"test.put", "b=2"}, acting(), std::nullopt, true},
      {"view action changes nothing", {"test.view", "c=3"}, std::nullopt, std::nullopt, false},
      {"unregistered type", {"test.nope", "d=4"}, std::nullopt, ActionError::Kind::UnknownType, false},
      {"payload the decoder refuses", {"test.put", "no equals"}, std::nullopt, ActionError::Kind::Decode, false},
      {"failed apply is undone", {"test.fail", "e=5"}, std::nullopt, ActionError::Kind::Apply, false},
      {"non-edit that edits is undone", {"test.sneaky", "f=6"}, std::nullopt, ActionError::Kind::Apply, false},
      {"needs confirmation, none given", {"test.confirm", "g=7"}, std::nullopt,
       ActionError::Kind::ConfirmationRequired, false},
      {"needs confirmation, unconfirmed context", {"test.confirm", "g=7"}, acting(false),
       ActionError::Kind::ConfirmationRequired, false},
      {"needs confirmation, confirmed", {"test.confirm", "g=7"}, acting(true), std::nullopt, true},
      {"meant for another device", {"test.put", "h=8"}, other_device, ActionError::Kind::WrongDevice, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto heads_before = document.heads();
    const std::string key = c.action.payload.substr(0, c.action.payload.find('='));
    const auto result = c.context ? executor::dispatch_by_with_context(transport, c.action, *c.context)
                                  : executor::dispatch_by(transport, c.action);
    if (c.error) {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().kind, *c.error);
      EXPECT_EQ(result.error().type_name, c.action.type_name);
      EXPECT_FALSE(result.error().display().empty());
    } else {
      ASSERT_TRUE(result.has_value()) << result.error().display();
      EXPECT_EQ(result->committed, c.changes_document);
    }
    EXPECT_EQ(document.pending_ops(), 0u);
    EXPECT_EQ(document.heads() != heads_before, c.changes_document);
    EXPECT_EQ(value(key).has_value(), c.changes_document);
  }
  EXPECT_EQ(value("a"), "1");
}

TEST_F(ExecutorTest, EarlierPendingEditsAreCommittedApartAndFailuresKeepThem) {
  std::vector<std::size_t> ops_per_commit;
  executor::LocalTransport transport(registry, document, [&](doc::Document& doc) -> std::expected<void, std::string> {
    ops_per_commit.push_back(doc.pending_ops());
    doc.commit();
    return {};
  });

  ASSERT_TRUE(document.put(doc::kRoot, "earlier", doc::Value{std::string("x")}).has_value());
  ASSERT_TRUE(executor::dispatch_by(transport, {"test.put", "k=v"}).has_value());
  EXPECT_EQ(ops_per_commit, (std::vector<std::size_t>{1, 1}));

  // A failed action leaves earlier edits committed, and only its own undone.
  ASSERT_TRUE(document.put(doc::kRoot, "kept", doc::Value{std::string("y")}).has_value());
  EXPECT_FALSE(executor::dispatch_by(transport, {"test.fail", "gone=1"}).has_value());
  EXPECT_EQ(value("kept"), "y");
  EXPECT_EQ(value("gone"), std::nullopt);
  EXPECT_EQ(document.pending_ops(), 0u);

  // The document still works after being restored: later edits commit as usual.
  ASSERT_TRUE(executor::dispatch_by(transport, {"test.put", "after=2"}).has_value());
  EXPECT_EQ(value("after"), "2");
}

TEST_F(ExecutorTest, CommitFailureIsReported) {
  executor::LocalTransport transport(registry, document, [](doc::Document&) -> std::expected<void, std::string> {
    return std::unexpected(std::string("log is read-only"));
  });
  auto result = executor::dispatch_by(transport, {"test.put", "k=v"});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, ActionError::Kind::Commit);
  EXPECT_NE(result.error().display().find("log is read-only"), std::string::npos);
  EXPECT_EQ(value("k"), std::nullopt);
  EXPECT_EQ(document.pending_ops(), 0u);
}

TEST_F(ExecutorTest, PersistedCommitsReachTheLog) {
  char pattern[] = "/tmp/kivo-actions-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  const doc::persist::Location location{dir / "shared", dir / "device"};
  {
    auto persisted = doc::persist::open(location);
    ASSERT_TRUE(persisted.has_value()) << persisted.error().message;
    executor::LocalTransport transport(registry, persisted->document(), executor::persisted_committer(*persisted));
    ASSERT_TRUE(executor::dispatch_by(transport, {"test.put", "saved=yes"}).has_value());
    EXPECT_FALSE(executor::dispatch_by(transport, {"test.fail", "lost=yes"}).has_value());

    // A committer bound to another document refuses rather than committing the wrong one.
    executor::LocalTransport mismatched(registry, document, executor::persisted_committer(*persisted));
    auto refused = executor::dispatch_by(mismatched, {"test.put", "x=1"});
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, ActionError::Kind::Commit);
    EXPECT_EQ(value("x"), std::nullopt);
    EXPECT_EQ(document.pending_ops(), 0u);
  }
  {
    auto reopened = doc::persist::open(location);
    ASSERT_TRUE(reopened.has_value()) << reopened.error().message;
    auto saved = reopened->document().get(doc::kRoot, "saved");
    ASSERT_TRUE(saved.has_value() && saved->has_value());
    EXPECT_EQ(std::get<std::string>(**saved), "yes");
    auto lost = reopened->document().get(doc::kRoot, "lost");
    ASSERT_TRUE(lost.has_value());
    EXPECT_FALSE(lost->has_value());
  }
  std::filesystem::remove_all(dir);
}

TEST_F(ExecutorTest, JournalRecordsHeadsAroundDispatches) {
  bound_dispatch::ActionJournal journal(2);
  executor::LocalTransport transport(registry, document);
  const context::CallerContext caller{"org.example.remote", "Remote", "Put"};

  EXPECT_FALSE(bound_dispatch::typed_action_before(nullptr, document, {"test.put", "a=1"}, caller).has_value());

  std::vector<std::vector<doc::ChangeHash>> heads_seen{document.heads()};
  for (const char* payload : {"a=1", "b=2", "c=3"}) {
    const EncodedAction action{"test.put", payload};
    auto record = bound_dispatch::typed_action_before(&journal, document, action, caller);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->heads_before, heads_seen.back());
    ASSERT_TRUE(executor::dispatch_by(transport, action).has_value());
    heads_seen.push_back(document.heads());
    bound_dispatch::report_typed_action(&journal, std::move(*record), document.heads());
  }

  // Capacity 2: the oldest entry is gone, sequences keep counting.
  ASSERT_EQ(journal.entries().size(), 2u);
  EXPECT_EQ(journal.last_sequence(), 3u);
  const auto newest = journal.entries_since(2);
  ASSERT_EQ(newest.size(), 1u);
  EXPECT_EQ(newest[0].sequence, 3u);
  EXPECT_EQ(newest[0].action.payload, "c=3");
  EXPECT_EQ(newest[0].heads_before, heads_seen[2]);
  EXPECT_EQ(newest[0].heads_after, heads_seen[3]);
  EXPECT_NE(newest[0].heads_before, newest[0].heads_after);

  const auto json = nlohmann::json::parse(journal_json(newest).dump());
  EXPECT_EQ(json[0]["sequence"], 3);
  EXPECT_EQ(json[0]["caller"]["label"], "Put");
  ASSERT_EQ(json[0]["heads_after"].size(), heads_seen[3].size());
  EXPECT_EQ(json[0]["heads_after"][0], heads_seen[3][0].to_string());

  // A journal that does not record yields no pending record and takes no entry.
  journal.set_recording(false);
  EXPECT_FALSE(bound_dispatch::typed_action_before(&journal, document, {"test.put", "d=4"}, caller).has_value());
  bound_dispatch::report_typed_action(&journal, {{"test.put", "d=4"}, caller, {}}, {});
  EXPECT_EQ(journal.last_sequence(), 3u);
}

}  // namespace
}  // namespace kivo::actions
