// Windows bitmap decoder: the 40-byte information header, uncompressed 1, 4, 8, 16, 24 and
// 32-bit pixels, RLE8, RLE4 and 16/32-bit bit fields. Indexed pictures keep one byte per
// pixel with the colour table as palette; deeper ones become red, green, blue, x pixels.
#include <cmath>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"
#include "io/stream.h"

namespace {

constexpr int64_t kMinimumFile = 54;
constexpr int64_t kMasksEnd = 66;

// One mask turned into a byte: the fast cases are a plain byte field and a field of at most
// 16 bits (through a table); anything else takes the double-precision formula per pixel.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;      // bits of a contiguous mask, 0 when the mask has holes
  uint8_t table[65536];
};

// Component of a pixel under a mask: trunc((value AND mask) x 255 / mask); 0 for no mask.
inline uint8_t mask_component(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  return static_cast<uint8_t>(static_cast<double>(value & mask) * 255.0 / static_cast<double>(mask));
}

void channel_setup(Channel* c, uint32_t mask) {
  c->mask = mask;
  c->shift = 0;
  c->width = 0;
  if (mask == 0) return;
  while (((mask >> c->shift) & 1) == 0) ++c->shift;
  uint32_t field = mask >> c->shift;
  if ((field & (field + 1)) == 0) {
    while (field != 0) {
      ++c->width;
      field >>= 1;
    }
  }
  if (c->width > 0 && c->width <= 16 && c->width != 8) {
    const uint32_t top = (1u << c->width);
    for (uint32_t n = 0; n < top; ++n) c->table[n] = mask_component(n << c->shift, mask);
  }
}

inline uint8_t channel_value(const Channel& c, uint32_t value) {
  if (c.mask == 0) return 0;
  if (c.width == 8) return static_cast<uint8_t>(value >> c.shift);
  if (c.width > 0 && c.width <= 16) return c.table[(value & c.mask) >> c.shift];
  return mask_component(value, c.mask);
}

struct BmpState {
  Channel red, green, blue;
};
BmpState g_bmp;

// Converts `width` pixels held as little-endian words `step` bytes apart (2 or 4) into
// red, green, blue pixels at `out`; the fourth byte is kept from the file when `step` is 4.
void convert_masked(const uint8_t* src, int step, int32_t width, uint8_t* out) {
  const Channel& r = g_bmp.red;
  const Channel& g = g_bmp.green;
  const Channel& b = g_bmp.blue;
  for (int32_t x = 0; x < width; ++x, src += step, out += 4) {
    uint32_t v = load_u32le(src);
    out[0] = channel_value(r, v);
    out[1] = channel_value(g, v);
    out[2] = channel_value(b, v);
    if (step == 4) out[3] = src[3];
  }
}

// Uncompressed rows, in file order; a bottom-up file fills the stored rows from the last.
void decode_rows(ImageRecord* image, const uint8_t* data, int64_t size, int64_t offset,
                 bool bottom_up) {
  const int32_t bits = image->bits;
  const int32_t width = image->width;
  const int64_t per_byte = bits < 8 ? 8 / bits : 1;
  const int64_t unit = bits < 8 ? 1 : (bits + 7) / 8;
  const int64_t used = (width + per_byte - 1) / per_byte * unit;
  const int64_t padded = (used + 3) & ~int64_t{3};
  (void)size;  // the caller checked that the rows are in the file
  uint8_t* scratch = nullptr;
  if (bits == 16) {
    // Each 16-bit pixel is loaded as a 32-bit word: four spare bytes keep the last load inside.
    scratch = static_cast<uint8_t*>(mem_scratch(static_cast<int32_t>(2 * int64_t{width} + 4)));
    if (scratch == nullptr) return;
  }
  for (int32_t i = 0; i < image->height; ++i) {
    const uint8_t* src = data + offset + i * padded;
    int32_t stored = bottom_up ? image->height - 1 - i : i;
    uint8_t* row = image->pixels + int64_t{stored} * image->row_bytes;
    switch (bits) {
      case 1:
      case 4:
        unpack_msb(src, used, bits, row, image->row_bytes);
        break;
      case 8:
        std::memcpy(row, src, static_cast<size_t>(width));
        break;
      case 16:
        std::memcpy(scratch, src, static_cast<size_t>(used));
        std::memset(scratch + used, 0, 4);
        convert_masked(scratch, 2, width, row);
        break;
      case 24:
        for (int32_t x = 0; x < width; ++x, src += 3, row += 4) {
          row[0] = src[2];
          row[1] = src[1];
          row[2] = src[0];
          row[3] = 0;
        }
        break;
      case 32:
        convert_masked(src, 4, width, row);
        break;
    }
  }
}

// RLE8 and RLE4. The data is `budget` bytes from `p`; the pixel block starts cleared.
void decode_rle(ImageRecord* image, const uint8_t* p, int64_t budget) {
  const bool four = image->bits == 4;
  const int64_t width = image->width;
  int64_t row = image->height - 1;  // stored row, counting down as the picture goes up
  int64_t col = 0;
  const uint8_t* end = p + budget;
  auto put = [&](uint8_t value) {
    if (row >= 0 && col < width) image->pixels[row * image->row_bytes + col] = value;
    ++col;
  };
  while (end - p >= 2) {
    const uint8_t count = p[0];
    const uint8_t value = p[1];
    p += 2;
    if (count > 0) {
      if (!four) {
        if (row >= 0 && col < width) {
          int64_t n = count < width - col ? count : width - col;
          std::memset(image->pixels + row * image->row_bytes + col, value, static_cast<size_t>(n));
        }
        col += count;
      } else {
        for (int i = 0; i < count; ++i) put((i & 1) ? value & 15 : value >> 4);
      }
      continue;
    }
    if (value == 0) {
      col = 0;
      --row;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (end - p < 2) return;
      col += p[0];
      row -= p[1];
      p += 2;
    } else {
      // Absolute run of `value` pixels, padded to an even number of bytes.
      const int64_t bytes = four ? (value + 1) / 2 : value;
      const int64_t have = bytes < end - p ? bytes : end - p;
      if (four) {
        for (int64_t i = 0; i < value && i / 2 < have; ++i)
          put((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4);
      } else {
        for (int64_t i = 0; i < have; ++i) put(p[i]);
      }
      if (have < bytes) return;
      p += bytes + (bytes & 1);
    }
    if (row < 0) return;  // nothing more can land above the top row
  }
}

void decode(ImageRecord* image, Handle group, const uint8_t* data, int64_t size) {
  int64_t required = load_u32le(data + 2);
  if (required < kMinimumFile) required = kMinimumFile;
  const int64_t offset = load_u32le(data + 10);
  if (load_u32le(data + 14) != 40) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  const int32_t width = static_cast<int32_t>(load_u32le(data + 18));
  const int32_t height_field = static_cast<int32_t>(load_u32le(data + 22));
  const int16_t bits = static_cast<int16_t>(load_u16le(data + 28));
  const uint32_t compression = load_u32le(data + 30);
  const bool bottom_up = height_field >= 0;
  if (compression > 3) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if ((compression == 1 && (!bottom_up || bits != 8)) ||
      (compression == 2 && (!bottom_up || bits != 4)) ||
      (compression == 3 && bits != 16 && bits != 32)) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  image->description = compression == 0 ? DESC_BMP : compression == 3 ? DESC_BMP_BITFIELDS : DESC_BMP_RLE;
  // The pixel data of a bitmap is always one plane, whatever the planes field says.
  image->planes = 1;
  image->bits = bits;
  image->x_resolution = static_cast<int32_t>(load_u32le(data + 38));
  image->y_resolution = static_cast<int32_t>(load_u32le(data + 42));

  uint32_t masks[3] = {0, 0, 0};
  if (compression == 3) {
    if (required < kMasksEnd) required = kMasksEnd;
    if (size < kMasksEnd) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    for (int i = 0; i < 3; ++i) masks[i] = load_u32le(data + 54 + 4 * i);
  } else {
    if (bits == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
      masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
    }
    if (offset > kMinimumFile) {
      int64_t count = bits <= 8 ? int64_t{1} << bits : 256;
      if ((offset - kMinimumFile) / 4 < count) count = (offset - kMinimumFile) / 4;
      if (count > 256) count = 256;
      if (required < offset) required = offset;
      if (size < offset) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      for (int64_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + kMinimumFile + 4 * i;
        image->palette_blue[i] = entry[0];
        image->palette_green[i] = entry[1];
        image->palette_red[i] = entry[2];
      }
    }
  }
  if (bits == 16 || bits == 32) {
    channel_setup(&g_bmp.red, masks[0]);
    channel_setup(&g_bmp.green, masks[1]);
    channel_setup(&g_bmp.blue, masks[2]);
  }

  image->pixel_bytes = bits <= 8 ? 1 : 4;
  const int64_t height = bottom_up ? int64_t{height_field} : -int64_t{height_field};
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, bits <= 8);
  if (width <= 0 || height <= 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (compression == 1 || compression == 2) {
    if (size < required) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    // A pair of bytes yields at most 255 pixels.
    if (row_bytes >= 0 && !raster_plausible(row_bytes * height, required - offset, 128)) return;
    if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;
    std::memset(image->pixels, 0, image->pixel_size);
    image->has_transparent = 1;
    image->transparent[0] = 0;
    if (offset < size) decode_rle(image, data + offset, required - offset);
  } else {
    // The rows must be in the file before anything is allocated for them.
    const int64_t per_byte = bits < 8 ? 8 / bits : 1;
    const int64_t used = (width + per_byte - 1) / per_byte * (bits < 8 ? 1 : (bits + 7) / 8);
    const int64_t padded = (used + 3) & ~int64_t{3};
    if (offset > size || (size - offset - used) / padded < height - 1 || size - offset < used) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;
    decode_rows(image, data, size, offset, bottom_up);
  }
}

}  // namespace

void decode_bmp(ImageRecord* image, Handle group) {
  const uint8_t* data;
  int64_t size;
  if (!raster_open_whole(image, &data, &size)) return;
  if (size < kMinimumFile) {
    g_error = ERR_INVALID_FILE;
  } else {
    decode(image, group, data, size);
  }
  stream_close();
}
