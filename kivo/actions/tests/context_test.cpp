#include "kivo/actions/context.h"

#include <gtest/gtest.h>

namespace kivo::actions::context {
namespace {

TEST(HumanizeIdentifier, Labels) {
  const struct {
    std::string_view identifier, label;
  } cases[] = {
      {"UpsertConnection", "Upsert connection"},
      {"RenameConnection", "Rename connection"},
      {"SetFavorite", "Set favorite"},
      {"DeleteConnection", "Delete connection"},
      {"TrustSshHostKey", "Trust ssh host key"},
      {"OpenSSHKey", "Open SSH key"},
      {"send_text", "Send text"},
      {"trust-host-key", "Trust host key"},
      {"remote.action", "Remote action"},
      {"Vnc2Desk", "Vnc 2 desk"},
      {"URL", "URL"},
      {"a", "A"},
      {"__Lead__", "Lead"},
      {"", ""},
      {"already spaced words", "Already spaced words"},
  };
  for (const auto& c : cases) EXPECT_EQ(humanize_identifier(c.identifier), c.label) << c.identifier;
}

TEST(ActionContext, EnrichedByKeepsWhatTheOtherLeavesEmpty) {
  const ActionContext host{{1, 2, 3}, CallerContext{"org.example.host", "Host", ""}, false};
  const struct {
    const char* name;
    ActionContext other;
    ActionContext expected;
  } cases[] = {
      {"empty other changes nothing", {}, host},
      {"caller fills the empty label and overrides the app",
       {{}, CallerContext{"org.example.remote", "", "Upsert connection"}, false},
       {{1, 2, 3}, CallerContext{"org.example.remote", "Host", "Upsert connection"}, false}},
      {"acting device and confirmation come along",
       {{9}, std::nullopt, true},
       {{9}, CallerContext{"org.example.host", "Host", ""}, true}},
  };
  for (const auto& c : cases) EXPECT_EQ(host.enriched_by(c.other), c.expected) << c.name;

  // A base without a caller takes the other's caller whole.
  const ActionContext bare{{7}, std::nullopt, false};
  const ActionContext caller{{}, CallerContext{"id", "Remote", "Set favorite"}, false};
  EXPECT_EQ(bare.enriched_by(caller), (ActionContext{{7}, CallerContext{"id", "Remote", "Set favorite"}, false}));
  // A confirmation on the base stands even when the other does not repeat it.
  EXPECT_TRUE((ActionContext{{}, std::nullopt, true}).enriched_by(caller).confirmed);
}

}  // namespace
}  // namespace kivo::actions::context
