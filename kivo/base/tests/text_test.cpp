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

}  // namespace
}  // namespace kivo::text
