// Windows, views, scenes, layers and display lists, and the time-sliced redraw cycle that
// paints what the update zones say must be repainted.
#pragma once
#include <cstdint>
#include <vector>

#include "core/rect.h"
#include "display/display_types.h"
#include "platform/platform.h"

constexpr int32_t kRedrawTimer = 1;   // resumes an interrupted redraw
constexpr double kTimeSlice = 0.15;   // seconds a redraw may keep waiting input waiting

// Registers the display's types.
void display_types_init();

// A window record over a platform window; it paints with `display`, which must outlive it.
void window_create(Display& display, PlatformWindow platform_window, uint32_t colour_bgr, Handle* handle,
                   DisplayWindow** ptr);
void window_set_title(Handle window, const char* text);
// Releases the window record and its zones and palette; the platform window stays.
void window_release(Handle window);
void view_create(Handle window, Handle scene, Handle group, Handle* handle);
void scene_create(Handle* handle);
void layer_create(Handle objects, Handle extents, Handle scene, Handle window, int32_t level, Handle* handle);
void link_create(int32_t priority, Handle object, Handle group, Handle* handle);

void dlist_create(Handle window, Handle layer, Handle* handle);
void dlist_destroy(Handle list, Handle window_group);
void dlist_file_group(Handle list, Handle group, Handle extents);
void dlist_remove(Handle list, Handle extents, Handle object);

void layer_add_object(int32_t type, Handle object, Handle old_extents, Handle list, Handle layer);
void layer_remove_object(Handle object, Handle list, Handle layer);

void window_set_paint_rect(DisplayWindow* window, View* view, const Rect& world);
void window_invalidate(Handle window, Handle view, const Rect& world);
void window_invalidate_region(Handle window, Handle view, const std::vector<PlatformRect>& rects);
void window_redraw(Handle window, Handle view);
void window_redraw_all(Handle window, Handle view);
void window_scroll(Handle window, Handle view, int32_t dx, int32_t dy);
