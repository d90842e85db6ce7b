#include <cairo.h>
#include <gtest/gtest.h>

#include "kivo/ui/canvas.h"
#include "kivo/ui/text_render.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui {
namespace {

struct Surface {
  cairo_surface_t* surface;
  cairo_t* cr;
  Surface(int w, int h)
      : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), cr(cairo_create(surface)) {}
  ~Surface() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  std::uint32_t pixel(int x, int y) {
    cairo_surface_flush(surface);
    auto* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<std::uint32_t*>(row)[x];
  }
};

TEST(TextRenderer, MeasuresWithThePinnedFonts) {
  auto& text = text_render::TextRenderer::shared();
  const auto normal = text.measure("Remote Machines", 22);
  const auto semibold = text.measure_weighted("Remote Machines", 22, text_render::kSemibold);
  EXPECT_GT(normal.width, 100);
  EXPECT_GT(semibold.width, normal.width);  // a real heavier face, not the same one
  EXPECT_GT(normal.height, 22);
  EXPECT_LT(normal.height, 40);
  // The terminal face is monospaced with the 0.6 em advance the cell grid relies on.
  const auto mono = text.layout_size("MMMMMMMMMM", {.px = 14, .face = text_render::Face::Mono});
  EXPECT_NEAR(mono.width, 84.0, 0.5);
  EXPECT_NEAR(text.layout_size("iiiiiiiiii", {.px = 14, .face = text_render::Face::Mono}).width, mono.width, 0.01);
}

TEST(TextRenderer, CaretPositionsFollowCharacterBoundaries) {
  auto& text = text_render::TextRenderer::shared();
  const std::string s = "a\xE2\x82\xAC" "b";
  const text_render::TextStyle style{.px = 14};
  EXPECT_EQ(text.caret_x(s, style, 0), 0);
  EXPECT_LT(text.caret_x(s, style, 1), text.caret_x(s, style, 4));
  EXPECT_EQ(text.index_at(s, style, -5), 0u);
  EXPECT_EQ(text.index_at(s, style, 1000), s.size());
  const double mid_euro = (text.caret_x(s, style, 1) + text.caret_x(s, style, 4)) / 2 + 1;
  EXPECT_EQ(text.index_at(s, style, mid_euro), 4u);
}

TEST(Canvas, FillsClipsAndDrawsImages) {
  Surface s(40, 20);
  Canvas canvas(s.cr);
  const auto& colors = tokens::colors::Colors::dark();
  canvas.fill_rect({0, 0, 40, 20}, colors.background);
  {
    ClipScope clip(canvas, {0, 0, 10, 20});
    canvas.fill_rect({0, 0, 40, 20}, Color::hex(0xff0000));
  }
  EXPECT_EQ(s.pixel(5, 5), 0xffff0000u);
  EXPECT_EQ(s.pixel(15, 5), 0xff0f1117u);
  Image image{2, 1, {0, 255, 0, 255, 0, 0, 255, 255}};
  canvas.draw_image(image, {20, 0, 20, 20});
  EXPECT_EQ(s.pixel(22, 10), 0xff00ff00u);
  EXPECT_EQ(s.pixel(38, 10), 0xff0000ffu);
  // A short buffer is refused rather than read past its end.
  Image broken{100, 100, {1, 2, 3}};
  canvas.draw_image(broken, {0, 0, 40, 20});
  EXPECT_EQ(s.pixel(22, 10), 0xff00ff00u);
}

}  // namespace
}  // namespace kivo::ui
