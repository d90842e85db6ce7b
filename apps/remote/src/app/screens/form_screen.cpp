// The connection form. (Being written: only the heading is drawn so far.)

#include "app/remote_app.h"
#include "kivo/ui/text_render.h"

namespace remote::app {

void RemoteApp::paint_form(kivo::ui::PaintContext& context, kivo::ui::Rect area) {
  const auto* form = std::get_if<screen::Form>(&screen_);
  const bool editing = form != nullptr && std::holds_alternative<FormEdit>(form->mode);
  kivo::ui::text_render::TextRenderer::shared().draw_text_weighted(
      context.canvas, editing ? "Edit connection" : "New connection", {area.x + 24, area.y + 18}, 22,
      kivo::ui::text_render::kSemibold, context.colors.text);
}

kivo::ui::a11y::AccessNode RemoteApp::form_access() const {
  kivo::ui::a11y::AccessNode node;
  node.id = "remote.screen.form";
  node.label = "Connection form";
  return node;
}

}  // namespace remote::app
