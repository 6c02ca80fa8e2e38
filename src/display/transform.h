// Transforms between window pixels, world coordinates and image pixels.
#pragma once
#include "core/rect.h"
#include "display/display_types.h"
#include "image/image.h"

// Corners mapped, normalised, then snapped outward to whole pixels.
Rect view_world_to_window(const View* view, const Rect& world);
Rect view_window_to_world(const View* view, const Rect& window);
Rect image_world_to_image(const ImageRecord* image, const Rect& world);
Rect image_image_to_world(const ImageRecord* image, const Rect& image_rect);
Rect view_window_to_image(const DisplayWindow* window, const View* view, const ImageRecord* image,
                          const Rect& window_rect);
Rect view_image_to_window(const DisplayWindow* window, const View* view, const ImageRecord* image,
                          const Rect& image_rect);
// A window coordinate within about 1e-9 of a whole number becomes it; any other becomes the
// next whole number above (towards +infinity, then truncated).
double snap_coordinate(double c);
