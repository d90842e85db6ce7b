#pragma once
// Document edits applied to the shared document, and the decoder the framework's
// registry uses for them.

#include <string_view>

#include "actions/remote_action.h"
#include "kivo/actions/registry.h"
#include "kivo/doc/document.h"

namespace remote::actions {

// Changes the document; never fails. An upsert keeps the stored favourite flag, presence
// and last-used label of a profile that already exists.
void apply_action(kivo::doc::Document& document, const RemoteAction& action);

// The registry decoder for "remote.action": the payload's action, ready to apply.
kivo::actions::DecodeResult decode_action(std::string_view payload);

}  // namespace remote::actions
