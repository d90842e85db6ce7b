#pragma once
// A single-line text editor: caret, typing, deletion, caret movement, paste, and
// horizontal scrolling when the text is wider than its box. UTF-8 throughout; the
// caret only ever sits on a character boundary.

#include <cstddef>
#include <string>

#include "kivo/ui/canvas.h"
#include "kivo/ui/event.h"
#include "kivo/ui/tokens.h"

namespace kivo::ui::widget::text_input {

class TextInput {
 public:
  // An input that keeps its text itself (not bound to a document).
  static TextInput local() { return TextInput(); }
  TextInput with_placeholder(std::string placeholder) && {
    placeholder_ = std::move(placeholder);
    return std::move(*this);
  }

  void set_placeholder(std::string placeholder) { placeholder_ = std::move(placeholder); }
  const std::string& placeholder() const { return placeholder_; }

  // Replaces the text; the caret keeps its place when it still fits, else goes to the end.
  void set_text(std::string text);
  const std::string& text() const { return text_; }

  // Moves the caret to byte `index`, snapped back to a character boundary.
  void set_cursor_pos(std::size_t index);
  std::size_t cursor_pos() const { return cursor_; }

  void set_focused(bool focused) { focused_ = focused; }
  bool focused() const { return focused_; }

  // The pixel size of the text (before the renderer's text scale).
  void set_text_size(double px) { px_ = px; }
  double text_size() const { return px_; }

  // Handles a key press or a primary press while focused; tells whether it consumed it.
  // Keys it leaves alone: Enter, Tab, Escape, Up, Down and anything with Control or
  // Super other than paste.
  bool handle_event(const Event& event);

  // The rectangle the text occupies, as the owner lays it out (padding excluded).
  void apply_layout_external(Rect rect) { rect_ = rect; }
  Rect layout() const { return rect_; }

  // Draws the text (or the placeholder in muted text) and, when focused, the caret.
  void draw(Canvas& canvas, const tokens::colors::Colors& colors);

 private:
  TextInput() = default;
  void insert(std::string_view text);
  void keep_caret_visible();

  std::string text_;
  std::string placeholder_;
  std::size_t cursor_ = 0;
  bool focused_ = false;
  double px_ = 14;
  double scroll_ = 0;
  Rect rect_;
};

}  // namespace kivo::ui::widget::text_input
