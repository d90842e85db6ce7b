#pragma once
// Properties a TerminalScreen keeps whatever it was fed. Shared by the unit tests and the
// fuzzer; each check returns the first violation found, or an empty string.

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "vt/terminal_screen.h"

// The checks are not what a fuzzer should explore: keep coverage instrumentation out of them.
#if defined(__clang__)
#define VT_TEST_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define VT_TEST_NO_COVERAGE
#endif

namespace remote::vt::testing {

VT_TEST_NO_COVERAGE inline bool is_valid_cell(const TerminalCell& cell) {
  if (!cell.foreground.is_default() && cell.foreground.index() > 15) return false;
  const char32_t ch = cell.ch;
  // Controls are executed, never stored; every stored value is a Unicode scalar value.
  if (ch < 0x20 || (ch >= 0x80 && ch < 0xA0)) return false;
  if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return false;
  return true;
}

// Size, cursor bounds and the pen: cheap enough to check after every chunk.
VT_TEST_NO_COVERAGE inline std::string check_cursor(const TerminalScreen& screen, std::size_t columns,
                                std::size_t row_count) {
  if (screen.columns() != columns || screen.row_count() != row_count) return "size changed";
  const auto [column, row] = screen.cursor();
  // The column may stand one past the last cell (pending wrap), never further.
  if (column > columns) return "cursor column " + std::to_string(column) + " beyond width";
  if (row >= row_count) return "cursor row " + std::to_string(row) + " beyond height";
  if (!screen.pen_foreground().is_default() && screen.pen_foreground().index() > 15) {
    return "pen colour out of range";
  }
  return {};
}

// Every row's width and every cell's contents, read through the row views.
VT_TEST_NO_COVERAGE inline std::string check_cells(const TerminalScreen& screen) {
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    const auto view = screen.row(r);
    if (view.size() != screen.columns()) return "row " + std::to_string(r) + " has wrong width";
    for (std::size_t c = 0; c < view.size(); ++c) {
      if (!is_valid_cell(view[c])) {
        return "invalid cell at " + std::to_string(c) + "," + std::to_string(r);
      }
    }
  }
  return {};
}

// The wrap rule: one character printed at the cursor lands at the cursor, or at the start
// of the next row (scrolling on the last row) from the pending-wrap column. Checked on a
// copy, and only between sequences, where a printable byte is text.
VT_TEST_NO_COVERAGE inline std::string check_wrap_rule(const TerminalScreen& screen) {
  if (screen.parser().state() != Parser::State::Ground || screen.parser().utf8_pending()) {
    return {};
  }
  const auto [column, row] = screen.cursor();
  TerminalScreen probe = screen;
  probe.feed(std::string_view("#"));
  const bool wraps = column == screen.columns();
  const std::size_t expected_row = wraps && row + 1 < screen.row_count() ? row + 1 : row;
  const std::size_t expected_column = wraps ? 0 : column;
  const auto [probe_column, probe_row] = probe.cursor();
  if (probe_row != expected_row || probe_column != expected_column + 1) {
    return "printing at " + std::to_string(column) + "," + std::to_string(row) +
           " moved the cursor to " + std::to_string(probe_column) + "," +
           std::to_string(probe_row);
  }
  const TerminalCell expected{screen.pen_foreground(), U'#', screen.pen_bold()};
  if (!(probe.row(expected_row)[expected_column] == expected)) {
    return "printed cell not stored at the cursor";
  }
  return {};
}

// Everything above, and rows() agreeing with the row views.
VT_TEST_NO_COVERAGE inline std::string check_invariants(const TerminalScreen& screen, std::size_t columns,
                                    std::size_t row_count) {
  std::string violation = check_cursor(screen, columns, row_count);
  if (violation.empty()) violation = check_cells(screen);
  if (!violation.empty()) return violation;
  const auto rows = screen.rows();
  if (rows.size() != row_count) return "row count " + std::to_string(rows.size());
  for (std::size_t r = 0; r < row_count; ++r) {
    const auto view = screen.row(r);
    if (!std::equal(rows[r].begin(), rows[r].end(), view.begin(), view.end())) {
      return "rows() differs from row " + std::to_string(r);
    }
  }
  return check_wrap_rule(screen);
}

VT_TEST_NO_COVERAGE inline bool same_screen(const TerminalScreen& a, const TerminalScreen& b) {
  return a.rows() == b.rows() && a.cursor() == b.cursor() &&
         a.pen_foreground() == b.pen_foreground() && a.pen_bold() == b.pen_bold() &&
         a.parser().state() == b.parser().state();
}

}  // namespace remote::vt::testing
