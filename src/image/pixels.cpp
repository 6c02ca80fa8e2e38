#include "image/pixels.h"

int64_t image_display_stride(const ImageRecord* image) {
  return image->bits <= 8 ? (int64_t{image->width} + 3) & ~int64_t{3} : int64_t{image->width};
}

PixelLayout image_pixel_layout(const ImageRecord* image) {
  if (image->pixels == nullptr || image->width <= 0 || image->height <= 0) return LAYOUT_NONE;
  PixelLayout layout = LAYOUT_NONE;
  int64_t planes_read = 1, element = 1;
  if (image->planes == 1 && image->pixel_bytes == 1) {
    layout = LAYOUT_INDEXED;
  } else if (image->pixel_bytes == 4) {
    layout = LAYOUT_RGB4;
    element = 4;
  } else if (image->planes >= 3 && image->pixel_bytes == 1 && (image->bits == 8 || image->bits == 12)) {
    // 12-bit JPEG samples are reduced to one byte each and read like 8-bit planes.
    layout = LAYOUT_PLANAR;
    planes_read = 3;
  }
  if (layout == LAYOUT_NONE) return LAYOUT_NONE;
  // The last row read must end inside the pixel data.
  int64_t needed = (planes_read * image->height - 1) * image_display_stride(image) * element +
                   int64_t{image->width} * element;
  return needed <= int64_t{image->pixel_size} ? layout : LAYOUT_NONE;
}

void image_palette_table(const ImageRecord* image, uint32_t table[256]) {
  for (int i = 0; i < 256; ++i)
    table[i] = (uint32_t{image->palette_red[i]} << 16) | (uint32_t{image->palette_green[i]} << 8) |
               image->palette_blue[i];
}

bool image_row_rgb(const ImageRecord* image, int32_t row, uint32_t* out) {
  PixelLayout layout = image_pixel_layout(image);
  if (layout == LAYOUT_NONE || row < 0 || row >= image->height) return false;
  const int64_t stride = image_display_stride(image);
  const int32_t width = image->width;
  switch (layout) {
    case LAYOUT_INDEXED: {
      uint32_t table[256];
      image_palette_table(image, table);
      const uint8_t* src = image->pixels + row * stride;
      for (int32_t c = 0; c < width; ++c) out[c] = table[src[c]];
      break;
    }
    case LAYOUT_RGB4: {
      const uint8_t* src = image->pixels + row * stride * 4;
      for (int32_t c = 0; c < width; ++c, src += 4)
        out[c] = (uint32_t{src[0]} << 16) | (uint32_t{src[1]} << 8) | src[2];
      break;
    }
    case LAYOUT_PLANAR: {
      const int64_t plane = stride * image->height;
      const uint8_t* r = image->pixels + row * stride;
      const uint8_t* g = r + plane;
      const uint8_t* b = g + plane;
      for (int32_t c = 0; c < width; ++c) out[c] = (uint32_t{r[c]} << 16) | (uint32_t{g[c]} << 8) | b[c];
      break;
    }
    case LAYOUT_NONE:
      return false;
  }
  return true;
}

void cmyk_planes_to_rgb(uint8_t* c, uint8_t* m, uint8_t* y, const uint8_t* k, int64_t count,
                        bool inverted) {
  const int flip = inverted ? 255 : 0;  // ink = sample, or 255 - sample
  for (int64_t i = 0; i < count; ++i) {
    const int black = flip ^ k[i];
    c[i] = ink_to_rgb(flip ^ c[i], black);
    m[i] = ink_to_rgb(flip ^ m[i], black);
    y[i] = ink_to_rgb(flip ^ y[i], black);
  }
}
