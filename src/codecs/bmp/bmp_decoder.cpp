// Windows bitmap decoder: the Windows information headers of 40, 52, 56, 108 and 124 bytes
// and the OS/2 1.x and 2.x ones; uncompressed 1, 4, 8, 16, 24 and 32-bit pixels, RLE8, RLE4
// and 16/32-bit bit fields. Indexed pictures keep one byte per pixel with the colour table as
// palette; deeper ones become red, green, blue, x pixels, x being the alpha of the bit fields
// when they have one.
#include <cmath>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

constexpr int64_t kFileHeader = 14;
constexpr int64_t kMinimumFile = 54;
constexpr int64_t kMasksEnd = 66;
constexpr int64_t kOs2HeaderSize = 12;  // the smallest information header
// Offsets of the 32-bit little-endian fields: of the file header, of the information header
// (OS/2 1.x has 16-bit width, height and bits at kWidth, kOs2Height and kOs2Bits), and of
// the bit-field masks, which follow the 40-byte header or sit at the same place in longer ones.
enum BmpField : int64_t {
  kFileSize = 2, kDataOffset = 10, kHeaderSize = 14, kWidth = 18, kOs2Height = 20, kHeight = 22,
  kOs2Bits = 24, kPlanesAndBits = 26, kCompression = 30, kXResolution = 38, kYResolution = 42,
  kMasks = 54, kAlphaMask = 66
};
constexpr uint32_t kAlphaMaskHeader = 56;  // the smallest header that holds an alpha mask
enum BmpCompression : uint32_t { kStored = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

constexpr int kTableFieldBits = 16;  // widest field converted through a table

// One mask turned into a byte: the fast cases are a plain byte field and a field of at most
// 16 bits (through a table); anything else takes the double-precision formula per pixel.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;      // bits of a contiguous mask, 0 when the mask has holes
  uint8_t* table = nullptr;  // field value -> byte, for tabled widths
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel() { mem_free(&table); }
  bool tabled() const { return width > 0 && width <= kTableFieldBits && width != 8; }
};

// Component of a pixel under a mask: trunc((value AND mask) x 255 / mask); 0 for no mask.
inline uint8_t mask_component(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  return static_cast<uint8_t>(static_cast<double>(value & mask) * 255.0 / static_cast<double>(mask));
}

// False when the table cannot be had (error 1).
bool channel_setup(Channel* c, uint32_t mask) {
  c->mask = mask;
  c->shift = 0;
  c->width = 0;
  if (mask == 0) return true;
  while (((mask >> c->shift) & 1) == 0) ++c->shift;
  uint32_t field = mask >> c->shift;
  if ((field & (field + 1)) == 0) {
    while (field != 0) {
      ++c->width;
      field >>= 1;
    }
  }
  if (c->tabled()) {
    const uint32_t top = (1u << c->width);
    if (mem_alloc(&c->table, top) == nullptr) return false;
    for (uint32_t n = 0; n < top; ++n) c->table[n] = mask_component(n << c->shift, mask);
  }
  return true;
}

inline uint8_t channel_value(const Channel& c, uint32_t value) {
  if (c.mask == 0) return 0;
  if (c.width == 8) return static_cast<uint8_t>(value >> c.shift);
  if (c.tabled()) return c.table[(value & c.mask) >> c.shift];
  return mask_component(value, c.mask);
}

// What one decode of 16 or 32-bit pixels works with.
struct BmpDecode {
  Channel red, green, blue, alpha;
  uint8_t* scratch = nullptr;  // one 16-bit row and four spare bytes
  ~BmpDecode() { mem_free(&scratch); }
};

// Converts `width` pixels held as little-endian words `Step` bytes apart (2 or 4) into
// red, green, blue pixels at `out`. The fourth byte is the alpha channel when there is one,
// else the file's fourth byte at 32 bits and 0 at 16.
template <int Step, bool Alpha>
void convert_masked(const BmpDecode& d, const uint8_t* src, int32_t width, uint8_t* out) {
  const Channel& r = d.red;
  const Channel& g = d.green;
  const Channel& b = d.blue;
  for (int32_t x = 0; x < width; ++x, src += Step, out += 4) {
    uint32_t v = load_u32le(src);
    out[0] = channel_value(r, v);
    out[1] = channel_value(g, v);
    out[2] = channel_value(b, v);
    out[3] = Alpha ? channel_value(d.alpha, v) : Step == 4 ? src[3] : 0;
  }
}

template <int Step>
void convert_masked(const BmpDecode& d, const uint8_t* src, int32_t width, uint8_t* out) {
  if (d.alpha.mask != 0) convert_masked<Step, true>(d, src, width, out);
  else convert_masked<Step, false>(d, src, width, out);
}

// Bytes of one uncompressed row in the file: `used` hold pixels, `padded` round them up to 4.
struct RowLayout {
  int64_t used;
  int64_t padded;
};

RowLayout row_layout(int32_t bits, int64_t width) {
  const int64_t per_byte = bits < 8 ? 8 / bits : 1;
  const int64_t unit = bits < 8 ? 1 : (bits + 7) / 8;
  const int64_t used = (width + per_byte - 1) / per_byte * unit;
  return {used, (used + 3) & ~int64_t{3}};
}

// Uncompressed rows from `rows`, in file order; a bottom-up file fills the stored rows from
// the last. The caller checked that the rows are in the file.
void decode_rows(BmpDecode& d, ImageRecord* image, const uint8_t* rows, RowLayout layout, bool bottom_up) {
  const int32_t bits = image->bits;
  const int32_t width = image->width;
  const int64_t used = layout.used;
  uint8_t* scratch = nullptr;
  if (bits == 16) {
    // Each 16-bit pixel is loaded as a 32-bit word: four spare bytes keep the last load inside.
    scratch = mem_alloc(&d.scratch, static_cast<size_t>(2 * int64_t{width} + 4));
    if (scratch == nullptr) return;
  }
  for (int32_t i = 0; i < image->height; ++i) {
    const uint8_t* src = rows + i * layout.padded;
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
        convert_masked<2>(d, scratch, width, row);
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
        convert_masked<4>(d, src, width, row);
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

// What the information header says, whichever of its versions the file uses.
struct BmpHeader {
  uint32_t size;      // bytes of the information header
  bool os2;           // OS/2 1.x (12 bytes) or 2.x (16 to 64 bytes)
  int32_t width;
  int32_t height;     // negative for top-down rows
  int16_t bits;
  uint32_t compression;
  int32_t x_resolution, y_resolution;
  int64_t table_start;  // first colour table entry
  int64_t entry_bytes;  // 3 in OS/2 1.x files, 4 otherwise
};

// A 32-bit field of the information header; fields past the end of a short header read as 0.
uint32_t header_u32(const uint8_t* data, const BmpHeader& h, int64_t at) {
  return at + 4 <= kFileHeader + h.size ? load_u32le(data + at) : 0;
}

// Reads the information header of any known version. Unknown versions and compressions
// only OS/2 knows (Huffman, RLE24) are unknown formats (error 3); a header the file does
// not hold is invalid (error 14).
bool read_header(const uint8_t* data, int64_t size, BmpHeader* h) {
  h->size = load_u32le(data + kHeaderSize);
  const bool windows = h->size == 40 || h->size == 52 || h->size == 56 || h->size == 108 || h->size == 124;
  h->os2 = !windows && (h->size == 12 || (h->size >= 16 && h->size <= 64));
  if (!windows && !h->os2) {
    g_error = ERR_UNKNOWN_FORMAT;
    return false;
  }
  if (size < kFileHeader + h->size) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  h->table_start = kFileHeader + h->size;
  h->entry_bytes = 4;
  if (h->size == kOs2HeaderSize) {
    // OS/2 1.x: unsigned 16-bit dimensions, always bottom-up, no compression.
    h->width = static_cast<int32_t>(load_u16le(data + kWidth));
    h->height = static_cast<int32_t>(load_u16le(data + kOs2Height));
    h->bits = static_cast<int16_t>(load_u16le(data + kOs2Bits));
    h->compression = kStored;
    h->x_resolution = h->y_resolution = 0;
    h->entry_bytes = 3;
    return true;
  }
  h->width = static_cast<int32_t>(header_u32(data, *h, kWidth));
  h->height = static_cast<int32_t>(header_u32(data, *h, kHeight));
  h->bits = static_cast<int16_t>(header_u32(data, *h, kPlanesAndBits) >> 16);
  h->compression = header_u32(data, *h, kCompression);
  h->x_resolution = static_cast<int32_t>(header_u32(data, *h, kXResolution));
  h->y_resolution = static_cast<int32_t>(header_u32(data, *h, kYResolution));
  if (h->compression > kBitFields || (h->os2 && h->compression == kBitFields)) {
    g_error = ERR_UNKNOWN_FORMAT;
    return false;
  }
  return true;
}

void decode(ImageRecord* image, Handle group, const uint8_t* data, int64_t size) {
  int64_t required = load_u32le(data + kFileSize);
  if (required < kMinimumFile) required = kMinimumFile;
  const int64_t offset = load_u32le(data + kDataOffset);
  BmpHeader header;
  if (!read_header(data, size, &header)) return;
  const int32_t width = header.width;
  const int32_t height_field = header.height;
  const int16_t bits = header.bits;
  const uint32_t compression = header.compression;
  const bool bottom_up = height_field >= 0;
  if ((compression == kRle8 && (!bottom_up || bits != 8)) ||
      (compression == kRle4 && (!bottom_up || bits != 4)) ||
      (compression == kBitFields && bits != 16 && bits != 32)) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  image->description = header.os2 ? DESC_BMP_OS2
                       : compression == kStored ? DESC_BMP
                       : compression == kBitFields ? DESC_BMP_BITFIELDS
                                          : DESC_BMP_RLE;
  // The pixel data of a bitmap is always one plane, whatever the planes field says.
  image->planes = 1;
  image->bits = bits;
  image->x_resolution = header.x_resolution;
  image->y_resolution = header.y_resolution;

  // Red, green, blue and alpha masks. The 40-byte header is followed by three masks; the
  // longer ones hold them (and from 56 bytes on, alpha) at the same place.
  uint32_t masks[4] = {0, 0, 0, 0};
  if (compression == kBitFields) {
    if (required < kMasksEnd) required = kMasksEnd;
    if (size < kMasksEnd) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    for (int i = 0; i < 3; ++i) masks[i] = load_u32le(data + kMasks + 4 * i);
    masks[3] = header.size >= kAlphaMaskHeader ? load_u32le(data + kAlphaMask) : 0;
  } else {
    if (bits == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
      masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
    }
    const int64_t table = header.table_start;
    if (offset > table) {
      int64_t count = bits <= 8 ? int64_t{1} << bits : 256;
      if ((offset - table) / header.entry_bytes < count) count = (offset - table) / header.entry_bytes;
      if (count > 256) count = 256;
      if (required < offset) required = offset;
      if (size < offset) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      for (int64_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + table + header.entry_bytes * i;
        image->palette_blue[i] = entry[0];
        image->palette_green[i] = entry[1];
        image->palette_red[i] = entry[2];
      }
    }
  }
  BmpDecode d;
  if ((bits == 16 || bits == 32) &&
      !(channel_setup(&d.red, masks[0]) && channel_setup(&d.green, masks[1]) &&
        channel_setup(&d.blue, masks[2]) && channel_setup(&d.alpha, masks[3])))
    return;

  image->pixel_bytes = bits <= 8 ? 1 : 4;
  const int64_t height = bottom_up ? int64_t{height_field} : -int64_t{height_field};
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, bits <= 8);
  if (width <= 0 || height <= 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (compression == kRle8 || compression == kRle4) {
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
    const RowLayout layout = row_layout(bits, width);
    const int64_t used = layout.used;
    if (offset > size || (size - offset - used) / layout.padded < height - 1 || size - offset < used) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;
    decode_rows(d, image, data + offset, layout, bottom_up);
  }
}

}  // namespace

void decode_bmp(ImageRecord* image, Handle group, ByteReader& in) {
  const uint8_t* data = in.data();
  const int64_t size = in.size();
  if (size < kFileHeader + kOs2HeaderSize) {
    g_error = ERR_INVALID_FILE;
  } else {
    decode(image, group, data, size);
  }
}
