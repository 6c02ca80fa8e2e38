// Hand-made SDL events for the SDL backend's tests, addressed to window kWindowId unless told
// otherwise.
#pragma once
#include <SDL.h>

#include <cstdint>

constexpr uint32_t kWindowId = 7;

inline SDL_Event key_down(SDL_Keycode key, uint32_t window = kWindowId) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = window;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = key;
  return e;
}

inline SDL_Event button(uint32_t type, uint8_t which, uint8_t clicks, int32_t x, int32_t y) {
  SDL_Event e{};
  e.type = type;
  e.button.windowID = kWindowId;
  e.button.button = which;
  e.button.clicks = clicks;
  e.button.x = x;
  e.button.y = y;
  return e;
}

inline SDL_Event motion(int32_t x, int32_t y, uint32_t state, uint32_t window = kWindowId) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = window;
  e.motion.x = x;
  e.motion.y = y;
  e.motion.state = state;
  return e;
}

inline SDL_Event window_event(uint8_t event, int32_t data1 = 0, int32_t data2 = 0) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = kWindowId;
  e.window.event = event;
  e.window.data1 = data1;
  e.window.data2 = data2;
  return e;
}

inline SDL_Event drop(uint32_t type, char* file = nullptr, uint32_t window = kWindowId) {
  SDL_Event e{};
  e.type = type;
  e.drop.windowID = window;
  e.drop.file = file;
  return e;
}
