#include "codecs/raster_common.h"

#include <cstring>

#include "core/errors.h"
#include "image/image.h"

namespace {

struct BitTable {
  uint8_t v[256][8];
  constexpr BitTable() : v() {
    for (int b = 0; b < 256; ++b)
      for (int i = 0; i < 8; ++i) v[b][i] = static_cast<uint8_t>((b >> (7 - i)) & 1);
  }
};
constexpr BitTable kBits;

}  // namespace

alignas(8) const uint8_t g_bits_to_bytes[256][8] = {
#define R(b) {kBits.v[b][0], kBits.v[b][1], kBits.v[b][2], kBits.v[b][3], \
              kBits.v[b][4], kBits.v[b][5], kBits.v[b][6], kBits.v[b][7]}
#define R8(b) R(b), R(b + 1), R(b + 2), R(b + 3), R(b + 4), R(b + 5), R(b + 6), R(b + 7)
#define R64(b) R8(b), R8(b + 8), R8(b + 16), R8(b + 24), R8(b + 32), R8(b + 40), R8(b + 48), R8(b + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

int64_t raster_row_bytes(int64_t width, int64_t pixel_bytes, bool pad) {
  if (width <= 0 || width > INT32_MAX || pixel_bytes <= 0) return -1;
  int64_t bytes = width * pixel_bytes;
  if (pad) bytes = (bytes + 3) & ~int64_t{3};
  return bytes > INT32_MAX ? -1 : bytes;
}

bool raster_plausible(int64_t pixel_size, int64_t data_bytes, int64_t ratio) {
  if (pixel_size <= kRasterFreeBytes) return true;
  if (data_bytes > 0 && pixel_size / ratio <= data_bytes) return true;
  g_error = ERR_INVALID_FILE;
  return false;
}

bool raster_alloc(ImageRecord* image, Handle group, int64_t width, int64_t height,
                  int64_t row_bytes, int64_t planes) {
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX || planes <= 0) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  if (row_bytes < 0 || row_bytes > INT32_MAX) {
    g_error = ERR_MEMORY;
    return false;
  }
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->row_bytes = static_cast<int32_t>(row_bytes);
  if (!image_set_pixel_size(image, planes)) return false;
  image_alloc_pixels(image, group);
  if (g_error == 0 && image->pixels == nullptr) g_error = ERR_MEMORY;
  return g_error == 0;
}

void unpack_msb(const uint8_t* src, int64_t count, int bits, uint8_t* dst, int64_t max_out) {
  int64_t total = count * (8 / bits);
  if (total > max_out) total = max_out;
  int64_t out = 0;
  if (bits == 1) {
    for (; out + 8 <= total; out += 8) std::memcpy(dst + out, g_bits_to_bytes[*src++], 8);
    if (out < total) std::memcpy(dst + out, g_bits_to_bytes[*src], static_cast<size_t>(total - out));
  } else if (bits == 2) {
    for (; out + 4 <= total; out += 4) {
      uint8_t b = *src++;
      dst[out] = b >> 6;
      dst[out + 1] = (b >> 4) & 3;
      dst[out + 2] = (b >> 2) & 3;
      dst[out + 3] = b & 3;
    }
    for (int shift = 6; out < total; ++out, shift -= 2) dst[out] = (*src >> shift) & 3;
  } else {
    for (; out + 2 <= total; out += 2) {
      uint8_t b = *src++;
      dst[out] = b >> 4;
      dst[out + 1] = b & 15;
    }
    if (out < total) dst[out] = *src >> 4;
  }
}

uint8_t scale_channel(uint32_t value, int bits) {
  if (bits >= 8) return static_cast<uint8_t>(value);
  uint32_t max = (1u << bits) - 1;
  if (value > max) value = max;
  // value x 255 / max, rounded to nearest with halves going up.
  return static_cast<uint8_t>((value * 510 + max) / (2 * max));
}
