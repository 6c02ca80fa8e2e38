// The pixels of a window kept by the program (0x00RRGGBB, top row first), with the clip of
// the paint pass, the area touched since the last presentation, and the area waiting for a
// paint message. The headless windows are these frames; the SDL window surface is only a copy
// of one, so exposure, resizing and scrolling never lose what was painted.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/platform.h"

class Frame {
 public:
  void resize(int32_t width, int32_t height);  // keeps the pixels that still fit
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  const std::vector<uint32_t>& pixels() const { return pixels_; }
  uint32_t* data() { return pixels_.data(); }
  void clear(uint32_t colour);  // every pixel, whatever the clip; marks nothing

  void set_clip(const PlatformRect& rect);
  void reset_clip();
  // Fills and blits write only inside the clip and give the number of pixels written.
  int64_t fill(const PlatformRect& rect, uint32_t colour);
  int64_t blit(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stride,
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
