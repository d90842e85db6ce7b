#include "kivo/ui/widget/text_input.h"

#include <gtest/gtest.h>

#include "kivo/ui/clipboard.h"

namespace kivo::ui::widget::text_input {
namespace {

KeyEvent named(std::string name) { return {.key = Key::named(std::move(name))}; }
KeyEvent typed(std::string text) { return {.key = Key::character(text), .text = text}; }

TextInput focused_with(std::string text) {
  auto input = TextInput::local().with_placeholder("hint");
  input.set_text(std::move(text));
  input.set_cursor_pos(input.text().size());
  input.set_focused(true);
  return input;
}

TEST(TextInput, EditsMultiByteTextWithoutSplittingCharacters) {
  // "añ€😀" — one, two, three and four UTF-8 bytes.
  auto input = focused_with("a\xC3\xB1\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_TRUE(input.handle_event(named("Backspace")));
  EXPECT_EQ(input.text(), "a\xC3\xB1\xE2\x82\xAC");
  EXPECT_TRUE(input.handle_event(named("ArrowLeft")));
  EXPECT_EQ(input.cursor_pos(), 3u);
  EXPECT_TRUE(input.handle_event(typed("\xC3\xA9")));
  EXPECT_EQ(input.text(), "a\xC3\xB1\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(input.cursor_pos(), 5u);
  EXPECT_TRUE(input.handle_event(named("Delete")));
  EXPECT_EQ(input.text(), "a\xC3\xB1\xC3\xA9");
  EXPECT_TRUE(input.handle_event(named("Home")));
  EXPECT_TRUE(input.handle_event(named("ArrowRight")));
  EXPECT_TRUE(input.handle_event(named("ArrowRight")));
  EXPECT_EQ(input.cursor_pos(), 3u);
  EXPECT_TRUE(input.handle_event(named("End")));
  EXPECT_EQ(input.cursor_pos(), input.text().size());
}

TEST(TextInput, CaretSnapsToCharacterBoundaries) {
  auto input = focused_with("\xE2\x82\xAC\xE2\x82\xAC");
  input.set_cursor_pos(4);
  EXPECT_EQ(input.cursor_pos(), 3u);
  input.set_cursor_pos(99);
  EXPECT_EQ(input.cursor_pos(), 6u);
  input.set_text("x");
  EXPECT_EQ(input.cursor_pos(), 1u);
}

TEST(TextInput, EdgesOfTheTextAreNoOps) {
  auto input = focused_with("");
  EXPECT_TRUE(input.handle_event(named("Backspace")));
  EXPECT_TRUE(input.handle_event(named("Delete")));
  EXPECT_TRUE(input.handle_event(named("ArrowLeft")));
  EXPECT_EQ(input.text(), "");
  EXPECT_EQ(input.cursor_pos(), 0u);
}

TEST(TextInput, LeavesNavigationKeysAndShortcutsToTheOwner) {
  auto input = focused_with("abc");
  for (const char* name : {"Enter", "Tab", "Escape", "ArrowUp", "ArrowDown"}) {
    EXPECT_FALSE(input.handle_event(named(name))) << name;
  }
  KeyEvent control_n{.key = Key::character("n"), .modifiers = {.control = true}};
  EXPECT_FALSE(input.handle_event(control_n));
  EXPECT_EQ(input.text(), "abc");
  input.set_focused(false);
  EXPECT_FALSE(input.handle_event(typed("x")));
  EXPECT_EQ(input.text(), "abc");
}

TEST(TextInput, PastesOneLineFromTheClipboard) {
  clipboard::install({.get = [] { return std::string("line one\r\nline\ttwo\x07"); }, .set = {}});
  auto input = focused_with("> ");
  KeyEvent paste{.key = Key::character("v"), .modifiers = {.control = true}};
  EXPECT_TRUE(input.handle_event(paste));
  EXPECT_EQ(input.text(), "> line one line two");
  clipboard::install({});
}

}  // namespace
}  // namespace kivo::ui::widget::text_input
