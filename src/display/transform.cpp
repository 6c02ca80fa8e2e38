#include "display/transform.h"

#include <cmath>

namespace {

Rect normalised(double x0, double y0, double x1, double y1) {
  return Rect{x0 < x1 ? x0 : x1, y0 < y1 ? y0 : y1, x0 < x1 ? x1 : x0, y0 < y1 ? y1 : y0};
}

double clamp(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }

}  // namespace

double snap_coordinate(double c) {
  c += 1e-9;
  if (c - std::trunc(c) > 2e-9) c += 1.0;
  return std::trunc(c);
}

Rect view_world_to_window(const View* view, const Rect& world) {
  Rect r = normalised((world.x_min + view->origin_x) * view->scale_x, (world.y_min + view->origin_y) * view->scale_y,
                      (world.x_max + view->origin_x) * view->scale_x, (world.y_max + view->origin_y) * view->scale_y);
  return Rect{snap_coordinate(r.x_min), snap_coordinate(r.y_min), snap_coordinate(r.x_max),
              snap_coordinate(r.y_max)};
}

Rect view_window_to_world(const View* view, const Rect& window) {
  return normalised(window.x_min / view->scale_x - view->origin_x, window.y_min / view->scale_y - view->origin_y,
                    window.x_max / view->scale_x - view->origin_x, window.y_max / view->scale_y - view->origin_y);
}

Rect image_world_to_image(const ImageRecord* image, const Rect& world) {
  const double w = image->width, h = image->height;
  return Rect{clamp(world.x_min, 0, w), clamp(world.y_min, 0, h), clamp(world.x_max, 0, w),
              clamp(world.y_max, 0, h)};
}

// Images carry no geographic transform of their own: world coordinates are pixel coordinates.
Rect image_image_to_world(const ImageRecord*, const Rect& image_rect) { return image_rect; }

Rect view_window_to_image(const DisplayWindow*, const View* view, const ImageRecord* image,
                          const Rect& window_rect) {
  return image_world_to_image(image, view_window_to_world(view, window_rect));
}

Rect view_image_to_window(const DisplayWindow*, const View* view, const ImageRecord* image,
                          const Rect& image_rect) {
  return view_world_to_window(view, image_image_to_world(image, image_rect));
}
