#pragma once
// What the program tells the framework at start: its identity, its review states and
// the hooks that build the application object and register its actions.

#include <array>
#include <memory>
#include <string_view>

#include "kivo/ui/launch.h"

namespace remote::app {

inline constexpr std::string_view kAppId = "io.kivo.remote";  // also the caller id of its dispatches

inline constexpr std::array<std::string_view, 13> kReviewStates = {
    "narrow",         "narrow-open",        "form",           "form-kivo",       "session-ssh",
    "session-vnc",    "session-rdp",        "session-kivo",   "session-connecting", "session-failed",
    "confirm-connect", "confirm-delete",    "confirm-ssh-trust"};

// An ordinary start: no profiles, no discovered devices.
std::unique_ptr<kivo::ui::Application> create_application(const kivo::ui::launch::LaunchContext& context);
// A start into a named review state.
std::unique_ptr<kivo::ui::Application> create_review_application(const kivo::ui::launch::LaunchContext& context);
// Registers the document-action decoder.
void register_actions(kivo::ui::App& app);

kivo::ui::launch::LaunchDescriptor launch_descriptor();

}  // namespace remote::app
