#pragma once
// The ops a change carries and the change codec. Internal to the document library (and its
// fuzzer).

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "kivo/doc/change.h"
#include "kivo/doc/types.h"

namespace kivo::doc::detail {

enum class OpKind : std::uint8_t { Put = 1, MakeMap = 2, MakeText = 3, DeleteKey = 4, Insert = 5, Remove = 6 };

// Characters first.counter .. first.counter + len - 1 of one actor.
struct ElemRun {
  OpId first;
  std::uint64_t len = 0;
};

struct Op {
  OpKind kind = OpKind::Put;
  ObjId obj;
  std::string key;            // map ops
  std::vector<OpId> pred;     // map ops: the values under the key this op overwrites
  Value value;                // Put
  OpId ref;                   // Insert: the character to insert after; counter 0 is the start
  std::u32string chars;       // Insert: one op counter per character
  std::vector<ElemRun> runs;  // Remove

  std::uint64_t width() const { return kind == OpKind::Insert ? chars.size() : 1; }
};

struct ChangeBody {
  ChangeHash hash;
  ActorId actor;
  std::uint64_t seq = 0;
  std::uint64_t start_op = 0;
  std::uint64_t op_count = 0;
  std::vector<ChangeHash> deps;
  std::vector<Op> ops;
  std::vector<std::uint8_t> bytes;
};

// Op counters stay below this so that counter arithmetic never overflows.
inline constexpr std::uint64_t kMaxCounter = std::uint64_t{1} << 62;

ChangeHash sha256(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> encode_change(const ActorId& actor, std::uint64_t seq, std::uint64_t start_op,
                                        const std::vector<ChangeHash>& deps, const std::vector<Op>& ops);

// `hash` must be the SHA-256 of `bytes` (callers that framed the bytes computed it already).
std::expected<ChangeBody, Error> decode_change(std::span<const std::uint8_t> bytes, const ChangeHash& hash);

}  // namespace kivo::doc::detail
