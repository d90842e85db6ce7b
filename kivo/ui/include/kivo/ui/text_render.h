#pragma once
// Text shaping and drawing with pinned fonts, so a render is pixel-identical on
// every machine with the same packages. Used on the UI thread only.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "kivo/ui/canvas.h"

namespace kivo::ui::text_render {

// Weights as the screens number them: 1 normal, 2 medium, 3 semibold, 4 bold.
inline constexpr int kNormal = 1;
inline constexpr int kMedium = 2;
inline constexpr int kSemibold = 3;
inline constexpr int kBold = 4;

struct TextSize {
  double width = 0;
  double height = 0;
};

enum class Face { Sans, Mono };

struct TextStyle {
  double px = 13;  // before the text scale
  int weight = kNormal;
  Face face = Face::Sans;
  double wrap_width = 0;  // 0: a single line, never wrapped
  double max_width = 0;   // 0: unlimited; otherwise ellipsized at the end to fit
};

// Adds a font file to the pinned set. Only effective before the first text is measured.
void add_font_file(std::string path);

class TextRenderer {
 public:
  // The process-wide renderer. Fails hard (with the missing file named) when the
  // pinned fonts are not installed.
  static TextRenderer& shared();

  ~TextRenderer();
  TextRenderer(const TextRenderer&) = delete;
  TextRenderer& operator=(const TextRenderer&) = delete;

  TextSize measure(std::string_view text, double px) const { return layout_size(text, {.px = px}); }
  TextSize measure_weighted(std::string_view text, double px, int weight) const {
    return layout_size(text, {.px = px, .weight = weight});
  }
  // `at` is the top-left corner of the text's line box.
  void draw_text(Canvas& canvas, std::string_view text, Point at, double px, Color colour) const {
    draw(canvas, text, at, {.px = px}, colour);
  }
  void draw_text_weighted(Canvas& canvas, std::string_view text, Point at, double px, int weight,
                          Color colour) const {
    draw(canvas, text, at, {.px = px, .weight = weight}, colour);
  }

  TextSize layout_size(std::string_view text, const TextStyle& style) const;
  // Draws and returns the size drawn.
  TextSize draw(Canvas& canvas, std::string_view text, Point at, const TextStyle& style, Color colour) const;

  // Caret geometry of a single line: the x offset before byte `index`, and the byte
  // index of the character boundary nearest to x (both in logical pixels).
  double caret_x(std::string_view text, const TextStyle& style, std::size_t index) const;
  std::size_t index_at(std::string_view text, const TextStyle& style, double x) const;

  double text_scale() const { return scale_; }
  void set_text_scale(double scale);
  // Changes whenever the text scale does, so callers can cache metrics against it.
  unsigned generation() const { return generation_; }

 private:
  TextRenderer();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  double scale_ = 1.0;
  unsigned generation_ = 0;
};

}  // namespace kivo::ui::text_render
