// The process-wide 32-bit drawing canvas: a redraw pass opens it over a window rectangle,
// objects paint into it, and it is copied to the window in one blit.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/rect.h"
#include "display/display_types.h"

struct Canvas {
  Rect rect;  // window pixels, whole numbers
  int32_t origin_x;
  int32_t origin_y;
  int32_t width;
  int32_t height;
  int32_t row_length;  // width rounded up to a multiple of 4 pixels
  uint32_t* pixels;
  size_t capacity;  // in pixels; only grows
  int32_t red_shift;
  int32_t green_shift;
  int32_t blue_shift;
};
extern Canvas g_canvas;

void canvas_begin(DisplayWindow* window, View* view, const Rect& world);
void canvas_fill_white(DisplayWindow* window, View* view, const Rect& world);
void canvas_end(DisplayWindow* window, View* view);
void canvas_create_palette(Handle window);
void canvas_release();

constexpr int32_t kFixedPaletteSize = 236;
// Entry i of the fixed palette as 0x00RRGGBB: a 6x6x6 colour cube, then 20 greys.
uint32_t fixed_palette_entry(int32_t i);

// The draw and extent handlers of image records.
void image_draw(void* object, int32_t type, Handle handle, const Rect* world, void* window, void* view);
struct GroupRecord;
void image_measure(void* object, int32_t type, GroupRecord* group, int32_t, int32_t, Handle list);
