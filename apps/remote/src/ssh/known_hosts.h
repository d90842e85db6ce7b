#pragma once
// The device-private pin store of trusted SSH host keys: one JSON file, readable by the
// user alone, holding at most one pinned key per (host, port). No SSH server is used until
// its key is pinned here.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace remote::ssh {

// How a host key is named to the user: its SSH algorithm name and "SHA256:" followed by
// the unpadded standard Base64 of the SHA-256 of the key's wire encoding.
struct HostKeyIdentity {
  std::string algorithm;
  std::string fingerprint;
  friend bool operator==(const HostKeyIdentity&, const HostKeyIdentity&) = default;
};

// One pin. The host is compared byte for byte, exactly as the profile spells it.
struct KnownHostEntry {
  std::string host;
  std::uint16_t port = 0;
  HostKeyIdentity identity;
  friend bool operator==(const KnownHostEntry&, const KnownHostEntry&) = default;
};

// The whole store, in insertion order.
struct KnownHosts {
  std::vector<KnownHostEntry> entries;
  friend bool operator==(const KnownHosts&, const KnownHosts&) = default;
};

// Outcomes of checking the key a server presented.
struct Trusted {
  friend bool operator==(const Trusted&, const Trusted&) = default;
};
struct NeedsTrust {
  HostKeyIdentity observed;
  friend bool operator==(const NeedsTrust&, const NeedsTrust&) = default;
};
struct Changed {
  HostKeyIdentity expected;
  HostKeyIdentity observed;
  friend bool operator==(const Changed&, const Changed&) = default;
};
struct StoreUnavailable {
  std::string error;
  friend bool operator==(const StoreUnavailable&, const StoreUnavailable&) = default;
};
using HostKeyCheck = std::variant<Trusted, NeedsTrust, Changed, StoreUnavailable>;

// Largest store file that is read; pins are tiny, so anything bigger is not ours.
inline constexpr std::size_t kMaxKnownHostsBytes = 4 * 1024 * 1024;

// Where the store lives: REMOTE_SSH_KNOWN_HOSTS when set (its directory is never created),
// else <XDG state dir>/kivo/remote/known-hosts.json, creating that directory with mode 0700.
// The path is validated: its directory must be real and private, the file (if present) a
// regular private file. No symbolic link is followed for either.
[[nodiscard]] std::expected<std::filesystem::path, std::string> resolve_store_path();

// Reads the store; a missing file is an empty store. Never repairs or rewrites anything.
[[nodiscard]] std::expected<KnownHosts, std::string> load_known_hosts(const std::filesystem::path& path);

// Replaces the file atomically (readers see the old or the new store) with mode 0600.
[[nodiscard]] std::expected<void, std::string> save_known_hosts(const std::filesystem::path& path,
                                                                const KnownHosts& store);

// The file format, without the file: strict on reading (every key required, no key twice,
// unknown keys ignored), and two-space indented without a final newline on writing.
[[nodiscard]] std::expected<KnownHosts, std::string> parse_known_hosts(std::string_view text);
[[nodiscard]] std::expected<std::string, std::string> serialize_known_hosts(const KnownHosts& store);

// The identity of a key given by its algorithm name and SSH wire encoding.
HostKeyIdentity host_key_identity(std::string_view algorithm, std::span<const std::uint8_t> key_blob);

// Decides against the first pin for (host, port); never gives StoreUnavailable.
HostKeyCheck check_host_key(const KnownHosts& store, std::string_view host, std::uint16_t port,
                            const HostKeyIdentity& observed);

// The failure text of a session refused for `problem`. Trusted is no problem: empty text.
std::string host_key_message(const HostKeyCheck& problem, std::string_view host, std::uint16_t port);

// Pins `identity` for (host, port). Pinning the key that is already pinned succeeds without
// writing; a different pin must be forgotten first.
[[nodiscard]] std::expected<void, std::string> trust_host_key(const std::filesystem::path& path,
                                                              std::string_view host, std::uint16_t port,
                                                              const HostKeyIdentity& identity);

// Removes every pin for (host, port); whether one was removed. Writes only when it was.
[[nodiscard]] std::expected<bool, std::string> forget_host_key(const std::filesystem::path& path,
                                                               std::string_view host, std::uint16_t port);

}  // namespace remote::ssh
