#pragma once
// Texts and colours that several screens show for a profile.

#include <string>

#include "doc/availability.h"
#include "doc/profile.h"
#include "kivo/ui/tokens.h"

namespace remote::app {

// How a profile's target reads in rows, cards and sheets: "Kivo device " and the first
// 12 characters of the endpoint id (then "…"); otherwise host, ":port" unless the port is
// 0, and for SSH a user name in front ("user@").
std::string target_text(const doc::ConnectionProfile& profile);

// The endpoint id shortened for display: its first 12 characters and "…" when longer.
std::string short_endpoint(std::string_view endpoint_id);

kivo::ui::Color kind_colour(doc::ConnectionKind kind, const kivo::ui::tokens::colors::Colors& colors);

// The colour of an availability pill: warning for access and profile problems, muted
// text for a transport this build does not have.
kivo::ui::Color availability_colour(doc::TransportAvailability availability,
                                    const kivo::ui::tokens::colors::Colors& colors);

// "ready to connect", "needs access", "not supported", "fix profile".
std::string availability_state(doc::TransportAvailability availability);

}  // namespace remote::app
