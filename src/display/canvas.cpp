#include "display/canvas.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "core/memory.h"
#include "display/display.h"
#include "display/transform.h"
#include "platform/platform.h"

Canvas g_canvas = {Rect{0, 0, 0, 0}, 0, 0, 0, 0, 0, nullptr, 0, 16, 8, 0};

void canvas_begin(DisplayWindow* window, View* view, const Rect& world) {
  Rect r = view_world_to_window(view, world);
  // Nothing outside the client area can be seen: the canvas never covers more than it.
  r.x_min = std::max(r.x_min, 0.0);
  r.y_min = std::max(r.y_min, 0.0);
  r.x_max = std::min(r.x_max, double(window->client_width));
  r.y_max = std::min(r.y_max, double(window->client_height));
  if (r.x_max < r.x_min) r.x_max = r.x_min;
  if (r.y_max < r.y_min) r.y_max = r.y_min;
  g_canvas.rect = r;
  g_canvas.origin_x = static_cast<int32_t>(r.x_min);
  g_canvas.origin_y = static_cast<int32_t>(r.y_min);
  g_canvas.width = static_cast<int32_t>(r.x_max) - g_canvas.origin_x;
  g_canvas.height = static_cast<int32_t>(r.y_max) - g_canvas.origin_y;
  g_canvas.row_length = (g_canvas.width + 3) & ~3;
  size_t needed = size_t(g_canvas.row_length) * size_t(g_canvas.height);
  if (needed > g_canvas.capacity || g_canvas.pixels == nullptr) {
    mem_free(&g_canvas.pixels);
    g_canvas.capacity = 0;
    if (mem_alloc(&g_canvas.pixels, std::max<size_t>(needed, 1) * 4) == nullptr) {
      g_error = ERR_MEMORY;
      return;
    }
    g_canvas.capacity = std::max<size_t>(needed, 1);
  }
  // A fresh canvas starts white, so that no stale pixel can ever reach the window.
  std::fill_n(g_canvas.pixels, needed, 0xFFFFFFu);
}

void canvas_fill_white(DisplayWindow*, View* view, const Rect& world) {
  if (g_canvas.pixels == nullptr) return;
  Rect r = view_world_to_window(view, world);
  int32_t x0 = std::max(static_cast<int32_t>(std::max(r.x_min, g_canvas.rect.x_min)), g_canvas.origin_x);
  int32_t y0 = std::max(static_cast<int32_t>(std::max(r.y_min, g_canvas.rect.y_min)), g_canvas.origin_y);
  int32_t x1 = std::min(static_cast<int32_t>(std::min(r.x_max, g_canvas.rect.x_max)), g_canvas.origin_x + g_canvas.width);
  int32_t y1 = std::min(static_cast<int32_t>(std::min(r.y_max, g_canvas.rect.y_max)), g_canvas.origin_y + g_canvas.height);
  const uint32_t white = (255u << g_canvas.red_shift) | (255u << g_canvas.green_shift) | (255u << g_canvas.blue_shift);
  for (int32_t y = y0; y < y1; ++y)
    std::fill_n(g_canvas.pixels + size_t(y - g_canvas.origin_y) * g_canvas.row_length + (x0 - g_canvas.origin_x),
                std::max(0, x1 - x0), white);
}

void canvas_end(DisplayWindow* window, View* view) {
  window_set_paint_rect(window, view, view_window_to_world(view, g_canvas.rect));
  if (g_canvas.pixels == nullptr || g_canvas.width <= 0 || g_canvas.height <= 0) return;
  platform()->blit(window->platform_window, g_canvas.origin_x, g_canvas.origin_y, g_canvas.width,
                   g_canvas.height, g_canvas.row_length, g_canvas.pixels);
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
  DisplayWindow* window = obj_get<DisplayWindow>(TYPE_WINDOW, window_handle);
  if (window == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (mem_alloc(&window->palette, kFixedPaletteSize * sizeof(uint32_t)) == nullptr) return;
  for (int32_t i = 0; i < kFixedPaletteSize; ++i) window->palette[i] = fixed_palette_entry(i);
  platform()->set_palette(window->platform_window, window->palette, kFixedPaletteSize);
}

void canvas_release() {
  mem_free(&g_canvas.pixels);
  g_canvas.capacity = 0;
}
