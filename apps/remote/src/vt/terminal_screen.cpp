#include "vt/terminal_screen.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remote::vt {

namespace {

// A count parameter where 0 and a missing parameter both mean 1.
std::size_t count_or_one(const Parameters& params, std::size_t index) {
  std::uint16_t value = params.first(index);
  return value == 0 ? 1 : value;
}

}  // namespace

// What the parser's callbacks do to the screen. Only text, a few C0 controls and a few CSI
// sequences have an effect; everything else is consumed and dropped, and nothing is ever
// answered.
struct ScreenSink : IgnoringSink {
  TerminalScreen& screen;

  void print(char32_t ch) { screen.print(ch); }
  void print_ascii(std::string_view run) { screen.print_ascii(run); }
  void print_run(std::span<const char32_t> run) { screen.print_run(run); }

  void execute(std::uint8_t byte) {
    TerminalScreen& s = screen;
    switch (byte) {
      case 0x08:  // BS; from the pending-wrap position this reaches the last column
        if (s.cursor_column_ > 0) --s.cursor_column_;
        break;
      case 0x09:  // HT, fixed stops every 8 columns
        s.cursor_column_ = std::min((s.cursor_column_ / 8) * 8 + 8, s.columns_ - 1);
        break;
      case 0x0A:  // LF
      case 0x0B:  // VT
      case 0x0C:  // FF
        s.line_feed();
        break;
      case 0x0D:  // CR
        s.cursor_column_ = 0;
        break;
      default:
        break;
    }
  }

  void csi_dispatch(const Parameters& params, std::string_view, bool, char final_byte) {
    TerminalScreen& s = screen;
    switch (final_byte) {
      case 'A': {
        std::size_t n = count_or_one(params, 0);
        s.cursor_row_ = s.cursor_row_ > n ? s.cursor_row_ - n : 0;
        break;
      }
      case 'B':
        s.cursor_row_ = std::min(s.cursor_row_ + count_or_one(params, 0), s.row_count_ - 1);
        break;
      case 'C':
        s.cursor_column_ = std::min(s.cursor_column_ + count_or_one(params, 0), s.columns_ - 1);
        break;
      case 'D': {
        std::size_t n = count_or_one(params, 0);
        s.cursor_column_ = s.cursor_column_ > n ? s.cursor_column_ - n : 0;
        break;
      }
      case 'G':
        s.cursor_column_ = std::min(count_or_one(params, 0) - 1, s.columns_ - 1);
        break;
      case 'H':
      case 'f':
        s.cursor_row_ = std::min(count_or_one(params, 0) - 1, s.row_count_ - 1);
        s.cursor_column_ = std::min(count_or_one(params, 1) - 1, s.columns_ - 1);
        break;
      case 'J': {
        std::uint16_t mode = params.first(0);
        if (mode == 2 || mode == 3) {
          s.erase_screen();
        } else {
          s.erase_to_end_of_row();
        }
        break;
      }
      case 'K':
        if (params.first(0) == 2) {
          s.erase_row();
        } else {
          s.erase_to_end_of_row();
        }
        break;
      case 'm':
        select_graphic_rendition(params);
        break;
      default:
        break;
    }
  }

  // Each parameter counts on its own, by its first value, so the numbers inside an
  // extended colour form are read as ordinary codes.
  void select_graphic_rendition(const Parameters& params) {
    TerminalCell& pen = screen.pen_;
    if (params.empty()) {
      pen.foreground = TerminalColor::default_color();
      pen.bold = false;
      return;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      std::uint16_t code = params.first(i);
      if (code == 0) {
        pen.foreground = TerminalColor::default_color();
        pen.bold = false;
      } else if (code == 1) {
        pen.bold = true;
      } else if (code == 22) {
        pen.bold = false;
      } else if (code >= 30 && code <= 37) {
        pen.foreground = TerminalColor::indexed(static_cast<std::uint8_t>(code - 30));
      } else if (code == 39) {
        pen.foreground = TerminalColor::default_color();
      } else if (code >= 90 && code <= 97) {
        pen.foreground = TerminalColor::indexed(static_cast<std::uint8_t>(code - 82));
      }
    }
  }
};

TerminalScreen::TerminalScreen(std::size_t columns, std::size_t rows)
    : columns_(std::max<std::size_t>(columns, 1)),
      row_count_(std::max<std::size_t>(rows, 1)),
      cells_(columns_ * row_count_, TerminalCell::blank()),
      blank_row_(columns_, TerminalCell::blank()) {}

void TerminalScreen::feed(std::span<const std::uint8_t> bytes) {
  ScreenSink sink{{}, *this};
  parser_.feed(bytes, sink);
}

void TerminalScreen::feed(std::string_view bytes) {
  feed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                     bytes.size()));
}

std::vector<std::vector<TerminalCell>> TerminalScreen::rows() const {
  std::vector<std::vector<TerminalCell>> result;
  result.reserve(row_count_);
  for (std::size_t r = 0; r < row_count_; ++r) {
    std::span<const TerminalCell> cells = row(r);
    result.emplace_back(cells.begin(), cells.end());
  }
  return result;
}

std::span<const TerminalCell> TerminalScreen::row(std::size_t index) const {
  return {cells_.data() + physical_row(index) * columns_, columns_};
}

inline void TerminalScreen::print(char32_t ch) {
  if (cursor_column_ >= columns_) {
    cursor_column_ = 0;
    line_feed();
  }
  TerminalCell& cell = row_cells(cursor_row_)[cursor_column_++];
  cell.foreground = pen_.foreground;
  cell.ch = ch;
  cell.bold = pen_.bold;
}

namespace {

// Stores one cell per character, all with the same colour and weight. Printing runs of
// text is most of what a terminal does, so this avoids building each cell on its own.
template <class Char>
void store_cells(TerminalCell* out, const Char* text, std::size_t count, TerminalColor foreground,
                 bool bold) {
  std::size_t i = 0;
#if defined(__SSE2__)
  static_assert(sizeof(TerminalCell) == 12 && offsetof(TerminalCell, ch) == 4 &&
                offsetof(TerminalCell, bold) == 8 && sizeof(TerminalColor) == 1);
  // Four cells are three vectors of dwords: fg c0 b fg | c1 b fg c2 | b fg c3 b.
  std::uint8_t colour_byte;
  std::memcpy(&colour_byte, &foreground, 1);
  const int fg = colour_byte;
  const int b = bold ? 1 : 0;
  const __m128i fixed0 = _mm_setr_epi32(fg, 0, b, fg);
  const __m128i fixed1 = _mm_setr_epi32(0, b, fg, 0);
  const __m128i fixed2 = _mm_setr_epi32(b, fg, 0, b);
  const __m128i keep0 = _mm_setr_epi32(0, -1, 0, 0);
  const __m128i keep1 = _mm_setr_epi32(-1, 0, 0, -1);
  const __m128i keep2 = _mm_setr_epi32(0, 0, -1, 0);
  for (; i + 4 <= count; i += 4) {
    __m128i chars;
    if constexpr (sizeof(Char) == 1) {
      std::int32_t four;
      std::memcpy(&four, text + i, 4);
      const __m128i zero = _mm_setzero_si128();
      chars = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
    } else {
      chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    }
    const __m128i v0 = _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(chars, 0x00), keep0), fixed0);
    const __m128i v1 = _mm_or_si128(
        _mm_and_si128(_mm_shuffle_epi32(chars, _MM_SHUFFLE(2, 0, 0, 1)), keep1), fixed1);
    const __m128i v2 = _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(chars, 0xFF), keep2), fixed2);
    auto* target = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(target, v0);
    _mm_storeu_si128(target + 1, v1);
    _mm_storeu_si128(target + 2, v2);
  }
#endif
  for (; i < count; ++i) {
    out[i] = TerminalCell{foreground, static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(text[i])), bold};
  }
}

}  // namespace

template <class Char>
void TerminalScreen::print_text(const Char* text, std::size_t count) {
  while (count != 0) {
    if (cursor_column_ >= columns_) {
      cursor_column_ = 0;
      line_feed();
    }
    const std::size_t n = std::min(count, columns_ - cursor_column_);
    store_cells(row_cells(cursor_row_) + cursor_column_, text, n, pen_.foreground, pen_.bold);
    cursor_column_ += n;
    text += n;
    count -= n;
  }
}

void TerminalScreen::print_ascii(std::string_view run) { print_text(run.data(), run.size()); }

void TerminalScreen::print_run(std::span<const char32_t> run) {
  print_text(run.data(), run.size());
}

void TerminalScreen::blank(TerminalCell* first, std::size_t count) {
  std::memcpy(static_cast<void*>(first), blank_row_.data(), count * sizeof(TerminalCell));
}

void TerminalScreen::line_feed() {
  if (cursor_row_ + 1 < row_count_) {
    ++cursor_row_;
    return;
  }
  // The top row leaves the ring and comes back, blanked, as the bottom row.
  top_ = top_ + 1 == row_count_ ? 0 : top_ + 1;
  blank(row_cells(row_count_ - 1), columns_);
}

void TerminalScreen::erase_to_end_of_row() {
  if (cursor_column_ >= columns_) return;
  blank(row_cells(cursor_row_) + cursor_column_, columns_ - cursor_column_);
}

void TerminalScreen::erase_row() {
  blank(row_cells(cursor_row_), columns_);
}

void TerminalScreen::erase_screen() {
  for (std::size_t r = 0; r < row_count_; ++r) blank(row_cells(r), columns_);
}

}  // namespace remote::vt
