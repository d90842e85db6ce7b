#pragma once
// One paint of an application into pixels: the window backend uploads it, the
// offscreen backend and screenshots encode it as PNG.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "kivo/ui/a11y.h"
#include "kivo/ui/application.h"

typedef struct _cairo_surface cairo_surface_t;

namespace kivo::ui {

class FrameBuffer {
 public:
  FrameBuffer() = default;
  ~FrameBuffer();
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // (Re)allocates for a window of width × height device pixels.
  void resize(int width_px, int height_px);
  int width_px() const { return width_; }
  int height_px() const { return height_; }

  // Lays out (when the logical size changed or `force_layout`), paints the
  // application and keeps its access tree.
  void paint(Application& app, double scale_factor, Clock::time_point now, bool force_layout = false);

  // The application's access tree as of the last paint, built when first asked for:
  // most frames are never read by an assistive client, and a long list is costly.
  const a11y::AccessNode& access_tree() const;
  // Native-endian premultiplied ARGB, `stride` bytes per row.
  const std::uint8_t* pixels() const;
  int stride() const;
  // 0xAARRGGBB of one device pixel.
  std::uint32_t pixel(int x, int y) const;

  std::expected<void, std::string> write_png(const std::string& path) const;
  std::expected<std::vector<std::uint8_t>, std::string> encode_png() const;

 private:
  cairo_surface_t* surface_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  Rect laid_out_;
  Application* painted_ = nullptr;
  mutable bool tree_stale_ = true;
  mutable a11y::AccessNode tree_;
};

}  // namespace kivo::ui
