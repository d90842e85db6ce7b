#include "kivo/doc/document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "doc_test_util.h"

namespace kivo::doc {
namespace {

using testing::actor_of;
using testing::dump;

// Gives each replica every change the other made, in both directions.
void exchange(Document& a, Document& b, const std::vector<Change>& from_a, const std::vector<Change>& from_b) {
  ASSERT_TRUE(a.apply_changes(from_b).has_value());
  ASSERT_TRUE(b.apply_changes(from_a).has_value());
}

Change commit_one(Document& doc) {
  auto change = doc.commit();
  if (!change) {
    ADD_FAILURE() << "nothing to commit";
    std::abort();
  }
  return *change;
}

TEST(Document, StoresEveryScalarAndListsKeysInByteOrder) {
  Document doc;
  const std::vector<std::pair<std::string, Value>> values = {
      {"b", Value{Null{}}},
      {"a", Value{true}},
      {"B", Value{std::int64_t{-42}}},
      {"\xc3\xa9", Value{std::uint64_t{18446744073709551615ULL}}},
      {"a0", Value{2.5}},
      {"", Value{std::string("text")}},
      {"c", Value{Counter{7}}},
      {"t", Value{Timestamp{1700000000000}}},
  };
  for (const auto& [key, value] : values) ASSERT_TRUE(doc.put(kRoot, key, value).has_value());
  const Change change = commit_one(doc);

  // A replica rebuilt from the change reads the same values as the one that wrote them.
  Document copy;
  ASSERT_TRUE(copy.apply_changes({{change}}).has_value());
  for (const Document* d : {&doc, &copy}) {
    for (const auto& [key, value] : values) EXPECT_EQ(d->get(kRoot, key).value(), value) << key;
    EXPECT_EQ(d->keys(kRoot).value(), (std::vector<std::string>{"", "B", "a", "a0", "b", "c", "t", "\xc3\xa9"}));
    EXPECT_EQ(d->get(kRoot, "missing").value(), std::nullopt);
  }
  EXPECT_EQ(dump(doc), dump(copy));
}

TEST(Document, RefusesMisuseWithSpecificErrors) {
  Document doc;
  const ObjId map = *doc.put_object(kRoot, "m", ObjType::Map);
  const ObjId text = *doc.put_object(kRoot, "t", ObjType::Text);
  ASSERT_TRUE(doc.splice_text(text, 0, 0, "h\xc3\xa9llo").has_value());
  const ObjId unknown{OpId{999, actor_of(9)}};
  struct Case {
    const char* what;
    std::function<std::optional<Error>()> call;
    const char* message;
  };
  auto err = [](const auto& result) -> std::optional<Error> {
    if (result) return std::nullopt;
    return result.error();
  };
  const std::vector<Case> cases = {
      {"get on text", [&] { return err(doc.get(text, "k")); }, "object is not a map object"},
      {"keys on text", [&] { return err(doc.keys(text)); }, "object is not a map object"},
      {"put into text", [&] { return err(doc.put(text, "k", Value{true})); }, "object is not a map object"},
      {"text of map", [&] { return err(doc.text(map)); }, "object is not a text object"},
      {"splice a map", [&] { return err(doc.splice_text(map, 0, 0, "x")); }, "object is not a text object"},
      {"unknown object", [&] { return err(doc.get(unknown, "k")); }, "no such object"},
      {"put object ref", [&] { return err(doc.put(kRoot, "k", Value{ObjectRef{map, ObjType::Map}})); },
       "an object cannot be put as a value; use put_object"},
      {"position past end", [&] { return err(doc.splice_text(text, 6, 0, "x")); },
       "splice position is beyond the end of the text"},
      {"delete past end", [&] { return err(doc.splice_text(text, 3, 3, "")); },
       "splice deletes beyond the end of the text"},
      {"huge delete", [&] { return err(doc.splice_text(text, 1, SIZE_MAX, "")); },
       "splice deletes beyond the end of the text"},
      {"invalid UTF-8", [&] { return err(doc.splice_text(text, 0, 0, "\xc3")); }, "inserted text is not valid UTF-8"},
      {"surrogate", [&] { return err(doc.splice_text(text, 0, 0, "\xed\xa0\x80")); }, "inserted text is not valid UTF-8"},
      {"overlong", [&] { return err(doc.splice_text(text, 0, 0, "\xc0\xaf")); }, "inserted text is not valid UTF-8"},
  };
  const std::size_t ops_before = doc.pending_ops();
  for (const Case& c : cases) {
    const auto e = c.call();
    ASSERT_TRUE(e.has_value()) << c.what;
    EXPECT_EQ(e->message, c.message) << c.what;
  }
  EXPECT_EQ(doc.pending_ops(), ops_before) << "a refused edit wrote something";
  EXPECT_EQ(doc.text(text).value(), "h\xc3\xa9llo");
}

TEST(Document, SplicesCountUnicodeScalars) {
  struct Case {
    std::string before;
    std::size_t pos, del;
    std::string insert, after;
  };
  const std::vector<Case> cases = {
      {"", 0, 0, "abc", "abc"},
      {"abc", 3, 0, "d", "abcd"},
      {"abc", 0, 3, "", ""},
      {"h\xc3\xa9llo", 1, 1, "e", "hello"},
      {"a\xf0\x9f\x98\x80" "b", 2, 1, "\xe2\x82\xac", "a\xf0\x9f\x98\x80\xe2\x82\xac"},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x81", 1, 0, "-", "\xf0\x9f\x98\x80-\xf0\x9f\x98\x81"},
      {"abcdef", 2, 2, "XY", "abXYef"},
  };
  for (const Case& c : cases) {
    Document doc;
    const ObjId text = *doc.put_object(kRoot, "t", ObjType::Text);
    ASSERT_TRUE(doc.splice_text(text, 0, 0, c.before).has_value());
    ASSERT_TRUE(doc.splice_text(text, c.pos, c.del, c.insert).has_value()) << c.before;
    EXPECT_EQ(doc.text(text).value(), c.after) << c.before;
    // The merged history replays to the same text.
    Document copy;
    ASSERT_TRUE(copy.apply_changes({{*doc.commit()}}).has_value());
    EXPECT_EQ(copy.text(text).value(), c.after) << c.before;
  }
}

// Two replicas (actor 1 < actor 2) share "k" = "0", then race one edit each. Every delivery
// order ends with the same values under "k", greatest op id first.
TEST(Merge, KeyRacesResolveTheSameWayOnEveryReplica) {
  struct Case {
    const char* name;
    std::function<void(Document&)> a, b;
    std::vector<std::string> expected;  // the values under "k"
  };
  auto put = [](const char* v) { return [v](Document& d) { ASSERT_TRUE(d.put(kRoot, "k", Value{std::string(v)}).has_value()); }; };
  auto del = [](Document& d) { ASSERT_TRUE(d.delete_key(kRoot, "k").has_value()); };
  auto make_map = [](Document& d) { ASSERT_TRUE(d.put_object(kRoot, "k", ObjType::Map).has_value()); };
  const std::vector<Case> cases = {
      {"two puts keep both, greater op id wins", put("a"), put("b"), {"s:b", "s:a"}},
      {"put racing delete survives", put("a"), del, {"s:a"}},
      {"delete racing put survives", del, put("b"), {"s:b"}},
      {"two deletes", del, del, {}},
      {"object racing scalar keeps both", make_map, put("b"), {"s:b", "{}"}},
      {"scalar racing object keeps both", put("a"), make_map, {"{}", "s:a"}},
  };
  for (const Case& c : cases) {
    for (bool a_first : {true, false}) {
      Document a(actor_of(1)), b(actor_of(2));
      ASSERT_TRUE(a.put(kRoot, "k", Value{std::string("0")}).has_value());
      const Change base = commit_one(a);
      ASSERT_TRUE(b.apply_changes({{base}}).has_value());
      c.a(a);
      c.b(b);
      std::vector<Change> from_a, from_b;
      if (auto ch = a.commit()) from_a.push_back(*ch);
      if (auto ch = b.commit()) from_b.push_back(*ch);
      // A third replica sees the two edits in either order.
      Document third(actor_of(3));
      ASSERT_TRUE(third.apply_changes({{base}}).has_value());
      ASSERT_TRUE(third.apply_changes(a_first ? from_a : from_b).has_value());
      ASSERT_TRUE(third.apply_changes(a_first ? from_b : from_a).has_value());
      exchange(a, b, from_a, from_b);
      std::vector<std::string> got;
      const std::vector<Value> values = a.get_all(kRoot, "k").value();
      for (const Value& v : values) got.push_back(testing::value_text(a, v, 0));
      EXPECT_EQ(got, c.expected) << c.name;
      EXPECT_EQ(dump(a), dump(b)) << c.name;
      EXPECT_EQ(dump(a), dump(third)) << c.name;
      // A key with no values left is gone: not listed, and get() finds nothing.
      const auto listed = a.keys(kRoot).value();
      EXPECT_EQ(std::count(listed.begin(), listed.end(), "k"), c.expected.empty() ? 0 : 1) << c.name;
      const auto winner = a.get(kRoot, "k").value();
      ASSERT_EQ(winner.has_value(), !c.expected.empty()) << c.name;
      if (winner) {
        EXPECT_EQ(testing::value_text(a, *winner, 0), c.expected.front()) << c.name;
      }
    }
  }
}

TEST(Merge, PutAfterSeeingConflictsResolvesThem) {
  Document a(actor_of(1)), b(actor_of(2));
  ASSERT_TRUE(a.put(kRoot, "k", Value{std::int64_t{1}}).has_value());
  ASSERT_TRUE(b.put(kRoot, "k", Value{std::int64_t{2}}).has_value());
  exchange(a, b, {commit_one(a)}, {commit_one(b)});
  ASSERT_EQ(a.get_all(kRoot, "k")->size(), 2u);
  ASSERT_TRUE(a.put(kRoot, "k", Value{std::int64_t{3}}).has_value());
  ASSERT_TRUE(b.apply_changes({{commit_one(a)}}).has_value());
  EXPECT_EQ(b.get_all(kRoot, "k").value(), std::vector<Value>{Value{std::int64_t{3}}});
}

TEST(Merge, ScalarOverObjectHidesConcurrentEditsInside) {
  Document a(actor_of(1)), b(actor_of(2));
  const ObjId child = *a.put_object(kRoot, "k", ObjType::Map);
  ASSERT_TRUE(b.apply_changes({{commit_one(a)}}).has_value());
  ASSERT_TRUE(a.put(kRoot, "k", Value{std::string("x")}).has_value());
  ASSERT_TRUE(b.put(child, "inner", Value{true}).has_value());
  exchange(a, b, {commit_one(a)}, {commit_one(b)});
  for (const Document* d : {&a, &b}) {
    EXPECT_EQ(d->get_all(kRoot, "k").value(), std::vector<Value>{Value{std::string("x")}});
    // The replaced map keeps the edit, unreachable from the key.
    EXPECT_EQ(d->get(child, "inner").value(), Value{true});
  }
  EXPECT_EQ(dump(a), dump(b));
}

TEST(Merge, DeletingAMissingKeyWritesNothing) {
  Document doc;
  ASSERT_TRUE(doc.delete_key(kRoot, "never").has_value());
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_FALSE(doc.commit().has_value());
}

// Both replicas start from "ac"; each makes one text edit; both end with the same text.
TEST(Merge, ConcurrentTextEditsKeepEveryCharacterInOneOrder) {
  struct Case {
    const char* name;
    std::size_t a_pos, a_del;
    const char* a_ins;
    std::size_t b_pos, b_del;
    const char* b_ins;
    const char* expected;
  };
  const std::vector<Case> cases = {
      // Equal counters: the greater actor's insert comes first.
      {"inserts at one place", 1, 0, "bb", 1, 0, "XY", "aXYbbc"},
      {"inserts at the start", 0, 0, "1", 0, 0, "2", "21ac"},
      {"inserts at the end", 2, 0, "d", 2, 0, "e", "aced"},
      {"insert after a deleted character", 1, 1, "", 2, 0, "d", "ad"},
      {"insert before a deleted character", 0, 1, "", 1, 0, "b", "bc"},
      {"both delete one character", 0, 1, "", 0, 1, "", "c"},
      {"replace versus insert inside", 0, 2, "xyz", 1, 0, "b", "xyzb"},
      {"multi-byte inserts", 1, 0, "\xc3\xa9\xc3\xa9", 1, 0, "\xe2\x82\xac", "a\xe2\x82\xac\xc3\xa9\xc3\xa9" "c"},
  };
  for (const Case& c : cases) {
    Document a(actor_of(1)), b(actor_of(2));
    const ObjId text = *a.put_object(kRoot, "t", ObjType::Text);
    ASSERT_TRUE(a.splice_text(text, 0, 0, "ac").has_value());
    ASSERT_TRUE(b.apply_changes({{commit_one(a)}}).has_value());
    ASSERT_TRUE(a.splice_text(text, c.a_pos, c.a_del, c.a_ins).has_value()) << c.name;
    ASSERT_TRUE(b.splice_text(text, c.b_pos, c.b_del, c.b_ins).has_value()) << c.name;
    exchange(a, b, {commit_one(a)}, {commit_one(b)});
    EXPECT_EQ(a.text(text).value(), c.expected) << c.name;
    EXPECT_EQ(b.text(text).value(), c.expected) << c.name;
    EXPECT_EQ(dump(a), dump(b)) << c.name;
  }
}

TEST(Changes, CommitGroupsEditsAndTracksHeads) {
  Document doc(actor_of(1));
  EXPECT_FALSE(doc.commit().has_value());
  EXPECT_TRUE(doc.heads().empty());
  const ObjId text = *doc.put_object(kRoot, "t", ObjType::Text);
  ASSERT_TRUE(doc.splice_text(text, 0, 0, "h\xc3\xa9!").has_value());
  ASSERT_TRUE(doc.put(kRoot, "n", Value{std::int64_t{1}}).has_value());
  EXPECT_EQ(doc.pending_ops(), 3u);
  const Change first = commit_one(doc);
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_EQ(first.seq(), 1u);
  EXPECT_EQ(first.start_op(), 1u);
  EXPECT_EQ(first.op_count(), 5u);  // object, three characters, put
  EXPECT_TRUE(first.deps().empty());
  EXPECT_EQ(doc.heads(), std::vector<ChangeHash>{first.hash()});

  ASSERT_TRUE(doc.put(kRoot, "n", Value{std::int64_t{2}}).has_value());
  const Change second = commit_one(doc);
  EXPECT_EQ(second.seq(), 2u);
  EXPECT_EQ(second.start_op(), 6u);
  EXPECT_EQ(second.deps(), std::vector<ChangeHash>{first.hash()});
  EXPECT_EQ(doc.heads(), std::vector<ChangeHash>{second.hash()});

  // Two concurrent heads are both listed, and the next change depends on both.
  Document other(actor_of(2));
  ASSERT_TRUE(other.apply_changes({{first}}).has_value());
  ASSERT_TRUE(other.put(kRoot, "o", Value{true}).has_value());
  const Change concurrent = commit_one(other);
  ASSERT_TRUE(doc.apply_changes({{concurrent}}).has_value());
  auto expected = std::vector<ChangeHash>{second.hash(), concurrent.hash()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(doc.heads(), expected);
  ASSERT_TRUE(doc.put(kRoot, "p", Value{true}).has_value());
  EXPECT_EQ(commit_one(doc).deps(), expected);
}

TEST(Changes, ApplyInAnyOrderHoldsMissingDependenciesAndIgnoresDuplicates) {
  Document writer(actor_of(1));
  const ObjId text = *writer.put_object(kRoot, "t", ObjType::Text);
  std::vector<Change> chain{commit_one(writer)};
  for (const char* word : {"one ", "two ", "three ", "four"}) {
    ASSERT_TRUE(writer.splice_text(text, *writer.text_length(text), 0, word).has_value());
    chain.push_back(commit_one(writer));
  }
  Document reader(actor_of(2));
  // Newest first: everything waits for the first change.
  auto r = reader.apply_changes(std::vector<Change>(chain.rbegin(), chain.rend() - 1));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->applied, 0u);
  EXPECT_EQ(reader.held_changes(), 4u);
  EXPECT_TRUE(reader.heads().empty());
  // The missing one, with duplicates of everything.
  std::vector<Change> again = chain;
  again.insert(again.end(), chain.begin(), chain.end());
  r = reader.apply_changes(again);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->applied, 5u);
  EXPECT_TRUE(r->refused.empty());
  EXPECT_EQ(reader.held_changes(), 0u);
  EXPECT_EQ(dump(reader), dump(writer));
  r = reader.apply_changes(chain);
  EXPECT_EQ(r->applied, 0u);
}

TEST(Changes, UncommittedEditsBlockApplying) {
  Document a(actor_of(1)), b(actor_of(2));
  ASSERT_TRUE(a.put(kRoot, "k", Value{true}).has_value());
  const Change change = commit_one(a);
  ASSERT_TRUE(b.put(kRoot, "mine", Value{true}).has_value());
  auto r = b.apply_changes({{change}});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "document has uncommitted local changes");
  EXPECT_EQ(b.set_actor(actor_of(3)).error().message, "document has uncommitted local changes");
  commit_one(b);
  EXPECT_TRUE(b.apply_changes({{change}}).has_value());
  EXPECT_EQ(b.get(kRoot, "k").value(), Value{true});
}

TEST(Changes, AnActorUsedTwiceCannotFork) {
  // Two replicas that wrongly share an actor write different first changes.
  Document a(actor_of(1)), b(actor_of(1));
  ASSERT_TRUE(a.put(kRoot, "k", Value{std::string("a")}).has_value());
  ASSERT_TRUE(b.put(kRoot, "k", Value{std::string("b")}).has_value());
  const Change from_a = commit_one(a);
  const Change from_b = commit_one(b);
  Document reader(actor_of(2));
  auto r = reader.apply_changes({{from_a, from_b}});
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->applied, 1u);
  ASSERT_EQ(r->refused.size(), 1u);
  EXPECT_NE(r->refused[0].message.find("has sequence 1 where 2 was expected"), std::string::npos) << r->refused[0].message;
}

TEST(Changes, CopiedReplicaWithItsOwnActorMerges) {
  Document a(actor_of(1));
  const ObjId text = *a.put_object(kRoot, "t", ObjType::Text);
  ASSERT_TRUE(a.splice_text(text, 0, 0, "base").has_value());
  commit_one(a);
  Document b = a;
  ASSERT_TRUE(b.set_actor(actor_of(2)).has_value());
  ASSERT_TRUE(a.splice_text(text, 4, 0, "-a").has_value());
  ASSERT_TRUE(b.splice_text(text, 0, 0, "b-").has_value());
  exchange(a, b, {commit_one(a)}, {commit_one(b)});
  EXPECT_EQ(a.text(text).value(), "b-base-a");
  EXPECT_EQ(dump(a), dump(b));
}

}  // namespace
}  // namespace kivo::doc
