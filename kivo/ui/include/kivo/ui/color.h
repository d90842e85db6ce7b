#pragma once

#include <cstdint>

namespace kivo::ui {

// A straight (not premultiplied) RGBA colour, channels 0…1.
struct Color {
  double r = 0;
  double g = 0;
  double b = 0;
  double a = 1;

  static constexpr Color hex(std::uint32_t rgb, double alpha = 1.0) {
    return {((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0, alpha};
  }
  // The same colour at `opacity` times its current alpha.
  constexpr Color with_opacity(double opacity) const { return {r, g, b, a * opacity}; }
  // Linear mix towards `other` by t (0 = this, 1 = other).
  constexpr Color mix(Color other, double t) const {
    return {r + (other.r - r) * t, g + (other.g - g) * t, b + (other.b - b) * t, a + (other.a - a) * t};
  }
  friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace kivo::ui
