#include "kivo/base/text.h"

#include <gtest/gtest.h>

namespace kivo::text {
namespace {

TEST(Text, LowerCasesUnicodeAndKeepsInvalidBytes) {
  EXPECT_EQ(to_lower("Build BOX"), "build box");
  EXPECT_EQ(to_lower("\xC3\x89" "DITH \xCE\xA3"), "\xC3\xA9" "dith \xCF\x83");  // É→é, Σ→σ
  EXPECT_EQ(to_lower("A\xFF" "B\xC3"), "a\xFF" "b\xC3");
}

TEST(Text, CountsAndCutsByScalarValues) {
  const std::string s = "a\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(scalar_count(s), 4u);
  EXPECT_EQ(scalar_prefix(s, 2), "a\xE2\x82\xAC");
  EXPECT_EQ(scalar_prefix(s, 10), s);
  EXPECT_EQ(scalar_count("\xFF\xFE"), 2u);
}

TEST(Text, DecodesOnlyStrictUtf8) {
  const std::string valid = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const auto decoded = decode_utf8(valid);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, (std::u32string{U'a', U'\u00e9', U'\u20ac', U'\U0001F600'}));
  std::string encoded;
  for (const char32_t ch : *decoded) append_utf8(ch, encoded);
  EXPECT_EQ(encoded, valid);
  EXPECT_EQ(decode_utf8(""), std::u32string());

  for (const char* invalid : {"\xC0\xAF",          // overlong '/'
                              "\xE0\x80\xAF",      // overlong, three bytes
                              "\xED\xA0\x80",      // a surrogate
                              "\xF4\x90\x80\x80",  // above U+10FFFF
                              "\xF8\x88\x80\x80\x80", "\x80", "a\xE2\x82",  // stray and cut off
                              "\xC3("}) {
    EXPECT_FALSE(decode_utf8(invalid)) << invalid;
    EXPECT_FALSE(is_valid_utf8(invalid)) << invalid;
  }
  EXPECT_TRUE(is_valid_utf8(valid));
  // Bytes of unknown origin quoted in a message: each stray byte becomes one U+FFFD.
  EXPECT_EQ(to_valid_utf8("a\xC3(\xE2\x82\xAC\xFF"), "a\xEF\xBF\xBD(\xE2\x82\xAC\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kivo::text
