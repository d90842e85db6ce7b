// Screens rendered offscreen and compared with reviewed images. Set
// REMOTE_UPDATE_GOLDENS=1 to write new images after reviewing a deliberate change.

#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>

#include "app/remote_app.h"
#include "fixtures.h"
#include "kivo/doc/document.h"
#include "kivo/ui/offscreen.h"

namespace remote::test {
namespace {

using app::RemoteApp;
namespace msg = app::msg;

std::filesystem::path golden_dir() {
  const char* source = std::getenv("REMOTE_SOURCE_DIR");
  return std::filesystem::path(source != nullptr ? source : ".") / "apps/remote/tests/gui/golden";
}

std::filesystem::path output_dir() {
  const char* binary = std::getenv("REMOTE_BINARY_DIR");
  auto dir = std::filesystem::path(binary != nullptr ? binary : ".") / "renders";
  std::filesystem::create_directories(dir);
  return dir;
}

// Pixels whose channels differ by more than 24 are counted; up to 0.2 % may differ
// (antialiasing of a different cairo or FreeType build), nothing more.
void expect_matches_golden(const kivo::ui::FrameBuffer& frame, const std::string& name) {
  const auto rendered = output_dir() / (name + ".png");
  ASSERT_TRUE(frame.write_png(rendered.string()));
  const auto golden = golden_dir() / (name + ".png");
  if (const char* update = std::getenv("REMOTE_UPDATE_GOLDENS"); update != nullptr && std::string(update) == "1") {
    std::filesystem::create_directories(golden_dir());
    std::filesystem::copy_file(rendered, golden, std::filesystem::copy_options::overwrite_existing);
    return;
  }
  ASSERT_TRUE(std::filesystem::exists(golden)) << "no golden image " << golden << "; review " << rendered;
  cairo_surface_t* expected = cairo_image_surface_create_from_png(golden.c_str());
  ASSERT_EQ(cairo_surface_status(expected), CAIRO_STATUS_SUCCESS);
  const int w = cairo_image_surface_get_width(expected);
  const int h = cairo_image_surface_get_height(expected);
  ASSERT_EQ(w, frame.width_px());
  ASSERT_EQ(h, frame.height_px());
  const int stride = cairo_image_surface_get_stride(expected);
  const unsigned char* data = cairo_image_surface_get_data(expected);
  long differing = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint32_t want = 0;
      std::memcpy(&want, data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, 4);
      const std::uint32_t got = frame.pixel(x, y);
      for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(static_cast<int>((want >> shift) & 0xff) - static_cast<int>((got >> shift) & 0xff)) > 24) {
          ++differing;
          break;
        }
      }
    }
  }
  cairo_surface_destroy(expected);
  EXPECT_LE(differing, static_cast<long>(w) * h / 500)
      << name << ": " << differing << " pixels differ; compare " << rendered << " with " << golden;
}

struct Render {
  std::string name;
  int width;
  int height;
  std::vector<doc::ConnectionProfile> profiles;
  std::function<void(RemoteApp&, kivo::ui::offscreen::OffscreenWindow&, kivo::doc::Document&)> setup;
};

class GoldenTest : public ::testing::TestWithParam<Render> {};

TEST_P(GoldenTest, MatchesTheReviewedImage) {
  const Render& r = GetParam();
  ::setenv("REMOTE_LIVE_SESSIONS", "", 1);
  RemoteApp app(r.profiles, {});
  app.set_reduced_motion(true);
  kivo::doc::Document document;
  kivo::ui::offscreen::OffscreenWindow window(app, r.width, r.height);
  window.set_document(&document);
  window.paint();
  if (r.setup) r.setup(app, window, document);
  window.paint();
  expect_matches_golden(window.frame(), r.name);
  ::unsetenv("REMOTE_LIVE_SESSIONS");
}

void hover(kivo::ui::offscreen::OffscreenWindow& window, double x, double y) {
  window.send(kivo::ui::PointerMoved{{x, y}});
}

const Render kRenders[] = {
    {"list-wide", 1280, 800, fixture_profiles(),
     [](RemoteApp& app, auto& window, auto& doc) {
       app.update(msg::Select{fixture_profiles()[4].id}, doc);
       hover(window, 700, 330);
     }},
    {"list-narrow", 600, 800, fixture_profiles(), nullptr},
    {"list-narrow-open", 600, 800, fixture_profiles(),
     [](RemoteApp& app, auto&, auto& doc) { app.update(msg::ToggleNavigation{}, doc); }},
    {"list-search", 1280, 800, fixture_profiles(),
     [](RemoteApp& app, auto& window, auto&) {
       window.semantic_action("remote.field:search", {kivo::ui::a11y::SemanticActionKind::SetValue, "prod"});
       (void)app;
     }},
    {"list-search-none", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       window.semantic_action("remote.field:search", {kivo::ui::a11y::SemanticActionKind::SetValue, "zzz"});
     }},
    {"list-scrolled-end", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       window.send(kivo::ui::Wheel{kivo::ui::Wheel::Unit::Line, 0, -50});
     }},
    {"list-empty", 1280, 800, {}, nullptr},
    {"list-empty-narrow", 600, 800, {}, nullptr},
    {"list-tooltip", 1280, 800, fixture_profiles(),
     [](RemoteApp&, auto& window, auto&) {
       hover(window, 32, 92);  // the rail's list item
       window.advance(std::chrono::milliseconds(600));
       window.paint();
     }},
};

INSTANTIATE_TEST_SUITE_P(Screens, GoldenTest, ::testing::ValuesIn(kRenders),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace remote::test
