#pragma once
// Input events the framework delivers to the application object. Positions are
// logical pixels (device pixels divided by the window's scale factor).

#include <cstdint>
#include <string>
#include <variant>

namespace kivo::ui {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;

  double right() const { return x + w; }
  double bottom() const { return y + h; }
  // Half-open: the left and top edges are inside, the right and bottom edges are not.
  bool contains(Point p) const { return p.x >= x && p.x < x + w && p.y >= y && p.y < y + h; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Modifiers {
  bool control = false;
  bool shift = false;
  bool alt = false;
  bool super = false;
  friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

// The W3C UI Events `key` value: either a named key ("Enter", "ArrowUp", "F5", …)
// or the character string the key stands for ("a", "A", "/", " ").
struct Key {
  enum class Kind { Named, Character };
  Kind kind = Kind::Character;
  std::string value;

  static Key named(std::string name) { return {Kind::Named, std::move(name)}; }
  static Key character(std::string text) { return {Kind::Character, std::move(text)}; }
  bool is_named(std::string_view name) const { return kind == Kind::Named && value == name; }
  bool is_character() const { return kind == Kind::Character; }
  friend bool operator==(const Key&, const Key&) = default;
};

struct KeyEvent {
  Key key;
  std::string code;  // W3C `code`: the physical key ("KeyA", "Enter", "ShiftLeft", …)
  Modifiers modifiers;
  std::string text;  // the text the key produced (empty when it produced none)
  bool pressed = true;
  bool repeat = false;
};

enum class PointerButton { Primary, Secondary, Middle, Other };

struct PointerMoved {
  Point position;
};

struct PointerButtonEvent {
  PointerButton button = PointerButton::Primary;
  bool pressed = true;
  Point position;
};

struct Wheel {
  enum class Unit { Line, Pixel };
  Unit unit = Unit::Line;
  double dx = 0;
  double dy = 0;  // positive when the wheel turns away from the user (scrolling up)
};

using Event = std::variant<PointerMoved, PointerButtonEvent, Wheel, KeyEvent>;

}  // namespace kivo::ui
