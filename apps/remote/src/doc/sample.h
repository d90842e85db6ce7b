#pragma once
// The sample profiles and discovered devices a demonstration or visual review starts with.

#include <string>
#include <vector>

#include "doc/profile.h"

namespace remote::doc {

struct SampleDevice {
  std::string name;
  std::string endpoint_id;
  bool online = true;
};

// A profile with every field given and a fresh random id.
ConnectionProfile make_profile(std::string name, ConnectionKind kind, std::string host, std::uint16_t port,
                               std::string user, ConnectionAuth auth, Presence presence, bool favorite,
                               std::string last_used, std::string group);

// Four devices whose endpoint ids come from fixed keys, so they are the same on every run.
std::vector<SampleDevice> sample_devices();
// Eight profiles of every kind; each gets a fresh random id.
std::vector<ConnectionProfile> sample_profiles();

}  // namespace remote::doc
