// The headless platform: windows are in-memory frame buffers, messages come from a queue that
// the caller fills, time is a virtual clock and timers fire when the caller says so. The
// viewer runs on it unchanged; tests and --screenshot drive it and read back the result.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/frame.h"
#include "platform/message_queue.h"
#include "platform/platform.h"
#include "platform/timer_queue.h"

// Thrown by exit_process so that the process "ends" without ending the caller.
struct HeadlessExit {
  int code;
};

class HeadlessPlatform : public PlatformBackend {
 public:
  explicit HeadlessPlatform(int32_t width = 800, int32_t height = 600);
  ~HeadlessPlatform() override;

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

  // --- Driving the platform ---
  // Runs `work` as platform code: an exit_process inside it is caught. False once exited.
  bool guard(const std::function<void()>& work);
  void post(const Message& message);
  void key(int32_t code);                          // a key down for the main window
  void mouse(MessageKind kind, int32_t x, int32_t y, bool left_button = false);  // document
  void drop(const std::vector<std::string>& paths);  // onto the document window
  // New client size of the main window (and so of the document window) and its MSG_SIZE.
  void resize(int32_t width, int32_t height, int32_t size_kind = SIZE_RESTORED);
  // Delivers queued messages, then pending paints, then due timers (not while input is
  // said to be waiting), until nothing is left; false once the process has exited.
  bool pump(int64_t max_messages = 1000000);
  // Fires the pending timer `id` now, whatever its delay; false when none is pending.
  bool fire_timer(int32_t id);
  // Moves the clock on by `ms`, firing every timer that falls due on the way, in order.
  void advance(uint64_t ms);
  bool timer_pending(int32_t id, uint64_t* due = nullptr) const;
  void set_input_waiting(bool waiting) { input_flag_ = waiting; }
  // Every clock reading moves the clock on by `ms` (0: time stands still).
  void set_clock_step(uint64_t ms) { clock_step_ = ms; }
  // Makes window creation fail, as a system out of resources would.
  void set_window_creation_fails(bool fails) { creation_fails_ = fails; }

  // --- Reading back ---
  PlatformWindow main_window() const { return main_; }
  PlatformWindow document_window() const { return document_; }
  const std::string& title(PlatformWindow window) const;
  const std::vector<uint32_t>& pixels(PlatformWindow window) const;
  int32_t width(PlatformWindow window) const;
  int32_t height(PlatformWindow window) const;
  PlatformWindow focus() const { return focus_; }
  const std::vector<uint32_t>& palette() const { return palette_; }
  const std::vector<std::string>& message_boxes() const { return boxes_; }
  bool exited() const { return exited_; }
  int exit_code() const { return exit_code_; }
  // Counts of pixels written by fills and blits since the last reset (repaint checks).
  int64_t painted_pixels() const { return painted_; }
  void reset_painted() { painted_ = 0; }
  // Sets every pixel of a window to `colour` (to see what a later paint touches).
  void clear_pixels(PlatformWindow window, uint32_t colour);

 private:
  struct Window {
    PlatformWindow id = 0;
    PlatformWindow parent = 0;
    WindowProc proc = nullptr;
    std::string title;
    Frame frame;
    bool alive = true;
  };

  Window* find(PlatformWindow window);
  const Window* find(PlatformWindow window) const;
  PlatformWindow add_window(Window w);
  void deliver(const Message& message);
  bool step();  // one message, paint or due timer; false when idle

  std::vector<Window> windows_;
  MessageQueue queue_;
  TimerQueue timers_;
  std::vector<uint32_t> palette_;
  std::vector<std::string> boxes_;
  PlatformWindow main_ = 0;
  PlatformWindow document_ = 0;
  PlatformWindow focus_ = 0;
  int32_t work_width_;
  int32_t work_height_;
  uint64_t now_ = 0;
  uint64_t clock_step_ = 0;
  int64_t painted_ = 0;
  bool input_flag_ = false;
  bool creation_fails_ = false;
  bool exited_ = false;
  int exit_code_ = 0;
};
