// PCX decoder: stored or run-length scan lines; bit-planes of 1, 2 or 4 bits combined into
// one byte per pixel, 8-bit planes kept as separate image planes (indexed, or red, green,
// blue), and the 256-colour palette that version 5 files append.
#include <algorithm>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

constexpr int64_t kHeader = 128;
// Offsets of the header's fields: bytes, then 16-bit little-endian values from the window on.
enum PcxField : int64_t {
  kVersion = 1, kEncoding = 2, kBits = 3, kLeft = 4, kTop = 6, kRight = 8, kBottom = 10,
  kXResolution = 12, kYResolution = 14, kHeaderPalette = 16, kPlanes = 65, kBytesPerLine = 66
};
constexpr int kHeaderPaletteEntries = 16;
constexpr int kPaletteMarker = 12;  // before the 256-colour palette at the end
constexpr int kPaletteVersion = 5;  // the first version that may append it

constexpr int kPaletteEntries = 256;
constexpr uint8_t kRunMark = 0xC0;  // the two top bits that make a byte a run count
constexpr uint8_t kRunCount = 0x3F;

// One decode: the file's bytes still to read and the working rows.
struct PcxDecode {
  const uint8_t* p = nullptr;  // next file byte
  const uint8_t* end = nullptr;
  int encoding = 0;
  uint8_t* line = nullptr;   // planes x bytes per line, the current scan line
  uint8_t* row = nullptr;    // one row of combined pixels before it is clipped to row_bytes
  PcxDecode() = default;
  PcxDecode(const PcxDecode&) = delete;
  PcxDecode& operator=(const PcxDecode&) = delete;
  ~PcxDecode() {
    mem_free(&line);
    mem_free(&row);
  }
};

// Fills `length` bytes of the line buffer. Run-length data that runs out, or a run that
// would pass the end of the line, makes the file invalid.
bool read_line(PcxDecode& s, int64_t length) {
  if (s.encoding == 0) {
    if (s.end - s.p < length) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    std::memcpy(s.line, s.p, static_cast<size_t>(length));
    s.p += length;
    return true;
  }
  int64_t filled = 0;
  while (filled < length) {
    if (s.p >= s.end) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    const uint8_t b = *s.p++;
    if ((b & kRunMark) != kRunMark) {
      s.line[filled++] = b;
      continue;
    }
    const int count = b & kRunCount;
    if (s.p >= s.end || count > length - filled) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    std::memset(s.line + filled, *s.p++, static_cast<size_t>(count));
    filled += count;
  }
  return true;
}

// Combines the planes of one line, `take` bytes each, into one byte per pixel: plane p gives
// the bits from bits x p upwards.
void combine_planes(const PcxDecode& d, int bits, int planes, int64_t bytes_per_line, int64_t take, uint8_t* out) {
  const int per_byte = 8 / bits;
  const int64_t count = take * per_byte;
  std::memset(out, 0, static_cast<size_t>(count));
  for (int plane = 0; plane < planes; ++plane) {
    const uint8_t* src = d.line + plane * bytes_per_line;
    const int shift = bits * plane;
    if (bits == 1) {
      for (int64_t i = 0; i < take; ++i) {
        uint64_t spread;
        std::memcpy(&spread, g_bits_to_bytes[src[i]], 8);
        uint64_t current;
        std::memcpy(&current, out + 8 * i, 8);
        current |= spread << shift;
        std::memcpy(out + 8 * i, &current, 8);
      }
    } else {
      const uint8_t field = static_cast<uint8_t>((1 << bits) - 1);
      for (int64_t i = 0; i < take; ++i) {
        const uint8_t b = src[i];
        for (int j = 0; j < per_byte; ++j)
          out[i * per_byte + j] |= static_cast<uint8_t>(((b >> (8 - bits * (j + 1))) & field) << shift);
      }
    }
  }
}

void decode(PcxDecode& d, ImageRecord* image, Handle group, const uint8_t* data, int64_t size) {
  image->description = DESC_PCX;
  if (size < kHeader) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int version = data[kVersion];
  const int encoding = data[kEncoding];
  if (encoding > 1) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  const int bits = data[kBits];
  const int64_t width = int64_t{static_cast<int16_t>(load_u16le(data + kRight))} -
                        static_cast<int16_t>(load_u16le(data + kLeft)) + 1;
  const int64_t height = int64_t{static_cast<int16_t>(load_u16le(data + kBottom))} -
                         static_cast<int16_t>(load_u16le(data + kTop)) + 1;
  image->bits = bits;
  image->pixel_bytes = (bits + 7) / 8;
  image->x_resolution = static_cast<int16_t>(load_u16le(data + kXResolution));
  image->y_resolution = static_cast<int16_t>(load_u16le(data + kYResolution));
  for (int i = 0; i < kHeaderPaletteEntries; ++i) {
    const uint8_t* entry = data + kHeaderPalette + 3 * i;
    image->palette_red[i] = entry[0];
    image->palette_green[i] = entry[1];
    image->palette_blue[i] = entry[2];
  }
  const int planes = data[kPlanes];
  // A monochrome file shows its set bits white. Several 1-bit planes make a 4 to 8-bit index
  // whose entry 1 is a colour of the header palette like the others.
  if (bits == 1 && planes == 1)
    image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 255;
  const int64_t bytes_per_line = static_cast<int16_t>(load_u16le(data + kBytesPerLine));
  image->planes = planes;

  // Only 1, 2, 4 and 8 bits a plane make pixels; packed planes must fit in one byte, and
  // 8-bit planes are an index (one plane) or red, green, blue (and an ignored fourth).
  if ((bits != 1 && bits != 2 && bits != 4 && bits != 8) || planes == 0 ||
      (bits < 8 && bits * planes > 8) || (bits == 8 && planes != 1 && planes != 3 && planes != 4)) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if (bytes_per_line <= 0 || width <= 0 || height <= 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int64_t line_length = planes * bytes_per_line;
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, true);
  // A file byte yields at most 8 pixels of a bit-plane; a run-length pair, 63 bytes of a line.
  if (row_bytes < 0 ||
      !raster_plausible(row_bytes * height * planes, size - kHeader, encoding == 1 ? 256 : 8)) {
    if (g_error == 0) g_error = ERR_MEMORY;
    return;
  }
  if (mem_alloc(&d.line, static_cast<size_t>(line_length) + 8) == nullptr) return;
  const int64_t take = bits < 8 ? std::min(bytes_per_line, (width * bits + 7) / 8) : 0;
  if (bits < 8 && mem_alloc(&d.row, static_cast<size_t>(take * (8 / bits)) + 8) == nullptr) return;
  if (!raster_alloc(image, group, width, height, row_bytes, planes)) return;
  if (bits < 8 || bytes_per_line < width) std::memset(image->pixels, 0, image->pixel_size);

  d.p = data + kHeader;
  d.end = data + size;
  d.encoding = encoding;
  const int64_t plane_size = int64_t{image->row_bytes} * image->height;
  const int64_t copy = bytes_per_line < row_bytes ? bytes_per_line : row_bytes;
  for (int32_t r = 0; r < image->height; ++r) {
    if (!read_line(d, line_length)) return;
    uint8_t* row = image->pixels + int64_t{r} * image->row_bytes;
    if (bits < 8) {
      const int64_t count = take * (8 / bits);
      combine_planes(d, bits, planes, bytes_per_line, take, d.row);
      std::memcpy(row, d.row, static_cast<size_t>(count < row_bytes ? count : row_bytes));
    } else {
      for (int plane = 0; plane < planes; ++plane)
        std::memcpy(row + plane * plane_size, d.line + plane * bytes_per_line, static_cast<size_t>(copy));
    }
  }
  if (bits < 8 && planes >= 2) {
    image->bits = bits * planes;
    image->planes = 1;
  }
  if (version >= kPaletteVersion && d.end - d.p > 3 * kPaletteEntries && *d.p == kPaletteMarker) {
    const uint8_t* entry = d.p + 1;
    for (int i = 0; i < kPaletteEntries; ++i, entry += 3) {
      image->palette_red[i] = entry[0];
      image->palette_green[i] = entry[1];
      image->palette_blue[i] = entry[2];
    }
  }
}

}  // namespace

void decode_pcx(ImageRecord* image, Handle group, ByteReader& in) {
  PcxDecode d;
  decode(d, image, group, in.data(), in.size());
}
