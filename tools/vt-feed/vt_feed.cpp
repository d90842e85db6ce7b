// vt-feed [--dump] FILE [CHUNK]
//
// Reads FILE whole and feeds it to an 80 x 24 terminal screen in CHUNK-byte pieces
// (default 4096), as SSH output would arrive. Prints `bytes=N seconds=S mbps=X`
// (MB = 10^6 bytes), or with --dump the final screen: characters, foreground colours and
// bold flags, 24 lines each, separated by `--`, then `cursor=COL,ROW`.

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "kivo/base/text.h"
#include "vt/terminal_screen.h"

namespace {

constexpr std::size_t kColumns = 80;
constexpr std::size_t kRows = 24;

std::string dump(const remote::vt::TerminalScreen& screen) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    for (const remote::vt::TerminalCell& cell : screen.row(r)) kivo::text::append_utf8(cell.ch, out);
    out += '\n';
  }
  out += "--\n";
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    for (const remote::vt::TerminalCell& cell : screen.row(r)) {
      out += cell.foreground.is_default() ? '.' : kDigits[cell.foreground.index() & 0x0F];
    }
    out += '\n';
  }
  out += "--\n";
  for (std::size_t r = 0; r < screen.row_count(); ++r) {
    for (const remote::vt::TerminalCell& cell : screen.row(r)) out += cell.bold ? '1' : '0';
    out += '\n';
  }
  const auto [column, row] = screen.cursor();
  out += "cursor=" + std::to_string(column) + "," + std::to_string(row) + "\n";
  return out;
}

int usage() {
  std::fputs("usage: vt-feed [--dump] FILE [CHUNK]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool dump_screen = false;
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--dump") {
      dump_screen = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty() || positional.size() > 2) return usage();

  std::size_t chunk = 4096;
  if (positional.size() == 2) {
    const std::string_view text = positional[1];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), chunk);
    if (error != std::errc() || end != text.data() + text.size() || chunk == 0) {
      std::fprintf(stderr,
                   "vt-feed: bad chunk size '%.*s': expected a whole number of bytes, at least 1\n",
                   static_cast<int>(text.size()), text.data());
      return 2;
    }
  }

  const std::string path(positional[0]);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "vt-feed: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    std::fprintf(stderr, "vt-feed: cannot read %s\n", path.c_str());
    return 1;
  }

  remote::vt::TerminalScreen screen(kColumns, kRows);
  const std::string_view bytes = input;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < bytes.size(); at += chunk) screen.feed(bytes.substr(at, chunk));
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  if (dump_screen) {
    const std::string text = dump(screen);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  const double seconds = elapsed.count();
  const double mbps = seconds > 0 ? static_cast<double>(bytes.size()) / 1e6 / seconds : 0.0;
  std::printf("bytes=%zu seconds=%.6f mbps=%.1f\n", bytes.size(), seconds, mbps);
  return 0;
}
