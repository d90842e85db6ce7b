#pragma once
// Profiles for application tests that only care about a name and the favourite flag.

#include <string>

#include "doc/profile.h"
#include "kivo/base/uuid.h"

namespace remote::app::testing {

inline doc::ConnectionProfile profile(std::string name, bool favorite = false) {
  doc::ConnectionProfile p;
  p.id = kivo::Uuid::new_v4();
  p.name = std::move(name);
  p.host = "example.net";
  p.port = 22;
  p.favorite = favorite;
  return p;
}

}  // namespace remote::app::testing
