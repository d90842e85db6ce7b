#pragma once
// Random bytes from the kernel, for identifiers that must never collide.

#include <cstdint>
#include <span>

namespace kivo {

// Fills `out` from getrandom. The kernel's generator does not fail once it is seeded; a
// failure (or an endless interruption) is a broken invariant and ends the program.
void fill_random(std::span<std::uint8_t> out);

}  // namespace kivo
