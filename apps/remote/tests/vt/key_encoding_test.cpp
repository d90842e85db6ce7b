#include "vt/key_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vt_test_support.h"

namespace remote::vt {
namespace {

using kivo::ui::Key;
using kivo::ui::KeyEvent;
using kivo::ui::Modifiers;

KeyEvent named(std::string name, std::string text = {}, Modifiers modifiers = {}) {
  return KeyEvent{Key::named(std::move(name)), {}, modifiers, std::move(text), true, false};
}

KeyEvent character(std::string value, std::string text, Modifiers modifiers = {}) {
  return KeyEvent{Key::character(std::move(value)), {}, modifiers, std::move(text), true, false};
}

const Modifiers kControl{.control = true};
const Modifiers kShift{.shift = true};
const Modifiers kAlt{.alt = true};
const Modifiers kEverything{.control = true, .shift = true, .alt = true, .super = true};

TEST(KeyEncoding, Table) {
  struct Case {
    const char* name;
    KeyEvent event;
    std::string bytes;
  };
  KeyEvent release = character("a", "a");
  release.pressed = false;
  KeyEvent enter_release = named("Enter");
  enter_release.pressed = false;

  const std::vector<Case> cases = {
      {"Enter", named("Enter"), "\r"},
      {"Tab", named("Tab"), "\t"},
      {"Shift+Tab", named("Tab", "", kShift), "\t"},
      {"named Space", named("Space"), " "},
      {"ArrowUp", named("ArrowUp"), "\x1b[A"},
      {"ArrowDown", named("ArrowDown"), "\x1b[B"},
      {"ArrowRight", named("ArrowRight"), "\x1b[C"},
      {"ArrowLeft", named("ArrowLeft"), "\x1b[D"},
      {"Control+ArrowUp is not encoded", named("ArrowUp", "", kEverything), "\x1b[A"},
      {"Home", named("Home"), "\x1b[H"},
      {"End", named("End"), "\x1b[F"},
      {"Backspace", named("Backspace", "\b"), "\x7f"},
      {"Delete", named("Delete"), "\x1b[3~"},
      {"Escape", named("Escape", "\x1b"), "\x1b"},
      {"F5 without text", named("F5"), ""},
      {"PageUp without text", named("PageUp"), ""},
      {"other named key with text", named("Dead", "\xc2\xb4"), "\xc2\xb4"},
      {"Control+C", character("C", "", kControl), "\x03"},
      {"Control+c", character("c", "c", kControl), "\x03"},
      {"Control+A", character("a", "", kControl), "\x01"},
      {"Control+Z", character("z", "", kControl), "\x1a"},
      {"Control+Shift+Alt+Super+W", character("W", "", kEverything), "\x17"},
      {"Control+2 sends its text", character("2", "2", kControl), "2"},
      {"Control+[ without text sends the key", character("[", "", kControl), "["},
      {"Control+non-ASCII letter", character("\xc3\xa9", "\xc3\xa9", kControl), "\xc3\xa9"},
      {"plain letter", character("a", "a"), "a"},
      {"text wins over the key", character("a", "A", kShift), "A"},
      {"Alt is not encoded", character("x", "x", kAlt), "x"},
      {"no text sends the key", character("q", ""), "q"},
      {"character space", character(" ", " "), " "},
      {"UTF-8 text", character("\xe4\xb8\xad", "\xe4\xb8\xad"), "\xe4\xb8\xad"},
      {"empty key", character("", ""), ""},
      {"Control with empty key", character("", "", kControl), ""},
      {"character release", release, ""},
      {"named release", enter_release, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing::printable(encode_key(c.event)), testing::printable(c.bytes));
  }
}

}  // namespace
}  // namespace remote::vt
