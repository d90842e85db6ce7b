#include "kivo/base/uuid.h"

#include <gtest/gtest.h>

namespace kivo {
namespace {

TEST(Uuid, ParsesEveryStandardFormToTheSameValue) {
  const std::string canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";
  for (const char* text : {"67e55044-10b1-426f-9247-bb680e5fe0c8", "67E55044-10B1-426F-9247-BB680E5FE0C8",
                           "67e5504410b1426f9247bb680e5fe0c8", "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
                           "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
                           "URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8"}) {
    const auto id = Uuid::parse(text);
    ASSERT_TRUE(id.has_value()) << text;
    EXPECT_EQ(id->to_string(), canonical) << text;
  }
}

TEST(Uuid, RefusesMalformedText) {
  for (const char* text : {"", "67e55044-10b1-426f-9247-bb680e5fe0c", "67e55044-10b1-426f-9247-bb680e5fe0c8a",
                           "67e5504410b1-426f-9247-bb680e5fe0c8-", "g7e55044-10b1-426f-9247-bb680e5fe0c8",
                           "{67e55044-10b1-426f-9247-bb680e5fe0c8", "urn:uuix:67e55044-10b1-426f-9247-bb680e5fe0c8",
                           " 67e55044-10b1-426f-9247-bb680e5fe0c8"}) {
    EXPECT_FALSE(Uuid::parse(text).has_value()) << text;
  }
}

TEST(Uuid, NewV4SetsVersionAndVariantAndDiffers) {
  const Uuid a = Uuid::new_v4();
  const Uuid b = Uuid::new_v4();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.bytes[6] >> 4, 4);
  EXPECT_EQ(a.bytes[8] & 0xc0, 0x80);
  EXPECT_EQ(Uuid::parse(a.to_string()), a);
}

}  // namespace
}  // namespace kivo
