#include "kivo/p2p/endpoint_id.h"

#include <gtest/gtest.h>

#include <string>

namespace kivo::p2p {
namespace {

// Ed25519 key pair 1 of RFC 8032: the seed and the public key it derives.
constexpr std::array<std::uint8_t, 32> kSeed = {
    0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a, 0xf4, 0x92, 0xec, 0x2c, 0xc4,
    0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
constexpr std::array<std::uint8_t, 32> kPublic = {
    0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9, 0x64, 0x07, 0x3a,
    0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};
constexpr std::string_view kText = "25njqamcweflpvkl73j4szahhihoc4xt3ktcgjnpaingr5yhkena";

TEST(EndpointId, SeedDerivesTheKnownKeyAndItsTextRoundTrips) {
  const EndpointId id = EndpointId::from_secret_seed(kSeed);
  EXPECT_EQ(id.bytes, kPublic);
  EXPECT_EQ(id.to_string(), kText);
  auto parsed = EndpointId::parse(kText);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, id);

  // Other seeds give other keys, and every derived key survives its own text form.
  for (std::uint8_t fill : {0x00, 0x01, 0x7f, 0xff}) {
    std::array<std::uint8_t, 32> seed{};
    seed.fill(fill);
    const EndpointId other = EndpointId::from_secret_seed(seed);
    EXPECT_NE(other, id);
    auto back = EndpointId::parse(other.to_string());
    ASSERT_TRUE(back.has_value()) << other.to_string();
    EXPECT_EQ(*back, other);
  }
}

TEST(EndpointId, RefusesEveryOtherText) {
  std::string upper(kText);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string one_upper(kText);
  one_upper[10] = 'L';
  std::string trailing_bit(kText);
  trailing_bit.back() = 'b';  // the last character carries 1 key bit and 4 must-be-zero bits

  EndpointId identity;  // the neutral element: a valid encoding of a point of small order
  identity.bytes[0] = 1;
  EndpointId off_curve;  // y = 2 has no x on the curve
  off_curve.bytes[0] = 2;
  EndpointId above_field;  // y >= p is a non-canonical encoding
  above_field.bytes.fill(0xff);

  const struct {
    std::string text;
    EndpointIdError error;
  } cases[] = {
      {"", EndpointIdError::WrongLength},
      {std::string(kText.substr(0, 51)), EndpointIdError::WrongLength},
      {std::string(kText) + "a", EndpointIdError::WrongLength},
      {std::string(kText) + "====", EndpointIdError::WrongLength},
      {" " + std::string(kText.substr(1)), EndpointIdError::NotBase32},
      {std::string(kText.substr(0, 48)) + "====", EndpointIdError::NotBase32},
      {upper, EndpointIdError::NotBase32},
      {one_upper, EndpointIdError::NotBase32},
      {std::string(kText.substr(0, 20)) + "0" + std::string(kText.substr(21)), EndpointIdError::NotBase32},
      {std::string(kText.substr(0, 20)) + "8" + std::string(kText.substr(21)), EndpointIdError::NotBase32},
      {std::string(kText.substr(0, 20)) + "\xc3" + std::string(kText.substr(21)), EndpointIdError::NotBase32},
      {trailing_bit, EndpointIdError::NonCanonical},
      {identity.to_string(), EndpointIdError::InvalidPoint},
      {off_curve.to_string(), EndpointIdError::InvalidPoint},
      {above_field.to_string(), EndpointIdError::InvalidPoint},
  };
  for (const auto& c : cases) {
    auto parsed = EndpointId::parse(c.text);
    ASSERT_FALSE(parsed.has_value()) << c.text;
    EXPECT_EQ(parsed.error(), c.error) << c.text;
    EXPECT_FALSE(describe(parsed.error()).empty());
  }
}

TEST(EndpointId, RawKeysAreCheckedLikeTexts) {
  EXPECT_TRUE(EndpointId::from_public_key(kPublic).has_value());
  std::array<std::uint8_t, 32> zero{};
  auto refused = EndpointId::from_public_key(zero);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), EndpointIdError::InvalidPoint);
}

}  // namespace
}  // namespace kivo::p2p
