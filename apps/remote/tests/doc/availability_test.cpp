#include "doc/availability.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "kivo/p2p/endpoint_id.h"
#include "kivo/testing/scoped_env.h"

namespace remote::doc {
namespace {


ConnectionProfile profile(ConnectionKind kind, ConnectionAuth auth, std::string host) {
  ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = "p";
  p.host = std::move(host);
  p.kind = kind;
  p.auth = auth;
  return p;
}

TEST(Availability, DecisionAndTexts) {
  using K = ConnectionKind;
  using A = ConnectionAuth;
  using T = TransportAvailability;
  std::array<std::uint8_t, 32> seed{};
  const std::string endpoint = kivo::p2p::EndpointId::from_secret_seed(seed).to_string();
  const std::optional<std::string> unset;
  const struct {
    ConnectionProfile profile;
    std::optional<std::string> grant;
    T expected;
    std::string reason;
  } cases[] = {
      {profile(K::Ssh, A::Password, "h"), unset, T::NeedsCapability,
       "SSH is installed, but this build has not been granted live network access."},
      {profile(K::Ssh, A::Password, "h"), "", T::Ready, "This transport is ready to connect."},
      {profile(K::Ssh, A::PublicKey, "h"), "1", T::Ready, "This transport is ready to connect."},
      {profile(K::Ssh, A::Password, "h"), "\xff", T::NeedsCapability,
       "SSH is installed, but this build has not been granted live network access."},
      {profile(K::Ssh, A::Password, "h"), "\xed\xa0\x80", T::NeedsCapability,  // a surrogate
       "SSH is installed, but this build has not been granted live network access."},
      {profile(K::Ssh, A::Password, "h"), "ja \u00e9\U0001f600", T::Ready, "This transport is ready to connect."},
      {profile(K::Vnc, A::Password, "h"), unset, T::NeedsCapability,
       "VNC is installed, but this build has not been granted live network access."},
      {profile(K::Vnc, A::Password, "h"), "yes", T::Ready, "This transport is ready to connect."},
      // The missing grant is reported before the inconsistent method.
      {profile(K::Ssh, A::DeviceIdentity, "h"), unset, T::NeedsCapability,
       "SSH is installed, but this build has not been granted live network access."},
      {profile(K::Ssh, A::DeviceIdentity, "h"), "", T::InvalidProfile,
       "SSH profiles support password or public-key authentication."},
      {profile(K::Vnc, A::PublicKey, "h"), "", T::InvalidProfile, "VNC profiles support password authentication only."},
      {profile(K::Rdp, A::Password, "h"), unset, T::NotSupported,
       "RDP profiles are preserved, but this Kivo build has no RDP client backend."},
      {profile(K::Rdp, A::Password, "h"), "", T::NotSupported,
       "RDP profiles are preserved, but this Kivo build has no RDP client backend."},
      {profile(K::Rdp, A::PublicKey, "h"), "", T::NotSupported,
       "RDP profiles are preserved, but this Kivo build has no RDP client backend."},
      {profile(K::Kivo, A::DeviceIdentity, endpoint), unset, T::Ready, "This transport is ready to connect."},
      {profile(K::Kivo, A::DeviceIdentity, "tablet"), unset, T::InvalidProfile,
       "Kivo device node must be an exact certified endpoint id."},
      {profile(K::Kivo, A::DeviceIdentity, "tablet"), "", T::InvalidProfile,
       "Kivo device node must be an exact certified endpoint id."},
      {profile(K::Kivo, A::Password, endpoint), unset, T::InvalidProfile,
       "Kivo device profiles must use Kivo device identity."},
  };
  for (const auto& c : cases) {
    kivo::testing::ScopedEnv grant(kLiveSessionsVariable, c.grant);
    SCOPED_TRACE(std::string(document_text(c.profile.kind)) + " " + c.profile.host + " grant=" +
                 c.grant.value_or("<unset>"));
    const T got = availability(c.profile);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(availability_reason(c.profile, got), c.reason);
  }
}

TEST(Availability, GrantIsReadAtEveryEvaluation) {
  const ConnectionProfile ssh = profile(ConnectionKind::Ssh, ConnectionAuth::Password, "h");
  const kivo::testing::ScopedEnv scope(kLiveSessionsVariable, std::nullopt);
  EXPECT_EQ(availability(ssh), TransportAvailability::NeedsCapability);
  scope.set("");
  EXPECT_EQ(availability(ssh), TransportAvailability::Ready);
  scope.set(std::nullopt);
  EXPECT_EQ(availability(ssh), TransportAvailability::NeedsCapability);
}

TEST(Availability, CodesLabelsAndSentences) {
  using T = TransportAvailability;
  const struct {
    T availability;
    std::optional<std::string_view> code, label;
  } rows[] = {
      {T::Ready, std::nullopt, std::nullopt},
      {T::NeedsCapability, "live_session_capability_required", "Needs access"},
      {T::NotSupported, "transport_backend_unavailable", "Not supported"},
      {T::InvalidProfile, "invalid_connection_profile", "Fix profile"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(machine_code(r.availability), r.code);
    EXPECT_EQ(short_label(r.availability), r.label);
  }
  EXPECT_EQ(availability_text(T::NeedsCapability, ConnectionKind::Kivo),
            "This transport needs a capability before it can connect.");
  EXPECT_EQ(availability_text(T::NeedsCapability, ConnectionKind::Rdp),
            "This transport needs a capability before it can connect.");
  for (ConnectionKind kind : kAllKinds) {
    EXPECT_EQ(availability_text(T::InvalidProfile, kind),
              "This saved connection has incompatible target or authentication settings.");
  }
}

}  // namespace
}  // namespace remote::doc
