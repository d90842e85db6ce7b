#include "kivo/p2p/endpoint_id.h"

#include <sodium.h>

#include <map>
#include <mutex>

#include "kivo/base/log.h"

namespace kivo::p2p {
namespace {

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";

void ensure_sodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) fatal("libsodium initialisation failed");
  });
}

int base32_value(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= '2' && c <= '7') return c - '2' + 26;
  return -1;
}

// Point validation is a field exponentiation; lists and availability checks ask about
// the same few keys on every frame, so remember recent answers. Bounded, and safe to
// use from any thread.
class PointCache {
 public:
  std::optional<bool> find(const std::array<std::uint8_t, 32>& key) {
    std::lock_guard lock(mutex_);
    const auto it = valid_.find(key);
    if (it == valid_.end()) return std::nullopt;
    return it->second;
  }
  void remember(const std::array<std::uint8_t, 32>& key, bool valid) {
    std::lock_guard lock(mutex_);
    if (valid_.size() >= kLimit) valid_.clear();
    valid_.emplace(key, valid);
  }

 private:
  static constexpr std::size_t kLimit = 4096;
  std::mutex mutex_;
  std::map<std::array<std::uint8_t, 32>, bool> valid_;
};

PointCache& point_cache() {
  static PointCache cache;
  return cache;
}

}  // namespace

std::string_view describe(EndpointIdError error) {
  switch (error) {
    case EndpointIdError::WrongLength: return "endpoint id must be 52 characters";
    case EndpointIdError::NotBase32: return "endpoint id must be lower-case base32";
    case EndpointIdError::NonCanonical: return "endpoint id has non-zero trailing bits";
    case EndpointIdError::InvalidPoint: return "endpoint id is not a valid Ed25519 public key";
  }
  return "endpoint id is invalid";
}

std::expected<EndpointId, EndpointIdError> EndpointId::parse(std::string_view text) {
  if (text.size() != kTextLength) return std::unexpected(EndpointIdError::WrongLength);
  std::array<std::uint8_t, kKeyBytes> key{};
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t out = 0;
  for (char c : text) {
    const int v = base32_value(c);
    if (v < 0) return std::unexpected(EndpointIdError::NotBase32);
    buffer = (buffer << 5) | static_cast<std::uint32_t>(v);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      key[out++] = static_cast<std::uint8_t>(buffer >> bits);
      buffer &= (1u << bits) - 1;
    }
  }
  // 52 characters carry 260 bits: the 4 left over must be zero for the text to be the one
  // `to_string` prints.
  if (out != kKeyBytes || buffer != 0) return std::unexpected(EndpointIdError::NonCanonical);
  return from_public_key(key);
}

std::expected<EndpointId, EndpointIdError> EndpointId::from_public_key(
    const std::array<std::uint8_t, kKeyBytes>& key) {
  auto valid = point_cache().find(key);
  if (!valid) {
    ensure_sodium();
    valid = crypto_core_ed25519_is_valid_point(key.data()) == 1;
    point_cache().remember(key, *valid);
  }
  if (!*valid) return std::unexpected(EndpointIdError::InvalidPoint);
  EndpointId id;
  id.bytes = key;
  return id;
}

EndpointId EndpointId::from_secret_seed(const std::array<std::uint8_t, kKeyBytes>& seed) {
  ensure_sodium();
  static_assert(crypto_sign_PUBLICKEYBYTES == kKeyBytes);
  EndpointId id;
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret{};
  if (crypto_sign_seed_keypair(id.bytes.data(), secret.data(), seed.data()) != 0) {
    fatal("Ed25519 key derivation from a seed never fails");
  }
  sodium_memzero(secret.data(), secret.size());
  return id;
}

std::string EndpointId::to_string() const {
  std::string text;
  text.reserve(kTextLength);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (std::uint8_t b : bytes) {
    buffer = (buffer << 8) | b;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      text += kAlphabet[(buffer >> bits) & 31];
    }
    buffer &= (1u << bits) - 1;
  }
  if (bits > 0) text += kAlphabet[(buffer << (5 - bits)) & 31];
  return text;
}

}  // namespace kivo::p2p
