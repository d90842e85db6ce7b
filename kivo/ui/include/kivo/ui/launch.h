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

// An entry point fills the fields it needs and leaves the rest empty.
struct LaunchDescriptor {
  std::string_view app_id;                          // reverse-domain application id
  std::vector<std::string_view> extra_font_files;   // fonts added to the pinned set
  std::vector<std::string_view> required_env;       // variables that must be set to start
  std::vector<std::string_view> env_defaults;       // "NAME=value", set when NAME is unset
  std::vector<std::string_view> title_segments;     // window title, joined by " — "
  std::vector<std::string_view> review_states;      // names the review-state hook accepts
  AppHook on_started;                               // after the application is built
  AppHook on_exit;                                  // after the window closed
  std::function<void(App&, bool)> on_focus;         // the window gained or lost focus
  std::function<void(App&, std::string_view)> on_unknown_review_state;  // a review state not in the list
  CreateApplication create_application;             // an ordinary start
  std::function<void(App&)> on_document_opened;     // after the persisted document opened
  std::function<void(App&, std::string_view)> on_document_error;  // it could not be opened
  CreateApplication review_state;                   // a start into a named review state
  std::function<bool()> reduced_motion;             // overrides the KIVO_REDUCED_MOTION variable
  AppHook register_actions;                         // fills the action registry
  std::function<void(App&, doc::Document&)> on_document_changed;  // after the application saw a change
  std::function<void(App&, std::string_view)> on_automation_request;  // observes automation requests
  std::function<double()> text_scale;               // the text scale factor (default 1)
  std::function<void(App&, int, int)> on_resized;   // the window changed size (logical px)
  std::function<std::pair<unsigned, unsigned>()> window_size;  // initial size in logical px
  std::function<bool()> sync_between_devices;       // watch the document folder for other devices
  PersistenceHook persistence = nullptr;            // opens the persisted document
  // Resizable window, start in full screen, high-DPI rendering, automation endpoint.
  std::array<std::uint8_t, 4> switches{1, 0, 1, 1};
};

// Runs the application until its window closes and returns the process exit status.
// Problems that stop the start (no display, a document that cannot be opened) are
// printed to standard error and give a non-zero status.
int run_or_exit(const LaunchDescriptor& descriptor);

}  // namespace kivo::ui::launch
