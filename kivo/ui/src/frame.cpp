#include "kivo/ui/frame.h"

#include <cairo.h>

#include <cstring>

#include "kivo/ui/canvas.h"
#include "kivo/ui/text_render.h"

namespace kivo::ui {

FrameBuffer::~FrameBuffer() {
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

void FrameBuffer::resize(int width_px, int height_px) {
  width_px = std::max(width_px, 1);
  height_px = std::max(height_px, 1);
  if (surface_ != nullptr && width_px == width_ && height_px == height_) return;
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_px, height_px);
  width_ = width_px;
  height_ = height_px;
}

void FrameBuffer::paint(Application& app, double scale_factor, Clock::time_point now, bool force_layout) {
  if (surface_ == nullptr) resize(1, 1);
  const Rect window{0, 0, width_ / scale_factor, height_ / scale_factor};
  if (force_layout || window != laid_out_) {
    app.apply_layout(window);
    laid_out_ = window;
  }
  cairo_t* cr = cairo_create(surface_);
  cairo_scale(cr, scale_factor, scale_factor);
  {
    Canvas canvas(cr);
    PaintContext context{.canvas = canvas, .window = window, .scale_factor = scale_factor, .now = now};
    app.paint(context);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface_);
  painted_ = &app;
  tree_stale_ = true;
}

const a11y::AccessNode& FrameBuffer::access_tree() const {
  if (tree_stale_ && painted_ != nullptr) {
    tree_ = painted_->access_tree();
    tree_stale_ = false;
  }
  return tree_;
}

const std::uint8_t* FrameBuffer::pixels() const {
  return surface_ == nullptr ? nullptr : cairo_image_surface_get_data(surface_);
}

int FrameBuffer::stride() const { return surface_ == nullptr ? 0 : cairo_image_surface_get_stride(surface_); }

std::uint32_t FrameBuffer::pixel(int x, int y) const {
  if (surface_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  std::uint32_t value = 0;
  std::memcpy(&value, pixels() + static_cast<std::ptrdiff_t>(y) * stride() + x * 4, 4);
  return value;
}

std::expected<void, std::string> FrameBuffer::write_png(const std::string& path) const {
  if (surface_ == nullptr) return std::unexpected("nothing has been painted yet");
  const cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
  if (status != CAIRO_STATUS_SUCCESS) return std::unexpected(std::string(cairo_status_to_string(status)));
  return {};
}

std::expected<std::vector<std::uint8_t>, std::string> FrameBuffer::encode_png() const {
  if (surface_ == nullptr) return std::unexpected("nothing has been painted yet");
  std::vector<std::uint8_t> out;
  const cairo_status_t status = cairo_surface_write_to_png_stream(
      surface_,
      [](void* closure, const unsigned char* data, unsigned int length) {
        auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
        bytes->insert(bytes->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &out);
  if (status != CAIRO_STATUS_SUCCESS) return std::unexpected(std::string(cairo_status_to_string(status)));
  return out;
}

}  // namespace kivo::ui
