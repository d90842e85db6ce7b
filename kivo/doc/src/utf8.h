#pragma once
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.

#include <optional>
#include <string>
#include <string_view>

namespace kivo::doc::detail {

std::optional<std::u32string> decode_utf8(std::string_view text);
void append_utf8(std::string& out, char32_t ch);

}  // namespace kivo::doc::detail
