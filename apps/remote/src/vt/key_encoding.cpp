#include "vt/key_encoding.h"

#include <array>
#include <string_view>

namespace remote::vt {

namespace {

struct NamedKey {
  std::string_view name;
  std::string_view bytes;
};

constexpr std::array<NamedKey, 12> kNamedKeys{{
    {"Enter", "\r"},
    {"Tab", "\t"},
    {"Space", " "},
    {"ArrowUp", "\x1b[A"},
    {"ArrowDown", "\x1b[B"},
    {"ArrowRight", "\x1b[C"},
    {"ArrowLeft", "\x1b[D"},
    {"Home", "\x1b[H"},
    {"End", "\x1b[F"},
    {"Backspace", "\x7f"},
    {"Delete", "\x1b[3~"},
    {"Escape", "\x1b"},
}};

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string encode_key(const kivo::ui::KeyEvent& event) {
  if (!event.pressed) return {};
  const kivo::ui::Key& key = event.key;
  if (key.kind == kivo::ui::Key::Kind::Named) {
    for (const NamedKey& named : kNamedKeys) {
      if (key.value == named.name) return std::string(named.bytes);
    }
    // Function keys, Page Up/Down and the like send only what text they produced.
    return event.text;
  }
  // Control turns a letter into its control byte; anything else sends its text, whatever
  // the modifiers.
  if (event.modifiers.control && !key.value.empty() && is_ascii_letter(key.value.front())) {
    char upper = static_cast<char>(key.value.front() & ~0x20);
    return std::string(1, static_cast<char>(upper - 0x40));
  }
  return event.text.empty() ? key.value : event.text;
}

}  // namespace remote::vt
