// View geometry: zoom in square-root-of-two steps between the fit and four times, scrolling by
// keys and by dragging, and the scroll ranges computed from the scene.
#pragma once
#include <cstdint>

#include "viewer/viewer.h"

// What a scroll key asks for: a line (5 pixels), a page, or an end of the picture.
enum ScrollCommand : int32_t {
  SCROLL_LINE_UP = 0,
  SCROLL_LINE_DOWN = 1,
  SCROLL_PAGE_UP = 2,
  SCROLL_PAGE_DOWN = 3,
  SCROLL_TOP = 4,
  SCROLL_BOTTOM = 5,
  SCROLL_NONE_V = 6,
  SCROLL_LINE_LEFT = 7,
  SCROLL_LINE_RIGHT = 8,
  SCROLL_PAGE_LEFT = 9,
  SCROLL_PAGE_RIGHT = 10,
  SCROLL_LEFT_END = 11,
  SCROLL_RIGHT_END = 12,
  SCROLL_NONE_H = 13,
};

void zoom_reset(Viewer& viewer);
double zoom_factor(int32_t steps);
void zoom_fit_update(Viewer& viewer, int32_t width, int32_t height);
void zoom_snap(Viewer& viewer, double scale);
// Fit (`fit` true) or the given scale, centred on the scene.
void zoom_set(Viewer& viewer, bool fit, double scale);
void view_centre_on(Viewer& viewer, double cx, double cy, double scale);
// Spends `delta` steps; false when the zoom is already at its bound that way.
bool zoom_step(Viewer& viewer, int32_t delta, double* scale);
void zoom_by(Viewer& viewer, int32_t delta);
void zoom_at(Viewer& viewer, int32_t px, int32_t py, int32_t delta);
void view_place(Viewer& viewer, double origin_x, double origin_y, double scale);
// A drag by the mouse: `moving` false records the starting point.
void view_drag(Viewer& viewer, int32_t px, int32_t py, bool moving);
void scroll_ranges_update(Viewer& viewer);
// Unknown commands set error 12.
void scroll_command(Viewer& viewer, int32_t command);
void view_refresh(Viewer& viewer);
