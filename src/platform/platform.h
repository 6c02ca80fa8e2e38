// The windowing interface: the only way the viewer and the display reach the operating
// system's windows, painting, messages and timers. One backend is current at a time
// (headless, SDL2 or Win32); the free functions below forward to it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using PlatformWindow = uintptr_t;  // 0 names no window

// A rectangle of window pixels; right and bottom are exclusive.
struct PlatformRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

inline PlatformRect platform_rect_intersect(const PlatformRect& a, const PlatformRect& b) {
  return PlatformRect{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                      a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}
inline bool platform_rect_empty(const PlatformRect& r) { return r.left >= r.right || r.top >= r.bottom; }
inline bool platform_rect_contains(const PlatformRect& outer, const PlatformRect& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

enum MessageKind : int32_t {
  MSG_CLOSE,
  MSG_DESTROY,
  MSG_SIZE,          // code: SIZE_RESTORED, SIZE_MINIMISED or SIZE_MAXIMISED
  MSG_KEY_DOWN,      // code: Win32 virtual-key code, on every platform
  MSG_TIMER,         // code: timer id
  MSG_PAINT,         // rects: the update area
  MSG_MOUSE_MOVE,    // x, y; left_button
  MSG_LEFT_DOWN,
  MSG_LEFT_UP,
  MSG_LEFT_DOUBLE,
  MSG_RIGHT_DOWN,
  MSG_RIGHT_DOUBLE,
  MSG_DROP_FILES,    // paths, in the order the system gives them
  MSG_SET_FOCUS,
  MSG_KILL_FOCUS,
};

enum SizeKind : int32_t { SIZE_RESTORED = 0, SIZE_MINIMISED = 1, SIZE_MAXIMISED = 2 };

struct Message {
  MessageKind kind = MSG_CLOSE;
  PlatformWindow window = 0;
  int32_t code = 0;
  int32_t x = 0;  // client coordinates of mouse messages
  int32_t y = 0;
  bool left_button = false;
  std::vector<PlatformRect> rects;
  std::vector<std::string> paths;
};

using WindowProc = std::function<void(const Message& message)>;

// One implementation per platform. Every call is made on the user-interface thread.
class PlatformBackend {
 public:
  virtual ~PlatformBackend() = default;

  // Windows. The main window covers the desktop work area, maximised; the document window
  // is its client area. Creation gives 0 on failure.
  virtual PlatformWindow create_main_window(const char* title, WindowProc proc) = 0;
  virtual PlatformWindow create_document_window(PlatformWindow parent, WindowProc proc) = 0;
  virtual void destroy_window(PlatformWindow window) = 0;  // delivers MSG_DESTROY first
  virtual void set_title(PlatformWindow window, const char* text) = 0;
  virtual void client_size(PlatformWindow window, int32_t* width, int32_t* height) = 0;
  virtual void set_focus(PlatformWindow window) = 0;

  // Painting, between begin_paint and end_paint. Colours are 0x00RRGGBB.
  virtual void begin_paint(PlatformWindow window) = 0;
  virtual void end_paint(PlatformWindow window) = 0;
  virtual void set_clip(PlatformWindow window, const PlatformRect& rect) = 0;
  virtual void fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) = 0;
  // Copies `height` rows of `width` pixels (rows `stride` pixels apart, top row first) to
  // (x, y), within the clip rectangle.
  virtual void blit(PlatformWindow window, int32_t x, int32_t y, int32_t width, int32_t height,
                    int32_t stride, const uint32_t* pixels) = 0;
  // Moves the client area's pixels by (dx, dy) and gives the area left uncovered; false when
  // the system refuses.
  virtual bool scroll(PlatformWindow window, int32_t dx, int32_t dy,
                      std::vector<PlatformRect>* uncovered) = 0;
  virtual void invalidate(PlatformWindow window, const PlatformRect& rect) = 0;
  // A fixed palette for palette-based screens (0x00RRGGBB entries); true-colour screens may
  // ignore it.
  virtual void set_palette(PlatformWindow window, const uint32_t* entries, int32_t count) = 0;

  // Messages and timers. Timers fire once; starting one replaces a pending one of that id.
  virtual int run_message_loop() = 0;
  virtual bool input_waiting() = 0;
  virtual bool mouse_move_waiting(PlatformWindow window) = 0;
  virtual void set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) = 0;
  virtual void kill_timer(PlatformWindow window, int32_t id) = 0;
  virtual uint64_t clock_ms() = 0;

  // System.
  virtual void message_box(const char* text, const char* caption) = 0;
  // Ends the process with `code`; does not return.
  [[noreturn]] virtual void exit_process(int code) = 0;
};

void platform_set_backend(PlatformBackend* backend);
PlatformBackend* platform();
// Ends the process through the backend (which may hand control back to a driver that
// outlives the viewer); does not return.
[[noreturn]] void platform_exit(int code);
