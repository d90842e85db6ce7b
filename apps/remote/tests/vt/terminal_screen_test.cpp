#include "vt/terminal_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "screen_invariants.h"
#include "vt_test_support.h"

namespace remote::vt {
namespace {

// Every row as UTF-8 with trailing blanks dropped.
std::vector<std::string> screen_text(const TerminalScreen& screen) {
  std::vector<std::string> lines;
  for (const auto& row : screen.rows()) {
    std::string line;
    for (const TerminalCell& cell : row) line += testing::to_utf8(cell.ch);
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

using Cursor = std::pair<std::size_t, std::size_t>;

struct ScreenCase {
  const char* name;
  std::size_t columns;
  std::size_t rows;
  std::vector<std::string> chunks;
  std::vector<std::string> text;
  Cursor cursor;
};

const std::string kFull3x5 = "abcde\r\nfghij\r\nklmno";

// Text and cursor after feeding the chunks in order; each case also runs with the input
// fed one byte at a time, which must not change anything.
const std::vector<ScreenCase> kScreenCases = {
    // Wrapping and the pending-wrap column.
    {"fills row without wrapping", 5, 3, {"abcde"}, {"abcde", "", ""}, {5, 0}},
    {"next character wraps", 5, 3, {"abcdef"}, {"abcde", "f", ""}, {1, 1}},
    {"wrap on last row scrolls", 5, 2, {"abcdefghijk"}, {"fghij", "k"}, {1, 1}},
    {"CR at pending wrap stays on row", 5, 3, {"abcde\rX"}, {"Xbcde", "", ""}, {1, 0}},
    {"LF keeps the column", 5, 3, {"ab\nc"}, {"ab", "  c", ""}, {3, 1}},
    {"LF at pending wrap keeps it", 5, 3, {"abcde\nX"}, {"abcde", "", "X"}, {1, 2}},
    {"VT and FF feed lines", 5, 3, {"a\x0b" "b\x0c" "c"}, {"a", " b", "  c"}, {3, 2}},
    {"scrolled rows are gone", 5, 3, {"1\r\n2\r\n3\r\n4\r\n5"}, {"3", "4", "5"}, {1, 2}},
    {"scroll on last row keeps the cursor row", 5, 3, {"\x1b[3;2H\n\nX"}, {"", "", " X"}, {2, 2}},
    // Backspace and tab.
    {"BS moves back", 5, 3, {"abc\b\bX"}, {"aXc", "", ""}, {2, 0}},
    {"BS stops at column 0", 5, 3, {"\b\bX"}, {"X", "", ""}, {1, 0}},
    {"BS from pending wrap to last column", 5, 3, {"abcde\bX"}, {"abcdX", "", ""}, {5, 0}},
    {"HT to next stop", 20, 2, {"\tX"}, {"        X", ""}, {9, 0}},
    {"HT stops at last column", 20, 2, {"\x1b[18G\tX"}, {std::string(19, ' ') + "X", ""}, {20, 0}},
    {"HT from pending wrap", 20, 2, {std::string(20, 'a') + "\tX"},
     {std::string(19, 'a') + "X", ""}, {20, 0}},
    {"BEL NUL SO SI do nothing", 5, 3, {std::string("a\x07\x00\x0e\x0f" "b", 6)}, {"ab", "", ""}, {2, 0}},
    // Cursor positioning and clamps.
    {"CUP", 5, 3, {"\x1b[2;3HX"}, {"", "  X", ""}, {3, 1}},
    {"CUP with f", 5, 3, {"\x1b[2;3fX"}, {"", "  X", ""}, {3, 1}},
    {"CUP zeros mean one", 5, 3, {"zz\x1b[0;0HX"}, {"Xz", "", ""}, {1, 0}},
    {"CUP empty parameters", 5, 3, {"zz\x1b[;HX"}, {"Xz", "", ""}, {1, 0}},
    {"CUP clamps", 5, 3, {"\x1b[999;999HX"}, {"", "", "    X"}, {5, 2}},
    {"CUP saturates huge values", 5, 3, {"\x1b[2147483647;2147483647HX"}, {"", "", "    X"},
     {5, 2}},
    {"CUU clamps at top", 5, 3, {"\x1b[3;3H\x1b[10AX"}, {"  X", "", ""}, {3, 0}},
    {"CUU zero means one", 5, 3, {"\x1b[3;3H\x1b[0AX"}, {"", "  X", ""}, {3, 1}},
    {"CUD clamps at bottom", 5, 3, {"\x1b[99BX"}, {"", "", "X"}, {1, 2}},
    {"CUF clamps at last column", 5, 3, {"\x1b[99CX"}, {"    X", "", ""}, {5, 0}},
    {"CUB clamps at column 0", 5, 3, {"ab\x1b[99DX"}, {"Xb", "", ""}, {1, 0}},
    {"CUB saturating count", 5, 3, {"ab\x1b[2147483647DX"}, {"Xb", "", ""}, {1, 0}},
    {"CUU keeps pending wrap", 5, 3, {"\x1b[2;1Habcde\x1b[AX"}, {"", "Xbcde", ""}, {1, 1}},
    {"CUF from pending wrap", 5, 3, {"abcde\x1b[CX"}, {"abcdX", "", ""}, {5, 0}},
    {"CUB from pending wrap", 5, 3, {"abcde\x1b[2DX"}, {"abcXe", "", ""}, {4, 0}},
    {"CHA", 5, 3, {"abcd\x1b[2GX"}, {"aXcd", "", ""}, {2, 0}},
    {"CHA zero and clamp", 5, 3, {"ab\x1b[0GX\x1b[99GY"}, {"Xb  Y", "", ""}, {5, 0}},
    // Erasing.
    {"ED 0 erases rest of row only", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[J"},
     {"abcde", "fg", "klmno"}, {2, 1}},
    {"ED 1 acts like ED 0", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[1J"}, {"abcde", "fg", "klmno"},
     {2, 1}},
    {"ED 2 erases screen, cursor stays", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[2J"}, {"", "", ""},
     {2, 1}},
    {"ED 3", 5, 3, {kFull3x5, "\x1b[3J"}, {"", "", ""}, {5, 2}},
    {"ED with private marker", 5, 3, {kFull3x5, "\x1b[?2J"}, {"", "", ""}, {5, 2}},
    {"home then clear", 5, 3, {kFull3x5, "\x1b[H\x1b[2J"}, {"", "", ""}, {0, 0}},
    {"EL 0", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[K"}, {"abcde", "fg", "klmno"}, {2, 1}},
    {"EL 1 acts like EL 0", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[1K"}, {"abcde", "fg", "klmno"},
     {2, 1}},
    {"EL 2 erases the row", 5, 3, {kFull3x5, "\x1b[2;3H\x1b[2K"}, {"abcde", "", "klmno"},
     {2, 1}},
    {"EL at pending wrap erases nothing", 5, 3, {"abcde\x1b[K"}, {"abcde", "", ""}, {5, 0}},
    {"EL 2 at pending wrap", 5, 3, {"abcde\x1b[2K"}, {"", "", ""}, {5, 0}},
    // Sequences without effect on the grid.
    {"private modes ignored", 5, 3, {"ab\x1b[?25l\x1b[?1049hc"}, {"abc", "", ""}, {3, 0}},
    {"unhandled finals ignored", 5, 3, {"ab\x1b[2L\x1b[3P\x1b[5X\x1b[1;2r\x1b[6nc"},
     {"abc", "", ""}, {3, 0}},
    {"ESC sequences ignored", 5, 3, {"ab\x1b" "7\x1b" "8\x1bM\x1b" "D\x1b(B\x1b" "cc"},
     {"abc", "", ""}, {3, 0}},
    {"OSC with BEL consumed", 5, 3, {"a\x1b]0;title\x07" "b"}, {"ab", "", ""}, {2, 0}},
    {"OSC with ST consumed", 5, 3, {"a\x1b]8;;http://x\x1b\\b"}, {"ab", "", ""}, {2, 0}},
    {"DCS consumed", 5, 3, {"a\x1bPq#0;2;0\n-\x1b\\b"}, {"ab", "", ""}, {2, 0}},
    {"APC PM SOS consumed", 5, 3, {"a\x1b_x\ny\x1b\\\x1b^z\x1b\\\x1bXw\x1b\\b"}, {"ab", "", ""},
     {2, 0}},
    // Controls inside sequences, CAN, SUB and ESC.
    {"LF inside CSI executes", 5, 3, {"\x1b[2\n;3HX"}, {"", "  X", ""}, {3, 1}},
    {"CR inside ESC sequence", 5, 3, {"abc\x1b\r[2GX"}, {"aXc", "", ""}, {2, 0}},
    {"CAN abandons CSI", 5, 3, {"\x1b[2\x18;3HX"}, {";3HX", "", ""}, {4, 0}},
    {"SUB abandons CSI", 5, 3, {"\x1b[2\x1a" "5X"}, {"5X", "", ""}, {2, 0}},
    {"CAN abandons OSC", 5, 3, {"\x1b]0;t\x18" "ab"}, {"ab", "", ""}, {2, 0}},
    {"ESC restarts CSI", 5, 3, {"\x1b[5\x1b[2;2HX"}, {"", " X", ""}, {2, 1}},
    // C1 bytes and UTF-8.
    {"raw C1 byte does nothing", 5, 3, {"a\x9b" "1mb"}, {"a1mb", "", ""}, {4, 0}},
    {"UTF-8 C1 does nothing", 5, 3, {"a\xc2\x9b" "1mb"}, {"a1mb", "", ""}, {4, 0}},
    {"UTF-8 across chunks", 5, 3, {"\xe4", "\xb8\xad"}, {"\u4e2d", "", ""}, {1, 0}},
    {"4-byte UTF-8 in three chunks", 5, 3, {"\xf0\x9f", "\x98", "\x80x"}, {"\U0001F600x", "", ""},
     {2, 0}},
    {"wide characters take one cell", 5, 3, {"\u4e2d\u6587\u00e9\U0001F600"},
     {"\u4e2d\u6587\u00e9\U0001F600", "", ""}, {4, 0}},
    {"lone 0xFF", 5, 3, {"a\xff" "b"}, {"a\ufffd" "b", "", ""}, {3, 0}},
    {"lone continuation A0-BF", 5, 3, {"a\xa5" "b"}, {"a\ufffd" "b", "", ""}, {3, 0}},
    {"lone continuation 80-9F executes", 5, 3, {"a\x85" "b"}, {"ab", "", ""}, {2, 0}},
    {"truncated sequence then ASCII", 5, 3, {"\xe4\xb8" "A"}, {"\ufffd" "A", "", ""}, {2, 0}},
    {"cut by ESC", 5, 3, {"a\xe4\xb8", "\x1b[3GX"}, {"a\ufffdX", "", ""}, {3, 0}},
    {"cut by control", 5, 3, {"\xe4\n"}, {"\ufffd", "", ""}, {1, 1}},
    {"overlong", 5, 3, {"\xc0\xaf"}, {"\ufffd\ufffd", "", ""}, {2, 0}},
    {"surrogate", 5, 3, {"\xed\xa0\x80"}, {"\ufffd\ufffd", "", ""}, {2, 0}},
    {"above U+10FFFF", 5, 3, {"\xf4\x90\x80\x80"}, {"\ufffd", "", ""}, {1, 0}},
    {"five-byte lead", 5, 3, {"\xfc\x80\xb4\x90"}, {"\ufffd\ufffd", "", ""}, {2, 0}},
    {"four-byte lead F5", 5, 3, {"\xf5\x80\x80\x80"}, {"\ufffd", "", ""}, {1, 0}},
};

TEST(TerminalScreen, FeedTable) {
  for (const ScreenCase& c : kScreenCases) {
    SCOPED_TRACE(c.name);
    TerminalScreen whole(c.columns, c.rows);
    TerminalScreen bytewise(c.columns, c.rows);
    for (const std::string& chunk : c.chunks) {
      whole.feed(chunk);
      for (char byte : chunk) bytewise.feed(std::string_view(&byte, 1));
    }
    EXPECT_EQ(screen_text(whole), c.text);
    EXPECT_EQ(whole.cursor(), c.cursor);
    EXPECT_TRUE(testing::same_screen(whole, bytewise));
    EXPECT_EQ(testing::check_invariants(whole, c.columns, c.rows), "");
  }
}

TEST(TerminalScreen, NewScreenIsBlankAndZeroSizeIsRaised) {
  TerminalScreen screen(0, 0);
  EXPECT_EQ(screen.columns(), 1u);
  EXPECT_EQ(screen.row_count(), 1u);
  screen.feed("ab");
  EXPECT_EQ(screen_text(screen), std::vector<std::string>{"b"});
  EXPECT_EQ(screen.cursor(), Cursor(1, 0));

  TerminalScreen fresh(80, 24);
  const auto rows = fresh.rows();
  ASSERT_EQ(rows.size(), 24u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 80u);
    for (const TerminalCell& cell : row) EXPECT_EQ(cell, TerminalCell::blank());
  }
  EXPECT_EQ(fresh.cursor(), Cursor(0, 0));
  EXPECT_TRUE(fresh.pen_foreground().is_default());
  EXPECT_EQ(TerminalCell::blank(), (TerminalCell{TerminalColor::default_color(), U' ', false}));
}

TEST(TerminalScreen, TwentyFiveLineFeedsScrollTwice) {
  TerminalScreen screen(80, 24);
  for (int r = 0; r < 24; ++r) screen.feed("row" + std::to_string(r) + "\r" + std::string(r < 23, '\n'));
  EXPECT_EQ(screen.cursor(), Cursor(0, 23));
  screen.feed("\n\n");
  const auto text = screen_text(screen);
  EXPECT_EQ(text[0], "row2");
  EXPECT_EQ(text[21], "row23");
  EXPECT_EQ(text[22], "");
  EXPECT_EQ(text[23], "");
  EXPECT_EQ(screen.cursor(), Cursor(0, 23));
}

struct PenCase {
  const char* input;
  TerminalCell first_cell;
  TerminalColor pen_foreground;
  bool pen_bold;
};

TerminalCell cell(char32_t ch, TerminalColor foreground, bool bold) { return {foreground, ch, bold}; }

TEST(TerminalScreen, SelectGraphicRendition) {
  const TerminalColor def = TerminalColor::default_color();
  auto idx = TerminalColor::indexed;
  const std::vector<PenCase> cases = {
      {"\x1b[1;31mX", cell('X', idx(1), true), idx(1), true},
      {"\x1b[1;31mX\x1b[0m", cell('X', idx(1), true), def, false},
      {"\x1b[1;31m\x1b[mX", cell('X', def, false), def, false},
      {"\x1b[1;31m\x1b[;mX", cell('X', def, false), def, false},
      {"\x1b[31;mX", cell('X', def, false), def, false},
      {"\x1b[1;31m\x1b[22mX", cell('X', idx(1), false), idx(1), false},
      {"\x1b[1;35m\x1b[39mX", cell('X', def, true), def, true},
      {"\x1b[30mX", cell('X', idx(0), false), idx(0), false},
      {"\x1b[37mX", cell('X', idx(7), false), idx(7), false},
      {"\x1b[90mX", cell('X', idx(8), false), idx(8), false},
      {"\x1b[91mX", cell('X', idx(9), false), idx(9), false},
      {"\x1b[97mX", cell('X', idx(15), false), idx(15), false},
      {"\x1b[41;2;3;4;5;7;21;38;48;98;100;107mX", cell('X', def, false), def, false},
      // The numbers inside extended colour forms count as ordinary codes.
      {"\x1b[38;5;31mX", cell('X', idx(1), false), idx(1), false},
      {"\x1b[38;2;1;2;3mX", cell('X', def, true), def, true},
      {"\x1b[38:5:31mX", cell('X', def, false), def, false},
      {"\x1b[1:31mX", cell('X', def, true), def, true},
      {"\x1b[?1;32mX", cell('X', idx(2), true), idx(2), true},
      {"\x1b[99999999999;33mX", cell('X', idx(3), false), idx(3), false},
      {"\x1b[34m\xe4\xb8\xad", cell(U'\u4e2d', idx(4), false), idx(4), false},
  };
  for (const PenCase& c : cases) {
    SCOPED_TRACE(testing::printable(c.input));
    TerminalScreen screen(10, 2);
    screen.feed(c.input);
    EXPECT_EQ(screen.row(0)[0], c.first_cell);
    EXPECT_EQ(screen.pen_foreground(), c.pen_foreground);
    EXPECT_EQ(screen.pen_bold(), c.pen_bold);
  }
}

TEST(TerminalScreen, ErasingAndScrollingNeverApplyThePen) {
  const TerminalCell blank = TerminalCell::blank();
  const char* erasers[] = {"\x1b[H\x1b[K", "\x1b[H\x1b[2K", "\x1b[H\x1b[J", "\x1b[2J"};
  for (const char* eraser : erasers) {
    SCOPED_TRACE(testing::printable(eraser));
    TerminalScreen screen(4, 2);
    screen.feed("\x1b[1;32mabcd");
    screen.feed(eraser);
    EXPECT_EQ(screen.row(0)[0], blank);
    EXPECT_EQ(screen.row(0)[3], blank);
    EXPECT_EQ(screen.pen_foreground(), TerminalColor::indexed(2));
    EXPECT_TRUE(screen.pen_bold());
  }
  TerminalScreen screen(4, 2);
  screen.feed("\x1b[1;32mab\n\n\n");
  for (std::size_t r = 0; r < 2; ++r) {
    for (const TerminalCell& c : screen.row(r)) EXPECT_EQ(c, blank);
  }
}

TEST(TerminalScreen, DelIsPrintedAsACharacter) {
  TerminalScreen screen(5, 1);
  screen.feed("a\x7f");
  EXPECT_EQ(screen.row(0)[1].ch, U'\x7f');
  EXPECT_EQ(screen.cursor(), Cursor(2, 0));
}

TEST(TerminalScreen, RowsIsAnIndependentCopy) {
  TerminalScreen screen(3, 2);
  screen.feed("abc");
  const auto before = screen.rows();
  screen.feed("\x1b[2J" "xyz\r\n\n");
  EXPECT_EQ(before[0][0].ch, U'a');
  EXPECT_EQ(before[0][2].ch, U'c');
  EXPECT_EQ(screen.row(0)[0], TerminalCell::blank());
}

}  // namespace
}  // namespace remote::vt
