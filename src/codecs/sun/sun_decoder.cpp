// Sun raster decoder: depths 1, 8, 24 and 32, stored (types 0, 1, 3) or byte-encoded
// (type 2, 8-bit only), with an optional RGB or grey colour map.
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "image/image.h"

namespace {

constexpr int64_t kHeader = 32;
// Offsets of the header's 32-bit big-endian fields (the magic number is at 0).
enum SunField : int64_t { kWidth = 4, kHeight = 8, kDepth = 12, kLength = 16, kType = 20, kMapType = 24, kMapLength = 28 };
constexpr uint8_t kEscape = 0x80;

// Byte-encoded rows: L bytes a row; a run may carry on into the following rows. The end of
// the data stops the decoding; what it did not reach stays 0.
void decode_runs(ImageRecord* image, const uint8_t* p, const uint8_t* end, int64_t file_row) {
  int64_t pending = 0;
  uint8_t value = 0;
  for (int32_t y = 0; y < image->height; ++y) {
    uint8_t* out = image->pixels + int64_t{y} * image->row_bytes;
    int64_t filled = pending < file_row ? pending : file_row;
    std::memset(out, value, static_cast<size_t>(filled));
    pending -= filled;
    while (filled < file_row) {
      if (p >= end) return;
      const uint8_t c = *p++;
      if (c != kEscape) {
        out[filled++] = c;
        continue;
      }
      if (p >= end) return;
      const uint8_t n = *p++;
      if (n == 0) {
        out[filled++] = kEscape;
        continue;
      }
      if (p >= end) return;
      value = *p++;
      int64_t run = int64_t{n} + 1;
      int64_t here = run < file_row - filled ? run : file_row - filled;
      std::memset(out + filled, value, static_cast<size_t>(here));
      filled += here;
      pending = run - here;
    }
  }
}

void decode(ImageRecord* image, Handle group, const uint8_t* data, int64_t size) {
  image->description = DESC_SUN;
  if (size < kHeader) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int64_t width = load_u32be(data + kWidth);
  const int64_t height = load_u32be(data + kHeight);
  const uint32_t depth = load_u32be(data + kDepth);
  const int64_t length = load_u32be(data + kLength);
  const uint32_t type = load_u32be(data + kType);
  const uint32_t map_type = load_u32be(data + kMapType);
  const int64_t map_length = load_u32be(data + kMapLength);
  if (type > 3) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if (map_type > 2 || (type == 2 && depth != 8)) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if ((depth != 1 && depth != 8 && depth != 24 && depth != 32) || width <= 0 || height <= 0 ||
      width > INT32_MAX || height > INT32_MAX) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int unit_bytes = static_cast<int>((depth + 7) / 8);
  image->bits = static_cast<int32_t>(depth);
  image->pixel_bytes = unit_bytes == 3 ? 4 : unit_bytes;
  image->planes = 1;
  const int64_t units = depth == 1 ? (width + 7) / 8 : width;
  const int64_t file_row = (units * unit_bytes + 1) / 2 * 2;
  // The map and the raster must be in the file; stored rasters need every row.
  if (size - kHeader < map_length || size - kHeader - map_length < length ||
      (type != 2 && (size - kHeader - map_length) / file_row < height)) {
    g_error = ERR_INVALID_FILE;
    return;
  }

  // Colour map: n reds, n greens, n blues, or n greys; at most 256 entries are used.
  const int64_t colours = map_type == 1 ? map_length / 3 : map_type == 2 ? map_length : 0;
  const uint8_t* map = data + kHeader;
  const int64_t used = colours < 256 ? colours : 256;
  if (colours == 0) {
    if (depth == 8) {
      palette_set_identity(image);
    } else if (depth == 1) {
      image->palette_red[0] = image->palette_green[0] = image->palette_blue[0] = 255;
      image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 0;
    }
  } else {
    for (int64_t i = 0; i < used; ++i) {
      image->palette_red[i] = map[i];
      image->palette_green[i] = map_type == 1 ? map[colours + i] : map[i];
      image->palette_blue[i] = map_type == 1 ? map[2 * colours + i] : map[i];
    }
  }

  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, depth <= 8);
  const uint8_t* p = data + kHeader + map_length;
  const int64_t available = size - kHeader - map_length;
  // An escape of three bytes yields at most 256 bytes.
  if (row_bytes < 0 || (type == 2 && !raster_plausible(row_bytes * height, available, 128))) {
    if (g_error == 0) g_error = ERR_MEMORY;
    return;
  }
  if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;

  if (type == 2) {
    std::memset(image->pixels, 0, image->pixel_size);
    decode_runs(image, p, p + available, file_row);
    return;
  }
  const bool rgb_order = type == 3;
  for (int32_t y = 0; y < image->height; ++y, p += file_row) {
    uint8_t* out = image->pixels + int64_t{y} * image->row_bytes;
    const uint8_t* src = p;
    switch (depth) {
      case 1:
        unpack_msb(src, units, 1, out, row_bytes);
        break;
      case 8:
        std::memcpy(out, src, static_cast<size_t>(file_row));
        break;
      case 24:
      case 32: {
        const int skip = depth == 32 ? 1 : 0;
        const int r = rgb_order ? 0 : 2, b = rgb_order ? 2 : 0;
        for (int64_t x = 0; x < width; ++x, src += unit_bytes, out += 4) {
          out[0] = src[skip + r];
          out[1] = src[skip + 1];
          out[2] = src[skip + b];
          out[3] = 0;
        }
        break;
      }
    }
  }
}

}  // namespace

void decode_sun(ImageRecord* image, Handle group, ByteReader& in) {
  decode(image, group, in.data(), in.size());
}
