#include <gtest/gtest.h>

#include "doc_test_util.h"
#include "kivo/doc/document.h"

namespace kivo::doc {
namespace {

TEST(SpliceTextDiffed, WritesOnlyTheChangedMiddle) {
  struct Case {
    std::string before, after;
    std::uint64_t counters;  // op counters the change takes: one per removed range, one per inserted scalar
  };
  const std::vector<Case> cases = {
      {"Office", "Office", 0},
      {"", "", 0},
      {"", "h\xc3\xa9", 2},
      {"J\xc3\xbcrgen", "J\xc3\xb6rgen", 2},                     // one scalar replaced
      {"caf\xc3\xa9", "caf\xc3\xa9s", 1},                         // appended
      {"\xf0\x9f\x98\x80 x", "\xf0\x9f\x98\x80\xf0\x9f\x98\x80 x", 1},  // 4-byte scalar in the middle
      {"aaa", "aaaa", 1},                                         // repeats: nothing double-counted
      {"abcabc", "abc", 1},
      {"build server", "", 1},
      {"\xe2\x82\xac", "$", 2},
  };
  for (const Case& c : cases) {
    Document doc;
    const ObjId text = *doc.put_object(kRoot, "t", ObjType::Text);
    ASSERT_TRUE(doc.splice_text(text, 0, 0, c.before).has_value());
    doc.commit();
    ASSERT_TRUE(splice_text_diffed(doc, text, c.after).has_value()) << c.before;
    EXPECT_EQ(doc.text(text).value(), c.after) << c.before;
    const auto change = doc.commit();
    EXPECT_EQ(change ? change->op_count() : 0, c.counters) << c.before << " -> " << c.after;
  }
}

TEST(SpliceTextDiffed, MinimalSplicesMergeConcurrentRenames) {
  Document a(testing::actor_of(1)), b(testing::actor_of(2));
  const ObjId text = *a.put_object(kRoot, "name", ObjType::Text);
  ASSERT_TRUE(splice_text_diffed(a, text, "Build server").has_value());
  ASSERT_TRUE(b.apply_changes({{*a.commit()}}).has_value());
  ASSERT_TRUE(splice_text_diffed(a, text, "Build server 2").has_value());
  ASSERT_TRUE(splice_text_diffed(b, text, "Old build server").has_value());
  const Change from_a = *a.commit();
  const Change from_b = *b.commit();
  ASSERT_TRUE(a.apply_changes({{from_b}}).has_value());
  ASSERT_TRUE(b.apply_changes({{from_a}}).has_value());
  EXPECT_EQ(a.text(text).value(), "Old build server 2");
  EXPECT_EQ(b.text(text).value(), "Old build server 2");
}

TEST(SpliceTextDiffed, RefusesWhatSpliceRefuses) {
  Document doc;
  const ObjId map = *doc.put_object(kRoot, "m", ObjType::Map);
  const ObjId text = *doc.put_object(kRoot, "t", ObjType::Text);
  EXPECT_EQ(splice_text_diffed(doc, map, "x").error().message, "object is not a text object");
  EXPECT_EQ(splice_text_diffed(doc, text, "\xff").error().message, "inserted text is not valid UTF-8");
}

}  // namespace
}  // namespace kivo::doc
