#pragma once
// Whether this installation can open a profile at all, with the codes, sentences and short
// labels that say so. Evaluated afresh on every call: nothing is cached.

#include <optional>
#include <string>
#include <string_view>

#include "doc/profile.h"

namespace remote::doc {

enum class TransportAvailability { Ready, NeedsCapability, NotSupported, InvalidProfile };

// The environment variable through which the platform grants live network access.
inline constexpr const char* kLiveSessionsVariable = "REMOTE_LIVE_SESSIONS";

// Granted while the variable is present with a valid UTF-8 value; the empty value counts.
// Read on every call, so a change applies the next time availability is asked.
bool live_network_access_granted();

// A missing permission or an unsupported transport is reported before an inconsistent profile.
TransportAvailability availability(const ConnectionProfile& profile);

// "live_session_capability_required", "transport_backend_unavailable",
// "invalid_connection_profile"; none when ready.
std::optional<std::string_view> machine_code(TransportAvailability availability);

// The warning pill of a list row ("Needs access", "Not supported", "Fix profile"); none when ready.
std::optional<std::string_view> short_label(TransportAvailability availability);

// The sentence that explains an availability for a profile of this kind.
std::string_view availability_text(TransportAvailability availability, ConnectionKind kind);

// Why a profile cannot be opened, for callers that must give a reason: an inconsistent profile
// names its own problem; everything else is the availability sentence.
std::string availability_reason(const ConnectionProfile& profile, TransportAvailability availability);

}  // namespace remote::doc
