// Throughput of the terminal emulator on the UI thread: whole corpora fed in 4 KiB chunks,
// as SSH output arrives, and the copy a paint takes of a full screen.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "vt/terminal_screen.h"

namespace {

constexpr std::size_t kCorpusSize = 4 << 20;
constexpr std::size_t kChunk = 4096;

// A small deterministic generator so every run measures the same bytes.
class Random {
 public:
  std::uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint32_t state_ = 0x12345678u;
};

constexpr std::string_view kWords[] = {
    "the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "build", "error",
    "warning:", "src/main.cpp:42:7", "return", "0x7ffd3a2c", "-rw-r--r--", "1 root", "4096",
    "Dec", "11", "06:10", "connection", "established", "[OK]", "make[2]:", "Leaving",
};

// Compiler logs, `ls -l`, `dmesg`: printable ASCII lines ended by CR LF.
std::string plain_corpus() {
  Random random;
  std::string out;
  while (out.size() < kCorpusSize) {
    std::size_t length = 20 + random.below(80);
    std::string line;
    while (line.size() < length) {
      if (!line.empty()) line += ' ';
      line += kWords[random.below(std::size(kWords))];
    }
    out += line.substr(0, 79);
    out += "\r\n";
  }
  return out;
}

// `ls --color` listings and full-screen monitors: SGR with 16 and 256 colours, cursor
// positioning, erase in line and display.
std::string colour_corpus() {
  Random random;
  std::string out;
  static constexpr std::string_view kLsColours[] = {"01;34", "01;32", "01;36", "00", "01;31",
                                                    "40;33;01", "01;35", "30;42"};
  while (out.size() < kCorpusSize) {
    // A directory listing.
    for (int line = 0; line < 20; ++line) {
      for (int entry = 0; entry < 4; ++entry) {
        out += "\x1b[0m\x1b[";
        out += kLsColours[random.below(std::size(kLsColours))];
        out += 'm';
        out += kWords[random.below(std::size(kWords))];
        out += "\x1b[0m  ";
      }
      out += "\r\n";
    }
    // One frame of a process monitor.
    out += "\x1b[H\x1b[2J";
    for (int row = 1; row <= 24; ++row) {
      out += "\x1b[" + std::to_string(row) + ";1H\x1b[K";
      out += "\x1b[1;37m" + std::to_string(1000 + random.below(30000)) + "\x1b[0m ";
      out += "\x1b[38;5;" + std::to_string(random.below(256)) + "m";
      out += kWords[random.below(std::size(kWords))];
      out += "\x1b[39m \x1b[32m" + std::to_string(random.below(100)) + "." +
             std::to_string(random.below(10)) + "%\x1b[m";
      out += "\x1b[" + std::to_string(40 + random.below(30)) + "G\x1b[9";
      out += static_cast<char>('0' + random.below(8));
      out += "m||||||||||\x1b[0m\x1b[K";
    }
    out += "\x1b[24;1H\x1b[J";
  }
  return out;
}

// Mixed scripts: CJK, accented Latin, Cyrillic, Greek and emoji.
std::string utf8_corpus() {
  static constexpr std::string_view kPieces[] = {
      "日本語の文章", "中文字符测试", "한국어 텍스트", "café", "naïve", "Ærøskøbing", "Привет мир",
      "Καλημέρα", "😀", "🎉🚀", "✓ done", "→", "ünïcödé", "Straße", "東京都",
  };
  Random random;
  std::string out;
  while (out.size() < kCorpusSize) {
    std::size_t cells = 0;
    std::size_t length = 10 + random.below(60);
    while (cells < length) {
      std::string_view piece = kPieces[random.below(std::size(kPieces))];
      out += piece;
      out += ' ';
      cells += piece.size() / 2 + 1;
    }
    out += "\r\n";
  }
  return out;
}

void feed_corpus(benchmark::State& state, const std::string& corpus) {
  remote::vt::TerminalScreen screen(80, 24);
  const std::string_view bytes = corpus;
  for (auto _ : state) {
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
      screen.feed(bytes.substr(at, kChunk));
    }
    benchmark::DoNotOptimize(screen.cursor());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_FeedPlainAscii(benchmark::State& state) {
  static const std::string corpus = plain_corpus();
  feed_corpus(state, corpus);
}
BENCHMARK(BM_FeedPlainAscii);

void BM_FeedColourAndCursor(benchmark::State& state) {
  static const std::string corpus = colour_corpus();
  feed_corpus(state, corpus);
}
BENCHMARK(BM_FeedColourAndCursor);

void BM_FeedUtf8(benchmark::State& state) {
  static const std::string corpus = utf8_corpus();
  feed_corpus(state, corpus);
}
BENCHMARK(BM_FeedUtf8);

// Reading a full screen the way a paint does: every row's cells in place.
void BM_ReadFullScreen(benchmark::State& state) {
  remote::vt::TerminalScreen screen(80, 24);
  screen.feed(utf8_corpus().substr(0, 64 * 1024));
  for (auto _ : state) {
    char32_t sum = 0;
    for (std::size_t r = 0; r < screen.row_count(); ++r) {
      for (const remote::vt::TerminalCell& cell : screen.row(r)) sum += cell.ch;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 80 * 24 *
                                                    sizeof(remote::vt::TerminalCell)));
}
BENCHMARK(BM_ReadFullScreen);

}  // namespace

BENCHMARK_MAIN();
