#include <gtest/gtest.h>

#include "doc_test_util.h"
#include "kivo/doc/change_log.h"
#include "kivo/doc/document.h"
#include "ops.h"

namespace kivo::doc {
namespace {

using Bytes = std::vector<std::uint8_t>;

void varint(Bytes& out, std::uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

// Version, actor 0x01..., seq 1, start op 1: the start of every hand-made change below.
Bytes prefix() {
  Bytes b{1};
  b.insert(b.end(), 16, 0x01);
  b.push_back(1);
  b.push_back(1);
  return b;
}

Bytes join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes with_varint(Bytes b, std::uint64_t v) {
  varint(b, v);
  return b;
}

Change sample_change() {
  Document doc(testing::actor_of(1));
  Document other(testing::actor_of(2));
  const ObjId text = *other.put_object(kRoot, "t", ObjType::Text);
  EXPECT_TRUE(other.splice_text(text, 0, 0, "abc").has_value());
  EXPECT_TRUE(doc.apply_changes({{*other.commit()}}).has_value());
  EXPECT_TRUE(doc.put(kRoot, "s", Value{std::string("x")}).has_value());
  EXPECT_TRUE(doc.put(kRoot, "d", Value{-1.5}).has_value());
  EXPECT_TRUE(doc.splice_text(text, 1, 2, "\xe2\x82\xac").has_value());
  EXPECT_TRUE(doc.delete_key(kRoot, "s").has_value());
  return *doc.commit();
}

TEST(ChangeCodec, DecodesWhatCommitEncodes) {
  const Change change = sample_change();
  auto decoded = Change::decode(change.bytes());
  ASSERT_TRUE(decoded.has_value()) << decoded.error().message;
  EXPECT_EQ(decoded->hash(), change.hash());
  EXPECT_EQ(decoded->actor(), change.actor());
  EXPECT_EQ(decoded->seq(), change.seq());
  EXPECT_EQ(decoded->start_op(), change.start_op());
  EXPECT_EQ(decoded->op_count(), change.op_count());
  EXPECT_EQ(decoded->deps(), change.deps());
  EXPECT_EQ(detail::encode_change(decoded->actor(), decoded->seq(), decoded->start_op(), decoded->deps(),
                                  decoded->body().ops),
            Bytes(change.bytes().begin(), change.bytes().end()));
}

TEST(ChangeCodec, RefusesEveryTruncation) {
  const Change change = sample_change();
  const auto bytes = change.bytes();
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(Change::decode(bytes.first(n)).has_value()) << n << " of " << bytes.size();
  }
}

TEST(ChangeCodec, RefusesMalformedChangesBeforeAllocating) {
  const std::uint64_t huge = std::uint64_t{1} << 60;
  // One op: put "k" = null on the root.
  const Bytes put_op = {1, 0, 1, 'k', 0, 0};
  const Bytes no_deps_no_actors = {0, 0};
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  Bytes wrong_version = prefix();
  wrong_version[0] = 2;
  const std::vector<Case> cases = {
      {"empty", {}, "change is truncated"},
      {"version", join(wrong_version, join(no_deps_no_actors, with_varint({}, 1))), "change has unsupported version 2"},
      {"huge dependency count", with_varint(prefix(), huge), "change declares more dependencies than it holds"},
      {"huge actor count", with_varint(join(prefix(), {0}), huge), "change declares more actors than it holds"},
      {"huge op count", with_varint(join(prefix(), no_deps_no_actors), huge), "change declares more ops than it holds"},
      {"huge key length", join(join(prefix(), no_deps_no_actors), with_varint({1, 1, 0}, huge)),
       "change declares more key bytes than it holds"},
      {"huge string length", join(join(prefix(), no_deps_no_actors), with_varint({1, 1, 0, 1, 'k', 0, 6}, huge)),
       "change declares more string bytes than it holds"},
      {"no ops", join(prefix(), {0, 0, 0}), "change has no ops"},
      {"seq 0", join(Bytes{1}, join(Bytes(16, 1), {0, 1, 0, 0})), "change has an invalid sequence number"},
      {"overlong number", join(Bytes{1}, join(Bytes(16, 1), {0x81, 0x00})),
       "change holds a number in a longer form than needed"},
      {"number above 64 bits", join(Bytes{1}, join(Bytes(16, 1), Bytes(10, 0xff))), "change holds a number above 64 bits"},
      {"unsorted dependencies", join(join(prefix(), {2}), join(Bytes(32, 2), Bytes(32, 1))),
       "change dependencies are not sorted and distinct"},
      {"unknown op kind", join(join(prefix(), no_deps_no_actors), {1, 9, 0}), "change holds an op of unknown kind 9"},
      {"unknown value type", join(join(prefix(), no_deps_no_actors), {1, 1, 0, 1, 'k', 0, 9}),
       "change holds a value of unknown type 9"},
      {"actor outside table", join(join(prefix(), no_deps_no_actors), {1, 1, 5, 3, 1, 'k', 0, 0}),
       "change refers to an actor outside its table"},
      {"invalid UTF-8 insert", join(join(prefix(), no_deps_no_actors), {1, 5, 0, 0, 1, 0xff}),
       "change inserts text that is not valid UTF-8"},
      {"empty insert", join(join(prefix(), no_deps_no_actors), {1, 5, 0, 0, 0}), "change inserts empty text"},
      {"trailing bytes", join(join(join(prefix(), no_deps_no_actors), join({1}, put_op)), {0}), "change has trailing bytes"},
  };
  for (const Case& c : cases) {
    auto decoded = Change::decode(c.bytes);
    ASSERT_FALSE(decoded.has_value()) << c.name;
    EXPECT_EQ(decoded.error().message, c.message) << c.name;
  }
  // The well-formed neighbour of the cases above decodes.
  EXPECT_TRUE(Change::decode(join(join(prefix(), no_deps_no_actors), join({1}, put_op))).has_value());
}

// Changes that decode but cannot apply are refused whole; the document stays as it was.
TEST(ChangeCodec, RefusesOpsThatReferToWhatTheyCannotKnow) {
  Document base(testing::actor_of(1));
  const ObjId text = *base.put_object(kRoot, "t", ObjType::Text);
  ASSERT_TRUE(base.splice_text(text, 0, 0, "ab").has_value());
  const Change first = *base.commit();
  const ActorId other = testing::actor_of(2);

  auto op = [](detail::OpKind kind, ObjId obj) {
    detail::Op o;
    o.kind = kind;
    o.obj = obj;
    return o;
  };
  detail::Op good_put = op(detail::OpKind::Put, kRoot);
  good_put.key = "ok";
  detail::Op put_into_text = op(detail::OpKind::Put, text);
  detail::Op put_unknown = op(detail::OpKind::Put, ObjId{OpId{2, other}});
  detail::Op insert_unknown_ref = op(detail::OpKind::Insert, text);
  insert_unknown_ref.ref = OpId{3, other};
  insert_unknown_ref.chars = U"x";
  detail::Op remove_unknown = op(detail::OpKind::Remove, text);
  remove_unknown.runs = {detail::ElemRun{OpId{2, testing::actor_of(1)}, 5}};
  detail::Op insert_into_map = op(detail::OpKind::Insert, kRoot);
  insert_into_map.chars = U"x";

  struct Case {
    const char* name;
    std::uint64_t start_op;
    std::vector<detail::Op> ops;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"map op on text", 10, {good_put, put_into_text}, "a map op targets a text object"},
      {"unknown object", 10, {good_put, put_unknown}, "an op refers to an unknown object"},
      {"unknown character", 10, {good_put, insert_unknown_ref}, "an insert refers to an unknown character"},
      {"removes too much", 10, {good_put, remove_unknown}, "a remove refers to an unknown character"},
      {"text op on map", 10, {insert_into_map}, "a text op targets a map object"},
      {"counted before its dependency", 2, {good_put}, "its ops are not counted after its dependencies'"},
  };
  for (const Case& c : cases) {
    Document doc(testing::actor_of(3));
    ASSERT_TRUE(doc.apply_changes({{first}}).has_value());
    const std::string before = testing::dump(doc);
    const Bytes bytes = detail::encode_change(other, 1, c.start_op, {first.hash()}, c.ops);
    auto change = Change::decode(bytes);
    ASSERT_TRUE(change.has_value()) << c.name << ": " << change.error().message;
    auto r = doc.apply_changes({{*change}});
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->refused.size(), 1u) << c.name;
    EXPECT_NE(r->refused[0].message.find(c.message), std::string::npos) << c.name << ": " << r->refused[0].message;
    EXPECT_EQ(testing::dump(doc), before) << c.name;
  }
}

TEST(ChangeLog, ScansRecordsAndStopsAtTheFirstBadOne) {
  const Change change = sample_change();
  const Bytes header = log_file_header();
  const Bytes record = log_record(change);
  const Bytes file = join(join(header, record), record);

  LogScan whole = scan_log(file, true);
  EXPECT_EQ(whole.tail, LogTail::End);
  EXPECT_EQ(whole.consumed, file.size());
  ASSERT_EQ(whole.changes.size(), 2u);
  EXPECT_EQ(whole.changes[0].hash(), change.hash());

  Bytes huge = join(header, record);
  huge.insert(huge.end(), {0xff, 0xff, 0xff, 0x7f});  // 2 GiB declared, 4 bytes present
  huge.insert(huge.end(), 8, 0);
  Bytes beyond = join(header, record);
  beyond.insert(beyond.end(), {0x00, 0x10, 0x00, 0x00});  // 4 KiB declared: within limits, not yet written
  beyond.insert(beyond.end(), 10, 0);
  Bytes flipped = file;
  flipped.back() ^= 0x01;
  Bytes short_header = join(header, Bytes(record.begin(), record.begin() + 5));

  struct Case {
    const char* name;
    Bytes bytes;
    LogTail tail;
    std::size_t consumed, changes, needed;
  };
  const std::vector<Case> cases = {
      {"declared length over the limit", huge, LogTail::Corrupt, header.size() + record.size(), 1, 0},
      {"declared length beyond the bytes", beyond, LogTail::Incomplete, header.size() + record.size(), 1, 12 + 4096},
      {"checksum", flipped, LogTail::Corrupt, header.size() + record.size(), 1, 0},
      {"record header cut", short_header, LogTail::Incomplete, header.size(), 0, 0},
      {"file header cut", Bytes(header.begin(), header.begin() + 3), LogTail::Incomplete, 0, 0, 8},
      {"not a log", Bytes{'{', '}', '\n'}, LogTail::NotALog, 0, 0, 0},
  };
  for (const Case& c : cases) {
    LogScan scan = scan_log(c.bytes, true);
    EXPECT_EQ(scan.tail, c.tail) << c.name;
    EXPECT_EQ(scan.consumed, c.consumed) << c.name;
    EXPECT_EQ(scan.changes.size(), c.changes) << c.name;
    EXPECT_EQ(scan.needed, c.needed) << c.name;
  }

  // An intact record whose change this version cannot read is skipped, and reading goes on.
  Bytes future = record;
  future[12] = 9;  // change version
  const ChangeHash future_hash = detail::sha256(std::span(future).subspan(12));
  std::copy(future_hash.bytes.begin(), future_hash.bytes.begin() + 8, future.begin() + 4);
  LogScan skipped = scan_log(join(join(header, future), record), true);
  EXPECT_EQ(skipped.tail, LogTail::End);
  EXPECT_EQ(skipped.changes.size(), 1u);
  ASSERT_EQ(skipped.skipped.size(), 1u);
  EXPECT_EQ(skipped.skipped[0].message, "change has unsupported version 9");
}

}  // namespace
}  // namespace kivo::doc
