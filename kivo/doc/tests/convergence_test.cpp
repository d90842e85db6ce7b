// Replicas make random concurrent edits and trade their changes in random order, with
// duplicates and gaps; once every replica has every change they must show the same document.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "doc_test_util.h"
#include "kivo/doc/document.h"

namespace kivo::doc {
namespace {

using testing::dump;

struct Object {
  ObjId id;
  ObjType type;
};

// Every object reachable from the root, conflicting values included.
void reachable(const Document& doc, const ObjId& obj, std::vector<Object>& out) {
  const ObjType type = *doc.object_type(obj);
  out.push_back(Object{obj, type});
  if (type != ObjType::Map) return;
  const std::vector<std::string> keys = doc.keys(obj).value();
  for (const std::string& key : keys) {
    const std::vector<Value> values = doc.get_all(obj, key).value();
    for (const Value& v : values) {
      if (const auto* ref = std::get_if<ObjectRef>(&v)) reachable(doc, ref->id, out);
    }
  }
}

class Fuzzer {
 public:
  explicit Fuzzer(std::uint32_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  std::mt19937& rng() { return rng_; }

  std::string key() {
    // Few keys, so that replicas collide on them often.
    static const char* const keys[] = {"a", "b", "c", "name", "\xc3\xa9"};
    return keys[below(std::size(keys))];
  }

  Value scalar() {
    switch (below(8)) {
      case 0: return Null{};
      case 1: return chance(50);
      case 2: return static_cast<std::int64_t>(below(2000)) - 1000;
      case 3: return static_cast<std::uint64_t>(below(1000));
      case 4: return static_cast<double>(below(1000)) / 8;
      case 5: return Counter{static_cast<std::int64_t>(below(50))};
      case 6: return Timestamp{static_cast<std::int64_t>(below(1000000))};
      default: return std::string(1, static_cast<char>('a' + below(26)));
    }
  }

  std::string text() {
    static const char* const pieces[] = {"x", "yz", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "hello"};
    std::string out;
    for (std::size_t n = below(3); n > 0; --n) out += pieces[below(std::size(pieces))];
    return out;
  }

  void edit(Document& doc) {
    std::vector<Object> objects;
    reachable(doc, kRoot, objects);
    const Object& target = objects[below(objects.size())];
    if (target.type == ObjType::Text) {
      const std::size_t length = *doc.text_length(target.id);
      const std::size_t pos = below(length + 1);
      const std::size_t del = below(std::min<std::size_t>(length - pos, 3) + 1);
      ASSERT_TRUE(doc.splice_text(target.id, pos, del, text()).has_value());
      return;
    }
    const std::string k = key();
    switch (below(10)) {
      case 0:
      case 1: ASSERT_TRUE(doc.delete_key(target.id, k).has_value()); break;
      case 2: ASSERT_TRUE(doc.put_object(target.id, k, ObjType::Map).has_value()); break;
      case 3:
      case 4: {
        auto text = doc.put_object(target.id, k, ObjType::Text);
        ASSERT_TRUE(text.has_value());
        ASSERT_TRUE(doc.splice_text(*text, 0, 0, "seed").has_value());
        break;
      }
      default: ASSERT_TRUE(doc.put(target.id, k, scalar()).has_value()); break;
    }
  }

 private:
  std::mt19937 rng_;
};

void run_seed(std::uint32_t seed) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  Fuzzer f(seed);
  const std::size_t replicas = 2 + f.below(3);
  std::vector<Document> docs;
  for (std::size_t i = 0; i < replicas; ++i) docs.emplace_back(testing::actor_of(static_cast<std::uint8_t>(i + 1)));
  std::vector<Change> all;

  for (int round = 0; round < 60; ++round) {
    Document& doc = docs[f.below(replicas)];
    for (std::size_t n = 1 + f.below(3); n > 0; --n) {
      f.edit(doc);
      if (::testing::Test::HasFatalFailure()) return;
    }
    if (auto change = doc.commit()) all.push_back(*change);
    if (f.chance(40)) {
      // Some changes, shuffled and repeated, to one replica: gaps are held until filled.
      std::vector<Change> batch;
      for (std::size_t n = f.below(all.size() + 1); n > 0; --n) batch.push_back(all[f.below(all.size())]);
      auto r = docs[f.below(replicas)].apply_changes(batch);
      ASSERT_TRUE(r.has_value());
      ASSERT_TRUE(r->refused.empty()) << r->refused.front().message;
    }
  }

  for (Document& doc : docs) {
    std::vector<Change> everything = all;
    everything.insert(everything.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(all.size() / 3));
    std::shuffle(everything.begin(), everything.end(), f.rng());
    auto r = doc.apply_changes(everything);
    ASSERT_TRUE(r.has_value());
    ASSERT_TRUE(r->refused.empty()) << r->refused.front().message;
    EXPECT_EQ(doc.held_changes(), 0u);
  }
  const std::string expected = dump(docs[0]);
  for (std::size_t i = 1; i < replicas; ++i) ASSERT_EQ(dump(docs[i]), expected) << "replica " << i;

  // A replica rebuilt from the changes alone, newest first, is the same document too.
  Document rebuilt(testing::actor_of(0xee));
  ASSERT_TRUE(rebuilt.apply_changes(std::vector<Change>(all.rbegin(), all.rend())).has_value());
  EXPECT_EQ(dump(rebuilt), expected);
}

TEST(Convergence, RandomConcurrentEditsConverge) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    run_seed(seed);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace kivo::doc
