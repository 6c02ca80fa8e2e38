#include "platform/sdl/sdl_events.h"

namespace {

Message message(MessageKind kind, PlatformWindow window) {
  Message m;
  m.kind = kind;
  m.window = window;
  return m;
}

// Mouse messages carry client coordinates and whether the left button is held.
Message mouse_message(MessageKind kind, PlatformWindow window, int32_t x, int32_t y, bool left) {
  Message m = message(kind, window);
  m.x = x;
  m.y = y;
  m.left_button = left;
  return m;
}

}  // namespace

int32_t sdl_virtual_key(SDL_Keycode key, uint16_t modifiers) {
  // With Num Lock off the keypad is the navigation block (and its 5 is Clear), as on every
  // desktop.
  if ((modifiers & KMOD_NUM) == 0) {
    switch (key) {
      case SDLK_KP_0: return 45;  // Insert
      case SDLK_KP_1: return 35;  // End
      case SDLK_KP_2: return 40;  // Down
      case SDLK_KP_3: return 34;  // Page Down
      case SDLK_KP_4: return 37;  // Left
      case SDLK_KP_5: return 12;  // Clear
      case SDLK_KP_6: return 39;  // Right
      case SDLK_KP_7: return 36;  // Home
      case SDLK_KP_8: return 38;  // Up
      case SDLK_KP_9: return 33;  // Page Up
      case SDLK_KP_PERIOD: return 46;  // Delete
      default: break;
    }
  }
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 112 + (key - SDLK_F1);
  if (key >= SDLK_F13 && key <= SDLK_F24) return 124 + (key - SDLK_F13);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return 97 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN: case SDLK_KP_ENTER: return 13;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL: case SDLK_RCTRL: return 17;
    case SDLK_LALT: case SDLK_RALT: return 18;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_PRINTSCREEN: return 44;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_KP_0: return 96;
    case SDLK_KP_MULTIPLY: return 106;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_MINUS: return 109;
    case SDLK_KP_PERIOD: return 110;
    case SDLK_KP_DIVIDE: return 111;
    case SDLK_NUMLOCKCLEAR: return 144;
    case SDLK_SCROLLLOCK: return 145;
    default: return 0;
  }
}

bool sdl_is_input_event(uint32_t type) {
  switch (type) {
    case SDL_QUIT:
    case SDL_KEYDOWN:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPCOMPLETE:
      return true;
    default:
      return false;
  }
}

void SdlEventTranslator::translate(const SDL_Event& event, const SdlTarget& target,
                                   std::vector<Message>* out) {
  switch (event.type) {
    case SDL_QUIT:
      out->push_back(message(MSG_CLOSE, target.main));
      return;
    case SDL_KEYDOWN: {
      if (event.key.windowID != target.window_id) return;
      const int32_t code = sdl_virtual_key(event.key.keysym.sym, event.key.keysym.mod);
      if (code == 0) return;
      Message m = message(MSG_KEY_DOWN, target.main);
      m.code = code;
      out->push_back(m);  // repeats arrive as further key downs, as with Win32
      return;
    }
    case SDL_MOUSEMOTION:
      if (event.motion.windowID != target.window_id) return;
      out->push_back(mouse_message(MSG_MOUSE_MOVE, target.document, event.motion.x, event.motion.y,
                                   (event.motion.state & SDL_BUTTON_LMASK) != 0));
      return;
    case SDL_MOUSEBUTTONDOWN: {
      const SDL_MouseButtonEvent& b = event.button;
      if (b.windowID != target.window_id) return;
      // Every second click of a series is the double-click; a third click is a plain down
      // again, as Win32 counts them.
      const bool second = b.clicks >= 2 && b.clicks % 2 == 0;
      if (b.button == SDL_BUTTON_LEFT) left_held_ = true;
      const bool left_held = left_held_;
      if (b.button == SDL_BUTTON_LEFT)
        out->push_back(mouse_message(second ? MSG_LEFT_DOUBLE : MSG_LEFT_DOWN, target.document, b.x,
                                     b.y, left_held));
      else if (b.button == SDL_BUTTON_RIGHT)
        out->push_back(mouse_message(second ? MSG_RIGHT_DOUBLE : MSG_RIGHT_DOWN, target.document,
                                     b.x, b.y, left_held));
      return;
    }
    case SDL_MOUSEBUTTONUP: {
      const SDL_MouseButtonEvent& b = event.button;
      if (b.windowID != target.window_id || b.button != SDL_BUTTON_LEFT) return;
      left_held_ = false;
      out->push_back(mouse_message(MSG_LEFT_UP, target.document, b.x, b.y, false));
      return;
    }
    case SDL_DROPBEGIN:
      dropping_ = true;
      dropped_.clear();
      return;
    case SDL_DROPFILE:
      if (event.drop.file == nullptr) return;
      if (dropping_) {
        dropped_.emplace_back(event.drop.file);
      } else {  // a drop without its begin and end: one file on its own
        Message m = message(MSG_DROP_FILES, target.document);
        m.paths.emplace_back(event.drop.file);
        out->push_back(m);
      }
      return;
    case SDL_DROPCOMPLETE:
      if (dropping_ && !dropped_.empty()) {
        Message m = message(MSG_DROP_FILES, target.document);
        m.paths.swap(dropped_);
        out->push_back(m);
      }
      dropping_ = false;
      dropped_.clear();
      return;
    case SDL_WINDOWEVENT:
      break;
    default:
      return;
  }

  const SDL_WindowEvent& w = event.window;
  if (w.windowID != target.window_id) return;
  switch (w.event) {
    case SDL_WINDOWEVENT_CLOSE:
      out->push_back(message(MSG_CLOSE, target.main));
      return;
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
      Message m = message(MSG_SIZE, target.main);
      m.code = target.maximised ? SIZE_MAXIMISED : SIZE_RESTORED;
      m.x = w.data1;
      m.y = w.data2;
      out->push_back(m);
      return;
    }
    case SDL_WINDOWEVENT_MINIMIZED: {
      Message m = message(MSG_SIZE, target.main);
      m.code = SIZE_MINIMISED;
      out->push_back(m);
      return;
    }
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED: {
      Message m = message(MSG_SIZE, target.main);
      m.code = w.event == SDL_WINDOWEVENT_MAXIMIZED ? SIZE_MAXIMISED : SIZE_RESTORED;
      m.x = target.width;
      m.y = target.height;
      out->push_back(m);
      return;
    }
    case SDL_WINDOWEVENT_EXPOSED: {
      Message m = message(MSG_PAINT, target.document);
      m.rects.push_back(PlatformRect{0, 0, target.width, target.height});
      out->push_back(m);
      return;
    }
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      out->push_back(message(MSG_SET_FOCUS, target.main));
      return;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      out->push_back(message(MSG_KILL_FOCUS, target.main));
      return;
    default:
      return;
  }
}
