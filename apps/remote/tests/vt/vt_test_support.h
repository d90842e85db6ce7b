#pragma once
// Small helpers for the terminal emulator tests.

#include <cstdio>
#include <string>
#include <string_view>

namespace remote::vt::testing {

inline std::string to_utf8(char32_t ch) {
  std::string out;
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
  return out;
}

// Bytes as a readable trace label: ESC as \e, other non-printables as \xNN.
inline std::string printable(std::string_view bytes) {
  std::string out;
  for (unsigned char byte : bytes) {
    if (byte == 0x1B) {
      out += "\\e";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace remote::vt::testing
