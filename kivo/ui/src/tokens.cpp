#include "kivo/ui/tokens.h"

namespace kivo::ui::tokens::colors {

const Colors& Colors::dark() {
  static const Colors colors{
      .background = Color::hex(0x0f1117),
      .surface = Color::hex(0x181b24),
      .surface_high = Color::hex(0x1f2431),
      .border = Color::hex(0x2b3140),
      .text = Color::hex(0xe7e9ef),
      .muted_text = Color::hex(0x8d95a8),
      .success = Color::hex(0x3ecf8e),
      .warning = Color::hex(0xf2b64c),
      .danger = Color::hex(0xf0616d),
      .accent = Color::hex(0x6b86ff),
      .on_accent = Color::hex(0xffffff),
      .focus_ring = Color::hex(0x8aa2ff),
      .scrim = Color::hex(0x04050a),
      .kind_vnc = Color::hex(0x4fc3f7),
      .kind_kivo = Color::hex(0xb48cff),
  };
  return colors;
}

}  // namespace kivo::ui::tokens::colors

namespace kivo::ui::tokens::terminal_palette {

const TerminalPalette& TerminalPalette::dark() {
  static const TerminalPalette palette{
      .background = Color::hex(0x0b0d12),
      .foreground = Color::hex(0xd8dbe2),
      .ansi = {Color::hex(0x1d212b), Color::hex(0xf0616d), Color::hex(0x3ecf8e), Color::hex(0xf2b64c),
               Color::hex(0x6b86ff), Color::hex(0xc38bff), Color::hex(0x4fc3f7), Color::hex(0xc9cdd6),
               Color::hex(0x5d6475), Color::hex(0xff7c87), Color::hex(0x6fe3ab), Color::hex(0xffd27a),
               Color::hex(0x95aaff), Color::hex(0xd8aaff), Color::hex(0x83d9ff), Color::hex(0xf5f6fa)},
  };
  return palette;
}

}  // namespace kivo::ui::tokens::terminal_palette
