#include "kivo/automation/hosts.h"

#include "kivo/doc/document.h"

namespace kivo::automation {

WindowEndpoint::WindowEndpoint(ui::Window& window, WindowBinding binding, std::unique_ptr<Endpoint> endpoint)
    : window_(window), binding_(std::move(binding)), endpoint_(std::move(endpoint)), handler_(*this) {}

std::expected<std::unique_ptr<WindowEndpoint>, std::string> WindowEndpoint::start(ui::Window& window,
                                                                                  WindowBinding binding,
                                                                                  const std::filesystem::path& socket) {
  auto endpoint = Endpoint::start(socket);
  if (!endpoint) return std::unexpected(endpoint.error());
  std::unique_ptr<WindowEndpoint> served(new WindowEndpoint(window, std::move(binding), std::move(*endpoint)));
  WindowEndpoint* self = served.get();
  window.watch_fd(self->endpoint_->wake_fd(), [self] {
    self->endpoint_->serve([self](const Request& request) {
      if (self->binding_.on_request) self->binding_.on_request(request.name);
      return self->handler_.handle(request);
    });
  });
  return served;
}

OffscreenHost::OffscreenHost(ui::offscreen::OffscreenWindow& window, ui::Application& application,
                             ui::ActionHost& action_host, doc::Document& document, double scale_factor)
    : window_(window),
      application_(application),
      action_host_(action_host),
      document_(document),
      scale_(scale_factor),
      reported_(document.heads()) {
  window_.set_document(&document_);
}

ui::EventContext OffscreenHost::event_context() {
  return {.scale_factor = scale_, .now = window_.now(), .document = &document_};
}

void OffscreenHost::paint_now() {
  window_.paint();
  paint_requested_ = false;
}

void OffscreenHost::report_changes() {
  if (document_.pending_ops() > 0) document_.commit();
  if (document_.heads() == reported_) return;
  application_.document_changed(document_);
  if (document_.pending_ops() > 0) document_.commit();
  reported_ = document_.heads();
}

}  // namespace kivo::automation
