#include "doc/availability.h"

#include <cstdlib>

namespace remote::doc {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((b0 & 0xe0) == 0xc0) {
      len = 2, c = b0 & 0x1f, min = 0x80;
    } else if ((b0 & 0xf0) == 0xe0) {
      len = 3, c = b0 & 0x0f, min = 0x800;
    } else if ((b0 & 0xf8) == 0xf0) {
      len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xc0) != 0x80) return false;
      c = (c << 6) | (b & 0x3f);
    }
    if (c < min || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return false;
    i += len;
  }
  return true;
}

}  // namespace

bool live_network_access_granted() {
  const char* value = std::getenv(kLiveSessionsVariable);
  return value != nullptr && is_valid_utf8(value);
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
