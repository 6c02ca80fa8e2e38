// The pixels of the window kept by the program (0x00RRGGBB, top row first), with the clip of
// the paint pass, the area touched since the last presentation, and the area waiting for a
// paint message. The window surface is only a copy of it, so exposure, resizing and
// scrolling never lose what was painted.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/platform.h"

class SdlFrame {
 public:
  void resize(int32_t width, int32_t height);  // keeps the pixels that still fit
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  const std::vector<uint32_t>& pixels() const { return pixels_; }
  uint32_t* data() { return pixels_.data(); }

  void set_clip(const PlatformRect& rect);
  void reset_clip();
  void fill(const PlatformRect& rect, uint32_t colour);
  void blit(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stride,
            const uint32_t* pixels);
  // Moves the pixels by (dx, dy); the uncovered strips turn black and are listed in
  // `uncovered`. A pending update area moves with the pixels.
  void scroll(int32_t dx, int32_t dy, std::vector<PlatformRect>* uncovered);

  // Area to present: what fills, blits and scrolls touched since take_dirty.
  bool has_dirty() const { return !dirty_.empty(); }
  std::vector<PlatformRect> take_dirty();
  void mark_dirty(const PlatformRect& rect);

  // Area waiting for a paint message.
  void invalidate(const PlatformRect& rect);
  bool has_update() const { return !update_.empty(); }
  std::vector<PlatformRect> take_update();

 private:
  static void add_rect(std::vector<PlatformRect>* list, PlatformRect rect, int32_t width,
                       int32_t height);
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<uint32_t> pixels_;
  PlatformRect clip_{};
  std::vector<PlatformRect> dirty_;
  std::vector<PlatformRect> update_;
};

// One-shot timers kept by the message loop: (window, id) pairs with a due time.
class SdlTimers {
 public:
  // Starting a timer replaces a pending one of the same window and id.
  void set(PlatformWindow window, int32_t id, uint64_t due);
  void kill(PlatformWindow window, int32_t id);
  // Takes out the earliest timer due at `now` (in the order they were started among equal
  // times); false when none is due.
  bool take_due(uint64_t now, PlatformWindow* window, int32_t* id);
  // Milliseconds until the next timer falls due (0 when one is due), -1 when none is pending.
  int64_t wait_time(uint64_t now) const;
  bool pending(PlatformWindow window, int32_t id) const;
  bool empty() const { return timers_.empty(); }

 private:
  struct Timer {
    PlatformWindow window;
    int32_t id;
    uint64_t due;
    uint64_t order;
  };
  std::vector<Timer> timers_;
  uint64_t order_ = 0;
};
