#include "display/canvas.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "core/memory.h"
#include "display/transform.h"
#include "platform/platform.h"

void canvas_begin(Canvas& canvas, const DisplayWindow& window, const View* view, const Rect& world) {
  Rect r = view_world_to_window(view, world);
  // Nothing outside the client area can be seen: the canvas never covers more than it.
  r.x_min = std::max(r.x_min, 0.0);
  r.y_min = std::max(r.y_min, 0.0);
  r.x_max = std::min(r.x_max, double(window.client_width));
  r.y_max = std::min(r.y_max, double(window.client_height));
  if (r.x_max < r.x_min) r.x_max = r.x_min;
  if (r.y_max < r.y_min) r.y_max = r.y_min;
  canvas.rect = r;
  canvas.origin_x = static_cast<int32_t>(r.x_min);
  canvas.origin_y = static_cast<int32_t>(r.y_min);
  canvas.width = static_cast<int32_t>(r.x_max) - canvas.origin_x;
  canvas.height = static_cast<int32_t>(r.y_max) - canvas.origin_y;
  canvas.row_length = (canvas.width + 3) & ~3;
  size_t needed = size_t(canvas.row_length) * size_t(canvas.height);
  if (needed > canvas.capacity || canvas.pixels == nullptr) {
    mem_free(&canvas.pixels);
    canvas.capacity = 0;
    if (mem_alloc(&canvas.pixels, std::max<size_t>(needed, 1) * 4) == nullptr) {
      g_error = ERR_MEMORY;
      return;
    }
    canvas.capacity = std::max<size_t>(needed, 1);
  }
  // A fresh canvas starts white, so that no stale pixel can ever reach the window.
  std::fill_n(canvas.pixels, needed, 0xFFFFFFu);
}

void canvas_fill_white(Canvas& canvas, const View* view, const Rect& world) {
  if (canvas.pixels == nullptr) return;
  Rect r = view_world_to_window(view, world);
  int32_t x0 = std::max(static_cast<int32_t>(std::max(r.x_min, canvas.rect.x_min)), canvas.origin_x);
  int32_t y0 = std::max(static_cast<int32_t>(std::max(r.y_min, canvas.rect.y_min)), canvas.origin_y);
  int32_t x1 = std::min(static_cast<int32_t>(std::min(r.x_max, canvas.rect.x_max)), canvas.origin_x + canvas.width);
  int32_t y1 = std::min(static_cast<int32_t>(std::min(r.y_max, canvas.rect.y_max)), canvas.origin_y + canvas.height);
  const uint32_t white = (255u << canvas.red_shift) | (255u << canvas.green_shift) | (255u << canvas.blue_shift);
  for (int32_t y = y0; y < y1; ++y)
    std::fill_n(canvas.pixels + size_t(y - canvas.origin_y) * canvas.row_length + (x0 - canvas.origin_x),
                std::max(0, x1 - x0), white);
}

void canvas_blit(const Canvas& canvas, const DisplayWindow& window) {
  if (canvas.pixels == nullptr || canvas.width <= 0 || canvas.height <= 0) return;
  platform()->blit(window.platform_window, canvas.origin_x, canvas.origin_y, canvas.width, canvas.height,
                   canvas.row_length, canvas.pixels);
}

uint32_t fixed_palette_entry(int32_t i) {
  static const uint8_t kLevels[6] = {0, 48, 96, 144, 208, 255};
  static const uint8_t kGreys[20] = {16, 24, 32, 56, 64, 72, 80, 88, 112, 120,
                                     128, 152, 160, 176, 184, 192, 216, 224, 232, 240};
  if (i < 216) return (uint32_t{kLevels[i / 36]} << 16) | (uint32_t{kLevels[i / 6 % 6]} << 8) | kLevels[i % 6];
  uint32_t g = kGreys[i - 216];
  return (g << 16) | (g << 8) | g;
}

void canvas_create_palette(Handle window_handle) {
  DisplayWindow* window = obj_require<DisplayWindow>(TYPE_WINDOW, window_handle);
  if (window == nullptr) return;
  if (mem_alloc(&window->palette, kFixedPaletteSize * sizeof(uint32_t)) == nullptr) return;
  for (int32_t i = 0; i < kFixedPaletteSize; ++i) window->palette[i] = fixed_palette_entry(i);
  platform()->set_palette(window->platform_window, window->palette, kFixedPaletteSize);
}

void canvas_release(Canvas& canvas) {
  mem_free(&canvas.pixels);
  canvas.capacity = 0;
  canvas.columns = {};
}
