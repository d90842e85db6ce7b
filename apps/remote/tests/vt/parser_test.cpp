#include "vt/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vt_test_support.h"

namespace remote::vt {
namespace {

using namespace std::string_literals;

std::string format_params(const Parameters& params) {
  std::string out;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i > 0) out += ';';
    bool first = true;
    for (std::uint16_t value : params[i]) {
      if (!first) out += ':';
      out += std::to_string(value);
      first = false;
    }
  }
  return out;
}

std::string hex(std::uint8_t byte) {
  const char* digits = "0123456789abcdef";
  return {digits[byte >> 4], digits[byte & 0xF]};
}

// Records every callback as one line; consecutive prints and DCS puts are joined so that
// the same input gives the same record however it is split.
struct RecordingSink {
  std::vector<std::string> events;

  void append(const std::string& kind, const std::string& data) {
    if (!events.empty() && events.back().starts_with(kind)) {
      events.back() += data;
    } else {
      events.push_back(kind + data);
    }
  }
  void print(char32_t ch) { append("print ", testing::to_utf8(ch)); }
  void execute(std::uint8_t byte) { events.push_back("exec " + hex(byte)); }
  void csi_dispatch(const Parameters& params, std::string_view intermediates, bool overflow,
                    char final_byte) {
    events.push_back("csi " + std::string(intermediates) + "|" + format_params(params) + "|" +
                     final_byte + (overflow ? " overflow" : ""));
  }
  void esc_dispatch(std::string_view intermediates, bool overflow, char final_byte) {
    events.push_back("esc " + std::string(intermediates) + "|" + final_byte +
                     (overflow ? " overflow" : ""));
  }
  void osc_dispatch(std::span<const std::string_view> fields, OscTerminator terminator) {
    std::string line = "osc ";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) line += '|';
      line += fields[i];
    }
    line += terminator == OscTerminator::Bel ? " bel" : " st";
    events.push_back(line);
  }
  void dcs_hook(const Parameters& params, std::string_view intermediates, bool overflow,
                char final_byte) {
    events.push_back("hook " + std::string(intermediates) + "|" + format_params(params) + "|" +
                     final_byte + (overflow ? " overflow" : ""));
  }
  void dcs_put(std::uint8_t byte) { append("put ", std::string(1, static_cast<char>(byte))); }
  void dcs_unhook() { events.push_back("unhook"); }
};

std::vector<std::string> parse(std::string_view input) {
  Parser parser;
  RecordingSink sink;
  parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), sink);
  return sink.events;
}

std::vector<std::string> parse_bytewise(std::string_view input) {
  Parser parser;
  RecordingSink sink;
  for (const char& byte : input) {
    parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(&byte), 1), sink);
  }
  return sink.events;
}

std::string numbers(int from, int to) {
  std::string out;
  for (int i = from; i <= to; ++i) out += (i > from ? ";" : "") + std::to_string(i);
  return out;
}

struct ParserCase {
  std::string input;
  std::vector<std::string> events;
};

TEST(Parser, EventTable) {
  const std::vector<ParserCase> cases = {
      // Text and controls.
      {"ab\r\n", {"print ab", "exec 0d", "exec 0a"}},
      {"\x07\x7f"s, {"exec 07", "print \x7f"}},
      {"caf\xc3\xa9 \xe4\xb8\xad\xf0\x9f\x98\x80", {"print caf\xc3\xa9 \xe4\xb8\xad\xf0\x9f\x98\x80"}},
      // Parameters: empty ones read 0, ':' splits sub-parameters, values saturate.
      {"\x1b[1;31m", {"csi |1;31|m"}},
      {"\x1b[m", {"csi ||m"}},
      {"\x1b[;m", {"csi |0;0|m"}},
      {"\x1b[;5H", {"csi |0;5|H"}},
      {"\x1b[38:2::10:20:30m", {"csi |38:2:0:10:20:30|m"}},
      {"\x1b[65535;65536;2147483647;99999999999999999999H", {"csi |65535;65535;65535;65535|H"}},
      {"\x1b[" + numbers(1, 32) + "m", {"csi |" + numbers(1, 32) + "|m"}},
      {"\x1b[" + numbers(1, 40) + "m", {"csi |" + numbers(1, 32) + "|m overflow"}},
      {"\x1b[" + numbers(1, 32) + ";7:8m", {"csi |" + numbers(1, 32) + "|m overflow"}},
      {"\x1b[1:2:3:4:5:6:7:8:9;5m", {"csi |1:2:3:4:5:6:7:8;5|m overflow"}},
      // Intermediates and private markers share the two places.
      {"\x1b[?1049h", {"csi ?|1049|h"}},
      {"\x1b[>1 q", {"csi > |1|q"}},
      {"\x1b[!p", {"csi !||p"}},
      {"\x1b[ !\"p", {"csi  !||p overflow"}},
      {"\x1b[?>1hx", {"print x"}},
      {"\x1b[1<2mx", {"print x"}},
      {"\x1b[1 2mx", {"print x"}},
      {"\x1b(B\x1b#8\x1b" "7", {"esc (|B", "esc #|8", "esc |7"}},
      {"\x1b !\"#F", {"esc  !|F overflow"}},
      // Controls inside sequences run at once; DEL is ignored there.
      {"\x1b[1\n2m", {"exec 0a", "csi |12|m"}},
      {"\x1b\b7", {"exec 08", "esc |7"}},
      {"\x1b(\r0", {"exec 0d", "esc (|0"}},
      {"\x1b[1\x7f;2H", {"csi |1;2|H"}},
      {"\x1b[?\x7f\x1b\x7f" "7", {"esc |7"}},
      // CAN and SUB abandon, ESC restarts.
      {"\x1b[1\x18m", {"exec 18", "print m"}},
      {"\x1b(\x1a" "B", {"exec 1a", "print B"}},
      {"\x1b[1;2\x1b[3m", {"csi |3|m"}},
      {"\x1b\x1b[3m", {"csi |3|m"}},
      // 8-bit C1 bytes never start or end anything.
      {"\x9b" "1m\x9c\x90", {"exec 9b", "print 1m", "exec 9c", "exec 90"}},
      {"\xc2\x9b" "1m", {"exec 9b", "print 1m"}},
      {"\x1b[1\x9b" "2m", {"csi |12|m"}},
      // OSC strings.
      {"\x1b]0;title\x07", {"osc 0|title bel"}},
      {"\x1b]8;;http://x\x1b\\", {"osc 8||http://x st", "esc |\\"}},
      {"\x1b]2;caf\xc3\xa9\x9c\x07", {"osc 2|caf\xc3\xa9\x9c bel"}},
      {"\x1b]0;a\nb\x7f\x07", {"osc 0|ab\x7f bel"}},
      {"\x1b]0;abc\x18x", {"exec 18", "print x"}},
      {"\x1b]1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18\x07",
       {"osc 1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|16;17;18 bel"}},
      // DCS strings.
      {"\x1bP1;2|ab\nc\x1b\\", {"hook |1;2||", "put ab\nc", "unhook", "esc |\\"}},
      {"\x1bP$qm\x1b\\", {"hook $||q", "put m", "unhook", "esc |\\"}},
      {"\x1bP>1\n;2q\x7fx\x1b\\", {"hook >|1;2|q", "put x", "unhook", "esc |\\"}},
      {"\x1bPqab\x18z", {"hook ||q", "put ab", "unhook", "exec 18", "print z"}},
      {"\x1bP1<qignored\x07\x1b\\", {"esc |\\"}},
      {"\x1bP1 2qignored\x1b\\", {"esc |\\"}},
      // SOS, PM and APC swallow everything up to ESC, CAN or SUB.
      {"\x1b_abc\x07\ndef\x1b\\", {"esc |\\"}},
      {"\x1b^pm\x1a" "x", {"exec 1a", "print x"}},
      {"\x1bXsos\x1b[2m", {"csi |2|m"}},
      // UTF-8 errors.
      {"\xe4\xb8\x1b[m", {"print \xef\xbf\xbd", "csi ||m"}},
      {"\xe4\xb8" "A", {"print \xef\xbf\xbd" "A"}},
      {"\xff\xc0\xa5\x85", {"print \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", "exec 85"}},
      {"\xed\xa0\x80", {"print \xef\xbf\xbd\xef\xbf\xbd", "exec 80"}},
      {"\xf0\x8f\xbf\xbf",
       {"print \xef\xbf\xbd", "exec 8f", "print \xef\xbf\xbd\xef\xbf\xbd"}},
  };
  for (const ParserCase& c : cases) {
    SCOPED_TRACE(testing::printable(c.input));
    EXPECT_EQ(parse(c.input), c.events);
    EXPECT_EQ(parse_bytewise(c.input), c.events);
  }
}

TEST(Parser, OscBufferKeepsTheFirst1024Bytes) {
  const std::string body(5000, 'x');
  const auto events = parse("\x1b]0;" + body + "\x07" "after");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "osc 0|" + std::string(1022, 'x') + " bel");
  EXPECT_EQ(events[1], "print after");
}

TEST(Parser, StatesAfterPartialInput) {
  using S = Parser::State;
  const std::vector<std::pair<std::string, S>> cases = {
      {"", S::Ground},
      {"\x1b", S::Escape},
      {"\x1b(", S::EscapeIntermediate},
      {"\x1b[", S::CsiEntry},
      {"\x1b[?", S::CsiParam},
      {"\x1b[1;", S::CsiParam},
      {"\x1b[1 ", S::CsiIntermediate},
      {"\x1b[1<", S::CsiIgnore},
      {"\x1bP", S::DcsEntry},
      {"\x1bP1", S::DcsParam},
      {"\x1bP$", S::DcsIntermediate},
      {"\x1bPq", S::DcsPassthrough},
      {"\x1bP1<", S::DcsIgnore},
      {"\x1b]", S::OscString},
      {"\x1bX", S::SosPmApcString},
      {"\x1b^", S::SosPmApcString},
      {"\x1b_", S::SosPmApcString},
      {"\x1b[1m", S::Ground},
      {"\x1b]0;t\x07", S::Ground},
      {"\x1bPqx\x1b", S::Escape},
  };
  for (const auto& [input, state] : cases) {
    SCOPED_TRACE(testing::printable(input));
    Parser parser;
    IgnoringSink sink;
    parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), sink);
    EXPECT_EQ(parser.state(), state);
  }

  Parser parser;
  IgnoringSink sink;
  const std::uint8_t lead = 0xE4;
  parser.feed(std::span(&lead, 1), sink);
  EXPECT_EQ(parser.state(), S::Ground);
  EXPECT_TRUE(parser.utf8_pending());
}

}  // namespace
}  // namespace remote::vt
