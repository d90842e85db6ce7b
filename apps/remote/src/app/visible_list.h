#pragma once
// The list the list screen shows and selection moves in: the search filter and the
// display order.

#include <string_view>
#include <vector>

#include "doc/profile.h"

namespace remote::app {

// Profiles matching `search` (trimmed, case-insensitive substring of name, host, user,
// group or the kind's document text), favourites first, then by lower-cased name
// byte by byte; ties keep their order in `profiles`.
std::vector<const doc::ConnectionProfile*> visible_list(const std::vector<doc::ConnectionProfile>& profiles,
                                                        std::string_view search);

}  // namespace remote::app
