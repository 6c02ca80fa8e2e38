// Rectangles in world coordinates (image pixels, x to the right, y downwards).
#pragma once

struct Rect {
  double x_min;
  double y_min;
  double x_max;
  double y_max;
};
