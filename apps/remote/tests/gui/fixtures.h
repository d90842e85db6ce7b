#pragma once
// Realistic profile lists for renders and screen tests.

#include <array>
#include <string>
#include <vector>

#include "app/remote_app.h"
#include "doc/sample.h"
#include "kivo/p2p/endpoint_id.h"

namespace remote::test {

inline std::string endpoint(std::uint8_t seed) {
  std::array<std::uint8_t, 32> secret{};
  secret.fill(seed);
  return kivo::p2p::EndpointId::from_secret_seed(secret).to_string();
}

inline doc::ConnectionProfile fixture_profile(int n, std::string name, doc::ConnectionKind kind, std::string host,
                                              std::uint16_t port, std::string user, doc::ConnectionAuth auth,
                                              doc::Presence presence, bool favorite, std::string last_used,
                                              std::string group) {
  auto p = doc::make_profile(std::move(name), kind, std::move(host), port, std::move(user), auth, presence, favorite,
                             std::move(last_used), std::move(group));
  // Fixed ids keep renders and document order reproducible.
  p.id = *kivo::Uuid::parse("00000000-0000-4000-8000-0000000000" + std::string(n < 10 ? "0" : "") + std::to_string(n));
  return p;
}

inline std::vector<doc::ConnectionProfile> fixture_profiles() {
  using K = doc::ConnectionKind;
  using A = doc::ConnectionAuth;
  using P = doc::Presence;
  return {
      fixture_profile(1, "Build Box", K::Ssh, "build.example.net", 22, "admin", A::PublicKey, P::Online, true,
                      "12m ago", "lab"),
      fixture_profile(2, "Studio Node", K::Kivo, endpoint(1), 0, "", A::DeviceIdentity, P::Online, true, "just now",
                      "Kivo"),
      fixture_profile(3, "Office NAS", K::Vnc, "10.0.0.20", 5900, "", A::Password, P::Online, false, "2h ago", "home"),
      fixture_profile(4, "Win Workstation", K::Rdp, "10.0.0.31", 3389, "winuser", A::Password, P::Offline, false,
                      "yesterday", "work"),
      fixture_profile(5, "Edge Gateway", K::Ssh, "edge.example.net", 2222, "root", A::PublicKey, P::Online, false,
                      "3d ago", "prod"),
      fixture_profile(6, "Pi Cluster Head", K::Ssh, "192.168.4.2", 22, "pi", A::Password, P::Offline, false, "1w ago",
                      "lab"),
      fixture_profile(7, "Workshop Laptop", K::Kivo, endpoint(2), 0, "", A::DeviceIdentity, P::Online, false, "5h ago",
                      "Kivo"),
      fixture_profile(8, "Backup Vault", K::Vnc, "vault.example.net", 5901, "", A::Password, P::Unknown, false,
                      "Never", "prod"),
      fixture_profile(9,
                      "Render farm controller with a particularly long and descriptive name for the night shift",
                      K::Ssh, "render-controller.internal.example.net", 22, "render", A::PublicKey, P::Unknown, false,
                      "4d ago", "render"),
      fixture_profile(10, "Legacy kiosk", K::Vnc, "10.0.9.9", 5900, "", A::PublicKey, P::Offline, false, "3w ago",
                      "retail"),
      fixture_profile(11, "Garage Pi", K::Kivo, "not-an-endpoint", 0, "", A::DeviceIdentity, P::Offline, false,
                      "2mo ago", ""),
      fixture_profile(12, "Database primary", K::Ssh, "db1.example.net", 22, "", A::Password, P::Online, true,
                      "1h ago", "prod"),
  };
}

}  // namespace remote::test
