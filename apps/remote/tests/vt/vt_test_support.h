#pragma once
// Small helpers for the terminal emulator tests.

#include <cstdio>
#include <string>
#include <string_view>

#include "kivo/base/text.h"

namespace remote::vt::testing {

inline std::string to_utf8(char32_t ch) {
  std::string out;
  kivo::text::append_utf8(ch, out);
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
