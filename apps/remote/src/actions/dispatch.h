#pragma once
// The user interface's own document edits, dispatched through the framework like any
// automation would dispatch them: encoded, journalled, applied in one transaction.

#include <string_view>

#include "actions/remote_action.h"
#include "kivo/doc/document.h"
#include "kivo/ui/app.h"

namespace remote::actions {

// The caller identity of the program's own dispatches.
inline constexpr std::string_view kCallerAppId = "io.kivo.remote";
inline constexpr std::string_view kCallerAppName = "Remote";

// The label a dispatch is journalled under: the humanised variant name
// ("UpsertConnection" → "Upsert connection").
std::string dispatch_label(const RemoteAction& action);

// Registers the document-action decoder under "remote.action" (replacing an earlier one).
void register_decoder(kivo::actions::ActionRegistry& registry);

// Dispatches `action` against `document` through `host` (a private host with the decoder
// when null). A failure is logged as "action dispatch failed" with its text and is not
// reported further: the next document synchronisation brings the interface back in line.
void dispatch_action(kivo::doc::Document& document, const RemoteAction& action, kivo::ui::ActionHost* host);

}  // namespace remote::actions
