#include "display/display.h"

#include <cmath>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "display/canvas.h"
#include "display/transform.h"
#include "display/zone.h"

namespace {


bool rect_empty(const Rect& r) { return !(r.x_min < r.x_max && r.y_min < r.y_max); }

// Subtracts `r` from the zone; a first rectangle that subtraction cannot remove (no area)
// is dropped so that no loop over the zone can stall on it.
void zone_take(Handle zone, const Rect& r) {
  zone_subtract(zone, r);
  Rect* first;
  if (zone_first(zone, &first) && std::memcmp(first, &r, sizeof r) == 0) zone_drop_first(zone);
}

Rect client_world(const DisplayWindow* w, const View* v) {
  return view_window_to_world(v, Rect{0, 0, double(w->client_width), double(w->client_height)});
}

// The window's display list of a level, or null.
DisplayList* list_of_level(const DisplayWindow* w, int32_t level, Layer** layer) {
  if (w->members == 0) return nullptr;
  Handle h = 0;
  DisplayList* list;
  for (group_find_next(w->members, TYPE_DISPLAY_LIST, &h, &list); h != 0;
       group_find_next(w->members, TYPE_DISPLAY_LIST, &h, &list)) {
    Layer* l = obj_get<Layer>(TYPE_LAYER, list->layer);
    if (l != nullptr && l->level == level) {
      *layer = l;
      return list;
    }
  }
  return nullptr;
}

void add_to_list_zones(const DisplayWindow* w, int32_t from, int32_t to, const Rect& r) {
  for (int32_t level = from; level <= to; ++level) {
    Layer* layer;
    if (DisplayList* list = list_of_level(w, level, &layer)) zone_add(list->zone, r);
  }
}

// Paints the zone of one display list; false when the slice gave way to waiting input.
bool paint_list(DisplayWindow* w, View* v, DisplayList* list, Layer* layer) {
  PlatformBackend* p = platform();
  Display& display = *w->display;
  Rect* first;
  while (g_error == 0 && zone_first(list->zone, &first)) {
    const Rect z = *first;
    if (display.time_slicing && double(p->clock_ms() - display.slice_start) * 0.001 > kTimeSlice &&
        p->input_waiting())
      return false;
    DisplayNode* node = list->root;
    Rect in;
    if (node == nullptr || !rect_intersect(node->rect, z, &in)) {
      zone_take(list->zone, z);
      continue;
    }
    zone_take(list->zone, in);
    GroupRecord* objects = obj_get<GroupRecord>(TYPE_GROUP, layer->objects);
    for (int32_t i = 0; i < node->count; ++i) {
      const Handle object = node->items[i].object;
      if (object == 0) {
        canvas_fill_white(display.canvas, v, in);
        continue;
      }
      void* ptr = nullptr;
      int32_t type = 0;
      if (objects == nullptr) break;
      group_lookup(objects, object, &ptr, &type);
      if (ptr != nullptr && type >= 0 && type < kTypeCount && g_draw_handlers[type] != nullptr)
        g_draw_handlers[type](ptr, type, 0, &in, w, v);
    }
  }
  return true;
}

// Paints the display lists of the levels from..to; false when interrupted.
bool paint_lists(DisplayWindow* w, View* v, int32_t from, int32_t to) {
  for (int32_t level = from; level <= to; ++level) {
    Layer* layer;
    DisplayList* list = list_of_level(w, level, &layer);
    if (list == nullptr) continue;
    if (layer->scene != v->scene) return true;
    if (!paint_list(w, v, list, layer)) return false;
  }
  return true;
}

}  // namespace

void display_types_init() {
  obj_register_type(TYPE_WINDOW, sizeof(DisplayWindow));
  obj_register_type(TYPE_VIEW, sizeof(View));
  obj_register_type(TYPE_SCENE, sizeof(Scene));
  obj_register_type(TYPE_LAYER, sizeof(Layer));
  obj_register_type(TYPE_DISPLAY_LIST, sizeof(DisplayList));
  obj_register_type(TYPE_LAYER_LINK, sizeof(LayerLink));
}

void window_create(Display& display, PlatformWindow platform_window, uint32_t colour_bgr, Handle* handle,
                   DisplayWindow** ptr) {
  *ptr = nullptr;
  DisplayWindow* w;
  obj_create(TYPE_WINDOW, handle, &w);
  if (w == nullptr) return;
  w->display = &display;
  w->platform_window = platform_window;
  w->background[0] = colour_bgr & 255;
  w->background[1] = (colour_bgr >> 8) & 255;
  w->background[2] = (colour_bgr >> 16) & 255;
  platform()->client_size(platform_window, &w->client_width, &w->client_height);
  Handle window = *handle;
  Handle zones[3];
  for (Handle& z : zones) zone_create(window, &z);
  if (g_error != 0) return;
  w = obj_get<DisplayWindow>(TYPE_WINDOW, window);
  w->background_zone = zones[0];
  w->main_zone = zones[1];
  w->overlay_zone = zones[2];
  w->fresh = 1;
  platform()->set_focus(platform_window);
  if (display.timer_window == 0) display.timer_window = platform_window;
  *ptr = w;
}

void window_set_title(Handle window, const char* text) {
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  if (w != nullptr) platform()->set_title(w->platform_window, text);
}

void window_release(Handle window) {
  DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, window);
  if (w == nullptr) return;
  zone_destroy(w->background_zone);
  zone_destroy(w->main_zone);
  zone_destroy(w->overlay_zone);
  mem_free(&w->palette);
  obj_destroy(TYPE_WINDOW, window);
}

void scene_create(Handle* handle) {
  Scene* scene;
  obj_create(TYPE_SCENE, handle, &scene);
}

void view_create(Handle window, Handle scene, Handle group, Handle* handle) {
  View* v;
  obj_create(TYPE_VIEW, handle, &v);
  if (v == nullptr) return;
  v->scale_x = v->scale_y = 1.0;
  v->window = window;
  v->scene = scene;
  if (group != 0) group_add(group, TYPE_VIEW, *handle, v);
}

void layer_create(Handle objects, Handle extents, Handle scene, Handle window, int32_t level, Handle* handle) {
  Layer* layer;
  obj_create(TYPE_LAYER, handle, &layer);
  if (layer == nullptr) return;
  layer->scene = scene;
  layer->level = level;
  layer->objects = objects;
  layer->extents = extents;
  if (window == 0) return;
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  if (w != nullptr) group_add(w->members, TYPE_LAYER, *handle, layer);
}

void link_create(int32_t priority, Handle object, Handle group, Handle* handle) {
  LayerLink* link;
  obj_create(TYPE_LAYER_LINK, handle, &link);
  if (link == nullptr) return;
  link->priority = priority;
  link->object = object;
  if (group != 0) group_add(group, TYPE_LAYER_LINK, *handle, link);
}

namespace {

void dlist_insert(DisplayNode* node, Handle object, int32_t priority) {
  for (int32_t i = 0; i < node->count; ++i)
    if (node->items[i].object == object) return;  // filed once only
  if (mem_realloc(&node->items, sizeof(DisplayItem) * (node->count + 1)) == nullptr) return;
  int32_t at = node->count;
  while (at > 0 && node->items[at - 1].priority > priority) --at;
  std::memmove(node->items + at + 1, node->items + at, sizeof(DisplayItem) * (node->count - at));
  node->items[at] = DisplayItem{object, priority};
  ++node->count;
}

}  // namespace

void dlist_create(Handle window, Handle layer_handle, Handle* handle) {
  *handle = 0;
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  Layer* layer = obj_require<Layer>(TYPE_LAYER, layer_handle);
  if (w == nullptr || layer == nullptr) return;
  Scene* scene = obj_require<Scene>(TYPE_SCENE, layer->scene);
  if (scene == nullptr) return;
  const Rect extent = scene->extent;
  const Handle members = w->members;
  DisplayList* list;
  Handle h;
  obj_create(TYPE_DISPLAY_LIST, &h, &list);
  if (list == nullptr) return;
  if (layer->level > w->display->highest_level) w->display->highest_level = layer->level;
  list->layer = layer_handle;
  list->root_rect = extent;
  DisplayNode* node = nullptr;
  if (mem_alloc(&node, sizeof(DisplayNode)) == nullptr) {
    obj_destroy(TYPE_DISPLAY_LIST, h);
    return;
  }
  std::memset(node, 0, sizeof *node);
  node->rect = extent;
  list->root = node;
  group_add(members, TYPE_DISPLAY_LIST, h, list);
  Handle zone;
  zone_create(h, &zone);
  if (g_error != 0) {
    dlist_destroy(h, members);
    return;
  }
  list->zone = zone;
  group_add(members, TYPE_GROUP, zone, obj_get<GroupRecord>(TYPE_GROUP, zone));
  dlist_insert(node, 0, 0);
  *handle = h;
}

void dlist_destroy(Handle list_handle, Handle window_group) {
  DisplayList* list = obj_require<DisplayList>(TYPE_DISPLAY_LIST, list_handle);
  if (list == nullptr) return;
  if (window_group != 0) {
    group_remove(window_group, list->zone);
    zone_destroy(list->zone);
    group_remove(window_group, list_handle);
  }
  if (list->root != nullptr) mem_free(&list->root->items);
  mem_free(&list->root);
  obj_destroy(TYPE_DISPLAY_LIST, list_handle);
}

void dlist_file_group(Handle list_handle, Handle group, Handle extents) {
  DisplayList* list = obj_require<DisplayList>(TYPE_DISPLAY_LIST, list_handle);
  if (list == nullptr || list->root == nullptr) return;
  Handle h = 0;
  void* ptr;
  for (group_find_next(group, TYPE_IMAGE, &h, &ptr); h != 0; group_find_next(group, TYPE_IMAGE, &h, &ptr)) {
    ExtentRecord* extent;
    extent_list_get(extents, h, &extent);
    Rect overlap;
    if (extent == nullptr || !rect_intersect(extent->rect, list->root_rect, &overlap)) continue;
    int32_t priority = 0;
    Handle lh = 0;
    LayerLink* link;
    for (group_find_next(group, TYPE_LAYER_LINK, &lh, &link); lh != 0;
         group_find_next(group, TYPE_LAYER_LINK, &lh, &link))
      if (link->object == h) {
        priority = link->priority;
        break;
      }
    dlist_insert(list->root, h, priority);
  }
}

void dlist_remove(Handle list_handle, Handle, Handle object) {
  DisplayList* list = obj_require<DisplayList>(TYPE_DISPLAY_LIST, list_handle);
  if (list == nullptr || list->root == nullptr || object == 0) return;
  DisplayNode* node = list->root;
  for (int32_t i = 0; i < node->count; ++i) {
    if (node->items[i].object != object) continue;
    std::memmove(node->items + i, node->items + i + 1, sizeof(DisplayItem) * (node->count - i - 1));
    --node->count;
    return;
  }
}

namespace {

// Invalidates a world rectangle in every view of the scene.
void invalidate_views(Handle scene, const Rect& world) {
  Handle h = 0;
  View* v;
  for (obj_next(TYPE_VIEW, &h, &v); h != 0; obj_next(TYPE_VIEW, &h, &v))
    if (v->scene == scene) window_invalidate(v->window, h, world);
}

}  // namespace

void layer_add_object(int32_t type, Handle object, Handle old_extents, Handle list, Handle layer_handle) {
  Layer* layer = obj_require<Layer>(TYPE_LAYER, layer_handle);
  if (layer == nullptr) return;
  void* ptr = obj_require<void>(type, object);
  if (ptr == nullptr) return;
  const Handle objects = layer->objects, extents = layer->extents, scene = layer->scene;
  group_add(objects, type, object, ptr);
  // The layer keeps its own copy of the extent, so that it can release it on removal.
  ExtentRecord* old;
  extent_list_get(old_extents, object, &old);
  if (old != nullptr) {
    ExtentRecord* copy = nullptr;
    if (mem_alloc(&copy, sizeof(ExtentRecord)) == nullptr) return;
    *copy = *old;
    extent_list_add(extents, objects, object, copy);
  } else {
    group_measure_one(extents, objects, type, object, ptr);
  }
  if (g_error != 0) return;
  dlist_file_group(list, objects, extents);
  ExtentRecord* extent;
  extent_list_get(extents, object, &extent);
  if (extent != nullptr) invalidate_views(scene, extent->rect);
}

void layer_remove_object(Handle object, Handle list, Handle layer_handle) {
  Layer* layer = obj_require<Layer>(TYPE_LAYER, layer_handle);
  if (layer == nullptr) return;
  const Handle objects = layer->objects, extents = layer->extents, scene = layer->scene;
  ExtentRecord* extent;
  extent_list_get(extents, object, &extent);
  if (extent != nullptr) invalidate_views(scene, extent->rect);
  dlist_remove(list, extents, object);
  extent_list_remove(extents, objects, object);
  mem_free(&extent);
  group_remove(objects, object);
}

void window_set_paint_rect(DisplayWindow* w, View* v, const Rect& world) {
  Rect r = view_world_to_window(v, world);
  if (r.x_min < 0) r.x_min = 0;
  if (r.y_min < 0) r.y_min = 0;
  if (r.x_max > w->client_width) r.x_max = w->client_width;
  if (r.y_max > w->client_height) r.y_max = w->client_height;
  w->paint_rect = r;
  platform()->set_clip(w->platform_window, PlatformRect{static_cast<int32_t>(r.x_min), static_cast<int32_t>(r.y_min),
                                                        static_cast<int32_t>(r.x_max), static_cast<int32_t>(r.y_max)});
}

void window_invalidate(Handle window, Handle view, const Rect& world) {
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  View* v = obj_require<View>(TYPE_VIEW, view);
  if (w == nullptr || v == nullptr) return;
  Scene* scene = obj_require<Scene>(TYPE_SCENE, v->scene);
  if (scene == nullptr || rect_empty(world)) return;
  Rect* first;
  Rect overlap;
  if (zone_first(w->overlay_zone, &first) && !w->fresh && rect_intersect(world, *first, &overlap)) w->fresh = 1;
  if (zone_first(w->main_zone, &first) && !w->fresh && rect_intersect(world, *first, &overlap)) w->fresh = 1;
  zone_add(w->background_zone, world);
  zone_subtract(w->background_zone, scene->extent);
  if (rect_intersect(world, scene->extent, &overlap)) {
    zone_add(w->overlay_zone, overlap);
    zone_add(w->main_zone, overlap);
  }
}

void window_invalidate_region(Handle window, Handle view, const std::vector<PlatformRect>& rects) {
  for (const PlatformRect& r : rects) {
    DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
    View* v = obj_require<View>(TYPE_VIEW, view);
    if (w == nullptr || v == nullptr) return;
    if (r.left < 1 && r.top < 1 && r.right >= w->client_width - 1 && r.bottom >= w->client_height - 1) {
      zone_clear(w->background_zone);
      zone_clear(w->main_zone);
      zone_clear(w->overlay_zone);
      w->fresh = 1;
    }
    Rect world = view_window_to_world(v, Rect{double(r.left), double(r.top), double(r.right + 1), double(r.bottom + 1)});
    window_invalidate(window, view, world);
  }
}

void window_redraw(Handle window, Handle view) {
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  View* v = obj_require<View>(TYPE_VIEW, view);
  if (w == nullptr || v == nullptr) return;
  Scene* scene = obj_require<Scene>(TYPE_SCENE, v->scene);
  if (scene == nullptr) return;
  PlatformBackend* p = platform();
  Display& display = *w->display;
  // One run of the redraw is one slice: it gives way once it has run for longer than the
  // slice while input is waiting, and the timer starts the next slice.
  display.slice_start = p->clock_ms();
  p->begin_paint(w->platform_window);
  if (rect_empty(scene->extent)) {
    zone_clear(w->main_zone);
    zone_clear(w->overlay_zone);
  }
  bool interrupted = false;
  Rect* first;
  // Main pass: the level-0 lists, through the canvas.
  while (g_error == 0 && zone_first(w->main_zone, &first)) {
    const Rect r = *first;
    if (w->fresh) {
      add_to_list_zones(w, 0, 0, r);
      canvas_begin(display.canvas, *w, v, r);
    }
    if (!paint_lists(w, v, 0, 0)) {
      interrupted = true;
      break;
    }
    window_set_paint_rect(w, v, view_window_to_world(v, display.canvas.rect));
    canvas_blit(display.canvas, *w);
    zone_take(w->main_zone, r);
    w->fresh = 1;
  }
  // Background pass: what lies outside the scene takes the window's colour.
  while (!interrupted && g_error == 0 && zone_first(w->background_zone, &first)) {
    const Rect r = *first;
    window_set_paint_rect(w, v, r);
    const Rect& pr = w->paint_rect;
    uint32_t colour = (uint32_t{w->background[0]} << 16) | (uint32_t{w->background[1]} << 8) | w->background[2];
    p->fill_rect(w->platform_window, PlatformRect{static_cast<int32_t>(pr.x_min), static_cast<int32_t>(pr.y_min),
                                                  static_cast<int32_t>(pr.x_max), static_cast<int32_t>(pr.y_max)}, colour);
    zone_take(w->background_zone, r);
  }
  // Overlay pass: lists above level 0 paint straight into the window.
  while (!interrupted && g_error == 0 && zone_first(w->overlay_zone, &first)) {
    const Rect r = *first;
    window_set_paint_rect(w, v, r);
    if (w->fresh) add_to_list_zones(w, 1, display.highest_level, r);
    if (!paint_lists(w, v, 1, display.highest_level)) {
      interrupted = true;
      break;
    }
    zone_take(w->overlay_zone, r);
    w->fresh = 1;
  }
  if (interrupted) {
    w->fresh = 0;
    p->set_timer(display.timer_window, kRedrawTimer, 0);
  }
  p->end_paint(w->platform_window);
}

void window_redraw_all(Handle window, Handle view) {
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  View* v = obj_require<View>(TYPE_VIEW, view);
  if (w == nullptr || v == nullptr) return;
  zone_clear(w->background_zone);
  zone_clear(w->main_zone);
  zone_clear(w->overlay_zone);
  w->fresh = 1;
  window_invalidate(window, view, client_world(w, v));
  window_redraw(window, view);
}

void window_scroll(Handle window, Handle view, int32_t dx, int32_t dy) {
  DisplayWindow* w = obj_require<DisplayWindow>(TYPE_WINDOW, window);
  View* v = obj_require<View>(TYPE_VIEW, view);
  if (w == nullptr || v == nullptr) return;
  v->origin_x -= dx / v->scale_x;
  v->origin_y -= dy / v->scale_y;
  Rect* first;
  if (zone_first(w->main_zone, &first)) w->fresh = 1;
  const Rect visible = client_world(w, v);
  zone_clip(w->background_zone, visible);
  zone_clip(w->main_zone, visible);
  zone_clip(w->overlay_zone, visible);
  Handle h = 0;
  DisplayList* list;
  if (w->members != 0)
    for (group_find_next(w->members, TYPE_DISPLAY_LIST, &h, &list); h != 0;
         group_find_next(w->members, TYPE_DISPLAY_LIST, &h, &list))
      zone_clip(list->zone, visible);
  std::vector<PlatformRect> uncovered;
  if (!platform()->scroll(w->platform_window, -dx, -dy, &uncovered)) {
    g_error = ERR_SYSTEM;
    return;
  }
  window_invalidate_region(window, view, uncovered);
  window_redraw(window, view);
}
