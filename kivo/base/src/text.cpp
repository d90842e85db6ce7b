#include "kivo/base/text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace kivo::text {

std::size_t decode_one(std::string_view s, std::size_t i, char32_t& out) {
  if (i >= s.size()) return 0;
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xe0) == 0xc0) {
    len = 2, cp = b0 & 0x1f, min = 0x80;
  } else if ((b0 & 0xf0) == 0xe0) {
    len = 3, cp = b0 & 0x0f, min = 0x800;
  } else if ((b0 & 0xf8) == 0xf0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3f);
  }
  if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  out = cp;
  return len;
}

void append_utf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xc0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xe0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

namespace {

// The C.UTF-8 locale carries the full Unicode case tables whatever the user's locale is.
locale_t unicode_locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string to_valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    if (len == 0) {
      out += "\xef\xbf\xbd";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::optional<std::u32string> decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    if (len == 0) return std::nullopt;
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const locale_t locale = unicode_locale();
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += (b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    if (len == 0) {
      out += text[i];
      ++i;
      continue;
    }
    if (locale != static_cast<locale_t>(nullptr)) cp = static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), locale));
    append_utf8(cp, out);
    i += len;
  }
  return out;
}

std::size_t scalar_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    i += len == 0 ? 1 : len;
  }
  return count;
}

std::string_view scalar_prefix(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < text.size(); ++n) {
    char32_t cp = 0;
    const std::size_t len = decode_one(text, i, cp);
    i += len == 0 ? 1 : len;
  }
  return text.substr(0, i);
}

}  // namespace kivo::text
