#include "sdl_keys.h"

#include <gtest/gtest.h>

namespace kivo::ui::sdl {
namespace {

TEST(SdlKeys, MapsToW3CKeyValues) {
  struct Case {
    SDL_Keycode sym;
    Uint16 mod;
    const char* text;
    Key expected;
  };
  const Case cases[] = {
      {SDLK_RETURN, 0, "", Key::named("Enter")},
      {SDLK_KP_ENTER, 0, "", Key::named("Enter")},
      {SDLK_UP, KMOD_SHIFT, "", Key::named("ArrowUp")},
      {SDLK_ESCAPE, 0, "", Key::named("Escape")},
      {SDLK_F5, 0, "", Key::named("F5")},
      {SDLK_a, 0, "a", Key::character("a")},
      {SDLK_a, KMOD_SHIFT, "A", Key::character("A")},
      {SDLK_a, KMOD_CTRL, "", Key::character("a")},               // no text with Control
      {SDLK_a, KMOD_CTRL | KMOD_SHIFT, "", Key::character("A")},
      {SDLK_SLASH, 0, "/", Key::character("/")},
      {SDLK_SPACE, 0, " ", Key::character(" ")},
      {SDLK_e, 0, "\xC3\xA9", Key::character("\xC3\xA9")},        // a layout that produces é
      {SDLK_LCTRL, KMOD_CTRL, "", Key::named("Control")},
      {SDLK_VOLUMEUP, 0, "", Key::named("Unidentified")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(key_value(c.sym, c.mod, c.text), c.expected) << c.sym;
  }
}

TEST(SdlKeys, MapsPhysicalKeysToW3CCodes) {
  EXPECT_EQ(code_value(SDL_SCANCODE_A), "KeyA");
  EXPECT_EQ(code_value(SDL_SCANCODE_Z), "KeyZ");
  EXPECT_EQ(code_value(SDL_SCANCODE_0), "Digit0");
  EXPECT_EQ(code_value(SDL_SCANCODE_9), "Digit9");
  EXPECT_EQ(code_value(SDL_SCANCODE_F12), "F12");
  EXPECT_EQ(code_value(SDL_SCANCODE_SPACE), "Space");
  EXPECT_EQ(code_value(SDL_SCANCODE_LSHIFT), "ShiftLeft");
  EXPECT_EQ(code_value(SDL_SCANCODE_KP_ENTER), "NumpadEnter");
  EXPECT_EQ(code_value(SDL_SCANCODE_UNKNOWN), "Unidentified");
  EXPECT_EQ(modifiers(KMOD_LCTRL | KMOD_RGUI), (Modifiers{.control = true, .super = true}));
}

}  // namespace
}  // namespace kivo::ui::sdl
