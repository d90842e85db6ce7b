#include "utf8.h"

#include <cstdint>

namespace kivo::doc::detail {

std::optional<std::u32string> decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    std::size_t extra = 0;
    char32_t ch = 0;
    char32_t min = 0;
    if ((b0 & 0xe0) == 0xc0) {
      extra = 1, ch = b0 & 0x1f, min = 0x80;
    } else if ((b0 & 0xf0) == 0xe0) {
      extra = 2, ch = b0 & 0x0f, min = 0x800;
    } else if ((b0 & 0xf8) == 0xf0) {
      extra = 3, ch = b0 & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (text.size() - i <= extra) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<std::uint8_t>(text[i + k]);
      if ((b & 0xc0) != 0x80) return std::nullopt;
      ch = (ch << 6) | (b & 0x3f);
    }
    if (ch < min || ch > 0x10ffff || (ch >= 0xd800 && ch <= 0xdfff)) return std::nullopt;
    out.push_back(ch);
    i += extra + 1;
  }
  return out;
}

void append_utf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out.push_back(static_cast<char>(ch));
  } else if (ch < 0x800) {
    out.push_back(static_cast<char>(0xc0 | (ch >> 6)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3f)));
  } else if (ch < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | (ch >> 12)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | (ch >> 18)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3f)));
  }
}

}  // namespace kivo::doc::detail
