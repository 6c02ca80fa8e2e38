// The drawing canvas of a redraw pass (its record is in display_types.h), the fixed palette,
// and the image handlers that paint into the canvas.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/rect.h"
#include "display/display_types.h"


// Opens the canvas over the window pixels of a world rectangle, within the client area, white.
void canvas_begin(Canvas& canvas, const DisplayWindow& window, const View* view, const Rect& world);
void canvas_fill_white(Canvas& canvas, const View* view, const Rect& world);
// Copies the canvas to the window (the caller has set the clip rectangle).
void canvas_blit(const Canvas& canvas, const DisplayWindow& window);
void canvas_release(Canvas& canvas);
void canvas_create_palette(Handle window);

constexpr int32_t kFixedPaletteSize = 236;
// Entry i of the fixed palette as 0x00RRGGBB: a 6x6x6 colour cube, then 20 greys.
uint32_t fixed_palette_entry(int32_t i);

// The draw and extent handlers of image records.
void image_draw(void* object, int32_t type, Handle handle, const Rect* world, void* window, void* view);
struct GroupRecord;
void image_measure(void* object, int32_t type, GroupRecord* group, int32_t, int32_t, Handle list);
