#include "kivo/ui/launch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kivo/automation/hosts.h"
#include "kivo/automation/paths.h"
#include "kivo/base/log.h"
#include "kivo/sync/thread.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/window.h"

namespace kivo::ui::launch {
namespace {

constexpr std::string_view kTarget = "kivo::launch";

std::string window_title(const LaunchDescriptor& d) {
  std::string title;
  for (auto segment : d.title_segments) {
    if (!title.empty()) title += " — ";
    title += segment;
  }
  if (!title.empty()) return title;
  // "io.kivo.remote" → "Remote"
  std::string_view id = d.app_id;
  if (const auto dot = id.rfind('.'); dot != std::string_view::npos) id.remove_prefix(dot + 1);
  title = id;
  if (!title.empty() && title[0] >= 'a' && title[0] <= 'z') title[0] = static_cast<char>(title[0] - 'a' + 'A');
  return title;
}

bool env_flag(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::string_view(value) == "1";
}

}  // namespace

int run_or_exit(const LaunchDescriptor& d) {
  for (auto entry : d.env_defaults) {
    const auto eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    const std::string name(entry.substr(0, eq));
    const std::string value(entry.substr(eq + 1));
    setenv(name.c_str(), value.c_str(), 0);
  }
  for (auto name : d.required_env) {
    if (std::getenv(std::string(name).c_str()) == nullptr) {
      std::fprintf(stderr, "%s: the environment variable %.*s must be set\n", std::string(d.app_id).c_str(),
                   static_cast<int>(name.size()), name.data());
      return 1;
    }
  }
  for (auto file : d.extra_font_files) text_render::add_font_file(std::string(file));
  if (d.text_scale) text_render::TextRenderer::shared().set_text_scale(d.text_scale());

  LaunchContext context{.app_id = d.app_id, .review_state = std::nullopt};
  if (const char* review = std::getenv("KIVO_REVIEW_STATE")) context.review_state = review;

  // The document first: without it nothing the user does could be kept.
  if (d.persistence == nullptr) {
    std::fprintf(stderr, "%s: no persistence hook was given\n", std::string(d.app_id).c_str());
    return 1;
  }
  auto persisted = d.persistence(d.app_id, doc::persist::Options{});
  auto host = std::make_shared<ActionHost>();
  App app(std::string(d.app_id), host);
  if (!persisted) {
    if (d.on_document_error) d.on_document_error(app, persisted.error().message);
    std::fprintf(stderr, "%s: cannot open the saved document: %s\n", std::string(d.app_id).c_str(),
                 persisted.error().message.c_str());
    return 1;
  }
  doc::persist::PersistedDocument& store = *persisted;
  host->committer = actions::executor::persisted_committer(store);
  if (d.on_document_opened) d.on_document_opened(app);
  if (d.register_actions) d.register_actions(app);

  std::unique_ptr<Application> application;
  if (context.review_state && d.review_state) {
    const bool known = std::find(d.review_states.begin(), d.review_states.end(), *context.review_state) !=
                       d.review_states.end();
    if (!known && d.on_unknown_review_state) d.on_unknown_review_state(app, *context.review_state);
    application = d.review_state(context);
  } else if (d.create_application) {
    application = d.create_application(context);
  }
  if (!application) {
    std::fprintf(stderr, "%s: the application could not be created\n", std::string(d.app_id).c_str());
    return 1;
  }
  application->attach_action_host(host);
  application->set_reduced_motion(d.reduced_motion ? d.reduced_motion() : env_flag("KIVO_REDUCED_MOTION"));
  if (d.on_started) d.on_started(app);

  const auto size = d.window_size ? d.window_size() : std::pair<unsigned, unsigned>{1280, 800};
  WindowOptions options{.title = window_title(d),
                        .width = static_cast<int>(size.first),
                        .height = static_cast<int>(size.second),
                        .resizable = d.switches[0] != 0,
                        .fullscreen = d.switches[1] != 0,
                        .high_dpi = d.switches[2] != 0};
  auto window = Window::open(options);
  if (!window) {
    std::fprintf(stderr, "%s: %s\n", std::string(d.app_id).c_str(), window.error().c_str());
    return 1;
  }

  doc::Document& document = store.document();
  std::vector<doc::ChangeHash> reported;
  // Reports the document to the application whenever its heads moved, whoever moved them
  // (a dispatch, a merge from another device). Edits made outside a dispatch, such as the
  // application's first synchronisation, are committed here so they reach the log.
  auto commit_pending = [&] {
    if (document.pending_ops() == 0) return;
    if (auto saved = store.commit(); !saved) log_error(kTarget, "saving the document failed: " + saved.error().message);
  };
  auto report_changes = [&](bool force) {
    commit_pending();
    if (!force && document.heads() == reported) return;
    application->document_changed(document);
    if (d.on_document_changed) d.on_document_changed(app, document);
    commit_pending();
    reported = document.heads();
  };
  report_changes(true);

  std::pair<int, int> last_size{static_cast<int>(size.first), static_cast<int>(size.second)};
  const bool sync = d.sync_between_devices ? d.sync_between_devices() : true;
  if (sync && store.watch_fd() >= 0) {
    (*window)->watch_fd(store.watch_fd(), [&store] { store.refresh(); });
  }
  (*window)->after_events([&] {
    for (auto& encoded : application->take_pending_work()) {
      auto transport = host->transport(document);
      auto result = host->base_context ? actions::executor::dispatch_by_with_context(transport, encoded, *host->base_context)
                                       : actions::executor::dispatch_by(transport, encoded);
      if (!result) log_warn(kTarget, "queued action failed: " + result.error().display());
    }
    report_changes(false);
    if (d.on_resized) {
      const auto& frame = (*window)->frame();
      const double scale = (*window)->context().scale_factor;
      const int w = static_cast<int>(std::lround(frame.width_px() / scale));
      const int h = static_cast<int>(std::lround(frame.height_px() / scale));
      if (w != last_size.first || h != last_size.second) {
        last_size = {w, h};
        d.on_resized(app, w, h);
      }
    }
  });
  (*window)->on_focus_changed([&](bool focused) {
    if (d.on_focus) d.on_focus(app, focused);
  });

  // Automation is a convenience: without its endpoint the program still runs.
  std::unique_ptr<automation::WindowEndpoint> automation_endpoint;
  if (d.switches[3] != 0) {
    auto socket = automation::socket_path(d.app_id);
    auto started = socket ? automation::WindowEndpoint::start(
                                **window,
                                {.application = *application,
                                 .action_host = *host,
                                 .document = document,
                                 .report_changes = [&] { report_changes(false); },
                                 .on_request =
                                     [&](std::string_view command) {
                                       if (d.on_automation_request) d.on_automation_request(app, command);
                                     }},
                                *socket)
                          : std::unexpected(socket.error());
    if (started) {
      automation_endpoint = std::move(*started);
    } else {
      log_warn(kTarget, "automation endpoint not started: " + started.error());
    }
  }

  (*window)->run(*application, &document);
  if (d.on_exit) d.on_exit(app);
  // Dropping the application ends its sessions. Their workers still close their connections,
  // which must be over before exit tears down the libraries they use.
  automation_endpoint.reset();
  application.reset();
  if (!sync::wait_for_detached_threads(std::chrono::seconds(5))) {
    log_warn(kTarget, "worker threads were still running after 5 s; exiting anyway");
  }
  return 0;
}

}  // namespace kivo::ui::launch
