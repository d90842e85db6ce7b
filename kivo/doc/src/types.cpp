#include "kivo/doc/types.h"

#include "kivo/base/random.h"

namespace kivo::doc {
namespace {

constexpr char kHex[] = "0123456789abcdef";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

template <std::size_t N>
std::string to_hex(const std::array<std::uint8_t, N>& bytes) {
  std::string out;
  out.reserve(N * 2);
  for (auto b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xf]);
  }
  return out;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> from_hex(std::string_view text) {
  if (text.size() != N * 2) return std::nullopt;
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    const int hi = hex_value(text[2 * i]);
    const int lo = hex_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return bytes;
}

}  // namespace

ActorId ActorId::random() {
  ActorId id;
  kivo::fill_random(id.bytes);
  return id;
}

std::optional<ActorId> ActorId::parse(std::string_view hex) {
  auto bytes = from_hex<16>(hex);
  if (!bytes) return std::nullopt;
  return ActorId{*bytes};
}

std::string ActorId::to_string() const { return to_hex(bytes); }

std::string ChangeHash::to_string() const { return to_hex(bytes); }

std::optional<ChangeHash> ChangeHash::parse(std::string_view hex) {
  auto bytes = from_hex<32>(hex);
  if (!bytes) return std::nullopt;
  return ChangeHash{*bytes};
}

}  // namespace kivo::doc
