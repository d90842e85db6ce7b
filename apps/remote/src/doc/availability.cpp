#include "doc/availability.h"

#include <cstdlib>

#include "kivo/base/text.h"

namespace remote::doc {
bool live_network_access_granted() {
  const char* value = std::getenv(kLiveSessionsVariable);
  return value != nullptr && kivo::text::is_valid_utf8(value);
}

TransportAvailability availability(const ConnectionProfile& profile) {
  TransportAvailability result = TransportAvailability::Ready;
  switch (profile.kind) {
    case ConnectionKind::Ssh:
    case ConnectionKind::Vnc:
      if (!live_network_access_granted()) result = TransportAvailability::NeedsCapability;
      break;
    case ConnectionKind::Rdp: result = TransportAvailability::NotSupported; break;
    case ConnectionKind::Kivo: break;  // device sessions do not need the live-network grant
  }
  if (result == TransportAvailability::Ready &&
      validate_target(profile.kind, profile.host, profile.auth)) {
    result = TransportAvailability::InvalidProfile;
  }
  return result;
}

std::optional<std::string_view> machine_code(TransportAvailability availability) {
  switch (availability) {
    case TransportAvailability::Ready: return std::nullopt;
    case TransportAvailability::NeedsCapability: return "live_session_capability_required";
    case TransportAvailability::NotSupported: return "transport_backend_unavailable";
    case TransportAvailability::InvalidProfile: return "invalid_connection_profile";
  }
  return std::nullopt;
}

std::optional<std::string_view> short_label(TransportAvailability availability) {
  switch (availability) {
    case TransportAvailability::Ready: return std::nullopt;
    case TransportAvailability::NeedsCapability: return "Needs access";
    case TransportAvailability::NotSupported: return "Not supported";
    case TransportAvailability::InvalidProfile: return "Fix profile";
  }
  return std::nullopt;
}

std::string_view availability_text(TransportAvailability availability, ConnectionKind kind) {
  switch (availability) {
    case TransportAvailability::Ready: return "This transport is ready to connect.";
    case TransportAvailability::NeedsCapability:
      if (kind == ConnectionKind::Ssh) {
        return "SSH is installed, but this build has not been granted live network access.";
      }
      if (kind == ConnectionKind::Vnc) {
        return "VNC is installed, but this build has not been granted live network access.";
      }
      return "This transport needs a capability before it can connect.";
    case TransportAvailability::NotSupported:
      return "RDP profiles are preserved, but this Kivo build has no RDP client backend.";
    case TransportAvailability::InvalidProfile:
      return "This saved connection has incompatible target or authentication settings.";
  }
  return "This transport needs a capability before it can connect.";
}

std::string availability_reason(const ConnectionProfile& profile, TransportAvailability availability) {
  if (availability == TransportAvailability::InvalidProfile) {
    if (auto problem = validate_target(profile.kind, profile.host, profile.auth)) return *problem;
  }
  return std::string(availability_text(availability, profile.kind));
}

}  // namespace remote::doc
