#pragma once
// Starting an application: the launch descriptor an entry point fills in, and the
// call that runs it until its window closes.

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kivo/doc/persist.h"
#include "kivo/ui/app.h"
#include "kivo/ui/application.h"

namespace kivo::ui::launch {

// What the framework tells the application hooks.
struct LaunchContext {
  std::string_view app_id;
  // The review state asked for through KIVO_REVIEW_STATE, when one is.
  std::optional<std::string> review_state;
};

using CreateApplication = std::function<std::unique_ptr<Application>(const LaunchContext&)>;
using AppHook = std::function<void(App&)>;
using PersistenceHook = std::expected<doc::persist::PersistedDocument, doc::Error> (*)(std::string_view app_id,
                                                                                       doc::persist::Options);

// Fields in this order; an entry point fills the ones it needs and leaves the rest empty.
struct LaunchDescriptor {
  std::string_view app_id;                          // 1: reverse-domain application id
  std::vector<std::string_view> extra_font_files;   // 2: fonts added to the pinned set
  std::vector<std::string_view> required_env;       // 3: variables that must be set to start
  std::vector<std::string_view> env_defaults;       // 4: "NAME=value", set when NAME is unset
  std::vector<std::string_view> title_segments;     // 5: window title, joined by " — "
  std::vector<std::string_view> review_states;      // 6: names the review-state hook accepts
  AppHook on_started;                               // 7: after the application is built
  AppHook on_exit;                                  // 8: after the window closed
  std::function<void(App&, bool)> on_focus;         // 9: the window gained or lost focus
  std::function<void(App&, std::string_view)> on_unknown_review_state;  // 10
  CreateApplication create_application;             // 11: an ordinary start
  std::function<void(App&)> on_document_opened;     // 12: after the persisted document opened
  std::function<void(App&, std::string_view)> on_document_error;  // 13: it could not be opened
  CreateApplication review_state;                   // 14: a start into a named review state
  std::function<bool()> reduced_motion;             // 15: overrides the KIVO_REDUCED_MOTION variable
  AppHook register_actions;                         // 16: fills the action registry
  std::function<void(App&, doc::Document&)> on_document_changed;  // 17: after the application saw a change
  std::function<void(App&, std::string_view)> on_automation_request;  // 18: observes automation requests
  std::function<double()> text_scale;               // 19: the text scale factor (default 1)
  std::function<void(App&, int, int)> on_resized;   // 20: the window changed size (logical px)
  std::function<std::pair<unsigned, unsigned>()> window_size;  // 21: initial size in logical px
  std::function<bool()> sync_between_devices;       // 22: watch the document folder for other devices
  PersistenceHook persistence = nullptr;            // 23: opens the persisted document
  // 24: resizable window, start in full screen, high-DPI rendering, automation endpoint.
  std::array<std::uint8_t, 4> switches{1, 0, 1, 1};
};

// Runs the application until its window closes and returns the process exit status.
// Problems that stop the start (no display, a document that cannot be opened) are
// printed to standard error and give a non-zero status.
int run_or_exit(const LaunchDescriptor& descriptor);

}  // namespace kivo::ui::launch
