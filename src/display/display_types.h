// The records of the display: windows, views, scenes, layers, layer links and display lists.
#pragma once
#include <cstdint>

#include "core/rect.h"
#include "core/registry.h"
#include "platform/platform.h"

struct DisplayWindow {
  Handle handle;
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
  int32_t painting;   // 1 between the start and the end of a redraw
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
