// View geometry: zoom in square-root-of-two steps between the fit and four times, scrolling
// by keys and by dragging, and the scroll ranges computed from the scene.
#include <cmath>
#include <cstdlib>

#include "core/errors.h"
#include "display/display.h"
#include "image/image.h"
#include "viewer/viewer.h"

ZoomState g_zoom;
ScrollState g_scroll;

namespace {

constexpr int32_t kMaxZoomIn = 4;
constexpr int32_t kMaxSteps = 128;  // far beyond any image the memory can hold

template <class T>
T* lookup(int32_t type, Handle handle) {
  T* p = obj_get<T>(type, handle);
  if (p == nullptr) g_error = ERR_OBJECT;
  return p;
}

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

void zoom_reset() {
  g_zoom = ZoomState{0, 0, 0, 1.0};
  g_scroll = ScrollState{};
}

double zoom_factor(int32_t steps) {
  double f = std::ldexp(1.0, steps / 2);
  return steps % 2 != 0 ? f * 1.4142135623730951 : f;
}

void zoom_fit_update(int32_t width, int32_t height) {
  if (g_current_image == 0) return;
  ImageRecord* image = lookup<ImageRecord>(TYPE_IMAGE, g_current_image);
  if (image == nullptr) return;
  // A window without area has nothing to fit into: keep what was computed before.
  if (width <= 0 || height <= 0) return;
  double fit = std::fmin(double(width) / image->width, double(height) / image->height);
  if (!(fit < 1.0)) fit = 1.0;  // never enlarged to fit (also an image without pixels)
  g_zoom.fit_ratio = fit;
  g_zoom.out_limit = steps_to_reduce(fit);
}

void zoom_snap(double scale) {
  if (scale < 1) {
    g_zoom.in_steps = 0;
    int32_t n = steps_to_reduce(scale);
    bool nearer = n == 0 || std::fabs(scale - 1 / zoom_factor(n)) <= std::fabs(scale - 1 / zoom_factor(n - 1));
    g_zoom.out_steps = nearer ? n : n - 1;
  } else {
    g_zoom.out_steps = 0;
    int32_t n = 0;
    while (n < kMaxSteps && zoom_factor(n) < scale) ++n;
    bool nearer = n == 0 || std::fabs(scale - zoom_factor(n)) <= std::fabs(scale - zoom_factor(n - 1));
    g_zoom.in_steps = nearer ? n : n - 1;
  }
}

void view_centre_on(double cx, double cy, double scale) {
  DisplayWindow* window = lookup<DisplayWindow>(TYPE_WINDOW, g_document_window);
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (window == nullptr || view == nullptr || !(scale > 0)) return;
  view->scale_x = view->scale_y = scale;
  view->origin_x = window->client_width / (2 * scale) - cx;
  view->origin_y = window->client_height / (2 * scale) - cy;
}

void zoom_set(int32_t fit, double scale) {
  if (fit != 0) scale = g_zoom.fit_ratio;
  zoom_snap(scale);
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (view == nullptr) return;
  Scene* scene = lookup<Scene>(TYPE_SCENE, view->scene);
  if (scene == nullptr) return;
  view_centre_on((scene->extent.x_min + scene->extent.x_max) / 2, (scene->extent.y_min + scene->extent.y_max) / 2,
                 scale);
}

int zoom_step(int32_t delta, double* scale) {
  if (delta > 0) {
    if (g_zoom.in_steps >= kMaxZoomIn) return 0;
    for (; delta > 0 && g_zoom.out_steps > 0; --delta) --g_zoom.out_steps;
    for (; delta > 0 && g_zoom.in_steps < kMaxZoomIn; --delta) ++g_zoom.in_steps;
  } else if (delta < 0) {
    if (g_zoom.out_limit != 0 && g_zoom.out_steps >= g_zoom.out_limit) return 0;
    for (delta = -delta; delta > 0 && g_zoom.in_steps > 0; --delta) --g_zoom.in_steps;
    for (; delta > 0 && g_zoom.out_steps < g_zoom.out_limit; --delta) ++g_zoom.out_steps;
  }
  *scale = zoom_factor(g_zoom.in_steps) / zoom_factor(g_zoom.out_steps);
  return 1;
}

void zoom_by(int32_t delta) {
  DisplayWindow* window = lookup<DisplayWindow>(TYPE_WINDOW, g_document_window);
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (window == nullptr || view == nullptr) return;
  double scale;
  if (!zoom_step(delta, &scale)) return;
  double cx = window->client_width / (2 * view->scale_x) - view->origin_x;
  double cy = window->client_height / (2 * view->scale_y) - view->origin_y;
  view_centre_on(cx, cy, scale);
}

void zoom_at(int32_t px, int32_t py, int32_t delta) {
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (view == nullptr) return;
  double scale;
  if (!zoom_step(delta, &scale)) return;
  double wx = px / view->scale_x - view->origin_x;
  double wy = py / view->scale_y - view->origin_y;
  view->scale_x = view->scale_y = scale;
  view->origin_x = px / scale - wx;
  view->origin_y = py / scale - wy;
  view_refresh();
}

void view_place(double origin_x, double origin_y, double scale) {
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (lookup<DisplayWindow>(TYPE_WINDOW, g_document_window) == nullptr || view == nullptr) return;
  view->origin_x = origin_x;
  view->origin_y = origin_y;
  view->scale_x = view->scale_y = scale;
}

void view_drag(int32_t px, int32_t py, int32_t moving) {
  if (moving != 0) window_scroll(g_document_window, g_view, g_scroll.drag_x - px, g_scroll.drag_y - py);
  g_scroll.drag_x = px;
  g_scroll.drag_y = py;
}

void scroll_ranges_update() {
  DisplayWindow* window = lookup<DisplayWindow>(TYPE_WINDOW, g_document_window);
  View* view = lookup<View>(TYPE_VIEW, g_view);
  if (window == nullptr || view == nullptr) return;
  Scene* scene = lookup<Scene>(TYPE_SCENE, view->scene);
  if (scene == nullptr) return;
  Rect e = scene->extent;
  const double ox = view->origin_x, oy = view->origin_y, sx = view->scale_x, sy = view->scale_y;
  if (ox > 0) e.x_max += ox;
  if (oy > 0) e.y_max += oy;
  double x0 = e.x_min * sx, x1 = e.x_max * sx, y0 = e.y_min * sy, y1 = e.y_max * sy;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  ScrollState& s = g_scroll;
  s.v = round_half_in(-oy * sy);
  s.v_min = std::min(round_half_in(y0), s.v);
  s.v_max = round_half_in(y1);
  s.page_v = std::min<int64_t>(window->client_height,
                               std::llabs(int64_t{s.v_max} - s.v_min) + std::min<int64_t>(0, int64_t{s.v_min} - s.v));
  s.h = round_half_in(-ox * sx);
  s.h_min = std::min(round_half_in(x0), s.h);
  s.h_max = round_half_in(x1);
  s.page_h = std::min<int64_t>(window->client_width,
                               std::llabs(int64_t{s.h_max} - s.h_min) + std::min<int64_t>(0, int64_t{s.h_min} - s.h));
}

void scroll_command(int32_t command) {
  ScrollState& s = g_scroll;
  int64_t dv = 0, dh = 0;
  switch (command) {
    case 0: dv = -5; break;
    case 1: dv = 5; break;
    case 2: dv = -int64_t{s.page_v}; break;
    case 3: dv = s.page_v; break;
    case 4: dv = -int64_t{s.v}; break;
    case 5: dv = int64_t{s.v_max} - s.page_v - s.v + 1; break;
    case 6: break;
    case 7: dh = -5; break;
    case 8: dh = 5; break;
    case 9: dh = -int64_t{s.page_h}; break;
    case 10: dh = s.page_h; break;
    case 11: dh = -int64_t{s.h}; break;
    case 12: dh = int64_t{s.h_max} - s.page_h - s.h + 1; break;
    case 13: break;
    default:
      g_error = ERR_VALUE;
      return;
  }
  int64_t v = std::max<int64_t>(s.v_min, s.v + dv);
  if (v >= int64_t{s.v_max} - s.page_v + 1) v = int64_t{s.v_max} - s.page_v + 1;
  int64_t h = std::max<int64_t>(s.h_min, s.h + dh);
  if (h >= int64_t{s.h_max} - s.page_h + 1) h = int64_t{s.h_max} - s.page_h + 1;
  const int32_t old_v = s.v, old_h = s.h;
  s.v = static_cast<int32_t>(v);
  s.h = static_cast<int32_t>(h);
  if (s.v == old_v && s.h == old_h) return;
  window_scroll(g_document_window, g_view, s.h - old_h, s.v - old_v);
}

void view_refresh() {
  scroll_ranges_update();
  window_redraw_all(g_document_window, g_view);
}
