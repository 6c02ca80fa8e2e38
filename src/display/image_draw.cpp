// The display handlers of image records: the extent an image covers in the world, and the
// nearest-neighbour painting of its visible part into the canvas.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "display/canvas.h"
#include "display/transform.h"
#include "image/pixels.h"

void image_measure(void* object, int32_t, GroupRecord* group, int32_t, int32_t, Handle list) {
  const ImageRecord* image = static_cast<const ImageRecord*>(object);
  ExtentRecord* record = nullptr;
  if (mem_alloc(&record, sizeof(ExtentRecord)) == nullptr) {
    g_error = ERR_MEMORY;
    return;
  }
  const double w = image->width, h = image->height;
  *record = ExtentRecord{image->handle, Rect{std::min(0.0, w), std::min(0.0, h), std::max(0.0, w), std::max(0.0, h)}};
  extent_list_add(list, group != nullptr ? group->handle : 0, image->handle, record);
  if (g_error != 0) mem_free(&record);
}

void image_draw(void* object, int32_t, Handle, const Rect* world, void* window_ptr, void* view_ptr) {
  const ImageRecord* image = static_cast<const ImageRecord*>(object);
  const DisplayWindow* window = static_cast<const DisplayWindow*>(window_ptr);
  const View* view = static_cast<const View*>(view_ptr);
  Canvas& canvas = window->display->canvas;
  if (canvas.pixels == nullptr) return;

  Rect ir = image_world_to_image(image, *world);
  if (ir.x_max - ir.x_min == 0 || ir.y_max - ir.y_min == 0) return;
  Rect wr = view_image_to_window(window, view, image, ir);
  Rect in{std::max(wr.x_min, canvas.rect.x_min), std::max(wr.y_min, canvas.rect.y_min),
          std::min(wr.x_max, canvas.rect.x_max), std::min(wr.y_max, canvas.rect.y_max)};
  if (in.x_min >= in.x_max || in.y_min >= in.y_max) return;
  // The image rectangle that covers exactly the visible window pixels.
  ir = view_window_to_image(window, view, image, in);

  const int32_t x0 = static_cast<int32_t>(in.x_min), y0 = static_cast<int32_t>(in.y_min);
  const int32_t columns = static_cast<int32_t>(in.x_max) - x0;
  const int32_t rows = static_cast<int32_t>(in.y_max) - y0;
  if (columns <= 0 || rows <= 0) return;
  const PixelLayout layout = image_pixel_layout(image);
  if (layout == LAYOUT_NONE) return;

  const double step_x = (ir.x_max - ir.x_min) / columns;
  const double step_y = (ir.y_max - ir.y_min) / rows;
  const int64_t stride = image_display_stride(image);
  const int32_t last_column = image->width - 1, last_row = image->height - 1;

  // Nearest sampling from running sums; the clamp only guards against rounding at the edge.
  if (canvas.columns.size() < size_t(columns)) canvas.columns.resize(size_t(columns));
  double sum = ir.x_min - step_x;
  for (int32_t c = 0; c < columns; ++c) {
    sum += step_x;
    canvas.columns[c] = std::clamp(static_cast<int32_t>(sum), 0, last_column);
  }
  const int32_t* cols = canvas.columns.data();

  uint32_t* dest = canvas.pixels + size_t(y0 - canvas.origin_y) * canvas.row_length + (x0 - canvas.origin_x);
  const int rs = canvas.red_shift, gs = canvas.green_shift, bs = canvas.blue_shift;
  uint32_t table[256];
  if (layout == LAYOUT_INDEXED) {
    uint32_t rgb[256];
    image_palette_table(image, rgb);
    for (int i = 0; i < 256; ++i)
      table[i] = (((rgb[i] >> 16) & 255) << rs) | (((rgb[i] >> 8) & 255) << gs) | ((rgb[i] & 255) << bs);
  }
  const int64_t plane = stride * image->height;
  double row_sum = ir.y_min - step_y;
  for (int32_t r = 0; r < rows; ++r, dest += canvas.row_length) {
    row_sum += step_y;
    const int64_t row = std::clamp(static_cast<int32_t>(row_sum), 0, last_row);
    switch (layout) {
      case LAYOUT_INDEXED: {
        const uint8_t* src = image->pixels + row * stride;
        for (int32_t c = 0; c < columns; ++c) dest[c] = table[src[cols[c]]];
        break;
      }
      case LAYOUT_RGB4: {
        const uint8_t* src = image->pixels + row * stride * 4;
        for (int32_t c = 0; c < columns; ++c) {
          const uint8_t* p = src + size_t(cols[c]) * 4;
          dest[c] = (uint32_t{p[0]} << rs) | (uint32_t{p[1]} << gs) | (uint32_t{p[2]} << bs);
        }
        break;
      }
      case LAYOUT_PLANAR: {
        const uint8_t* red = image->pixels + row * stride;
        const uint8_t* green = red + plane;
        const uint8_t* blue = green + plane;
        for (int32_t c = 0; c < columns; ++c)
          dest[c] = (uint32_t{red[cols[c]]} << rs) | (uint32_t{green[cols[c]]} << gs) | (uint32_t{blue[cols[c]]} << bs);
        break;
      }
      case LAYOUT_NONE:
        return;
    }
  }
}
