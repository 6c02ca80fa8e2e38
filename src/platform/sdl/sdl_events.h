// Turns SDL events into the platform's messages: keys become Win32 virtual-key codes, mouse
// buttons become downs, ups and double-clicks, a drop of several files becomes one message,
// and window events become size, paint, focus and close messages. Pure translation: nothing
// here touches the screen, so it can be tested with hand-made events.
#pragma once
#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// Win32 virtual-key code of an SDL key, 0 for a key that has none. The keypad's digits and
// point depend on Num Lock (KMOD_NUM in `modifiers`).
int32_t sdl_virtual_key(SDL_Keycode key, uint16_t modifiers = KMOD_NUM);

// True for events that a user makes (keys, mouse, drops, quit): what "input is waiting" means.
bool sdl_is_input_event(uint32_t type);

// Where translated messages go and what the translation needs to know of the window.
struct SdlTarget {
  uint32_t window_id = 0;  // SDL id of the one OS window; events of other windows are dropped
  PlatformWindow main = 0;
  PlatformWindow document = 0;
  int32_t width = 0;  // current client size
  int32_t height = 0;
  bool maximised = false;
};

class SdlEventTranslator {
 public:
  // Appends the messages for one event (often none) to `out`. Dropped file names are copied;
  // the caller still owns (and frees) the event's strings.
  void translate(const SDL_Event& event, const SdlTarget& target, std::vector<Message>* out);
  bool dropping() const { return dropping_; }

 private:
  bool dropping_ = false;
  bool left_held_ = false;  // between a left down (or double-click) and its up
  std::vector<std::string> dropped_;
};
