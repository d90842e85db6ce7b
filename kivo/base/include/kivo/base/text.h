#pragma once
// Small Unicode text helpers over UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace kivo::text {

// Appends the UTF-8 encoding of one scalar value.
void append_utf8(char32_t scalar, std::string& out);

// The scalar values of strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF), or nullopt when `text` is not that.
std::optional<std::u32string> decode_utf8(std::string_view text);

// Whether `text` is strict UTF-8, in the sense of decode_utf8, without building the result.
bool is_valid_utf8(std::string_view text);

// `text` with every byte that does not start a strict UTF-8 character replaced by U+FFFD,
// for quoting bytes of unknown origin in messages.
std::string to_valid_utf8(std::string_view text);

// Decodes the strict UTF-8 character at `text[at]` into `scalar`; returns its length in
// bytes, or 0 when the bytes there are not one (or `at` is past the end).
std::size_t decode_one(std::string_view text, std::size_t at, char32_t& scalar);

// Lower-cases every character with the Unicode simple case mapping; invalid UTF-8
// bytes are kept as they are.
std::string to_lower(std::string_view text);

// The number of Unicode scalar values in valid UTF-8 (invalid bytes count one each).
std::size_t scalar_count(std::string_view text);

// The first `count` scalar values of `text`.
std::string_view scalar_prefix(std::string_view text, std::size_t count);

}  // namespace kivo::text
