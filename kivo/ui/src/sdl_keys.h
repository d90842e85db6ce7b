#pragma once
// SDL key symbols and scancodes → W3C UI Events `key` and `code` values.

#include <SDL.h>

#include <string>

#include "kivo/ui/event.h"

namespace kivo::ui::sdl {

// The W3C `key` of a key press. `text` is what SDL's text input produced for the same
// press (empty when none): character keys take it as their value when present.
Key key_value(SDL_Keycode sym, Uint16 mod, const std::string& text);
// The W3C `code` of a physical key ("KeyA", "Digit1", "Enter", …); "Unidentified" when unknown.
std::string code_value(SDL_Scancode scancode);
Modifiers modifiers(Uint16 mod);

}  // namespace kivo::ui::sdl
