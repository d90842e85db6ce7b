#include "kivo/base/uuid.h"

#include "kivo/base/random.h"

namespace kivo {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses exactly 32 hex digits, skipping hyphens at the given positions only.
std::optional<Uuid> parse_digits(std::string_view text, bool hyphenated) {
  Uuid id;
  std::size_t digit = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (hyphenated && (i == 8 || i == 13 || i == 18 || i == 23)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = hex_value(text[i]);
    if (v < 0 || digit >= 32) return std::nullopt;
    id.bytes[digit / 2] = static_cast<std::uint8_t>(id.bytes[digit / 2] | (digit % 2 == 0 ? v << 4 : v));
    ++digit;
  }
  if (digit != 32) return std::nullopt;
  return id;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

Uuid Uuid::new_v4() {
  Uuid id;
  fill_random(id.bytes);
  id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0f) | 0x40);
  id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3f) | 0x80);
  return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  switch (text.size()) {
    case 32: return parse_digits(text, false);
    case 36: return parse_digits(text, true);
    case 38:
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      return parse_digits(text.substr(1, 36), true);
    case 45:
      if (!starts_with_ignoring_case(text, "urn:uuid:")) return std::nullopt;
      return parse_digits(text.substr(9), true);
    default: return std::nullopt;
  }
}

std::string Uuid::to_string() const {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0f];
  }
  return out;
}

}  // namespace kivo
