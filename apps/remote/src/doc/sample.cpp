#include "doc/sample.h"

#include <array>

#include "kivo/p2p/endpoint_id.h"

namespace remote::doc {
namespace {

// Fixed device keys: derived from a readable label so they never change between runs.
std::string sample_endpoint(std::uint8_t n) {
  std::array<std::uint8_t, 32> seed{};
  const std::string label = "remote sample device key " + std::to_string(n);
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(label[i % label.size()] + i);
  return kivo::p2p::EndpointId::from_secret_seed(seed).to_string();
}

}  // namespace

ConnectionProfile make_profile(std::string name, ConnectionKind kind, std::string host, std::uint16_t port, std::string user,
                          ConnectionAuth auth, Presence presence, bool favorite, std::string last_used,
                          std::string group) {
  ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.kind = kind;
  p.host = std::move(host);
  p.port = port;
  p.user = std::move(user);
  p.auth = auth;
  p.presence = presence;
  p.favorite = favorite;
  p.last_used = std::move(last_used);
  p.group = std::move(group);
  return p;
}

std::vector<SampleDevice> sample_devices() {
  return {{"Studio Node", sample_endpoint(1), true},
          {"Workshop Laptop", sample_endpoint(2), true},
          {"Living Room TV", sample_endpoint(3), true},
          {"Garage Pi", sample_endpoint(4), false}};
}

std::vector<ConnectionProfile> sample_profiles() {
  using K = ConnectionKind;
  using A = ConnectionAuth;
  using P = Presence;
  std::vector<ConnectionProfile> list;
  const auto add = [&](ConnectionProfile p) { list.push_back(std::move(p)); };
  add(make_profile("Build Box", K::Ssh, "build.example.net", 22, "admin", A::PublicKey, P::Online, true, "12m ago", "lab"));
  add(make_profile("Studio Node", K::Kivo, sample_endpoint(1), 0, "", A::DeviceIdentity, P::Online, true, "just now",
              "Kivo"));
  add(make_profile("Office NAS", K::Vnc, "10.0.0.20", 5900, "media", A::Password, P::Online, false, "2h ago", "home"));
  add(make_profile("Win Workstation", K::Rdp, "10.0.0.31", 3389, "winuser", A::Password, P::Offline, false, "yesterday",
              "work"));
  add(make_profile("Edge Gateway", K::Ssh, "edge.example.net", 2222, "root", A::PublicKey, P::Online, false, "3d ago",
              "prod"));
  add(make_profile("Pi Cluster Head", K::Ssh, "192.168.4.2", 22, "pi", A::Password, P::Offline, false, "1w ago", "lab"));
  add(make_profile("Workshop Laptop", K::Kivo, sample_endpoint(2), 0, "", A::DeviceIdentity, P::Online, false, "5h ago",
              "Kivo"));
  add(make_profile("Backup Vault", K::Vnc, "vault.example.net", 5901, "ops", A::Password, P::Unknown, false, "Never",
              "prod"));
  return list;
}

}  // namespace remote::doc
