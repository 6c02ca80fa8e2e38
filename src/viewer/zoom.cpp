#include "viewer/zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/errors.h"
#include "display/display.h"
#include "image/image.h"

namespace {

constexpr int32_t kMaxZoomIn = 4;
constexpr int32_t kScrollLine = 5;  // pixels an arrow key scrolls
constexpr double kSquareRootOfTwo = 1.4142135623730951;
constexpr int32_t kMaxSteps = 128;  // far beyond any image the memory can hold


// Nearest whole number, exact halves towards zero, limited to what an int32 holds.
int32_t round_half_in(double x) {
  if (!(x == x)) return 0;
  double a = std::fabs(x);
  double whole = std::floor(a);
  double r = a - whole > 0.5 ? whole + 1 : whole;
  if (r > 2e9) r = 2e9;
  return static_cast<int32_t>(x < 0 ? -r : r);
}

// The smallest n >= 0 with 1 / zoom_factor(n) <= scale.
int32_t steps_to_reduce(double scale) {
  int32_t n = 0;
  while (n < kMaxSteps && 1.0 / zoom_factor(n) > scale) ++n;
  return n;
}

}  // namespace

void zoom_reset(Viewer& viewer) {
  viewer.zoom = ZoomState{};
  viewer.scroll = ScrollState{};
}

double zoom_factor(int32_t steps) {
  double f = std::ldexp(1.0, steps / 2);
  return steps % 2 != 0 ? f * kSquareRootOfTwo : f;
}

void zoom_fit_update(Viewer& viewer, int32_t width, int32_t height) {
  if (viewer.current_image == 0) return;
  ImageRecord* image = obj_require<ImageRecord>(TYPE_IMAGE, viewer.current_image);
  if (image == nullptr) return;
  // A window without area has nothing to fit into: keep what was computed before.
  if (width <= 0 || height <= 0) return;
  double fit = std::fmin(double(width) / image->width, double(height) / image->height);
  if (!(fit < 1.0)) fit = 1.0;  // never enlarged to fit (also an image without pixels)
  viewer.zoom.fit_ratio = fit;
  viewer.zoom.zoom_out_limit = steps_to_reduce(fit);
}

void zoom_snap(Viewer& viewer, double scale) {
  if (scale < 1) {
    viewer.zoom.zoom_in_steps = 0;
    int32_t n = steps_to_reduce(scale);
    bool nearer = n == 0 || std::fabs(scale - 1 / zoom_factor(n)) <= std::fabs(scale - 1 / zoom_factor(n - 1));
    viewer.zoom.zoom_out_steps = nearer ? n : n - 1;
  } else {
    viewer.zoom.zoom_out_steps = 0;
    int32_t n = 0;
    while (n < kMaxSteps && zoom_factor(n) < scale) ++n;
    bool nearer = n == 0 || std::fabs(scale - zoom_factor(n)) <= std::fabs(scale - zoom_factor(n - 1));
    viewer.zoom.zoom_in_steps = nearer ? n : n - 1;
  }
}

void view_centre_on(Viewer& viewer, double cx, double cy, double scale) {
  DisplayWindow* window = obj_require<DisplayWindow>(TYPE_WINDOW, viewer.document_window);
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (window == nullptr || view == nullptr || !(scale > 0)) return;
  view->scale_x = view->scale_y = scale;
  view->origin_x = window->client_width / (2 * scale) - cx;
  view->origin_y = window->client_height / (2 * scale) - cy;
}

void zoom_set(Viewer& viewer, bool fit, double scale) {
  if (fit) scale = viewer.zoom.fit_ratio;
  zoom_snap(viewer, scale);
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (view == nullptr) return;
  Scene* scene = obj_require<Scene>(TYPE_SCENE, view->scene);
  if (scene == nullptr) return;
  view_centre_on(viewer, (scene->extent.x_min + scene->extent.x_max) / 2, (scene->extent.y_min + scene->extent.y_max) / 2,
                 scale);
}

bool zoom_step(Viewer& viewer, int32_t delta, double* scale) {
  ZoomState& z = viewer.zoom;
  if (delta > 0) {
    if (z.zoom_in_steps >= kMaxZoomIn) return false;
    for (; delta > 0 && z.zoom_out_steps > 0; --delta) --z.zoom_out_steps;
    for (; delta > 0 && z.zoom_in_steps < kMaxZoomIn; --delta) ++z.zoom_in_steps;
  } else if (delta < 0) {
    if (z.zoom_out_limit != 0 && z.zoom_out_steps >= z.zoom_out_limit) return false;
    for (delta = -delta; delta > 0 && z.zoom_in_steps > 0; --delta) --z.zoom_in_steps;
    for (; delta > 0 && z.zoom_out_steps < z.zoom_out_limit; --delta) ++z.zoom_out_steps;
  }
  *scale = zoom_factor(z.zoom_in_steps) / zoom_factor(z.zoom_out_steps);
  return true;
}

void zoom_by(Viewer& viewer, int32_t delta) {
  DisplayWindow* window = obj_require<DisplayWindow>(TYPE_WINDOW, viewer.document_window);
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (window == nullptr || view == nullptr) return;
  double scale;
  if (!zoom_step(viewer, delta, &scale)) return;
  double cx = window->client_width / (2 * view->scale_x) - view->origin_x;
  double cy = window->client_height / (2 * view->scale_y) - view->origin_y;
  view_centre_on(viewer, cx, cy, scale);
}

void zoom_at(Viewer& viewer, int32_t px, int32_t py, int32_t delta) {
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (view == nullptr) return;
  double scale;
  if (!zoom_step(viewer, delta, &scale)) return;
  double wx = px / view->scale_x - view->origin_x;
  double wy = py / view->scale_y - view->origin_y;
  view->scale_x = view->scale_y = scale;
  view->origin_x = px / scale - wx;
  view->origin_y = py / scale - wy;
  view_refresh(viewer);
}

void view_place(Viewer& viewer, double origin_x, double origin_y, double scale) {
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (obj_require<DisplayWindow>(TYPE_WINDOW, viewer.document_window) == nullptr || view == nullptr) return;
  view->origin_x = origin_x;
  view->origin_y = origin_y;
  view->scale_x = view->scale_y = scale;
}

void view_drag(Viewer& viewer, int32_t px, int32_t py, bool moving) {
  if (moving) window_scroll(viewer.document_window, viewer.view, viewer.scroll.drag_x - px, viewer.scroll.drag_y - py);
  viewer.scroll.drag_x = px;
  viewer.scroll.drag_y = py;
}

void scroll_ranges_update(Viewer& viewer) {
  DisplayWindow* window = obj_require<DisplayWindow>(TYPE_WINDOW, viewer.document_window);
  View* view = obj_require<View>(TYPE_VIEW, viewer.view);
  if (window == nullptr || view == nullptr) return;
  Scene* scene = obj_require<Scene>(TYPE_SCENE, view->scene);
  if (scene == nullptr) return;
  Rect e = scene->extent;
  const double ox = view->origin_x, oy = view->origin_y, sx = view->scale_x, sy = view->scale_y;
  if (ox > 0) e.x_max += ox;
  if (oy > 0) e.y_max += oy;
  double x0 = e.x_min * sx, x1 = e.x_max * sx, y0 = e.y_min * sy, y1 = e.y_max * sy;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  ScrollState& s = viewer.scroll;
  s.scroll_v = round_half_in(-oy * sy);
  s.scroll_v_min = std::min(round_half_in(y0), s.scroll_v);
  s.scroll_v_max = round_half_in(y1);
  s.page_v = std::min<int64_t>(window->client_height,
                               std::llabs(int64_t{s.scroll_v_max} - s.scroll_v_min) + std::min<int64_t>(0, int64_t{s.scroll_v_min} - s.scroll_v));
  s.scroll_h = round_half_in(-ox * sx);
  s.scroll_h_min = std::min(round_half_in(x0), s.scroll_h);
  s.scroll_h_max = round_half_in(x1);
  s.page_h = std::min<int64_t>(window->client_width,
                               std::llabs(int64_t{s.scroll_h_max} - s.scroll_h_min) + std::min<int64_t>(0, int64_t{s.scroll_h_min} - s.scroll_h));
}

void scroll_command(Viewer& viewer, int32_t command) {
  ScrollState& s = viewer.scroll;
  int64_t dv = 0, dh = 0;
  switch (command) {
    case SCROLL_LINE_UP: dv = -kScrollLine; break;
    case SCROLL_LINE_DOWN: dv = kScrollLine; break;
    case SCROLL_PAGE_UP: dv = -int64_t{s.page_v}; break;
    case SCROLL_PAGE_DOWN: dv = s.page_v; break;
    case SCROLL_TOP: dv = -int64_t{s.scroll_v}; break;
    case SCROLL_BOTTOM: dv = int64_t{s.scroll_v_max} - s.page_v - s.scroll_v + 1; break;
    case SCROLL_NONE_V: break;
    case SCROLL_LINE_LEFT: dh = -kScrollLine; break;
    case SCROLL_LINE_RIGHT: dh = kScrollLine; break;
    case SCROLL_PAGE_LEFT: dh = -int64_t{s.page_h}; break;
    case SCROLL_PAGE_RIGHT: dh = s.page_h; break;
    case SCROLL_LEFT_END: dh = -int64_t{s.scroll_h}; break;
    case SCROLL_RIGHT_END: dh = int64_t{s.scroll_h_max} - s.page_h - s.scroll_h + 1; break;
    case SCROLL_NONE_H: break;
    default:
      g_error = ERR_VALUE;
      return;
  }
  int64_t v = std::max<int64_t>(s.scroll_v_min, s.scroll_v + dv);
  if (v >= int64_t{s.scroll_v_max} - s.page_v + 1) v = int64_t{s.scroll_v_max} - s.page_v + 1;
  int64_t h = std::max<int64_t>(s.scroll_h_min, s.scroll_h + dh);
  if (h >= int64_t{s.scroll_h_max} - s.page_h + 1) h = int64_t{s.scroll_h_max} - s.page_h + 1;
  const int32_t old_v = s.scroll_v, old_h = s.scroll_h;
  s.scroll_v = static_cast<int32_t>(v);
  s.scroll_h = static_cast<int32_t>(h);
  if (s.scroll_v == old_v && s.scroll_h == old_h) return;
  window_scroll(viewer.document_window, viewer.view, s.scroll_h - old_h, s.scroll_v - old_v);
}

void view_refresh(Viewer& viewer) {
  scroll_ranges_update(viewer);
  window_redraw_all(viewer.document_window, viewer.view);
}
