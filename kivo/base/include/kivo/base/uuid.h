#pragma once
// 128-bit identifiers: random generation, parsing of the standard text forms, printing.

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kivo {

struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // A fresh random (version 4, RFC 4122 variant) identifier.
  static Uuid new_v4();

  // Accepts every standard text form, in either letter case: hyphenated
  // (8-4-4-4-12), simple (32 hex digits), braced "{hyphenated}" and "urn:uuid:hyphenated".
  static std::optional<Uuid> parse(std::string_view text);

  // The hyphenated lower-case form, 36 characters.
  std::string to_string() const;

  friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace kivo

template <>
struct std::hash<kivo::Uuid> {
  std::size_t operator()(const kivo::Uuid& id) const noexcept {
    std::size_t h = 0;
    for (auto b : id.bytes) h = h * 131 + b;
    return h;
  }
};
