// The records of the display: windows, views, scenes, layers, layer links and display lists;
// and the redraw state that the windows of one viewer share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/rect.h"
#include "core/registry.h"
#include "platform/platform.h"

struct Display;

struct DisplayWindow {
  Handle handle;
  Display* display;  // the redraw state the window paints with
  PlatformWindow platform_window;
  uint8_t background[4];  // red, green, blue, 0
  int32_t client_width;
  int32_t client_height;
  Handle members;  // display lists (36), their zones (35), views (32), layers (34)
  Handle background_zone;
  Handle main_zone;
  Handle overlay_zone;
  Rect paint_rect;  // window pixels
  uint32_t* palette;  // the fixed palette, or null
  int32_t fresh;      // 1 when the next zone rectangle starts a new canvas
};

// A window point (px, py) shows the world point (px / scale x - origin x, py / scale y - origin y).
struct View {
  Handle handle;
  double origin_x;
  double origin_y;
  double scale_x;
  double scale_y;
  Handle window;
  Handle scene;
};

struct Scene {
  Handle handle;
  Rect extent;  // empty (min >= max) shows nothing
};

struct Layer {
  Handle handle;
  Handle scene;
  int32_t level;
  Handle objects;  // group whose type-1 members are shown
  Handle extents;  // their extent list, total keyed by `objects`
};

struct LayerLink {
  Handle handle;
  Handle object;
  int32_t priority;
};

struct DisplayItem {
  Handle object;  // 0: the white background
  int32_t priority;
};

struct DisplayNode {
  int32_t count;
  Rect rect;
  DisplayItem* items;
};

struct DisplayList {
  Handle handle;
  Handle layer;
  DisplayNode* root;
  Rect root_rect;
  Handle zone;  // the part of the list's area still to be painted
};

static_assert(kRegistryRecord<DisplayWindow> && kRegistryRecord<View> && kRegistryRecord<Scene> &&
              kRegistryRecord<Layer> && kRegistryRecord<LayerLink> && kRegistryRecord<DisplayList>);

// The 32-bit drawing canvas: a redraw pass opens it over a window rectangle, objects paint into
// it, and it is copied to the window in one blit.
struct Canvas {
  Rect rect{0, 0, 0, 0};  // window pixels, whole numbers
  int32_t origin_x = 0;
  int32_t origin_y = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t row_length = 0;  // width rounded up to a multiple of 4 pixels
  uint32_t* pixels = nullptr;
  size_t capacity = 0;  // in pixels; only grows
  int32_t red_shift = 16;
  int32_t green_shift = 8;
  int32_t blue_shift = 0;
  std::vector<int32_t> columns;  // source columns of one image draw, reused from draw to draw
};

// What the redraw cycle keeps between calls, for the windows of one viewer.
struct Display {
  Canvas canvas;
  bool time_slicing = true;        // a redraw gives way to waiting input after the slice
  int32_t highest_level = -1;      // the highest layer level that has a display list
  PlatformWindow timer_window = 0;  // the first window made owns the redraw timer
  uint64_t slice_start = 0;        // clock reading at the start of the running slice
};
