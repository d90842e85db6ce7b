#pragma once
// The terminal grid an SSH session shows: cells, pen, cursor, and the parser that
// turns the remote shell's output into changes of the grid. Used on one thread only.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "vt/parser.h"

namespace remote::vt {

// The foreground colour of a cell or of the pen: the palette's default, or one of the
// sixteen ANSI colours (0–7 normal, 8–15 bright).
class TerminalColor {
 public:
  constexpr TerminalColor() = default;

  static constexpr TerminalColor default_color() { return TerminalColor(); }
  // Callers pass 0..15; a view clamps larger values to 15 before indexing a palette.
  static constexpr TerminalColor indexed(std::uint8_t index) { return TerminalColor(index); }

  constexpr bool is_default() const { return value_ == kDefault; }
  // Meaningful only when !is_default().
  constexpr std::uint8_t index() const { return value_; }

  friend constexpr bool operator==(TerminalColor, TerminalColor) = default;

 private:
  static constexpr std::uint8_t kDefault = 0xFF;
  constexpr explicit TerminalColor(std::uint8_t value) : value_(value) {}
  std::uint8_t value_ = kDefault;
};

struct TerminalCell {
  TerminalColor foreground;
  char32_t ch = U' ';
  bool bold = false;

  // Default foreground, a space, not bold: what new, scrolled-in and erased cells hold.
  static constexpr TerminalCell blank() { return TerminalCell{}; }
  friend constexpr bool operator==(const TerminalCell&, const TerminalCell&) = default;
};

class TerminalScreen {
 public:
  // A size of 0 is raised to 1. All cells blank, cursor at (0, 0), pen default.
  TerminalScreen(std::size_t columns, std::size_t rows);

  // Interprets one chunk of output. Never fails; a sequence or UTF-8 character cut off at
  // the end of the chunk is completed by the next one.
  void feed(std::span<const std::uint8_t> bytes);
  void feed(std::string_view bytes);

  // A copy of the whole grid, top row first.
  std::vector<std::vector<TerminalCell>> rows() const;
  // One row, top row 0, without copying. Valid until the next feed.
  std::span<const TerminalCell> row(std::size_t index) const;
  // (column, row). The column may equal columns(): the pending-wrap position after a
  // character was printed into the last column.
  std::pair<std::size_t, std::size_t> cursor() const { return {cursor_column_, cursor_row_}; }
  std::size_t columns() const { return columns_; }
  std::size_t row_count() const { return row_count_; }

  TerminalColor pen_foreground() const { return pen_.foreground; }
  bool pen_bold() const { return pen_.bold; }
  // Where the parser stands between two feeds (for tests and diagnostics).
  const Parser& parser() const { return parser_; }

 private:
  friend struct ScreenSink;

  TerminalCell* row_cells(std::size_t row) {
    return cells_.data() + physical_row(row) * columns_;
  }
  std::size_t physical_row(std::size_t row) const {
    std::size_t physical = top_ + row;
    return physical >= row_count_ ? physical - row_count_ : physical;
  }

  void print(char32_t ch);
  void print_ascii(std::string_view run);
  void print_run(std::span<const char32_t> run);
  template <class Char>
  void print_text(const Char* text, std::size_t count);
  void line_feed();
  void blank(TerminalCell* first, std::size_t count);
  void erase_to_end_of_row();
  void erase_row();
  void erase_screen();

  std::size_t columns_;
  std::size_t row_count_;
  // All rows in one block; rows_ are a ring starting at physical row top_, so a scroll
  // blanks one row instead of moving the grid.
  std::vector<TerminalCell> cells_;
  // One row of blank cells, copied over cells to erase them.
  std::vector<TerminalCell> blank_row_;
  std::size_t top_ = 0;
  std::size_t cursor_column_ = 0;
  std::size_t cursor_row_ = 0;
  // The pen's character is unused; a printed cell is the pen with its ch replaced.
  TerminalCell pen_;
  Parser parser_;
};

}  // namespace remote::vt
