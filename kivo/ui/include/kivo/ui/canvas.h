#pragma once
// Drawing over cairo in logical pixels. One Canvas wraps one cairo context for one
// paint; the backend owns the surface behind it.

#include <cstdint>
#include <memory>
#include <vector>

#include "kivo/ui/color.h"
#include "kivo/ui/event.h"

typedef struct _cairo cairo_t;

namespace kivo::ui {

// An RGBA picture (8 bits per channel, not premultiplied, rows without padding).
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

// A vector path in logical pixels.
class Path {
 public:
  Path& move_to(double x, double y);
  Path& line_to(double x, double y);
  Path& close();

 private:
  friend class Canvas;
  enum class Op : std::uint8_t { Move, Line, Close };
  struct Step {
    Op op;
    double x;
    double y;
  };
  std::vector<Step> steps_;
};

class Canvas {
 public:
  explicit Canvas(cairo_t* cr) : cr_(cr) {}

  void fill_rect(Rect r, Color c);
  void fill_rounded(Rect r, double radius, Color c);
  // Strokes inside the rectangle so a 1 px outline stays on whole pixels.
  void stroke_rounded(Rect r, double radius, Color c, double width);
  void fill_circle(Point centre, double radius, Color c);
  void stroke_circle(Point centre, double radius, Color c, double width);
  void fill_path(const Path& path, Color c);
  void stroke_path(const Path& path, Color c, double width);
  void line(Point from, Point to, Color c, double width);
  // Draws the picture scaled to exactly `dest` (bilinear filtering).
  void draw_image(const Image& image, Rect dest);

  // Clips drawing to `r` until the matching pop_clip.
  void push_clip(Rect r);
  void pop_clip();

  cairo_t* cairo() const { return cr_; }

 private:
  void set_colour(Color c);
  void rounded_path(Rect r, double radius);
  void replay(const Path& path);

  cairo_t* cr_;
};

// Restores the clip when it leaves scope.
class ClipScope {
 public:
  ClipScope(Canvas& canvas, Rect r) : canvas_(canvas) { canvas_.push_clip(r); }
  ~ClipScope() { canvas_.pop_clip(); }
  ClipScope(const ClipScope&) = delete;
  ClipScope& operator=(const ClipScope&) = delete;

 private:
  Canvas& canvas_;
};

}  // namespace kivo::ui
