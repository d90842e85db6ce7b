#include "kivo/ui/widget/text_input.h"

#include <algorithm>

#include "kivo/ui/clipboard.h"
#include "kivo/ui/text_render.h"

namespace kivo::ui::widget::text_input {
namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; }

std::size_t previous_boundary(const std::string& s, std::size_t i) {
  if (i == 0) return 0;
  --i;
  while (i > 0 && is_continuation(s[i])) --i;
  return i;
}

std::size_t next_boundary(const std::string& s, std::size_t i) {
  if (i >= s.size()) return s.size();
  ++i;
  while (i < s.size() && is_continuation(s[i])) ++i;
  return i;
}

// Single-line text: line breaks and tabs become spaces, other controls are dropped.
std::string single_line(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\t') {
      if (c == '\n' && !out.empty() && out.back() == ' ') continue;
      out += ' ';
    } else if (u >= 0x20 && u != 0x7f) {
      out += c;
    }
  }
  return out;
}

text_render::TextStyle style_for(double px) { return {.px = px}; }

}  // namespace

void TextInput::set_text(std::string text) {
  text_ = std::move(text);
  if (cursor_ > text_.size()) cursor_ = text_.size();
  set_cursor_pos(cursor_);
}

void TextInput::set_cursor_pos(std::size_t index) {
  index = std::min(index, text_.size());
  while (index > 0 && index < text_.size() && is_continuation(text_[index])) --index;
  cursor_ = index;
}

void TextInput::insert(std::string_view text) {
  const std::string clean = single_line(text);
  text_.insert(cursor_, clean);
  cursor_ += clean.size();
}

bool TextInput::handle_event(const Event& event) {
  if (!focused_) return false;
  if (const auto* press = std::get_if<PointerButtonEvent>(&event)) {
    if (!press->pressed || press->button != PointerButton::Primary || !rect_.contains(press->position)) return false;
    const double x = press->position.x - rect_.x + scroll_;
    set_cursor_pos(text_render::TextRenderer::shared().index_at(text_, style_for(px_), x));
    return true;
  }
  const auto* key = std::get_if<KeyEvent>(&event);
  if (key == nullptr || !key->pressed) return false;
  const bool command = key->modifiers.control || key->modifiers.super;
  if (key->key.kind == Key::Kind::Named) {
    const std::string& name = key->key.value;
    if (name == "Backspace") {
      const std::size_t from = previous_boundary(text_, cursor_);
      text_.erase(from, cursor_ - from);
      cursor_ = from;
    } else if (name == "Delete") {
      const std::size_t to = next_boundary(text_, cursor_);
      text_.erase(cursor_, to - cursor_);
    } else if (name == "ArrowLeft") {
      cursor_ = previous_boundary(text_, cursor_);
    } else if (name == "ArrowRight") {
      cursor_ = next_boundary(text_, cursor_);
    } else if (name == "Home") {
      cursor_ = 0;
    } else if (name == "End") {
      cursor_ = text_.size();
    } else if (name == "Paste") {
      insert(clipboard::text());
    } else {
      return false;
    }
    return true;
  }
  if (command) {
    if (key->key.value == "v" || key->key.value == "V") {
      insert(clipboard::text());
      return true;
    }
    return false;
  }
  const std::string& typed = key->text.empty() ? key->key.value : key->text;
  if (typed.empty()) return false;
  insert(typed);
  return true;
}

void TextInput::keep_caret_visible() {
  const double caret = text_render::TextRenderer::shared().caret_x(text_, style_for(px_), cursor_);
  const double width = std::max(rect_.w - 2, 1.0);
  if (caret - scroll_ < 0) scroll_ = caret;
  if (caret - scroll_ > width) scroll_ = caret - width;
  const double full = text_render::TextRenderer::shared().measure(text_, px_).width;
  // Never leave empty space on the right while there is hidden text on the left.
  scroll_ = std::clamp(scroll_, 0.0, std::max(full - width, 0.0));
  if (caret - scroll_ > width) scroll_ = caret - width;
}

void TextInput::draw(Canvas& canvas, const tokens::colors::Colors& colors) {
  auto& renderer = text_render::TextRenderer::shared();
  const auto line = renderer.measure("Ag", px_);
  const double y = rect_.y + (rect_.h - line.height) / 2;
  ClipScope clip(canvas, {rect_.x - 1, rect_.y, rect_.w + 2, rect_.h});
  if (text_.empty()) {
    scroll_ = 0;
    if (!placeholder_.empty()) {
      renderer.draw(canvas, placeholder_, {rect_.x, y}, {.px = px_, .max_width = rect_.w}, colors.muted_text);
    }
  } else {
    keep_caret_visible();
    renderer.draw(canvas, text_, {rect_.x - scroll_, y}, style_for(px_), colors.text);
  }
  if (focused_) {
    const double caret = text_.empty() ? 0 : renderer.caret_x(text_, style_for(px_), cursor_) - scroll_;
    canvas.fill_rect({rect_.x + caret, y + 1, 1.5, line.height - 2}, colors.focus_ring);
  }
}

}  // namespace kivo::ui::widget::text_input
