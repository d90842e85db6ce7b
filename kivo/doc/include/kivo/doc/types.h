#pragma once
// Identifiers and values of the document: actors, op ids, object ids, change hashes and the
// scalar values a map entry can hold.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kivo::doc {

// A failure as a specific, stable sentence.
struct Error {
  std::string message;
  friend bool operator==(const Error&, const Error&) = default;
};

// One replica's identity: 16 random bytes. Every op a replica makes carries it, so two live
// replicas must never share one.
struct ActorId {
  std::array<std::uint8_t, 16> bytes{};

  // 128 bits from the kernel's random source.
  static ActorId random();
  // Exactly 32 lower-case hex digits, the form to_string writes.
  static std::optional<ActorId> parse(std::string_view hex);
  std::string to_string() const;

  friend auto operator<=>(const ActorId&, const ActorId&) = default;
};

// A Lamport op id. The order (counter first, then actor bytes) is total and the same on every
// replica, which is what makes "greatest op id wins" deterministic.
struct OpId {
  std::uint64_t counter = 0;
  ActorId actor;

  friend auto operator<=>(const OpId&, const OpId&) = default;
};

// An object is named by the op that created it; the root map by the zero id.
struct ObjId {
  OpId op;

  bool is_root() const { return op.counter == 0; }
  friend auto operator<=>(const ObjId&, const ObjId&) = default;
};

inline constexpr ObjId kRoot{};

enum class ObjType : std::uint8_t { Map, Text };

// SHA-256 of a change's encoding; names the change everywhere.
struct ChangeHash {
  std::array<std::uint8_t, 32> bytes{};

  std::string to_string() const;  // 64 lower-case hex digits
  static std::optional<ChangeHash> parse(std::string_view hex);
  friend auto operator<=>(const ChangeHash&, const ChangeHash&) = default;
};

struct Null {
  friend bool operator==(Null, Null) = default;
};
// A number typed as a counter. It merges like every other scalar (the greatest op wins).
struct Counter {
  std::int64_t value = 0;
  friend bool operator==(Counter, Counter) = default;
};
// Milliseconds since the Unix epoch.
struct Timestamp {
  std::int64_t millis = 0;
  friend bool operator==(Timestamp, Timestamp) = default;
};
// A child object stored under a map key (made with put_object, never with put).
struct ObjectRef {
  ObjId id;
  ObjType type = ObjType::Map;
  friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
};

using Value = std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string, Counter, Timestamp, ObjectRef>;

}  // namespace kivo::doc

template <>
struct std::hash<kivo::doc::ActorId> {
  std::size_t operator()(const kivo::doc::ActorId& id) const noexcept {
    // The bytes are random already; eight of them are a good hash.
    std::size_t h = 0;
    for (std::size_t i = 0; i < sizeof(std::size_t) && i < id.bytes.size(); ++i) h = (h << 8) | id.bytes[i];
    return h;
  }
};

template <>
struct std::hash<kivo::doc::OpId> {
  std::size_t operator()(const kivo::doc::OpId& id) const noexcept {
    return std::hash<kivo::doc::ActorId>{}(id.actor) ^ (id.counter * 0x9e3779b97f4a7c15ULL);
  }
};

template <>
struct std::hash<kivo::doc::ObjId> {
  std::size_t operator()(const kivo::doc::ObjId& id) const noexcept { return std::hash<kivo::doc::OpId>{}(id.op); }
};

template <>
struct std::hash<kivo::doc::ChangeHash> {
  std::size_t operator()(const kivo::doc::ChangeHash& h) const noexcept {
    std::size_t v = 0;
    for (std::size_t i = 0; i < sizeof(std::size_t); ++i) v = (v << 8) | h.bytes[i];
    return v;
  }
};
