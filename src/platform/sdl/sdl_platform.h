// The SDL2 platform: one OS window plays both the main window (title, keyboard, timers,
// size, close) and the document window (painting, mouse, drops), whose client area it is.
// Painting goes into the program's own copy of the pixels and is presented on the window
// surface at the end of each paint pass; timers are kept by the single-threaded loop, which
// sleeps in SDL_WaitEventTimeout until the next one is due.
#pragma once
#include <SDL.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/frame.h"
#include "platform/message_queue.h"
#include "platform/platform.h"
#include "platform/sdl/sdl_events.h"
#include "platform/timer_queue.h"

// True when a display is named (DISPLAY or WAYLAND_DISPLAY; any SDL_VIDEODRIVER counts too)
// and SDL's video starts on it. Safe to call more than once.
bool sdl_video_start();

class SdlPlatform : public PlatformBackend {
 public:
  SdlPlatform();
  ~SdlPlatform() override;

  PlatformWindow create_main_window(const char* title, WindowProc proc) override;
  PlatformWindow create_document_window(PlatformWindow parent, WindowProc proc) override;
  void destroy_window(PlatformWindow window) override;
  void set_title(PlatformWindow window, const char* text) override;
  void client_size(PlatformWindow window, int32_t* width, int32_t* height) override;
  void set_focus(PlatformWindow window) override;
  void begin_paint(PlatformWindow window) override;
  void end_paint(PlatformWindow window) override;
  void set_clip(PlatformWindow window, const PlatformRect& rect) override;
  void fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) override;
  void blit(PlatformWindow window, int32_t x, int32_t y, int32_t width, int32_t height,
            int32_t stride, const uint32_t* pixels) override;
  bool scroll(PlatformWindow window, int32_t dx, int32_t dy,
              std::vector<PlatformRect>* uncovered) override;
  void invalidate(PlatformWindow window, const PlatformRect& rect) override;
  void set_palette(PlatformWindow window, const uint32_t* entries, int32_t count) override;
  int run_message_loop() override;
  bool input_waiting() override;
  bool mouse_move_waiting(PlatformWindow window) override;
  void set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) override;
  void kill_timer(PlatformWindow window, int32_t id) override;
  uint64_t clock_ms() override;
  void message_box(const char* text, const char* caption) override;
  [[noreturn]] void exit_process(int code) override;

  // The icon to give the main window, 0x00RRGGBB pixels row by row; none by default.
  void set_icon(std::vector<uint32_t> rgb, int32_t width, int32_t height) {
    icon_ = std::move(rgb);
    icon_width_ = width;
    icon_height_ = height;
  }
  // Tests: run `handler` instead of ending the process; it must not return (throw).
  void set_exit_handler(std::function<void(int)> handler) { exit_handler_ = std::move(handler); }
  // Handles what is waiting (SDL events, paints, due timers) without sleeping; false once
  // nothing was left to do. Tests drive the platform with it.
  bool dispatch_one();
  SDL_Window* sdl_window() const { return window_; }
  const Frame& frame() const { return frame_; }
  const std::string& title() const { return title_; }
  bool icon_set() const { return icon_set_; }

 private:
  enum : PlatformWindow { kMain = 1, kDocument = 2 };
  WindowProc proc_of(PlatformWindow window) const;
  bool alive(PlatformWindow window) const;
  void deliver(const Message& message);
  void translate(const SDL_Event& event);
  void sync_size();
  void present();
  SdlTarget target() const;

  SDL_Window* window_ = nullptr;
  WindowProc main_proc_ = nullptr;
  WindowProc document_proc_ = nullptr;
  bool main_alive_ = false;
  bool document_alive_ = false;
  int paint_depth_ = 0;
  std::string title_;
  std::vector<uint32_t> icon_;
  int32_t icon_width_ = 0;
  int32_t icon_height_ = 0;
  bool icon_set_ = false;
  Frame frame_;
  TimerQueue timers_;
  SdlEventTranslator translator_;
  MessageQueue queue_;  // translated messages not yet delivered
  std::function<void(int)> exit_handler_;
};
