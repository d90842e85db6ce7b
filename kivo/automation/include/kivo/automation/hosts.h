#pragma once
// The endpoint bound to a real window (a launched application) or to an offscreen window
// (tests and tools that drive an application object with no display).

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/automation/endpoint.h"
#include "kivo/automation/handler.h"
#include "kivo/doc/types.h"
#include "kivo/ui/offscreen.h"
#include "kivo/ui/window.h"

namespace kivo::automation {

struct WindowBinding {
  ui::Application& application;
  ui::ActionHost& action_host;
  doc::Document& document;
  // The framework's own "commit, and tell the application when the heads moved".
  std::function<void()> report_changes;
  // Sees each request's command name before it is answered.
  std::function<void(std::string_view)> on_request;
};

// A running endpoint whose requests the window answers between frames.
class WindowEndpoint final : private Host {
 public:
  // Binds `socket` and has `window` watch for requests; call before Window::run. The window,
  // the application and the document must outlive the result.
  [[nodiscard]] static std::expected<std::unique_ptr<WindowEndpoint>, std::string> start(
      ui::Window& window, WindowBinding binding, const std::filesystem::path& socket);

  const std::filesystem::path& socket_path() const { return endpoint_->socket_path(); }

 private:
  WindowEndpoint(ui::Window& window, WindowBinding binding, std::unique_ptr<Endpoint> endpoint);

  ui::Application& application() override { return binding_.application; }
  ui::ActionHost& action_host() override { return binding_.action_host; }
  doc::Document& document() override { return binding_.document; }
  ui::EventContext event_context() override { return window_.context(); }
  const ui::FrameBuffer& frame() override { return window_.frame(); }
  void paint_now() override { window_.paint_now(); }
  void request_paint() override { window_.request_paint(); }
  void report_changes() override {
    if (binding_.report_changes) binding_.report_changes();
  }

  ui::Window& window_;
  WindowBinding binding_;
  std::unique_ptr<Endpoint> endpoint_;
  RequestHandler handler_;
};

// The host of an application in an offscreen window. The owner runs the loop: it calls
// serve() when the endpoint's wake_fd is readable, then paints when paint_requested().
class OffscreenHost final : public Host {
 public:
  OffscreenHost(ui::offscreen::OffscreenWindow& window, ui::Application& application, ui::ActionHost& action_host,
                doc::Document& document, double scale_factor = 1.0);

  ui::Application& application() override { return application_; }
  ui::ActionHost& action_host() override { return action_host_; }
  doc::Document& document() override { return document_; }
  ui::EventContext event_context() override;
  const ui::FrameBuffer& frame() override { return window_.frame(); }
  void paint_now() override;
  void request_paint() override { paint_requested_ = true; }
  // Commits pending edits and reports the document when its heads moved.
  void report_changes() override;

  bool paint_requested() const { return paint_requested_; }

 private:
  ui::offscreen::OffscreenWindow& window_;
  ui::Application& application_;
  ui::ActionHost& action_host_;
  doc::Document& document_;
  double scale_;
  bool paint_requested_ = false;
  std::vector<doc::ChangeHash> reported_;
};

}  // namespace kivo::automation
