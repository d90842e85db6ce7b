#pragma once
// Properties a TerminalScreen keeps whatever it was fed. Shared by the unit tests and the
// fuzzer; each check returns the first violation found, or an empty string.

#include <cstddef>
#include <string>
#include <vector>

#include "vt/terminal_screen.h"

namespace remote::vt::testing {

inline bool is_valid_cell(const TerminalCell& cell) {
  if (!cell.foreground.is_default() && cell.foreground.index() > 15) return false;
  const char32_t ch = cell.ch;
  // Controls are executed, never stored; every stored value is a Unicode scalar value.
  if (ch < 0x20 || (ch >= 0x80 && ch < 0xA0)) return false;
  if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return false;
  return true;
}

// Shape, cursor bounds, cell contents, and the wrap rule: one printable character put at
// the cursor lands where the pending-wrap rule says.
inline std::string check_invariants(const TerminalScreen& screen, std::size_t columns,
                                    std::size_t row_count) {
  if (screen.columns() != columns || screen.row_count() != row_count) return "size changed";
  const auto rows = screen.rows();
  if (rows.size() != row_count) return "row count " + std::to_string(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != columns) return "row " + std::to_string(r) + " has wrong width";
    const auto view = screen.row(r);
    if (view.size() != columns) return "row view " + std::to_string(r) + " has wrong width";
    for (std::size_t c = 0; c < columns; ++c) {
      if (!is_valid_cell(rows[r][c])) {
        return "invalid cell at " + std::to_string(c) + "," + std::to_string(r);
      }
      if (!(view[c] == rows[r][c])) return "row view differs from rows()";
    }
  }
  const auto [column, row] = screen.cursor();
  if (column > columns) return "cursor column " + std::to_string(column) + " beyond width";
  if (row >= row_count) return "cursor row " + std::to_string(row) + " beyond height";
  if (!screen.pen_foreground().is_default() && screen.pen_foreground().index() > 15) {
    return "pen colour out of range";
  }

  if (screen.parser().state() == Parser::State::Ground && !screen.parser().utf8_pending()) {
    TerminalScreen probe = screen;
    probe.feed(std::string_view("#"));
    const bool wraps = column == columns;
    const std::size_t expected_row = wraps && row + 1 < row_count ? row + 1 : row;
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
  }
  return {};
}

inline bool same_screen(const TerminalScreen& a, const TerminalScreen& b) {
  return a.rows() == b.rows() && a.cursor() == b.cursor() &&
         a.pen_foreground() == b.pen_foreground() && a.pen_bold() == b.pen_bold() &&
         a.parser().state() == b.parser().state();
}

}  // namespace remote::vt::testing
