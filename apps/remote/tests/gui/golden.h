#pragma once
// Comparing offscreen renders with reviewed images. Set REMOTE_UPDATE_GOLDENS=1 to write
// new images after reviewing a deliberate change; renders land in <build>/renders.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kivo/ui/frame.h"

namespace remote::test {

inline std::filesystem::path golden_dir() {
  const char* source = std::getenv("REMOTE_SOURCE_DIR");
  return std::filesystem::path(source != nullptr ? source : ".") / "apps/remote/tests/gui/golden";
}

inline std::filesystem::path output_dir() {
  const char* binary = std::getenv("REMOTE_BINARY_DIR");
  auto dir = std::filesystem::path(binary != nullptr ? binary : ".") / "renders";
  std::filesystem::create_directories(dir);
  return dir;
}

// Pixels whose channels differ by more than 24 are counted; up to 0.2 % may differ
// (antialiasing of a different cairo or FreeType build), nothing more.
inline void expect_matches_golden(const kivo::ui::FrameBuffer& frame, const std::string& name) {
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
    const unsigned char* want_row = data + static_cast<std::ptrdiff_t>(y) * stride;
    const unsigned char* got_row = frame.pixels() + static_cast<std::ptrdiff_t>(y) * frame.stride();
    if (std::memcmp(want_row, got_row, static_cast<std::size_t>(w) * 4) == 0) continue;  // the common case
    for (int x = 0; x < w; ++x) {
      for (int channel = 0; channel < 4; ++channel) {
        if (std::abs(static_cast<int>(want_row[x * 4 + channel]) - static_cast<int>(got_row[x * 4 + channel])) > 24) {
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

}  // namespace remote::test
