// Replays the fuzzer's seed corpus and checks that hostile input stays bounded.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "screen_invariants.h"
#include "vt/parser.h"
#include "vt/terminal_screen.h"

namespace remote::vt {
namespace {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Corpus, EverySeedKeepsTheInvariants) {
  const char* source = std::getenv("REMOTE_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "REMOTE_SOURCE_DIR is not set";
  const std::filesystem::path corpus = std::filesystem::path(source) / "fuzz/vt/corpus";
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string input = read_file(entry.path());
    EXPECT_EQ(testing::run_fuzz_input(std::span(
                  reinterpret_cast<const std::uint8_t*>(input.data()), input.size())),
              "");
    TerminalScreen whole(80, 24);
    whole.feed(input);
    EXPECT_EQ(testing::check_invariants(whole, 80, 24), "");
    // Chunk sizes that cut sequences and characters everywhere.
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u}) {
      TerminalScreen split(80, 24);
      for (std::size_t at = 0; at < input.size(); at += chunk) {
        split.feed(std::string_view(input).substr(at, chunk));
        ASSERT_EQ(testing::check_cursor(split, 80, 24), "") << "chunk " << chunk << " at " << at;
      }
      EXPECT_EQ(testing::check_invariants(split, 80, 24), "") << "chunk " << chunk;
      EXPECT_TRUE(testing::same_screen(whole, split)) << "chunk " << chunk;
    }
  }
  EXPECT_GE(files, 10u);
}

struct CountingSink : IgnoringSink {
  std::size_t prints = 0;
  std::size_t osc = 0;
  std::size_t osc_bytes = 0;
  void print(char32_t) { ++prints; }
  void osc_dispatch(std::span<const std::string_view> fields, OscTerminator) {
    ++osc;
    for (std::string_view field : fields) osc_bytes += field.size() + 1;
  }
};

TEST(HostileInput, UnterminatedOscIsDroppedPastTheBuffer) {
  const std::string block(1 << 16, 'A');
  Parser parser;
  CountingSink sink;
  const std::string start = "\x1b]0;";
  parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(start.data()), start.size()), sink);
  // 16 MiB of string body: nothing is printed and the parser stays in the string.
  for (int i = 0; i < 256; ++i) {
    parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()), sink);
  }
  EXPECT_EQ(parser.state(), Parser::State::OscString);
  const std::string end = "\x07x";
  parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(end.data()), end.size()), sink);
  EXPECT_EQ(sink.osc, 1u);
  EXPECT_EQ(sink.osc_bytes, kOscBufferSize + 1);
  EXPECT_EQ(sink.prints, 1u);
  // The parser's whole state is fixed in size.
  static_assert(sizeof(Parser) < 4096);
}

TEST(HostileInput, HugeNumbersAndLongSequencesStayBounded) {
  TerminalScreen screen(80, 24);
  screen.feed("\x1b[2147483647;2147483647H");
  EXPECT_EQ(screen.cursor(), (std::pair<std::size_t, std::size_t>(79, 23)));
  screen.feed("\x1b[2147483647A\x1b[2147483647D");
  EXPECT_EQ(screen.cursor(), (std::pair<std::size_t, std::size_t>(0, 0)));
  // A parameter of a million digits, then a million parameters.
  screen.feed("\x1b[" + std::string(1'000'000, '9') + "B");
  EXPECT_EQ(screen.cursor(), (std::pair<std::size_t, std::size_t>(0, 23)));
  std::string many = "\x1b[";
  for (int i = 0; i < 500'000; ++i) many += "1;";
  screen.feed(many + "31mX");
  EXPECT_EQ(screen.row(23)[0], (TerminalCell{TerminalColor::default_color(), U'X', true}));
  EXPECT_EQ(testing::check_invariants(screen, 80, 24), "");
}

TEST(HostileInput, MillionCombiningMarksEachTakeACell) {
  TerminalScreen screen(80, 24);
  std::string marks = "e";
  for (int i = 0; i < 1'000'000; ++i) marks += "\xcc\x81";  // U+0301
  screen.feed(marks);
  // 1,000,001 characters at one cell each: 12,500 full rows and one more character.
  EXPECT_EQ(screen.cursor(), (std::pair<std::size_t, std::size_t>(1, 23)));
  EXPECT_EQ(screen.row(23)[0].ch, U'\u0301');
  EXPECT_EQ(screen.row(0)[79].ch, U'\u0301');
  EXPECT_EQ(testing::check_invariants(screen, 80, 24), "");
}

}  // namespace
}  // namespace remote::vt
