#pragma once
// Splits a byte stream into text, control characters and escape sequences after the DEC
// VT500-series parser state machine, decoding text as UTF-8. The parser only keeps state;
// what the pieces mean is up to the sink it reports to (see ParserSink below), so a
// sequence or a UTF-8 character cut off between two feeds resumes where it stopped.
//
// Everything is bounded: 32 parameters of at most 8 values each (a first value and its
// ':' sub-parameters), values saturating at 65535, 2 intermediates (private markers
// included), 1024 bytes of OSC string. Whatever does not fit is dropped and flagged, never
// stored. No allocation happens while parsing.

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remote::vt {

inline constexpr std::size_t kMaxParameters = 32;
// Values one parameter keeps: its first value and up to seven ':' sub-parameters.
inline constexpr std::size_t kMaxParameterValues = 8;
inline constexpr std::size_t kMaxIntermediates = 2;
inline constexpr std::size_t kOscBufferSize = 1024;
// An OSC string is split at ';' into at most this many fields; the last one keeps the rest.
inline constexpr std::size_t kMaxOscFields = 16;
inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// The numeric parameters of one CSI or DCS sequence.
class Parameters {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Parameter i's values: its first value, then its sub-parameters. An empty parameter
  // holds the single value 0.
  std::span<const std::uint16_t> operator[](std::size_t i) const {
    return {values_.data() + i * kMaxParameterValues, lengths_[i]};
  }
  // The first value of parameter i, or 0 when there is no parameter i.
  std::uint16_t first(std::size_t i) const {
    return i < count_ ? values_[i * kMaxParameterValues] : 0;
  }

 private:
  friend class Parser;
  // The extra last value absorbs digits of parameters that did not fit.
  static constexpr std::uint16_t kDiscard = kMaxParameters * kMaxParameterValues;

  std::array<std::uint16_t, kMaxParameters * kMaxParameterValues + 1> values_{};
  std::array<std::uint8_t, kMaxParameters> lengths_{};
  std::uint8_t count_ = 0;
};

enum class OscTerminator { Bel, St };

// What a parser reports to. Two batch forms of print are optional: print_ascii(string_view)
// may receive runs of bytes 0x20–0x7F and print_run(span<const char32_t>) runs of
// characters, each element one character to print, instead of one print call each.
template <class S>
concept ParserSink = requires(S& sink, char32_t ch, std::uint8_t byte, const Parameters& params,
                              std::string_view intermediates, bool overflow, char final_byte,
                              std::span<const std::string_view> fields, OscTerminator terminator) {
  sink.print(ch);
  sink.execute(byte);
  sink.csi_dispatch(params, intermediates, overflow, final_byte);
  sink.esc_dispatch(intermediates, overflow, final_byte);
  sink.osc_dispatch(fields, terminator);
  sink.dcs_hook(params, intermediates, overflow, final_byte);
  sink.dcs_put(byte);
  sink.dcs_unhook();
};

// A base for sinks that care about a few callbacks only.
struct IgnoringSink {
  void print(char32_t) {}
  void execute(std::uint8_t) {}
  void csi_dispatch(const Parameters&, std::string_view, bool, char) {}
  void esc_dispatch(std::string_view, bool, char) {}
  void osc_dispatch(std::span<const std::string_view>, OscTerminator) {}
  void dcs_hook(const Parameters&, std::string_view, bool, char) {}
  void dcs_put(std::uint8_t) {}
  void dcs_unhook() {}
};

class Parser {
 public:
  enum class State : std::uint8_t {
    Ground,
    Escape,
    EscapeIntermediate,
    CsiEntry,
    CsiParam,
    CsiIntermediate,
    CsiIgnore,
    DcsEntry,
    DcsParam,
    DcsIntermediate,
    DcsPassthrough,
    DcsIgnore,
    OscString,
    SosPmApcString,
  };

  State state() const { return state_; }
  // True while the end of the last chunk left a UTF-8 character unfinished.
  bool utf8_pending() const { return utf8_remaining_ != 0; }

  template <ParserSink Sink>
  void feed(std::span<const std::uint8_t> bytes, Sink& sink);

 private:
  template <class Sink>
  const std::uint8_t* ground(const std::uint8_t* p, const std::uint8_t* end, Sink& sink);
  template <class Sink>
  const std::uint8_t* utf8_continue(const std::uint8_t* p, const std::uint8_t* end, Sink& sink);
  template <class Sink>
  const std::uint8_t* csi(const std::uint8_t* p, const std::uint8_t* end, Sink& sink);
  template <class Sink>
  const std::uint8_t* string(const std::uint8_t* p, const std::uint8_t* end, Sink& sink);
  template <class Sink>
  void advance(std::uint8_t byte, Sink& sink);
  template <class Sink>
  void leave_string(Sink& sink, bool abandoned);
  template <class Sink>
  void emit(char32_t ch, Sink& sink);
  template <class Sink>
  void osc_dispatch(OscTerminator terminator, Sink& sink);

  void clear() {
    params_.count_ = 0;
    current_ = Parameters::kDiscard;
    intermediate_count_ = 0;
    overflow_ = false;
  }
  void collect(std::uint8_t byte) {
    if (intermediate_count_ < kMaxIntermediates) {
      intermediates_[intermediate_count_++] = static_cast<char>(byte);
    } else {
      overflow_ = true;
    }
  }
  std::string_view intermediates() const { return {intermediates_.data(), intermediate_count_}; }
  void start_parameter() {
    if (params_.count_ < kMaxParameters) {
      current_ = static_cast<std::uint16_t>(params_.count_ * kMaxParameterValues);
      params_.values_[current_] = 0;
      params_.lengths_[params_.count_++] = 1;
    } else {
      current_ = Parameters::kDiscard;
      overflow_ = true;
    }
  }
  void digit(std::uint8_t byte) {
    if (params_.count_ == 0) start_parameter();
    std::uint32_t value = params_.values_[current_] * 10u + (byte - '0');
    params_.values_[current_] = static_cast<std::uint16_t>(value > 0xFFFF ? 0xFFFF : value);
  }
  void separator() {
    if (params_.count_ == 0) start_parameter();
    start_parameter();
  }
  void sub_separator() {
    if (params_.count_ == 0) start_parameter();
    if (current_ == Parameters::kDiscard) return;
    std::size_t index = params_.count_ - 1u;
    if (params_.lengths_[index] < kMaxParameterValues) {
      current_ = static_cast<std::uint16_t>(index * kMaxParameterValues + params_.lengths_[index]);
      params_.values_[current_] = 0;
      ++params_.lengths_[index];
    } else {
      current_ = Parameters::kDiscard;
      overflow_ = true;
    }
  }
  void param_byte(std::uint8_t byte) {
    if (byte <= '9') {
      digit(byte);
    } else if (byte == ';') {
      separator();
    } else {
      sub_separator();
    }
  }

  State state_ = State::Ground;
  bool overflow_ = false;
  std::uint8_t intermediate_count_ = 0;
  std::array<char, kMaxIntermediates> intermediates_{};
  std::uint16_t current_ = Parameters::kDiscard;
  Parameters params_;

  // Decoder state of a UTF-8 character cut off by the end of a chunk: the bits so far,
  // the continuation bytes still missing, and the range the next one must fall in.
  char32_t utf8_value_ = 0;
  std::uint8_t utf8_remaining_ = 0;
  std::uint8_t utf8_low_ = 0x80;
  std::uint8_t utf8_high_ = 0xBF;

  std::size_t osc_length_ = 0;
  std::array<char, kOscBufferSize> osc_{};
};

namespace detail {

// The end of the run of bytes 0x20–0x7F that starts at p.
inline const std::uint8_t* scan_ascii(const std::uint8_t* p, const std::uint8_t* end) {
#if defined(__SSE2__)
  // As signed bytes, 0x20–0x7F are exactly the values greater than 0x1F.
  const __m128i limit = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(chunk, limit)));
    if (mask != 0xFFFF) return p + __builtin_ctz(~mask);
    p += 16;
  }
#endif
  while (p < end && *p >= 0x20 && *p <= 0x7F) ++p;
  return p;
}

// The first byte at or after p that ends a string state: BEL, CAN, SUB or ESC.
inline const std::uint8_t* scan_string_end(const std::uint8_t* p, const std::uint8_t* end) {
#if defined(__SSE2__)
  const __m128i esc = _mm_set1_epi8(0x1B);
  const __m128i bel = _mm_set1_epi8(0x07);
  const __m128i can = _mm_set1_epi8(0x18);
  const __m128i sub = _mm_set1_epi8(0x1A);
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(chunk, esc), _mm_cmpeq_epi8(chunk, bel)),
        _mm_or_si128(_mm_cmpeq_epi8(chunk, can), _mm_cmpeq_epi8(chunk, sub)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end) {
    std::uint8_t byte = *p;
    if (byte == 0x1B || byte == 0x07 || byte == 0x18 || byte == 0x1A) return p;
    ++p;
  }
  return p;
}

}  // namespace detail

template <ParserSink Sink>
void Parser::feed(std::span<const std::uint8_t> bytes, Sink& sink) {
  const std::uint8_t* p = bytes.data();
  const std::uint8_t* end = p + bytes.size();
  while (p < end) {
    switch (state_) {
      case State::Ground:
        p = ground(p, end, sink);
        break;
      case State::CsiEntry:
      case State::CsiParam:
        p = csi(p, end, sink);
        break;
      case State::OscString:
      case State::SosPmApcString:
      case State::DcsIgnore:
        p = string(p, end, sink);
        break;
      default:
        advance(*p++, sink);
        break;
    }
  }
}

template <class Sink>
void Parser::emit(char32_t ch, Sink& sink) {
  // C1 controls arriving as UTF-8 are controls, not text.
  if (ch >= 0x80 && ch < 0xA0) {
    sink.execute(static_cast<std::uint8_t>(ch));
  } else {
    sink.print(ch);
  }
}

namespace detail {

// Collects printable characters so a sink that takes them in batches gets whole runs;
// any other callback must flush first to keep the order of events.
template <class Sink>
class TextBatch {
 public:
  explicit TextBatch(Sink& sink) : sink_(sink) {}
  ~TextBatch() { flush(); }
  TextBatch(const TextBatch&) = delete;
  TextBatch& operator=(const TextBatch&) = delete;

  static constexpr bool kBatched =
      requires(Sink& s, std::span<const char32_t> run) { s.print_run(run); };

  void add(char32_t ch) {
    if constexpr (kBatched) {
      if (count_ == buffer_.size()) flush();
      buffer_[count_++] = ch;
    } else {
      sink_.print(ch);
    }
  }
  void flush() {
    if constexpr (kBatched) {
      if (count_ != 0) sink_.print_run(std::span<const char32_t>(buffer_.data(), count_));
      count_ = 0;
    }
  }

 private:
  Sink& sink_;
  std::size_t count_ = 0;
  std::array<char32_t, kBatched ? 128 : 1> buffer_;
};

}  // namespace detail

// Runs in the ground state until an ESC has been taken or the chunk ends.
template <class Sink>
const std::uint8_t* Parser::ground(const std::uint8_t* p, const std::uint8_t* end, Sink& sink) {
  if (utf8_remaining_ != 0) p = utf8_continue(p, end, sink);
  detail::TextBatch<Sink> text(sink);
  while (p < end) {
    std::uint8_t byte = *p;
    if (byte >= 0x20 && byte <= 0x7F) {
      const std::uint8_t* run_end = detail::scan_ascii(p + 1, end);
      constexpr std::ptrdiff_t kShortRun = 8;
      if constexpr (requires { sink.print_ascii(std::string_view()); }) {
        if (run_end - p >= kShortRun) {
          text.flush();
          sink.print_ascii(std::string_view(reinterpret_cast<const char*>(p),
                                            static_cast<std::size_t>(run_end - p)));
          p = run_end;
          continue;
        }
      }
      for (; p < run_end; ++p) text.add(*p);
      continue;
    }
    ++p;
    if (byte < 0x20) {
      text.flush();
      if (byte == 0x1B) {
        clear();
        // Most escape sequences are CSI: take them here without leaving the text loop.
        if (p < end && *p == '[') {
          state_ = State::CsiEntry;
          p = csi(p + 1, end, sink);
          if (state_ == State::Ground) continue;
          return p;
        }
        state_ = State::Escape;
        return p;
      }
      sink.execute(byte);
      continue;
    }
    // Well-formed characters complete in this chunk, decoded without the bookkeeping of
    // the general path below.
    // Scripts come in runs of characters of one length, taken by the inner loops.
    if (byte >= 0xC2 && byte < 0xE0 && p < end && (p[0] & 0xC0) == 0x80) {
      const char32_t value = ((byte & 0x1Fu) << 6) | (p[0] & 0x3Fu);
      if (value >= 0xA0) {
        text.add(value);
        ++p;
        while (end - p >= 2 && (p[0] & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
          const char32_t next = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
          if (next < 0xA0) break;
          text.add(next);
          p += 2;
        }
        continue;
      }
    } else if (byte >= 0xE0 && byte < 0xF0 && end - p >= 2 && (p[0] & 0xC0) == 0x80 &&
               (p[1] & 0xC0) == 0x80) {
      const char32_t value = ((byte & 0x0Fu) << 12) | ((p[0] & 0x3Fu) << 6) | (p[1] & 0x3Fu);
      if (value >= 0x800 && (value < 0xD800 || value > 0xDFFF)) {
        text.add(value);
        p += 2;
        while (end - p >= 3 && (p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 &&
               (p[2] & 0xC0) == 0x80) {
          const char32_t next = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
          if (next < 0x800 || (next >= 0xD800 && next <= 0xDFFF)) break;
          text.add(next);
          p += 3;
        }
        continue;
      }
    } else if (byte >= 0xF0 && byte <= 0xF4 && end - p >= 3 && (p[0] & 0xC0) == 0x80 &&
               (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      const char32_t value = ((byte & 0x07u) << 18) | ((p[0] & 0x3Fu) << 12) |
                             ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      if (value >= 0x10000 && value <= 0x10FFFF) {
        text.add(value);
        p += 3;
        continue;
      }
    }
    // A lone continuation byte, an overlong lead or a byte that never occurs in UTF-8.
    if (byte < 0xC2 || byte > 0xF4) {
      if (byte < 0xA0) {
        text.flush();
        sink.execute(byte);
      } else {
        text.add(kReplacementCharacter);
      }
      continue;
    }
    // The ranges of the first continuation byte exclude overlong forms, surrogates and
    // values above U+10FFFF.
    unsigned remaining;
    char32_t value;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (byte < 0xE0) {
      value = byte & 0x1Fu;
      remaining = 1;
    } else if (byte < 0xF0) {
      value = byte & 0x0Fu;
      remaining = 2;
      if (byte == 0xE0) low = 0xA0;
      if (byte == 0xED) high = 0x9F;
    } else {
      value = byte & 0x07u;
      remaining = 3;
      if (byte == 0xF0) low = 0x90;
      if (byte == 0xF4) high = 0x8F;
    }
    if (static_cast<std::size_t>(end - p) < remaining) {
      // Cut off by the end of the chunk: keep the decoder state for the next one.
      text.flush();
      utf8_value_ = value;
      utf8_remaining_ = static_cast<std::uint8_t>(remaining);
      utf8_low_ = low;
      utf8_high_ = high;
      return utf8_continue(p, end, sink);
    }
    const std::uint8_t* next = p;
    bool valid = true;
    for (unsigned k = 0; k < remaining; ++k) {
      const std::uint8_t continuation = next[k];
      if (continuation < low || continuation > high) {
        valid = false;
        p = next + k;
        break;
      }
      value = (value << 6) | (continuation & 0x3Fu);
      low = 0x80;
      high = 0xBF;
    }
    if (!valid) {
      text.add(kReplacementCharacter);
    } else {
      p = next + remaining;
      // C1 controls arriving as UTF-8 are controls, not text.
      if (value < 0xA0) {
        text.flush();
        sink.execute(static_cast<std::uint8_t>(value));
      } else {
        text.add(value);
      }
    }
  }
  return p;
}

// Takes the continuation bytes of the character in progress. An unexpected byte ends the
// character as U+FFFD and is left for the caller to read again.
template <class Sink>
const std::uint8_t* Parser::utf8_continue(const std::uint8_t* p, const std::uint8_t* end,
                                          Sink& sink) {
  char32_t value = utf8_value_;
  unsigned remaining = utf8_remaining_;
  std::uint8_t low = utf8_low_;
  std::uint8_t high = utf8_high_;
  while (remaining != 0) {
    if (p == end) {
      utf8_value_ = value;
      utf8_remaining_ = static_cast<std::uint8_t>(remaining);
      utf8_low_ = low;
      utf8_high_ = high;
      return p;
    }
    std::uint8_t byte = *p;
    if (byte < low || byte > high) {
      utf8_remaining_ = 0;
      sink.print(kReplacementCharacter);
      return p;
    }
    value = (value << 6) | (byte & 0x3Fu);
    ++p;
    --remaining;
    low = 0x80;
    high = 0xBF;
  }
  utf8_remaining_ = 0;
  emit(value, sink);
  return p;
}

// CSI entry and parameter states with their common bytes taken in a tight loop.
template <class Sink>
const std::uint8_t* Parser::csi(const std::uint8_t* p, const std::uint8_t* end, Sink& sink) {
  while (p < end) {
    std::uint8_t byte = *p;
    if (byte >= '0' && byte <= '9') {
      // A whole number at once, kept in a register.
      if (params_.count_ == 0) start_parameter();
      std::uint32_t value = params_.values_[current_];
      do {
        value = std::min<std::uint32_t>(value * 10u + (*p - '0'), 0xFFFF);
        ++p;
      } while (p < end && *p >= '0' && *p <= '9');
      params_.values_[current_] = static_cast<std::uint16_t>(value);
      state_ = State::CsiParam;
    } else if (byte == ';' || byte == ':') {
      param_byte(byte);
      state_ = State::CsiParam;
      ++p;
    } else if (byte >= 0x40 && byte <= 0x7E) {
      ++p;
      state_ = State::Ground;
      sink.csi_dispatch(params_, intermediates(), overflow_, static_cast<char>(byte));
      return p;
    } else {
      ++p;
      advance(byte, sink);
      if (state_ != State::CsiEntry && state_ != State::CsiParam) return p;
    }
  }
  return p;
}

// OSC, SOS/PM/APC and ignored DCS strings, whose bodies only ever end at BEL (OSC only),
// CAN, SUB or ESC.
template <class Sink>
const std::uint8_t* Parser::string(const std::uint8_t* p, const std::uint8_t* end, Sink& sink) {
  const std::uint8_t* stop = detail::scan_string_end(p, end);
  if (state_ == State::OscString) {
    for (const std::uint8_t* q = p; q < stop && osc_length_ < kOscBufferSize; ++q) {
      // Other C0 controls are ignored inside the string.
      if (*q >= 0x20) osc_[osc_length_++] = static_cast<char>(*q);
    }
  }
  if (stop == end) return end;
  advance(*stop, sink);
  return stop + 1;
}

template <class Sink>
void Parser::osc_dispatch(OscTerminator terminator, Sink& sink) {
  std::array<std::string_view, kMaxOscFields> fields;
  std::size_t count = 0;
  std::string_view rest(osc_.data(), osc_length_);
  while (count + 1 < kMaxOscFields) {
    std::size_t semicolon = rest.find(';');
    if (semicolon == std::string_view::npos) break;
    fields[count++] = rest.substr(0, semicolon);
    rest.remove_prefix(semicolon + 1);
  }
  fields[count++] = rest;
  sink.osc_dispatch(std::span<const std::string_view>(fields.data(), count), terminator);
}

// Leaves an OSC or DCS string because ESC, CAN or SUB arrived. CAN and SUB abandon an OSC
// string; a DCS string is always closed so that every hook is paired with an unhook.
template <class Sink>
void Parser::leave_string(Sink& sink, bool abandoned) {
  if (state_ == State::OscString) {
    if (!abandoned) osc_dispatch(OscTerminator::St, sink);
  } else if (state_ == State::DcsPassthrough) {
    sink.dcs_unhook();
  }
}

// One byte in any state but ground.
template <class Sink>
void Parser::advance(std::uint8_t byte, Sink& sink) {
  // Transitions from anywhere.
  if (byte == 0x18 || byte == 0x1A) {
    leave_string(sink, true);
    sink.execute(byte);
    state_ = State::Ground;
    return;
  }
  if (byte == 0x1B) {
    leave_string(sink, false);
    clear();
    state_ = State::Escape;
    return;
  }
  // 8-bit bytes never act as C1 controls here: they are UTF-8 text inside strings and are
  // ignored inside sequences.
  if (byte >= 0x80) {
    if (state_ == State::OscString) {
      if (osc_length_ < kOscBufferSize) osc_[osc_length_++] = static_cast<char>(byte);
    } else if (state_ == State::DcsPassthrough) {
      sink.dcs_put(byte);
    }
    return;
  }
  const bool c0 = byte < 0x20;
  switch (state_) {
    case State::Ground:
      // Not reached: the ground state is handled in ground().
      break;

    case State::Escape:
      if (c0) {
        sink.execute(byte);
      } else if (byte <= 0x2F) {
        collect(byte);
        state_ = State::EscapeIntermediate;
      } else if (byte == '[') {
        state_ = State::CsiEntry;
      } else if (byte == ']') {
        osc_length_ = 0;
        state_ = State::OscString;
      } else if (byte == 'P') {
        state_ = State::DcsEntry;
      } else if (byte == 'X' || byte == '^' || byte == '_') {
        state_ = State::SosPmApcString;
      } else if (byte != 0x7F) {
        state_ = State::Ground;
        sink.esc_dispatch(intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::EscapeIntermediate:
      if (c0) {
        sink.execute(byte);
      } else if (byte <= 0x2F) {
        collect(byte);
      } else if (byte != 0x7F) {
        state_ = State::Ground;
        sink.esc_dispatch(intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::CsiEntry:
    case State::CsiParam:
      if (c0) {
        sink.execute(byte);
      } else if (byte <= 0x2F) {
        collect(byte);
        state_ = State::CsiIntermediate;
      } else if (byte <= ';') {
        param_byte(byte);
        state_ = State::CsiParam;
      } else if (byte <= 0x3F) {
        // A private marker counts only before the parameters.
        if (state_ == State::CsiEntry) {
          collect(byte);
          state_ = State::CsiParam;
        } else {
          state_ = State::CsiIgnore;
        }
      } else if (byte != 0x7F) {
        state_ = State::Ground;
        sink.csi_dispatch(params_, intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::CsiIntermediate:
      if (c0) {
        sink.execute(byte);
      } else if (byte <= 0x2F) {
        collect(byte);
      } else if (byte <= 0x3F) {
        state_ = State::CsiIgnore;
      } else if (byte != 0x7F) {
        state_ = State::Ground;
        sink.csi_dispatch(params_, intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::CsiIgnore:
      if (c0) {
        sink.execute(byte);
      } else if (byte >= 0x40 && byte <= 0x7E) {
        state_ = State::Ground;
      }
      break;

    case State::DcsEntry:
    case State::DcsParam:
      if (c0 || byte == 0x7F) break;
      if (byte <= 0x2F) {
        collect(byte);
        state_ = State::DcsIntermediate;
      } else if (byte <= ';') {
        param_byte(byte);
        state_ = State::DcsParam;
      } else if (byte <= 0x3F) {
        if (state_ == State::DcsEntry) {
          collect(byte);
          state_ = State::DcsParam;
        } else {
          state_ = State::DcsIgnore;
        }
      } else {
        state_ = State::DcsPassthrough;
        sink.dcs_hook(params_, intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::DcsIntermediate:
      if (c0 || byte == 0x7F) break;
      if (byte <= 0x2F) {
        collect(byte);
      } else if (byte <= 0x3F) {
        state_ = State::DcsIgnore;
      } else {
        state_ = State::DcsPassthrough;
        sink.dcs_hook(params_, intermediates(), overflow_, static_cast<char>(byte));
      }
      break;

    case State::DcsPassthrough:
      if (byte != 0x7F) sink.dcs_put(byte);
      break;

    case State::DcsIgnore:
    case State::SosPmApcString:
      break;

    case State::OscString:
      if (byte == 0x07) {
        state_ = State::Ground;
        osc_dispatch(OscTerminator::Bel, sink);
      } else if (!c0 && osc_length_ < kOscBufferSize) {
        osc_[osc_length_++] = static_cast<char>(byte);
      }
      break;
  }
}

}  // namespace remote::vt
