#include "app/presentation.h"

#include "kivo/base/text.h"

namespace remote::app {

std::string short_endpoint(std::string_view endpoint_id) {
  if (kivo::text::scalar_count(endpoint_id) <= 12) return std::string(endpoint_id);
  return std::string(kivo::text::scalar_prefix(endpoint_id, 12)) + "…";
}

std::string target_text(const doc::ConnectionProfile& profile) {
  if (profile.kind == doc::ConnectionKind::Kivo) return "Kivo device " + short_endpoint(profile.host);
  std::string target = profile.host;
  if (profile.port != 0) target += ":" + std::to_string(profile.port);
  if (profile.kind == doc::ConnectionKind::Ssh && !profile.user.empty()) target = profile.user + "@" + target;
  return target;
}

kivo::ui::Color kind_colour(doc::ConnectionKind kind, const kivo::ui::tokens::colors::Colors& colors) {
  switch (kind) {
    case doc::ConnectionKind::Ssh: return colors.success;
    case doc::ConnectionKind::Vnc: return colors.kind_vnc;
    case doc::ConnectionKind::Rdp: return colors.warning;
    case doc::ConnectionKind::Kivo: return colors.kind_kivo;
  }
  return colors.accent;
}

kivo::ui::Color availability_colour(doc::TransportAvailability availability,
                                    const kivo::ui::tokens::colors::Colors& colors) {
  return availability == doc::TransportAvailability::NotSupported ? colors.muted_text : colors.warning;
}

std::string availability_state(doc::TransportAvailability availability) {
  switch (availability) {
    case doc::TransportAvailability::Ready: return "ready to connect";
    case doc::TransportAvailability::NeedsCapability: return "needs access";
    case doc::TransportAvailability::NotSupported: return "not supported";
    case doc::TransportAvailability::InvalidProfile: return "fix profile";
  }
  return "";
}

}  // namespace remote::app
