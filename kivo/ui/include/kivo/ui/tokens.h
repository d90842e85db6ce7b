#pragma once
// The one dark theme of the framework: every colour a screen uses is a role here.

#include <array>

#include "kivo/ui/color.h"

namespace kivo::ui::tokens::colors {

struct Colors {
  Color background;     // window ground
  Color surface;        // cards, bars, fields
  Color surface_high;   // a selected or highlighted card
  Color border;         // neutral outlines and hairlines
  Color text;
  Color muted_text;
  Color success;
  Color warning;
  Color danger;
  Color accent;         // primary actions, marks, selection edges
  Color on_accent;      // text drawn on the accent colour
  Color focus_ring;
  Color scrim;          // behind modal sheets
  Color kind_vnc;       // SSH uses success and RDP warning
  Color kind_kivo;

  static const Colors& dark();

  // The surface lifted towards the text colour by t (0…1): hover fills and wells.
  Color lift(double t) const { return surface.mix(text, 0.10 * t); }
};

}  // namespace kivo::ui::tokens::colors

namespace kivo::ui::tokens::terminal_palette {

struct TerminalPalette {
  Color background;
  Color foreground;
  std::array<Color, 16> ansi;  // 0–7 normal, 8–15 bright

  static const TerminalPalette& dark();
};

}  // namespace kivo::ui::tokens::terminal_palette
