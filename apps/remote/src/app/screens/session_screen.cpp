// The session screen. (Being written: only the heading is drawn so far.)

#include "app/remote_app.h"
#include "kivo/ui/text_render.h"

namespace remote::app {

void RemoteApp::paint_session(kivo::ui::PaintContext& context, kivo::ui::Rect area) {
  kivo::ui::text_render::TextRenderer::shared().draw_text_weighted(context.canvas, "Session",
                                                                   {area.x + 24, area.y + 18}, 22,
                                                                   kivo::ui::text_render::kSemibold,
                                                                   context.colors.text);
}

kivo::ui::a11y::AccessNode RemoteApp::session_access() const {
  kivo::ui::a11y::AccessNode node;
  node.id = "remote.screen.session";
  node.label = "Session";
  return node;
}

}  // namespace remote::app
