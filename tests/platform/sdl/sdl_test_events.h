// Hand-made SDL events for the SDL backend's tests, addressed to window kWindowId unless told
// otherwise.
#pragma once
#include <SDL.h>

#include <cstdint>

constexpr uint32_t kWindowId = 7;

// The fields left out of the designated initializers below are meant to be zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

inline SDL_Event key_down(SDL_Keycode key, uint32_t window = kWindowId) {
  return SDL_Event{.key = {.type = SDL_KEYDOWN, .windowID = window, .state = SDL_PRESSED, .keysym = {.sym = key}}};
}

inline SDL_Event button(uint32_t type, uint8_t which, uint8_t clicks, int32_t x, int32_t y) {
  return SDL_Event{.button = {.type = type, .windowID = kWindowId, .button = which, .clicks = clicks, .x = x, .y = y}};
}

inline SDL_Event motion(int32_t x, int32_t y, uint32_t state, uint32_t window = kWindowId) {
  return SDL_Event{.motion = {.type = SDL_MOUSEMOTION, .windowID = window, .state = state, .x = x, .y = y}};
}

inline SDL_Event window_event(uint8_t event, int32_t data1 = 0, int32_t data2 = 0) {
  return SDL_Event{
      .window = {.type = SDL_WINDOWEVENT, .windowID = kWindowId, .event = event, .data1 = data1, .data2 = data2}};
}

inline SDL_Event drop(uint32_t type, char* file = nullptr, uint32_t window = kWindowId) {
  return SDL_Event{.drop = {.type = type, .file = file, .windowID = window}};
}

#pragma GCC diagnostic pop
