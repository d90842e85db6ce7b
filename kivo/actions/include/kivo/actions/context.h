#pragma once
// Who an action is dispatched for: the acting device and the caller that asked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/actions/encoded.h"

namespace kivo::actions::context {

// The program or tool on whose behalf an action runs, and a human label of what it does.
struct CallerContext {
  std::string app_id;    // reverse-domain identifier
  std::string app_name;  // the name people know it by
  std::string label;     // what this dispatch does, e.g. "Upsert connection"

  friend bool operator==(const CallerContext&, const CallerContext&) = default;
};

struct ActionContext {
  // The device whose document actor performs the change, as the actor id's bytes.
  std::vector<std::uint8_t> acting_device;
  std::optional<CallerContext> caller;
  // The caller has had the action confirmed by a person.
  bool confirmed = false;

  // This context with `other` merged in: every field `other` sets wins, every field it leaves
  // empty keeps this context's value. A confirmation from either side stands.
  ActionContext enriched_by(const ActionContext& other) const;

  friend bool operator==(const ActionContext&, const ActionContext&) = default;
};

// A label for people from a code identifier: "UpsertConnection" → "Upsert connection",
// "send_text" → "Send text", "OpenSSHKey" → "Open SSH key". Runs of capitals stay whole.
std::string humanize_identifier(std::string_view identifier);

// A caller label for the journal: the payload's variant name when it has one
// ({"UpsertConnection": …} or "ShowConnections"), else the type, in words.
std::string dispatch_label(const EncodedAction& action);

}  // namespace kivo::actions::context
