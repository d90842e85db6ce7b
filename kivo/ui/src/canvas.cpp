#include "kivo/ui/canvas.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kivo::ui {

Path& Path::move_to(double x, double y) {
  steps_.push_back({Op::Move, x, y});
  return *this;
}

Path& Path::line_to(double x, double y) {
  steps_.push_back({Op::Line, x, y});
  return *this;
}

Path& Path::close() {
  steps_.push_back({Op::Close, 0, 0});
  return *this;
}

void Canvas::set_colour(Color c) { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }

void Canvas::rounded_path(Rect r, double radius) {
  radius = std::clamp(radius, 0.0, std::min(r.w, r.h) / 2);
  cairo_new_path(cr_);
  if (radius <= 0) {
    cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
    return;
  }
  constexpr double kQuarter = std::numbers::pi / 2;
  cairo_arc(cr_, r.x + r.w - radius, r.y + radius, radius, -kQuarter, 0);
  cairo_arc(cr_, r.x + r.w - radius, r.y + r.h - radius, radius, 0, kQuarter);
  cairo_arc(cr_, r.x + radius, r.y + r.h - radius, radius, kQuarter, 2 * kQuarter);
  cairo_arc(cr_, r.x + radius, r.y + radius, radius, 2 * kQuarter, 3 * kQuarter);
  cairo_close_path(cr_);
}

void Canvas::replay(const Path& path) {
  cairo_new_path(cr_);
  for (const auto& step : path.steps_) {
    switch (step.op) {
      case Path::Op::Move: cairo_move_to(cr_, step.x, step.y); break;
      case Path::Op::Line: cairo_line_to(cr_, step.x, step.y); break;
      case Path::Op::Close: cairo_close_path(cr_); break;
    }
  }
}

void Canvas::fill_rect(Rect r, Color c) {
  if (r.w <= 0 || r.h <= 0 || c.a <= 0) return;
  set_colour(c);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
  cairo_fill(cr_);
}

void Canvas::fill_rounded(Rect r, double radius, Color c) {
  if (r.w <= 0 || r.h <= 0 || c.a <= 0) return;
  set_colour(c);
  rounded_path(r, radius);
  cairo_fill(cr_);
}

void Canvas::stroke_rounded(Rect r, double radius, Color c, double width) {
  if (r.w <= 0 || r.h <= 0 || c.a <= 0 || width <= 0) return;
  const double inset = width / 2;
  set_colour(c);
  rounded_path({r.x + inset, r.y + inset, r.w - width, r.h - width}, std::max(radius - inset, 0.0));
  cairo_set_line_width(cr_, width);
  cairo_stroke(cr_);
}

void Canvas::fill_circle(Point centre, double radius, Color c) {
  if (radius <= 0 || c.a <= 0) return;
  set_colour(c);
  cairo_new_path(cr_);
  cairo_arc(cr_, centre.x, centre.y, radius, 0, 2 * std::numbers::pi);
  cairo_fill(cr_);
}

void Canvas::stroke_circle(Point centre, double radius, Color c, double width) {
  if (radius <= 0 || c.a <= 0 || width <= 0) return;
  set_colour(c);
  cairo_new_path(cr_);
  cairo_arc(cr_, centre.x, centre.y, radius, 0, 2 * std::numbers::pi);
  cairo_set_line_width(cr_, width);
  cairo_stroke(cr_);
}

void Canvas::fill_path(const Path& path, Color c) {
  if (c.a <= 0) return;
  set_colour(c);
  replay(path);
  cairo_fill(cr_);
}

void Canvas::stroke_path(const Path& path, Color c, double width) {
  if (c.a <= 0 || width <= 0) return;
  set_colour(c);
  replay(path);
  cairo_set_line_width(cr_, width);
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr_);
}

void Canvas::line(Point from, Point to, Color c, double width) {
  if (c.a <= 0 || width <= 0) return;
  set_colour(c);
  cairo_new_path(cr_);
  cairo_move_to(cr_, from.x, from.y);
  cairo_line_to(cr_, to.x, to.y);
  cairo_set_line_width(cr_, width);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
  cairo_stroke(cr_);
}

void Canvas::draw_image(const Image& image, Rect dest) {
  if (image.width <= 0 || image.height <= 0 || dest.w <= 0 || dest.h <= 0) return;
  const auto expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4;
  if (image.rgba.size() < expected) return;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return;
  }
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // cairo wants premultiplied native-endian ARGB.
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* src = image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4;
    auto* dst = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < image.width; ++x) {
      const std::uint32_t a = src[4 * x + 3];
      const std::uint32_t r = src[4 * x] * a / 255;
      const std::uint32_t g = src[4 * x + 1] * a / 255;
      const std::uint32_t b = src[4 * x + 2] * a / 255;
      dst[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, dest.x, dest.y, dest.w, dest.h);
  cairo_clip(cr_);
  cairo_translate(cr_, dest.x, dest.y);
  cairo_scale(cr_, dest.w / image.width, dest.h / image.height);
  cairo_set_source_surface(cr_, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
  cairo_paint(cr_);
  cairo_restore(cr_);
  cairo_surface_destroy(surface);
}

void Canvas::push_clip(Rect r) {
  cairo_save(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, r.x, r.y, std::max(r.w, 0.0), std::max(r.h, 0.0));
  cairo_clip(cr_);
}

void Canvas::pop_clip() { cairo_restore(cr_); }

}  // namespace kivo::ui
