#pragma once
// How the fuzzer reads one input: the last byte chooses the screen size and how the rest
// is cut into chunks; the rest is the terminal output. Shared with the unit tests, which
// replay the fuzzer's seed corpus the same way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "screen_invariants.h"
#include "vt/terminal_screen.h"

namespace remote::vt::testing {

// Feeds the input chunk by chunk, checking the invariants after each chunk, and compares
// the result with the same bytes fed at once. Returns the first violation, or "".
inline std::string run_fuzz_input(std::span<const std::uint8_t> data) {
  if (data.empty()) return {};
  const std::uint8_t control = data.back();
  const std::span<const std::uint8_t> stream = data.first(data.size() - 1);

  std::size_t columns = 80;
  std::size_t rows = 24;
  if (control & 0x80) {
    columns = 1 + (control & 0x07);
    rows = 1 + ((control >> 3) & 0x03);
  }
  static constexpr std::size_t kLargestChunk[] = {1, 2, 3, 5, 8, 16, 64, 4096};
  const std::size_t largest = kLargestChunk[(control >> 4) & 0x07];
  std::uint32_t random = 0x9E3779B9u ^ control;

  TerminalScreen chunked(columns, rows);
  std::size_t at = 0;
  for (std::size_t chunk = 0; at < stream.size(); ++chunk) {
    random = random * 1664525u + 1013904223u;
    const std::size_t length =
        std::min<std::size_t>(1 + (random >> 8) % largest, stream.size() - at);
    chunked.feed(stream.subspan(at, length));
    at += length;
    std::string violation = check_cursor(chunked, columns, rows);
    // Cells and the wrap rule (which needs a copy of the screen) after every one of the
    // first chunks, then now and then, so that inputs cut byte by byte stay quick to run.
    if (violation.empty() && (chunk < 64 || chunk % 64 == 0)) {
      violation = check_cells(chunked);
      if (violation.empty()) violation = check_wrap_rule(chunked);
    }
    if (!violation.empty()) return violation + " after byte " + std::to_string(at);
  }
  if (std::string violation = check_invariants(chunked, columns, rows); !violation.empty()) {
    return violation + " at the end";
  }
  // However the output was cut, the result is the same as feeding it at once.
  TerminalScreen whole(columns, rows);
  whole.feed(stream);
  if (!same_screen(chunked, whole)) return "chunked and whole feeding differ";
  return {};
}

}  // namespace remote::vt::testing
