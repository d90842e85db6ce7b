// Change encoding, version 1. Integers are LEB128 varints in their shortest form; signed ones
// are zigzagged. An op id is its counter followed, unless the counter is 0, by an index into
// the change's actor table (0 is the change's own actor).
//
//   u8 version | actor[16] | seq | start_op | n, dep hash[32] * n (ascending)
//   | n, actor[16] * n | n, op * n
//   op: u8 kind | object id | kind-specific fields
//     Put        key | pred | value
//     MakeMap    key | pred
//     MakeText   key | pred
//     DeleteKey  key | pred
//     Insert     after id (counter 0: at the start) | UTF-8 text (one op counter per scalar)
//     Remove     n, (first id, length) * n
//   key: n, bytes;  pred: n, op id * n
//   value: u8 tag (0 null, 1 false, 2 true, 3 int, 4 uint, 5 float64 LE, 6 string, 7 counter,
//          8 timestamp) | payload

#include <nettle/sha2.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "kivo/base/log.h"
#include "ops.h"
#include "kivo/base/text.h"

namespace kivo::doc {
namespace detail {
namespace {

constexpr std::uint8_t kVersion = 1;

enum ValueTag : std::uint8_t {
  kTagNull = 0,
  kTagFalse = 1,
  kTagTrue = 2,
  kTagInt = 3,
  kTagUint = 4,
  kTagFloat = 5,
  kTagString = 6,
  kTagCounter = 7,
  kTagTimestamp = 8,
};

std::uint64_t zigzag(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
std::int64_t unzigzag(std::uint64_t v) { return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1); }

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

  void byte(std::uint8_t b) { out_.push_back(b); }
  void varint(std::uint64_t v) {
    while (v >= 0x80) {
      out_.push_back(static_cast<std::uint8_t>(v | 0x80));
      v >>= 7;
    }
    out_.push_back(static_cast<std::uint8_t>(v));
  }
  void raw(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
  }
  void bytes(std::string_view s) {
    varint(s.size());
    raw(s.data(), s.size());
  }

 private:
  std::vector<std::uint8_t>& out_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t remaining() const { return bytes_.size() - pos_; }

  std::expected<std::uint8_t, Error> byte() {
    if (remaining() < 1) return truncated();
    return bytes_[pos_++];
  }

  // Shortest form only, so that one value has one encoding.
  std::expected<std::uint64_t, Error> varint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (remaining() < 1) return truncated();
      const std::uint8_t b = bytes_[pos_++];
      if (shift == 63 && b > 1) return std::unexpected(Error{"change holds a number above 64 bits"});
      v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
      if ((b & 0x80) == 0) {
        if (b == 0 && shift > 0) return std::unexpected(Error{"change holds a number in a longer form than needed"});
        return v;
      }
    }
    return std::unexpected(Error{"change holds a number above 64 bits"});
  }

  std::expected<std::span<const std::uint8_t>, Error> take(std::size_t n) {
    if (remaining() < n) return truncated();
    auto out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
  }

  // A count of items of at least `min_item_bytes` each, bounded by what remains.
  std::expected<std::uint64_t, Error> count(std::size_t min_item_bytes, const char* what) {
    auto n = varint();
    if (!n) return n;
    if (*n > remaining() / min_item_bytes) return std::unexpected(Error{std::string("change declares more ") + what + " than it holds"});
    return n;
  }

 private:
  static std::unexpected<Error> truncated() { return std::unexpected(Error{"change is truncated"}); }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

class ActorTable {
 public:
  explicit ActorTable(const ActorId& own) { index_.emplace(own, 0); }
  std::uint64_t index(const ActorId& actor) {
    auto [it, inserted] = index_.emplace(actor, others_.size() + 1);
    if (inserted) others_.push_back(actor);
    return it->second;
  }
  const std::vector<ActorId>& others() const { return others_; }

 private:
  std::unordered_map<ActorId, std::uint64_t> index_;
  std::vector<ActorId> others_;
};

void write_op_id(Writer& w, ActorTable& actors, const OpId& id) {
  w.varint(id.counter);
  if (id.counter != 0) w.varint(actors.index(id.actor));
}

void write_value(Writer& w, const Value& value) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          w.byte(kTagNull);
        } else if constexpr (std::is_same_v<T, bool>) {
          w.byte(v ? kTagTrue : kTagFalse);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          w.byte(kTagInt);
          w.varint(zigzag(v));
        } else if constexpr (std::is_same_v<T, std::uint64_t>) {
          w.byte(kTagUint);
          w.varint(v);
        } else if constexpr (std::is_same_v<T, double>) {
          w.byte(kTagFloat);
          const auto bits = std::bit_cast<std::uint64_t>(v);
          for (int i = 0; i < 8; ++i) w.byte(static_cast<std::uint8_t>(bits >> (8 * i)));
        } else if constexpr (std::is_same_v<T, std::string>) {
          w.byte(kTagString);
          w.bytes(v);
        } else if constexpr (std::is_same_v<T, Counter>) {
          w.byte(kTagCounter);
          w.varint(zigzag(v.value));
        } else if constexpr (std::is_same_v<T, Timestamp>) {
          w.byte(kTagTimestamp);
          w.varint(zigzag(v.millis));
        } else {
          kivo::fatal("an object reference reached the change encoder as a value");
        }
      },
      value);
}

std::expected<Value, Error> read_value(Reader& r) {
  auto tag = r.byte();
  if (!tag) return std::unexpected(tag.error());
  switch (*tag) {
    case kTagNull: return Value{Null{}};
    case kTagFalse: return Value{false};
    case kTagTrue: return Value{true};
    case kTagInt:
    case kTagCounter:
    case kTagTimestamp: {
      auto v = r.varint();
      if (!v) return std::unexpected(v.error());
      const std::int64_t i = unzigzag(*v);
      if (*tag == kTagInt) return Value{i};
      if (*tag == kTagCounter) return Value{Counter{i}};
      return Value{Timestamp{i}};
    }
    case kTagUint: {
      auto v = r.varint();
      if (!v) return std::unexpected(v.error());
      return Value{*v};
    }
    case kTagFloat: {
      auto b = r.take(8);
      if (!b) return std::unexpected(b.error());
      std::uint64_t bits = 0;
      for (int i = 7; i >= 0; --i) bits = (bits << 8) | (*b)[static_cast<std::size_t>(i)];
      return Value{std::bit_cast<double>(bits)};
    }
    case kTagString: {
      auto n = r.count(1, "string bytes");
      if (!n) return std::unexpected(n.error());
      auto b = r.take(*n);
      if (!b) return std::unexpected(b.error());
      return Value{std::string(reinterpret_cast<const char*>(b->data()), b->size())};
    }
    default: return std::unexpected(Error{"change holds a value of unknown type " + std::to_string(*tag)});
  }
}

}  // namespace

ChangeHash sha256(std::span<const std::uint8_t> bytes) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, bytes.size(), bytes.data());
  ChangeHash hash;
  sha256_digest(&ctx, hash.bytes.size(), hash.bytes.data());
  return hash;
}

std::vector<std::uint8_t> encode_change(const ActorId& actor, std::uint64_t seq, std::uint64_t start_op,
                                        const std::vector<ChangeHash>& deps, const std::vector<Op>& ops) {
  // Ops first, so that the actor table they fill can be written before them.
  ActorTable actors(actor);
  std::vector<std::uint8_t> body;
  Writer w(body);
  w.varint(ops.size());
  for (const Op& op : ops) {
    w.byte(static_cast<std::uint8_t>(op.kind));
    write_op_id(w, actors, op.obj.op);
    switch (op.kind) {
      case OpKind::Put:
      case OpKind::MakeMap:
      case OpKind::MakeText:
      case OpKind::DeleteKey:
        w.bytes(op.key);
        w.varint(op.pred.size());
        for (const OpId& p : op.pred) write_op_id(w, actors, p);
        if (op.kind == OpKind::Put) write_value(w, op.value);
        break;
      case OpKind::Insert: {
        write_op_id(w, actors, op.ref);
        std::string text;
        for (char32_t ch : op.chars) kivo::text::append_utf8(ch, text);
        w.bytes(text);
        break;
      }
      case OpKind::Remove:
        w.varint(op.runs.size());
        for (const ElemRun& run : op.runs) {
          write_op_id(w, actors, run.first);
          w.varint(run.len);
        }
        break;
    }
  }

  std::vector<std::uint8_t> out;
  out.reserve(body.size() + 64 + deps.size() * 32 + actors.others().size() * 16);
  Writer h(out);
  h.byte(kVersion);
  h.raw(actor.bytes.data(), actor.bytes.size());
  h.varint(seq);
  h.varint(start_op);
  h.varint(deps.size());
  for (const ChangeHash& d : deps) h.raw(d.bytes.data(), d.bytes.size());
  h.varint(actors.others().size());
  for (const ActorId& a : actors.others()) h.raw(a.bytes.data(), a.bytes.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::expected<ChangeBody, Error> decode_change(std::span<const std::uint8_t> bytes, const ChangeHash& hash) {
  Reader r(bytes);
  ChangeBody c;
  c.hash = hash;

  auto version = r.byte();
  if (!version) return std::unexpected(version.error());
  if (*version != kVersion) return std::unexpected(Error{"change has unsupported version " + std::to_string(*version)});
  auto actor = r.take(16);
  if (!actor) return std::unexpected(actor.error());
  std::memcpy(c.actor.bytes.data(), actor->data(), 16);

  auto seq = r.varint();
  if (!seq) return std::unexpected(seq.error());
  if (*seq == 0 || *seq > kMaxCounter) return std::unexpected(Error{"change has an invalid sequence number"});
  c.seq = *seq;
  auto start = r.varint();
  if (!start) return std::unexpected(start.error());
  if (*start == 0 || *start > kMaxCounter) return std::unexpected(Error{"change has an invalid start op"});
  c.start_op = *start;

  auto ndeps = r.count(32, "dependencies");
  if (!ndeps) return std::unexpected(ndeps.error());
  c.deps.resize(*ndeps);
  for (ChangeHash& d : c.deps) {
    auto b = r.take(32);
    if (!b) return std::unexpected(b.error());
    std::memcpy(d.bytes.data(), b->data(), 32);
  }
  for (std::size_t i = 1; i < c.deps.size(); ++i) {
    if (!(c.deps[i - 1] < c.deps[i])) return std::unexpected(Error{"change dependencies are not sorted and distinct"});
  }

  auto nactors = r.count(16, "actors");
  if (!nactors) return std::unexpected(nactors.error());
  std::vector<ActorId> actors(*nactors + 1);
  actors[0] = c.actor;
  for (std::size_t i = 1; i < actors.size(); ++i) {
    auto b = r.take(16);
    if (!b) return std::unexpected(b.error());
    std::memcpy(actors[i].bytes.data(), b->data(), 16);
  }

  auto read_id = [&](bool allow_zero) -> std::expected<OpId, Error> {
    auto counter = r.varint();
    if (!counter) return std::unexpected(counter.error());
    if (*counter == 0) {
      if (!allow_zero) return std::unexpected(Error{"change refers to op counter 0"});
      return OpId{};
    }
    if (*counter > kMaxCounter) return std::unexpected(Error{"change refers to an op counter out of range"});
    auto index = r.varint();
    if (!index) return std::unexpected(index.error());
    if (*index >= actors.size()) return std::unexpected(Error{"change refers to an actor outside its table"});
    return OpId{*counter, actors[*index]};
  };

  // Every op takes at least two bytes (kind, object).
  auto nops = r.count(2, "ops");
  if (!nops) return std::unexpected(nops.error());
  if (*nops == 0) return std::unexpected(Error{"change has no ops"});
  // The count only bounds the ops by the bytes left; an op is far larger in memory than its
  // two smallest bytes, so reserve no more than a plausible amount up front.
  c.ops.reserve(std::min<std::uint64_t>(*nops, 1024));
  std::uint64_t width = 0;
  for (std::uint64_t i = 0; i < *nops; ++i) {
    Op op;
    auto kind = r.byte();
    if (!kind) return std::unexpected(kind.error());
    if (*kind < 1 || *kind > 6) return std::unexpected(Error{"change holds an op of unknown kind " + std::to_string(*kind)});
    op.kind = static_cast<OpKind>(*kind);
    auto obj = read_id(true);
    if (!obj) return std::unexpected(obj.error());
    op.obj = ObjId{*obj};
    switch (op.kind) {
      case OpKind::Put:
      case OpKind::MakeMap:
      case OpKind::MakeText:
      case OpKind::DeleteKey: {
        auto n = r.count(1, "key bytes");
        if (!n) return std::unexpected(n.error());
        auto key = r.take(*n);
        if (!key) return std::unexpected(key.error());
        op.key.assign(reinterpret_cast<const char*>(key->data()), key->size());
        auto npred = r.count(2, "overwritten values");
        if (!npred) return std::unexpected(npred.error());
        op.pred.reserve(std::min<std::uint64_t>(*npred, 16));
        for (std::uint64_t k = 0; k < *npred; ++k) {
          auto p = read_id(false);
          if (!p) return std::unexpected(p.error());
          op.pred.push_back(*p);
        }
        if (op.kind == OpKind::Put) {
          auto v = read_value(r);
          if (!v) return std::unexpected(v.error());
          op.value = std::move(*v);
        }
        break;
      }
      case OpKind::Insert: {
        auto ref = read_id(true);
        if (!ref) return std::unexpected(ref.error());
        op.ref = *ref;
        auto n = r.count(1, "text bytes");
        if (!n) return std::unexpected(n.error());
        auto text = r.take(*n);
        if (!text) return std::unexpected(text.error());
        auto chars = kivo::text::decode_utf8(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
        if (!chars) return std::unexpected(Error{"change inserts text that is not valid UTF-8"});
        if (chars->empty()) return std::unexpected(Error{"change inserts empty text"});
        op.chars = std::move(*chars);
        break;
      }
      case OpKind::Remove: {
        auto nruns = r.count(3, "removed ranges");
        if (!nruns) return std::unexpected(nruns.error());
        if (*nruns == 0) return std::unexpected(Error{"change removes no characters"});
        op.runs.reserve(*nruns);
        for (std::uint64_t k = 0; k < *nruns; ++k) {
          auto first = read_id(false);
          if (!first) return std::unexpected(first.error());
          auto len = r.varint();
          if (!len) return std::unexpected(len.error());
          if (*len == 0 || *len > kMaxCounter - first->counter)
            return std::unexpected(Error{"change removes a range of characters out of range"});
          op.runs.push_back(ElemRun{*first, *len});
        }
        break;
      }
    }
    width += op.width();
    if (width > kMaxCounter) return std::unexpected(Error{"change takes too many op counters"});
    c.ops.push_back(std::move(op));
  }
  if (r.remaining() != 0) return std::unexpected(Error{"change has trailing bytes"});
  if (c.start_op > kMaxCounter - width) return std::unexpected(Error{"change takes too many op counters"});
  c.op_count = width;
  c.bytes.assign(bytes.begin(), bytes.end());
  return c;
}

}  // namespace detail

std::expected<Change, Error> Change::decode(std::span<const std::uint8_t> bytes) {
  auto body = detail::decode_change(bytes, detail::sha256(bytes));
  if (!body) return std::unexpected(body.error());
  return Change(std::make_shared<const detail::ChangeBody>(std::move(*body)));
}

const ChangeHash& Change::hash() const { return body_->hash; }
const ActorId& Change::actor() const { return body_->actor; }
std::uint64_t Change::seq() const { return body_->seq; }
std::uint64_t Change::start_op() const { return body_->start_op; }
std::uint64_t Change::op_count() const { return body_->op_count; }
const std::vector<ChangeHash>& Change::deps() const { return body_->deps; }
std::span<const std::uint8_t> Change::bytes() const { return body_->bytes; }

}  // namespace kivo::doc
