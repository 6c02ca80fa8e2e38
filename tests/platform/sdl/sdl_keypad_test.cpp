// The keypad follows Num Lock: digits with it on, the navigation keys with it off.
#include <gtest/gtest.h>

#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_test_events.h"

TEST(SdlKeypad, NumLockDecidesBetweenDigitsAndNavigation) {
  const struct {
    SDL_Keycode key;
    int32_t num_lock_on, num_lock_off;
  } rows[] = {
      {SDLK_KP_0, 96, 45},  {SDLK_KP_1, 97, 35},  {SDLK_KP_2, 98, 40},      {SDLK_KP_3, 99, 34},
      {SDLK_KP_4, 100, 37}, {SDLK_KP_5, 101, 12}, {SDLK_KP_6, 102, 39},     {SDLK_KP_7, 103, 36},
      {SDLK_KP_8, 104, 38}, {SDLK_KP_9, 105, 33}, {SDLK_KP_PERIOD, 110, 46}, {SDLK_KP_PLUS, 107, 107},
      {SDLK_HOME, 36, 36},  // some desktops already report the navigation key
  };
  SdlTarget target;
  target.window_id = kWindowId;
  target.main = 1;
  SdlEventTranslator translator;
  for (const auto& row : rows)
    for (uint16_t mod : {uint16_t(KMOD_NUM | KMOD_LSHIFT), uint16_t(KMOD_NONE), uint16_t(KMOD_CAPS)}) {
      SDL_Event e = key_down(row.key);
      e.key.keysym.mod = mod;
      std::vector<Message> out;
      translator.translate(e, target, &out);
      ASSERT_EQ(out.size(), 1u) << SDL_GetKeyName(row.key);
      EXPECT_EQ(out[0].code, (mod & KMOD_NUM) ? row.num_lock_on : row.num_lock_off) << SDL_GetKeyName(row.key) << " mod " << mod;
    }
}
