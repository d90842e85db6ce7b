// Arbitrary bytes as a change and as a change log: decoding never crashes, what decodes
// re-encodes to something that decodes the same way, and applying it to a document leaves every
// reachable object readable.

#include <cstddef>
#include <cstdint>
#include <string>

#include "kivo/base/log.h"
#include "kivo/doc/change_log.h"
#include "kivo/doc/document.h"
#include "ops.h"

namespace {

using namespace kivo::doc;

void check(bool ok, const char* what) {
  if (!ok) kivo::fatal(what);
}

// A document with a map and a text in it, so that inputs can refer to something: actor 0x11...,
// root "m" = map, root "t" = text "hello" (ops 1..7).
const Document& base() {
  static const Document doc = [] {
    ActorId actor;
    actor.bytes.fill(0x11);
    Document d(actor);
    (void)d.put_object(kRoot, "m", ObjType::Map);
    const ObjId text = *d.put_object(kRoot, "t", ObjType::Text);
    (void)d.splice_text(text, 0, 0, "hello");
    d.commit();
    return d;
  }();
  return doc;
}

void read_everything(const Document& doc, const ObjId& obj, int depth) {
  check(depth < 10000, "object nesting without end");
  const auto type = doc.object_type(obj);
  check(type.has_value(), "a reachable object does not exist");
  if (*type == ObjType::Text) {
    auto text = doc.text(obj);
    check(text.has_value() && doc.text_length(obj).has_value(), "a text object cannot be read");
    return;
  }
  const auto keys = doc.keys(obj);
  check(keys.has_value(), "a map object cannot be listed");
  for (const std::string& key : *keys) {
    const auto values = doc.get_all(obj, key);
    check(values.has_value() && !values->empty(), "a listed key holds nothing");
    for (const Value& v : *values) {
      if (const auto* ref = std::get_if<ObjectRef>(&v)) read_everything(doc, ref->id, depth + 1);
    }
  }
}

void apply_and_read(const std::vector<Change>& changes) {
  if (changes.empty()) return;
  Document doc = base();
  auto applied = doc.apply_changes(changes);
  check(applied.has_value(), "applying to a committed document failed");
  read_everything(doc, kRoot, 0);
  // The document still takes local edits afterwards.
  check(doc.put(kRoot, "after", Value{true}).has_value(), "a put after applying failed");
  check(doc.commit().has_value(), "a commit after applying made no change");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);

  if (auto change = Change::decode(bytes)) {
    const detail::ChangeBody& body = change->body();
    check(body.bytes.size() == size, "a decoded change lost bytes");
    const auto again = detail::encode_change(body.actor, body.seq, body.start_op, body.deps, body.ops);
    auto redecoded = detail::decode_change(again, detail::sha256(again));
    check(redecoded.has_value(), "a re-encoded change does not decode");
    check(detail::encode_change(redecoded->actor, redecoded->seq, redecoded->start_op, redecoded->deps,
                                redecoded->ops) == again,
          "re-encoding is not stable");
    check(redecoded->op_count == body.op_count, "re-encoding changed the op count");
    apply_and_read({*change});
  }

  for (bool at_start : {true, false}) {
    LogScan scan = scan_log(bytes, at_start);
    check(scan.consumed <= size, "a log scan consumed more than it was given");
    check(scan.tail != LogTail::Incomplete || scan.needed == 0 || scan.needed > size - scan.consumed,
          "a log scan stopped before a record it could read");
    apply_and_read(scan.changes);
  }
  return 0;
}
