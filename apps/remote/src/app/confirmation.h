#pragma once
// What a confirmation sheet asks about, and the snapshot of the profile it was opened
// for: confirming re-checks the snapshot so nothing changed meanwhile is acted on unseen.

#include <string>
#include <variant>

#include "doc/profile.h"
#include "ssh/known_hosts.h"

namespace remote::app {

// Kind label, host, port, user and authentication label joined with "|". Name, group,
// favourite, presence and last use are not part of it.
std::string target_snapshot(const doc::ConnectionProfile& profile);

struct ConfirmConnect {
  kivo::Uuid id;
  std::string snapshot;
};
struct ConfirmDelete {
  kivo::Uuid id;
  std::string snapshot;
};
struct ConfirmTrustHostKey {
  kivo::Uuid id;
  std::string snapshot;
  ssh::HostKeyIdentity identity;
};
struct ConfirmForgetHostKey {
  kivo::Uuid id;
  std::string snapshot;
};

using PendingConfirmation = std::variant<ConfirmConnect, ConfirmDelete, ConfirmTrustHostKey, ConfirmForgetHostKey>;

const kivo::Uuid& confirmation_profile(const PendingConfirmation& confirmation);

// The sheet's texts; `name` is the profile's name, or "this saved connection" when it is gone.
struct SheetText {
  std::string title;
  std::string body;
  std::string description;  // for the access tree
  std::string confirm_label;
};
SheetText sheet_text(const PendingConfirmation& confirmation, const std::string& name);

}  // namespace remote::app
