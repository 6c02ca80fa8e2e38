// How an image record's pixels turn into 0x00RRGGBB colours, shared by the display and the
// exporter so that both show the same thing.
#pragma once
#include <cstdint>

#include "image/image.h"

enum PixelLayout {
  LAYOUT_NONE,     // nothing is painted
  LAYOUT_INDEXED,  // one plane of 1-byte palette indexes
  LAYOUT_RGB4,     // 4-byte pixels: red, green, blue, unused
  LAYOUT_PLANAR,   // three planes of 8-bit red, green, blue
};

// Distance between the starts of two rows, in elements (bytes or 4-byte pixels): rows of
// images of up to 8 bits are padded to 4 bytes, others are `width` pixels.
int64_t image_display_stride(const ImageRecord* image);
// The layout, or LAYOUT_NONE when the record's pixels could not hold what the layout reads.
PixelLayout image_pixel_layout(const ImageRecord* image);
void image_palette_table(const ImageRecord* image, uint32_t table[256]);
// Converts one whole row; false (and nothing written) for LAYOUT_NONE or a bad row.
bool image_row_rgb(const ImageRecord* image, int32_t row, uint32_t* out);

// Cyan, magenta, yellow and black ink (0 none, 255 full) to what is shown: each of red, green
// and blue is white less its own ink and the black, floored at 0.
inline uint8_t ink_to_rgb(int ink, int black) {
  const int v = 255 - ink - black;
  return static_cast<uint8_t>(v < 0 ? 0 : v);
}
// The same over `count` pixels of four planes, in place: c, m, y become red, green, blue and k
// stays. `inverted` samples hold 255 - ink, as CMYK is stored in JPEG files.
void cmyk_planes_to_rgb(uint8_t* c, uint8_t* m, uint8_t* y, const uint8_t* k, int64_t count,
                        bool inverted);
