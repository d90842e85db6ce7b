#include "sdl_keys.h"

#include "kivo/base/text.h"

#include <array>
#include <utility>

namespace kivo::ui::sdl {
namespace {

struct NamedKey {
  SDL_Keycode sym;
  const char* name;
};

constexpr NamedKey kNamedKeys[] = {
    {SDLK_RETURN, "Enter"},        {SDLK_KP_ENTER, "Enter"},       {SDLK_RETURN2, "Enter"},
    {SDLK_TAB, "Tab"},             {SDLK_BACKSPACE, "Backspace"},  {SDLK_DELETE, "Delete"},
    {SDLK_ESCAPE, "Escape"},       {SDLK_UP, "ArrowUp"},           {SDLK_DOWN, "ArrowDown"},
    {SDLK_LEFT, "ArrowLeft"},      {SDLK_RIGHT, "ArrowRight"},     {SDLK_HOME, "Home"},
    {SDLK_END, "End"},             {SDLK_PAGEUP, "PageUp"},        {SDLK_PAGEDOWN, "PageDown"},
    {SDLK_INSERT, "Insert"},       {SDLK_LSHIFT, "Shift"},         {SDLK_RSHIFT, "Shift"},
    {SDLK_LCTRL, "Control"},       {SDLK_RCTRL, "Control"},        {SDLK_LALT, "Alt"},
    {SDLK_RALT, "Alt"},            {SDLK_LGUI, "Meta"},            {SDLK_RGUI, "Meta"},
    {SDLK_CAPSLOCK, "CapsLock"},   {SDLK_NUMLOCKCLEAR, "NumLock"}, {SDLK_SCROLLLOCK, "ScrollLock"},
    {SDLK_PRINTSCREEN, "PrintScreen"}, {SDLK_PAUSE, "Pause"},      {SDLK_MENU, "ContextMenu"},
    {SDLK_APPLICATION, "ContextMenu"}, {SDLK_PASTE, "Paste"},      {SDLK_COPY, "Copy"},
    {SDLK_CUT, "Cut"},             {SDLK_UNDO, "Undo"},            {SDLK_HELP, "Help"},
    {SDLK_F1, "F1"},   {SDLK_F2, "F2"},   {SDLK_F3, "F3"},   {SDLK_F4, "F4"},   {SDLK_F5, "F5"},
    {SDLK_F6, "F6"},   {SDLK_F7, "F7"},   {SDLK_F8, "F8"},   {SDLK_F9, "F9"},   {SDLK_F10, "F10"},
    {SDLK_F11, "F11"}, {SDLK_F12, "F12"}, {SDLK_F13, "F13"}, {SDLK_F14, "F14"}, {SDLK_F15, "F15"},
    {SDLK_F16, "F16"}, {SDLK_F17, "F17"}, {SDLK_F18, "F18"}, {SDLK_F19, "F19"}, {SDLK_F20, "F20"},
    {SDLK_F21, "F21"}, {SDLK_F22, "F22"}, {SDLK_F23, "F23"}, {SDLK_F24, "F24"},
};

}  // namespace

Modifiers modifiers(Uint16 mod) {
  return {.control = (mod & KMOD_CTRL) != 0,
          .shift = (mod & KMOD_SHIFT) != 0,
          .alt = (mod & KMOD_ALT) != 0,
          .super = (mod & KMOD_GUI) != 0};
}

Key key_value(SDL_Keycode sym, Uint16 mod, const std::string& text) {
  for (const auto& named : kNamedKeys) {
    if (named.sym == sym) return Key::named(named.name);
  }
  if (!text.empty()) return Key::character(text);
  // No text was produced (a Control or Super combination, or a dead key): the key
  // stands for its unshifted character, upper-cased with Shift for letters.
  if ((sym & SDLK_SCANCODE_MASK) == 0 && sym >= 0x20 && sym != 0x7f) {
    char32_t cp = static_cast<char32_t>(sym);
    if ((mod & KMOD_SHIFT) != 0 && cp >= 'a' && cp <= 'z') cp = cp - 'a' + 'A';
    std::string out;
    kivo::text::append_utf8(cp, out);
    return Key::character(out);
  }
  return Key::named("Unidentified");
}

std::string code_value(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) {
    return std::string("Key") + static_cast<char>('A' + (sc - SDL_SCANCODE_A));
  }
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) {
    return std::string("Digit") + static_cast<char>('1' + (sc - SDL_SCANCODE_1));
  }
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return "F" + std::to_string(1 + (sc - SDL_SCANCODE_F1));
  // SDL numbers F13–F24 apart from F1–F12.
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return "F" + std::to_string(13 + (sc - SDL_SCANCODE_F13));
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) {
    return std::string("Numpad") + static_cast<char>('1' + (sc - SDL_SCANCODE_KP_1));
  }
  switch (sc) {
    case SDL_SCANCODE_0: return "Digit0";
    case SDL_SCANCODE_KP_0: return "Numpad0";
    case SDL_SCANCODE_RETURN: return "Enter";
    case SDL_SCANCODE_KP_ENTER: return "NumpadEnter";
    case SDL_SCANCODE_ESCAPE: return "Escape";
    case SDL_SCANCODE_BACKSPACE: return "Backspace";
    case SDL_SCANCODE_TAB: return "Tab";
    case SDL_SCANCODE_SPACE: return "Space";
    case SDL_SCANCODE_MINUS: return "Minus";
    case SDL_SCANCODE_EQUALS: return "Equal";
    case SDL_SCANCODE_LEFTBRACKET: return "BracketLeft";
    case SDL_SCANCODE_RIGHTBRACKET: return "BracketRight";
    case SDL_SCANCODE_BACKSLASH: return "Backslash";
    case SDL_SCANCODE_SEMICOLON: return "Semicolon";
    case SDL_SCANCODE_APOSTROPHE: return "Quote";
    case SDL_SCANCODE_GRAVE: return "Backquote";
    case SDL_SCANCODE_COMMA: return "Comma";
    case SDL_SCANCODE_PERIOD: return "Period";
    case SDL_SCANCODE_SLASH: return "Slash";
    case SDL_SCANCODE_NONUSBACKSLASH: return "IntlBackslash";
    case SDL_SCANCODE_CAPSLOCK: return "CapsLock";
    case SDL_SCANCODE_PRINTSCREEN: return "PrintScreen";
    case SDL_SCANCODE_SCROLLLOCK: return "ScrollLock";
    case SDL_SCANCODE_PAUSE: return "Pause";
    case SDL_SCANCODE_INSERT: return "Insert";
    case SDL_SCANCODE_HOME: return "Home";
    case SDL_SCANCODE_PAGEUP: return "PageUp";
    case SDL_SCANCODE_DELETE: return "Delete";
    case SDL_SCANCODE_END: return "End";
    case SDL_SCANCODE_PAGEDOWN: return "PageDown";
    case SDL_SCANCODE_RIGHT: return "ArrowRight";
    case SDL_SCANCODE_LEFT: return "ArrowLeft";
    case SDL_SCANCODE_DOWN: return "ArrowDown";
    case SDL_SCANCODE_UP: return "ArrowUp";
    case SDL_SCANCODE_NUMLOCKCLEAR: return "NumLock";
    case SDL_SCANCODE_KP_DIVIDE: return "NumpadDivide";
    case SDL_SCANCODE_KP_MULTIPLY: return "NumpadMultiply";
    case SDL_SCANCODE_KP_MINUS: return "NumpadSubtract";
    case SDL_SCANCODE_KP_PLUS: return "NumpadAdd";
    case SDL_SCANCODE_KP_PERIOD: return "NumpadDecimal";
    case SDL_SCANCODE_APPLICATION: return "ContextMenu";
    case SDL_SCANCODE_LCTRL: return "ControlLeft";
    case SDL_SCANCODE_LSHIFT: return "ShiftLeft";
    case SDL_SCANCODE_LALT: return "AltLeft";
    case SDL_SCANCODE_LGUI: return "MetaLeft";
    case SDL_SCANCODE_RCTRL: return "ControlRight";
    case SDL_SCANCODE_RSHIFT: return "ShiftRight";
    case SDL_SCANCODE_RALT: return "AltRight";
    case SDL_SCANCODE_RGUI: return "MetaRight";
    default: return "Unidentified";
  }
}

}  // namespace kivo::ui::sdl
