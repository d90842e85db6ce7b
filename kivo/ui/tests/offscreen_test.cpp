#include "kivo/ui/offscreen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "kivo/ui/tokens.h"

namespace kivo::ui {
namespace {

// Fills the window with the background and a 10 px surface-coloured square at (20, 30).
class SquareApp : public Application {
 public:
  void apply_layout(Rect bounds) override {
    bounds_ = bounds;
    ++layouts;
  }
  Rect bounds() const override { return bounds_; }
  void paint(PaintContext& context) override {
    context.canvas.fill_rect(context.window, context.colors.background);
    context.canvas.fill_rect({20, 30, 10, 10}, context.colors.surface);
  }
  a11y::AccessNode access_tree() const override { return {.id = "root", .label = "Square"}; }
  int layouts = 0;

 private:
  Rect bounds_;
};

std::uint32_t argb(Color c) {
  return 0xff000000u | (static_cast<std::uint32_t>(std::lround(c.r * 255)) << 16) |
         (static_cast<std::uint32_t>(std::lround(c.g * 255)) << 8) | static_cast<std::uint32_t>(std::lround(c.b * 255));
}

TEST(Offscreen, RendersTheApplicationToAPngOfTheWindowSize) {
  SquareApp app;
  offscreen::OffscreenWindow window(app, 320, 200);
  window.paint();
  const auto& colors = tokens::colors::Colors::dark();
  EXPECT_EQ(window.frame().pixel(0, 0), argb(colors.background));
  EXPECT_EQ(window.frame().pixel(25, 35), argb(colors.surface));
  EXPECT_EQ(app.bounds(), (Rect{0, 0, 320, 200}));
  EXPECT_EQ(window.access_tree().label, "Square");

  const auto path = std::filesystem::temp_directory_path() / "kivo-offscreen-test.png";
  ASSERT_TRUE(window.write_png(path.string()));
  std::ifstream png(path, std::ios::binary);
  unsigned char header[24];
  png.read(reinterpret_cast<char*>(header), sizeof header);
  std::filesystem::remove(path);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header + 1), 3), "PNG");
  const auto be32 = [&](int at) {
    return (header[at] << 24) | (header[at + 1] << 16) | (header[at + 2] << 8) | header[at + 3];
  };
  EXPECT_EQ(be32(16), 320);
  EXPECT_EQ(be32(20), 200);
}

TEST(Offscreen, HighDensityRendersMoreDevicePixelsForTheSameLayout) {
  SquareApp app;
  offscreen::OffscreenWindow window(app, 320, 200, 2.0);
  window.paint();
  window.paint();
  EXPECT_EQ(window.frame().width_px(), 640);
  EXPECT_EQ(app.bounds(), (Rect{0, 0, 320, 200}));
  EXPECT_EQ(app.layouts, 1);  // laid out once, not on every paint
  EXPECT_EQ(window.frame().pixel(45, 65), argb(tokens::colors::Colors::dark().surface));
  window.resize(300, 200);
  window.paint();
  EXPECT_EQ(app.layouts, 2);
}

}  // namespace
}  // namespace kivo::ui
