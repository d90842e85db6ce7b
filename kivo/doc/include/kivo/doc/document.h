#pragma once
// The framework's CRDT document: a root map holding scalars, child maps and text objects,
// edited locally, grouped into changes by commit() and merged with other replicas' changes.
//
// Merge rules (the same result on every replica, whatever order changes arrive in):
// - A map key holds the values no later op has overwritten. A put or delete overwrites exactly
//   the values its replica saw under the key. Concurrent puts therefore all stay: get() returns
//   the one with the greatest op id, get_all() every one of them, greatest first. The next put
//   on the key overwrites them all.
// - A put racing a delete of the same key survives: the delete removes only what it saw.
// - A put (or put_object) over an object replaces it; the old object is unreachable from the
//   key, and concurrent edits inside it are kept there, invisibly.
// - Deleting a key that holds nothing is a no-op and writes nothing.
// - Text objects are sequences of Unicode scalar values (RGA): each character is named by its
//   op id and is inserted after a named character; concurrent inserts at one place are ordered
//   by descending op id; a deleted character stays as an invisible tombstone, so a concurrent
//   insert next to it still finds its place. Nothing is lost or duplicated.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "kivo/doc/change.h"
#include "kivo/doc/types.h"

namespace kivo::doc {

namespace detail {
struct Op;
}

struct ApplyResult {
  // Changes applied by this call, including held changes it released.
  std::size_t applied = 0;
  // Changes that can never apply (a broken history or a malformed op), with the reason.
  std::vector<Error> refused;
};

class Document {
 public:
  explicit Document(ActorId actor = ActorId::random());

  const ActorId& actor() const { return actor_; }
  // Later commits are made as `actor`: for a replica that must not continue the history it was
  // copied or rebuilt from. Refused while local edits are uncommitted.
  [[nodiscard]] std::expected<void, Error> set_actor(const ActorId& actor);

  // Reading sees local edits at once, committed or not.
  [[nodiscard]] std::expected<std::optional<Value>, Error> get(const ObjId& obj, std::string_view key) const;
  // Every concurrent value under the key, the winner first; empty when the key is missing.
  [[nodiscard]] std::expected<std::vector<Value>, Error> get_all(const ObjId& obj, std::string_view key) const;
  // In ascending byte order.
  [[nodiscard]] std::expected<std::vector<std::string>, Error> keys(const ObjId& obj) const;
  [[nodiscard]] std::expected<std::string, Error> text(const ObjId& obj) const;
  // Length in Unicode scalar values.
  [[nodiscard]] std::expected<std::size_t, Error> text_length(const ObjId& obj) const;
  // Whether the object exists (reachable or not) and what it is.
  std::optional<ObjType> object_type(const ObjId& obj) const;

  // Edits. Each is applied to this replica at once and waits in the pending change until commit().
  [[nodiscard]] std::expected<void, Error> put(const ObjId& obj, std::string_view key, Value value);
  [[nodiscard]] std::expected<ObjId, Error> put_object(const ObjId& obj, std::string_view key, ObjType type);
  [[nodiscard]] std::expected<void, Error> delete_key(const ObjId& obj, std::string_view key);
  // Positions and counts are in Unicode scalar values; a range beyond the end is refused.
  [[nodiscard]] std::expected<void, Error> splice_text(const ObjId& obj, std::size_t pos, std::size_t delete_count,
                                                       std::string_view insert);

  // Ops the pending change holds.
  std::size_t pending_ops() const;
  // Groups the pending ops into a change that depends on the current heads. Nothing pending,
  // no change.
  std::optional<Change> commit();

  // Accepts changes in any order: a change whose dependencies are missing is held until they
  // arrive; a change already known is ignored. Refused while local edits are uncommitted, since
  // they were made against the heads before these changes.
  [[nodiscard]] std::expected<ApplyResult, Error> apply_changes(std::span<const Change> changes);

  // The changes nothing depends on yet, ascending.
  std::vector<ChangeHash> heads() const { return {heads_.begin(), heads_.end()}; }
  bool has_change(const ChangeHash& hash) const { return applied_.contains(hash); }
  // Changes waiting for dependencies.
  std::size_t held_changes() const { return held_.size(); }

  ~Document();
  Document(const Document&);
  Document(Document&&) noexcept;
  Document& operator=(const Document&);
  Document& operator=(Document&&) noexcept;

 private:
  struct MapEntry {
    OpId id;
    Value value;
  };
  struct MapObject {
    // Entries sorted by descending op id: front() wins.
    std::map<std::string, std::vector<MapEntry>, std::less<>> entries;
  };
  struct Elem {
    OpId id;
    char32_t ch = 0;
    bool deleted = false;
  };
  struct TextObject {
    std::vector<Elem> elems;
    std::size_t visible = 0;
  };
  using Object = std::variant<MapObject, TextObject>;
  struct Held {
    Change change;
    std::size_t missing = 0;
  };

  std::expected<const MapObject*, Error> map_at(const ObjId& obj) const;
  std::expected<const TextObject*, Error> text_at(const ObjId& obj) const;
  // Applies a local op and adds it to the pending change.
  void record(detail::Op op);
  std::expected<void, Error> validate(const detail::ChangeBody& change) const;
  void apply_op(const detail::Op& op, std::uint64_t counter, const ActorId& actor);
  std::expected<void, Error> try_apply(const Change& change);

  ActorId actor_;
  std::unordered_map<ObjId, Object> objects_;
  std::uint64_t max_op_ = 0;

  // Ops made since the last commit; they already show in the objects above.
  std::vector<detail::Op> pending_;
  std::uint64_t pending_start_ = 0;

  std::unordered_map<ChangeHash, std::uint64_t> applied_;  // hash -> the change's last op counter
  struct ActorState {
    std::uint64_t seq = 0;      // of the actor's last applied change
    std::uint64_t last_op = 0;  // its last op counter
  };
  std::unordered_map<ActorId, ActorState> actors_;
  std::set<ChangeHash> heads_;
  std::unordered_map<ChangeHash, Held> held_;
  std::unordered_map<ChangeHash, std::vector<ChangeHash>> waiting_;  // missing dep -> held changes
  std::unordered_set<ChangeHash> refused_;
};

// Makes the text object equal new_text with the smallest splice: the common prefix and suffix
// (in Unicode scalar values) stay, so an unchanged text writes nothing.
[[nodiscard]] std::expected<void, Error> splice_text_diffed(Document& doc, const ObjId& text, std::string_view new_text);

}  // namespace kivo::doc
