#pragma once
// Certified endpoint ids: a device's Ed25519 public key, and the text form under which the
// peer-to-peer layer prints it and users paste it.

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::p2p {

// Why a text is not an endpoint id.
enum class EndpointIdError {
  WrongLength,   // not exactly 52 characters
  NotBase32,     // a character outside the lower-case base32 alphabet (padding included)
  NonCanonical,  // the 4 bits past the key are not zero, so another text names the same key
  InvalidPoint,  // the 32 bytes are not a usable Ed25519 public key
};

std::string_view describe(EndpointIdError error);

struct EndpointId {
  static constexpr std::size_t kKeyBytes = 32;
  static constexpr std::size_t kTextLength = 52;

  std::array<std::uint8_t, kKeyBytes> bytes{};

  // Accepts exactly the form `to_string` prints: 52 characters of lower-case RFC 4648 base32
  // without padding, trailing bits zero, naming a valid Ed25519 point of the main subgroup.
  [[nodiscard]] static std::expected<EndpointId, EndpointIdError> parse(std::string_view text);

  // The same check for raw key bytes.
  [[nodiscard]] static std::expected<EndpointId, EndpointIdError> from_public_key(
      const std::array<std::uint8_t, kKeyBytes>& key);

  // The public key of the Ed25519 key pair derived from a 32-byte secret seed.
  static EndpointId from_secret_seed(const std::array<std::uint8_t, kKeyBytes>& seed);

  std::string to_string() const;

  friend auto operator<=>(const EndpointId&, const EndpointId&) = default;
};

}  // namespace kivo::p2p

template <>
struct std::hash<kivo::p2p::EndpointId> {
  std::size_t operator()(const kivo::p2p::EndpointId& id) const noexcept {
    std::size_t h = 0;
    for (auto b : id.bytes) h = h * 131 + b;
    return h;
  }
};
