// The Win32 platform: the main window of class "korvela" and the document window, a copy of
// the system's EDIT class subclassed by the program, painted through GDI on the window's
// device context. System timers, the system's message queue and message boxes serve as they
// are; window messages become the platform's messages for the two window procedures.
#pragma once
// The platform's names first: <windows.h> defines SIZE_RESTORED as a macro, which would
// otherwise rename the platform's enumerator of the same meaning and value.
#include "platform/platform.h"
#include <windows.h>

class Win32Platform : public PlatformBackend {
 public:
  explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}
  ~Win32Platform() override;

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

 private:
  static LRESULT CALLBACK main_window_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK document_window_message(HWND window, UINT message, WPARAM wparam,
                                                  LPARAM lparam);
  void deliver(const WindowProc& proc, const Message& message) const;
  // The device context of the paint pass on `window`, or null outside one.
  HDC paint_dc(PlatformWindow window) const;

  HINSTANCE instance_;
  WindowProc main_proc_ = nullptr;
  WindowProc document_proc_ = nullptr;
  WNDPROC edit_proc_ = nullptr;  // the edit control's own procedure, called first
  HWND painted_ = nullptr;       // the window of the paint pass
  HDC dc_ = nullptr;
  int paint_depth_ = 0;
  HWND palette_window_ = nullptr;
  HPALETTE palette_ = nullptr;
};
