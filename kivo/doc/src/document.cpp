#include "kivo/doc/document.h"

#include <algorithm>

#include "kivo/base/log.h"
#include "ops.h"
#include "kivo/base/text.h"

namespace kivo::doc {

using detail::ElemRun;
using detail::Op;
using detail::OpKind;

namespace {

std::unexpected<Error> fail(std::string message) { return std::unexpected(Error{std::move(message)}); }

std::string short_hash(const ChangeHash& hash) { return hash.to_string().substr(0, 12); }

}  // namespace

Document::Document(ActorId actor) : actor_(actor) { objects_.emplace(kRoot, MapObject{}); }
Document::~Document() = default;
Document::Document(const Document&) = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(const Document&) = default;
Document& Document::operator=(Document&&) noexcept = default;

std::expected<void, Error> Document::set_actor(const ActorId& actor) {
  if (!pending_.empty()) return fail("document has uncommitted local changes");
  actor_ = actor;
  return {};
}

// --- Reading ----------------------------------------------------------------------------------

std::expected<const Document::MapObject*, Error> Document::map_at(const ObjId& obj) const {
  auto it = objects_.find(obj);
  if (it == objects_.end()) return fail("no such object");
  const auto* map = std::get_if<MapObject>(&it->second);
  if (map == nullptr) return fail("object is not a map object");
  return map;
}

std::expected<const Document::TextObject*, Error> Document::text_at(const ObjId& obj) const {
  auto it = objects_.find(obj);
  if (it == objects_.end()) return fail("no such object");
  const auto* text = std::get_if<TextObject>(&it->second);
  if (text == nullptr) return fail("object is not a text object");
  return text;
}

std::expected<std::optional<Value>, Error> Document::get(const ObjId& obj, std::string_view key) const {
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  auto it = (*map)->entries.find(key);
  if (it == (*map)->entries.end()) return std::optional<Value>{};
  return std::optional<Value>{it->second.front().value};
}

std::expected<std::vector<Value>, Error> Document::get_all(const ObjId& obj, std::string_view key) const {
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  std::vector<Value> values;
  auto it = (*map)->entries.find(key);
  if (it != (*map)->entries.end()) {
    for (const MapEntry& e : it->second) values.push_back(e.value);
  }
  return values;
}

std::expected<std::vector<std::string>, Error> Document::keys(const ObjId& obj) const {
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  std::vector<std::string> keys;
  keys.reserve((*map)->entries.size());
  for (const auto& [key, entries] : (*map)->entries) keys.push_back(key);
  return keys;
}

std::expected<std::string, Error> Document::text(const ObjId& obj) const {
  auto text = text_at(obj);
  if (!text) return std::unexpected(text.error());
  std::string out;
  out.reserve((*text)->visible);
  for (const Elem& e : (*text)->elems) {
    if (!e.deleted) kivo::text::append_utf8(e.ch, out);
  }
  return out;
}

std::expected<std::size_t, Error> Document::text_length(const ObjId& obj) const {
  auto text = text_at(obj);
  if (!text) return std::unexpected(text.error());
  return (*text)->visible;
}

std::optional<ObjType> Document::object_type(const ObjId& obj) const {
  auto it = objects_.find(obj);
  if (it == objects_.end()) return std::nullopt;
  return std::holds_alternative<MapObject>(it->second) ? ObjType::Map : ObjType::Text;
}

// --- Local edits ------------------------------------------------------------------------------

namespace {

template <typename Entries>
std::vector<OpId> ids_of(const Entries* entries) {
  std::vector<OpId> ids;
  if (entries != nullptr) {
    for (const auto& e : *entries) ids.push_back(e.id);
  }
  return ids;
}

}  // namespace

void Document::record(Op op) {
  const std::uint64_t counter = max_op_ + 1;
  if (pending_.empty()) pending_start_ = counter;
  apply_op(op, counter, actor_);
  max_op_ += op.width();
  pending_.push_back(std::move(op));
}

std::expected<void, Error> Document::put(const ObjId& obj, std::string_view key, Value value) {
  if (std::holds_alternative<ObjectRef>(value)) return fail("an object cannot be put as a value; use put_object");
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  auto it = (*map)->entries.find(key);
  Op op;
  op.kind = OpKind::Put;
  op.obj = obj;
  op.key = key;
  op.pred = ids_of(it == (*map)->entries.end() ? nullptr : &it->second);
  op.value = std::move(value);
  record(std::move(op));
  return {};
}

std::expected<ObjId, Error> Document::put_object(const ObjId& obj, std::string_view key, ObjType type) {
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  auto it = (*map)->entries.find(key);
  Op op;
  op.kind = type == ObjType::Map ? OpKind::MakeMap : OpKind::MakeText;
  op.obj = obj;
  op.key = key;
  op.pred = ids_of(it == (*map)->entries.end() ? nullptr : &it->second);
  const ObjId created{OpId{max_op_ + 1, actor_}};
  record(std::move(op));
  return created;
}

std::expected<void, Error> Document::delete_key(const ObjId& obj, std::string_view key) {
  auto map = map_at(obj);
  if (!map) return std::unexpected(map.error());
  auto it = (*map)->entries.find(key);
  if (it == (*map)->entries.end()) return {};
  Op op;
  op.kind = OpKind::DeleteKey;
  op.obj = obj;
  op.key = key;
  op.pred = ids_of(&it->second);
  record(std::move(op));
  return {};
}

std::expected<void, Error> Document::splice_text(const ObjId& obj, std::size_t pos, std::size_t delete_count,
                                                 std::string_view insert) {
  auto found = text_at(obj);
  if (!found) return std::unexpected(found.error());
  const TextObject& text = **found;
  auto chars = kivo::text::decode_utf8(insert);
  if (!chars) return fail("inserted text is not valid UTF-8");
  if (pos > text.visible) return fail("splice position is beyond the end of the text");
  if (delete_count > text.visible - pos) return fail("splice deletes beyond the end of the text");

  // The element before `pos` (the insert's anchor) and the ids of the deleted elements.
  OpId anchor;
  std::vector<ElemRun> runs;
  std::size_t visible = 0;
  for (const Elem& e : text.elems) {
    if (e.deleted) continue;
    if (visible + 1 == pos) anchor = e.id;
    if (visible >= pos && visible < pos + delete_count) {
      if (!runs.empty() && runs.back().first.actor == e.id.actor &&
          runs.back().first.counter + runs.back().len == e.id.counter) {
        ++runs.back().len;
      } else {
        runs.push_back(ElemRun{e.id, 1});
      }
    }
    if (++visible >= pos + delete_count) break;
  }

  if (!runs.empty()) {
    Op op;
    op.kind = OpKind::Remove;
    op.obj = obj;
    op.runs = std::move(runs);
    record(std::move(op));
  }
  if (!chars->empty()) {
    Op op;
    op.kind = OpKind::Insert;
    op.obj = obj;
    op.ref = anchor;
    op.chars = std::move(*chars);
    record(std::move(op));
  }
  return {};
}

std::size_t Document::pending_ops() const { return pending_.size(); }

std::optional<Change> Document::commit() {
  if (pending_.empty()) return std::nullopt;
  detail::ChangeBody body;
  body.actor = actor_;
  body.seq = actors_[actor_].seq + 1;
  body.start_op = pending_start_;
  body.op_count = max_op_ + 1 - pending_start_;
  body.deps = heads();
  body.bytes = detail::encode_change(body.actor, body.seq, body.start_op, body.deps, pending_);
  body.hash = detail::sha256(body.bytes);
  body.ops = std::move(pending_);
  pending_.clear();

  applied_[body.hash] = max_op_;
  actors_[actor_] = ActorState{body.seq, max_op_};
  heads_.clear();
  heads_.insert(body.hash);
  return Change(std::make_shared<const detail::ChangeBody>(std::move(body)));
}

// --- Applying ops -----------------------------------------------------------------------------

namespace {

// Where `id` is in `elems`, searching forward from `from` first: the characters of one removed
// range follow each other.
template <typename Elems>
std::optional<std::size_t> find_elem(const Elems& elems, const OpId& id, std::size_t from) {
  from = std::min(from, elems.size());
  for (std::size_t i = from; i < elems.size(); ++i) {
    if (elems[i].id == id) return i;
  }
  for (std::size_t i = 0; i < from; ++i) {
    if (elems[i].id == id) return i;
  }
  return std::nullopt;
}

}  // namespace

void Document::apply_op(const Op& op, std::uint64_t counter, const ActorId& actor) {
  const OpId id{counter, actor};
  auto it = objects_.find(op.obj);
  if (it == objects_.end()) kivo::fatal("a validated op names a missing object");
  switch (op.kind) {
    case OpKind::Put:
    case OpKind::MakeMap:
    case OpKind::MakeText: {
      auto& map = std::get<MapObject>(it->second);
      auto& entries = map.entries.try_emplace(op.key).first->second;
      std::erase_if(entries, [&](const MapEntry& e) { return std::find(op.pred.begin(), op.pred.end(), e.id) != op.pred.end(); });
      Value value = op.value;
      if (op.kind != OpKind::Put) value = ObjectRef{ObjId{id}, op.kind == OpKind::MakeMap ? ObjType::Map : ObjType::Text};
      auto at = std::find_if(entries.begin(), entries.end(), [&](const MapEntry& e) { return e.id < id; });
      entries.insert(at, MapEntry{id, std::move(value)});
      if (op.kind == OpKind::MakeMap) objects_.emplace(ObjId{id}, MapObject{});
      if (op.kind == OpKind::MakeText) objects_.emplace(ObjId{id}, TextObject{});
      break;
    }
    case OpKind::DeleteKey: {
      auto& map = std::get<MapObject>(it->second);
      auto entries = map.entries.find(op.key);
      if (entries == map.entries.end()) break;
      std::erase_if(entries->second,
                    [&](const MapEntry& e) { return std::find(op.pred.begin(), op.pred.end(), e.id) != op.pred.end(); });
      if (entries->second.empty()) map.entries.erase(entries);
      break;
    }
    case OpKind::Insert: {
      auto& text = std::get<TextObject>(it->second);
      std::size_t at = 0;
      if (op.ref.counter != 0) {
        auto ref = find_elem(text.elems, op.ref, 0);
        if (!ref) kivo::fatal("a validated insert names a missing character");
        at = *ref + 1;
      }
      // Concurrent inserts after the same character (and what follows them) with greater ids
      // come first. The whole run lands together: its own ids only grow.
      while (at < text.elems.size() && id < text.elems[at].id) ++at;
      std::vector<Elem> run;
      run.reserve(op.chars.size());
      for (std::size_t k = 0; k < op.chars.size(); ++k) run.push_back(Elem{OpId{counter + k, actor}, op.chars[k], false});
      text.elems.insert(text.elems.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
      text.visible += run.size();
      break;
    }
    case OpKind::Remove: {
      auto& text = std::get<TextObject>(it->second);
      std::size_t hint = 0;
      for (const ElemRun& r : op.runs) {
        for (std::uint64_t k = 0; k < r.len; ++k) {
          auto at = find_elem(text.elems, OpId{r.first.counter + k, r.first.actor}, hint);
          if (!at) kivo::fatal("a validated remove names a missing character");
          if (!text.elems[*at].deleted) {
            text.elems[*at].deleted = true;
            --text.visible;
          }
          hint = *at + 1;
        }
      }
      break;
    }
  }
}

// Checks that every op of a change can apply, before any does, so that a change applies whole or
// not at all. Everything an op refers to must be older than the op (Lamport order), which the
// RGA order relies on.
std::expected<void, Error> Document::validate(const detail::ChangeBody& change) const {
  std::unordered_map<ObjId, ObjType> created;
  // Characters this change inserts: first counter -> (object, count).
  std::map<std::uint64_t, std::pair<ObjId, std::uint64_t>> inserted;

  auto type_of = [&](const ObjId& obj) -> std::optional<ObjType> {
    if (auto it = created.find(obj); it != created.end()) return it->second;
    return object_type(obj);
  };
  auto elem_exists = [&](const ObjId& obj, const OpId& id, std::size_t& hint) {
    if (id.actor == change.actor && id.counter >= change.start_op) {
      auto it = inserted.upper_bound(id.counter);
      if (it == inserted.begin()) return false;
      --it;
      return it->second.first == obj && id.counter < it->first + it->second.second;
    }
    auto it = objects_.find(obj);
    if (it == objects_.end()) return false;
    const auto& elems = std::get<TextObject>(it->second).elems;
    auto at = find_elem(elems, id, hint);
    if (at) hint = *at + 1;
    return at.has_value();
  };

  // Error texts are built only on failure: this runs for every op of every change loaded.
  auto fail_in = [&](const char* what) { return fail("change " + short_hash(change.hash) + ": " + what); };
  std::uint64_t counter = change.start_op;
  for (const Op& op : change.ops) {
    if (op.obj.op.counter >= counter) return fail_in("an op refers to an object not older than itself");
    const auto type = type_of(op.obj);
    if (!type) return fail_in("an op refers to an unknown object");
    switch (op.kind) {
      case OpKind::Put:
      case OpKind::MakeMap:
      case OpKind::MakeText:
      case OpKind::DeleteKey:
        if (*type != ObjType::Map) return fail_in("a map op targets a text object");
        for (const OpId& p : op.pred) {
          if (p.counter >= counter) return fail_in("an op overwrites a value not older than itself");
        }
        if (op.kind == OpKind::MakeMap) created.emplace(ObjId{OpId{counter, change.actor}}, ObjType::Map);
        if (op.kind == OpKind::MakeText) created.emplace(ObjId{OpId{counter, change.actor}}, ObjType::Text);
        break;
      case OpKind::Insert: {
        if (*type != ObjType::Text) return fail_in("a text op targets a map object");
        std::size_t hint = 0;
        if (op.ref.counter != 0 && (op.ref.counter >= counter || !elem_exists(op.obj, op.ref, hint)))
          return fail_in("an insert refers to an unknown character");
        inserted.emplace(counter, std::make_pair(op.obj, op.width()));
        break;
      }
      case OpKind::Remove: {
        if (*type != ObjType::Text) return fail_in("a text op targets a map object");
        std::size_t hint = 0;
        for (const ElemRun& r : op.runs) {
          if (r.first.counter + r.len > counter) return fail_in("a remove refers to a character not older than itself");
          for (std::uint64_t k = 0; k < r.len; ++k) {
            if (!elem_exists(op.obj, OpId{r.first.counter + k, r.first.actor}, hint))
              return fail_in("a remove refers to an unknown character");
          }
        }
        break;
      }
    }
    counter += op.width();
  }
  return {};
}

std::expected<void, Error> Document::try_apply(const Change& change) {
  const detail::ChangeBody& body = change.body();
  auto where = [&] { return "change " + short_hash(body.hash) + ": "; };
  const auto known = actors_.find(body.actor);
  const ActorState previous = known == actors_.end() ? ActorState{} : known->second;
  const std::uint64_t expected_seq = previous.seq + 1;
  if (body.seq != expected_seq) {
    // Two different changes with one actor and sequence number: the actor was used by two
    // replicas at once. Only the first to arrive can apply.
    return fail(where() + "actor " + body.actor.to_string() + " has sequence " + std::to_string(body.seq) +
                " where " + std::to_string(expected_seq) + " was expected");
  }
  // Op ids stay unique and Lamport-ordered only if a change counts on from everything it saw,
  // including its actor's previous change.
  if (body.start_op <= previous.last_op) return fail(where() + "its ops are not counted after its dependencies'");
  for (const ChangeHash& dep : body.deps) {
    if (body.start_op <= applied_.at(dep)) return fail(where() + "its ops are not counted after its dependencies'");
  }
  if (auto ok = validate(body); !ok) return ok;

  std::uint64_t counter = body.start_op;
  for (const Op& op : body.ops) {
    apply_op(op, counter, body.actor);
    counter += op.width();
  }
  const std::uint64_t last = body.start_op + body.op_count - 1;
  max_op_ = std::max(max_op_, last);
  applied_[body.hash] = last;
  actors_[body.actor] = ActorState{body.seq, last};
  for (const ChangeHash& dep : body.deps) heads_.erase(dep);
  heads_.insert(body.hash);
  return {};
}

std::expected<ApplyResult, Error> Document::apply_changes(std::span<const Change> changes) {
  if (!pending_.empty()) return fail("document has uncommitted local changes");
  ApplyResult result;
  std::vector<ChangeHash> ready;
  for (const Change& change : changes) {
    const ChangeHash& hash = change.hash();
    if (applied_.contains(hash) || held_.contains(hash) || refused_.contains(hash)) continue;
    std::size_t missing = 0;
    for (const ChangeHash& dep : change.deps()) {
      if (!applied_.contains(dep)) {
        ++missing;
        waiting_[dep].push_back(hash);
      }
    }
    held_.emplace(hash, Held{change, missing});
    if (missing == 0) ready.push_back(hash);
  }
  while (!ready.empty()) {
    const ChangeHash hash = ready.back();
    ready.pop_back();
    auto node = held_.extract(hash);
    if (auto ok = try_apply(node.mapped().change); !ok) {
      // Whatever depends on a refused change stays held: it can never apply either.
      refused_.insert(hash);
      result.refused.push_back(ok.error());
      continue;
    }
    ++result.applied;
    if (auto w = waiting_.find(hash); w != waiting_.end()) {
      for (const ChangeHash& dependent : w->second) {
        auto it = held_.find(dependent);
        if (it != held_.end() && --it->second.missing == 0) ready.push_back(dependent);
      }
      waiting_.erase(w);
    }
  }
  return result;
}

}  // namespace kivo::doc
