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

// Four devices whose endpoint ids come from fixed keys, so they are the same on every run.
std::vector<SampleDevice> sample_devices();
// Eight profiles of every kind; each gets a fresh random id.
std::vector<ConnectionProfile> sample_profiles();

}  // namespace remote::doc
