#pragma once
// A change: the ops one replica committed together, with the changes it had seen (its
// dependencies). Its encoding is versioned binary; its hash is the SHA-256 of that encoding.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "kivo/doc/types.h"

namespace kivo::doc {

namespace detail {
struct ChangeBody;
}

// An immutable, cheaply copied change.
class Change {
 public:
  // Treats the bytes as hostile: every count and length is checked against what remains
  // before anything is allocated; a malformed encoding is an error, never a crash.
  [[nodiscard]] static std::expected<Change, Error> decode(std::span<const std::uint8_t> bytes);

  const ChangeHash& hash() const;
  const ActorId& actor() const;
  // 1 for an actor's first change, then consecutive.
  std::uint64_t seq() const;
  // Counter of the change's first op; its ops take consecutive counters from here.
  std::uint64_t start_op() const;
  // How many op counters the change takes.
  std::uint64_t op_count() const;
  // Sorted ascending.
  const std::vector<ChangeHash>& deps() const;
  std::span<const std::uint8_t> bytes() const;

  // The decoded ops, for the document and the codec; their type is private to the library.
  explicit Change(std::shared_ptr<const detail::ChangeBody> body) : body_(std::move(body)) {}
  const detail::ChangeBody& body() const { return *body_; }

 private:
  std::shared_ptr<const detail::ChangeBody> body_;
};

}  // namespace kivo::doc
