// Truevision Targa decoder: colour-mapped, true-colour and grey images, stored (types 1, 2,
// 3) or run-length encoded (types 9, 10, 11), from any of the four origin corners. The
// footer's extension area gives the key colour and the gamma.
#include <algorithm>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "image/image.h"

namespace {

constexpr int64_t kHeader = 18;
// Offsets of the header's fields: bytes, and 16-bit little-endian values for the map and size.
enum TargaField : int64_t {
  kIdLength = 0, kType = 2, kMapFirst = 3, kMapLength = 5, kEntrySize = 7, kWidth = 12, kHeight = 14,
  kDepth = 16, kDescriptor = 17
};
// Picture types; the run-length encoded ones are the stored ones plus kRunLength.
enum TargaType : int { kColourMapped = 1, kTrueColour = 2, kGrey = 3, kRunLength = 8 };
constexpr int kMaxMapEntries = 256;
constexpr int64_t kFooter = 26;
constexpr char kSignature[] = "TRUEVISION-XFILE.";  // with its zero byte, the footer's last 18 bytes

// Offsets in the extension area, and its size.
constexpr int64_t kKeyColour = 471;
constexpr int64_t kGamma = 478;
constexpr int64_t kScanLineTable = 490;
constexpr int64_t kExtensionSize = 495;

// How one decode turns file pixels into stored ones.
struct TargaPixels {
  int k;                // bits per channel of true-colour pixels, or of an index or grey value
  int bytes;            // bytes per file pixel
  bool true_colour;
  uint8_t scale[256];   // channel value -> 0..255
};

inline uint32_t load_pixel(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Writes one file pixel at `out`: an index or grey byte, or red, green, blue, 0.
inline void put_pixel(const TargaPixels& s, uint8_t* out, const uint8_t* p) {
  if (!s.true_colour) {
    *out = static_cast<uint8_t>(load_pixel(p, s.bytes) & ((1u << s.k) - 1));
    return;
  }
  if (s.k == 8 && s.bytes >= 3) {
    out[0] = p[2];
    out[1] = p[1];
    out[2] = p[0];
    out[3] = 0;
    return;
  }
  const uint32_t v = load_pixel(p, s.bytes);
  const uint32_t m = (1u << s.k) - 1;
  out[0] = s.scale[(v >> (2 * s.k)) & m];
  out[1] = s.scale[(v >> s.k) & m];
  out[2] = s.scale[v & m];
  out[3] = 0;
}

// Visits the stored pixels in file order for the origin corner: rows from the bottom or the
// top, pixels from the left or the right.
struct Walker {
  const TargaPixels& pixels;
  ImageRecord* image;
  bool from_bottom, from_right;
  int64_t step;  // bytes between pixels in file order
  int32_t row = 0;  // rows done
  uint8_t* begin_row() const {
    int32_t stored = from_bottom ? image->height - 1 - row : row;
    uint8_t* start = image->pixels + int64_t{stored} * image->row_bytes;
    return from_right ? start + (int64_t{image->width} - 1) * image->pixel_bytes : start;
  }
};

void decode_stored(Walker& w, const uint8_t* p) {
  const int bytes = w.pixels.bytes;
  if (w.pixels.true_colour && w.pixels.k == 8 && bytes >= 3) {
    // The common 24 and 32-bit files: blue, green, red bytes, without the generic unpacking.
    for (w.row = 0; w.row < w.image->height; ++w.row) {
      uint8_t* out = w.begin_row();
      for (int32_t x = 0; x < w.image->width; ++x, out += w.step, p += bytes) {
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
        out[3] = 0;
      }
    }
    return;
  }
  for (w.row = 0; w.row < w.image->height; ++w.row) {
    uint8_t* out = w.begin_row();
    for (int32_t x = 0; x < w.image->width; ++x, out += w.step, p += bytes) put_pixel(w.pixels, out, p);
  }
}

// Packets that cross a row's end go on at the start of the next row; the end of the data
// stops the decoding, and what was not reached keeps its cleared value.
void decode_rle(Walker& w, const uint8_t* p, const uint8_t* end) {
  const int bytes = w.pixels.bytes;
  const int32_t width = w.image->width;
  const int64_t pixel_bytes = w.image->pixel_bytes;
  int32_t x = 0;
  w.row = 0;
  uint8_t* out = w.begin_row();
  uint8_t value[4];
  while (w.row < w.image->height && p < end) {
    const uint8_t packet = *p++;
    int count = (packet & 127) + 1;
    const bool run = packet >= 128;
    if (run) {
      if (end - p < bytes) return;
      put_pixel(w.pixels, value, p);
      p += bytes;
    }
    while (count > 0) {
      if (!run && end - p < bytes) return;
      if (run) {
        std::memcpy(out, value, static_cast<size_t>(pixel_bytes));
      } else {
        put_pixel(w.pixels, out, p);
        p += bytes;
      }
      out += w.step;
      --count;
      if (++x == width) {
        x = 0;
        if (++w.row == w.image->height) return;
        out = w.begin_row();
      }
    }
  }
}

void decode(ImageRecord* image, Handle group, const uint8_t* data, int64_t size) {
  if (size < kHeader) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int id_length = data[kIdLength];
  const int type = data[kType];
  const int64_t map_first = load_u16le(data + kMapFirst);
  const int64_t map_length = load_u16le(data + kMapLength);
  const int entry_size = data[kEntrySize];
  const int64_t width = load_u16le(data + kWidth);
  const int64_t height = load_u16le(data + kHeight);
  const int depth = data[kDepth];
  const int descriptor = data[kDescriptor];
  const bool run_length = type > kRunLength;
  const int kind = run_length ? type - kRunLength : type;
  if (kind != kColourMapped && kind != kTrueColour && kind != kGrey) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if (map_length > kMaxMapEntries || (map_length != 0 && entry_size == 0)) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  const int entry_bytes = (entry_size + 7) / 8;
  const int64_t data_start = kHeader + id_length + map_length * entry_bytes;
  if (size < data_start) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const bool true_colour = kind == kTrueColour;
  // A 15 or 16-bit pixel holds three 5-bit channels and at most one attribute bit, and a
  // 24-bit pixel none, whatever the descriptor claims (8 is a common claim for 16 bits).
  int attribute_bits = descriptor & 15;
  if (true_colour && (depth == 15 || depth == 16)) attribute_bits = std::min(attribute_bits, depth - 15);
  if (true_colour && depth == 24) attribute_bits = 0;
  const int bits = depth - attribute_bits;
  if (!true_colour && bits > 8) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  // Deeper than 32 bits, or no bits left for the picture once the attribute bits are out.
  if ((true_colour && (bits > 32 || bits < 3)) || bits < 1 || entry_size > 32) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  image->description = DESC_TARGA;
  image->planes = 1;
  image->bits = bits;
  image->pixel_bytes = true_colour ? 4 : 1;

  // Colour map, each entry as three channels of at most 8 bits, blue in the lowest bits. The
  // map's first entry stands for pixel value `map_first`; values outside the map are black.
  if (map_length > 0) {
    const int k = entry_size / 3 < 8 ? entry_size / 3 : 8;
    const uint32_t m = (1u << k) - 1;
    const uint8_t* entry = data + kHeader + id_length;
    std::memset(image->palette_red, 0, sizeof image->palette_red);
    std::memset(image->palette_green, 0, sizeof image->palette_green);
    std::memset(image->palette_blue, 0, sizeof image->palette_blue);
    for (int64_t i = map_first; i < map_first + map_length && i < 256; ++i, entry += entry_bytes) {
      const uint32_t v = load_pixel(entry, entry_bytes);
      image->palette_blue[i] = k > 0 ? scale_channel(v & m, k) : 0;
      image->palette_green[i] = k > 0 ? scale_channel((v >> k) & m, k) : 0;
      image->palette_red[i] = k > 0 ? scale_channel((v >> (2 * k)) & m, k) : 0;
    }
  } else if (kind == kGrey) {
    palette_set_grey(image, bits);
    if (g_error != 0) return;
  }

  // Footer and extension area: key colour, gamma, and a check of the scan-line table.
  if (size >= kHeader + kFooter &&
      std::memcmp(data + size - int64_t{sizeof kSignature}, kSignature, sizeof kSignature) == 0) {
    const int64_t extension = load_u32le(data + size - kFooter);
    // An extension area that does not fit in the file is not used.
    if (extension != 0 && extension + kExtensionSize <= size) {
      const uint8_t* area = data + extension;
      const uint8_t* key = area + kKeyColour;
      image->has_transparent = 1;
      std::memcpy(image->transparent, key, 3);
      int index = image->transparent[0];
      palette_find_rgb(image->handle, key[0], key[1], key[2], &index);
      image->transparent[0] = static_cast<uint8_t>(index);
      const uint32_t numerator = load_u16le(area + kGamma);
      const uint32_t denominator = load_u16le(area + kGamma + 2);
      if (denominator != 0) image->gamma = static_cast<double>(numerator) / denominator;
      const int64_t table = load_u32le(area + kScanLineTable);
      if (table != 0 && run_length) {
        const int64_t last = table + 4 * height - 4;
        if (last < 0 || last + 4 > size || load_u32le(data + last) >= size) {
          g_error = ERR_INVALID_FILE;
          return;
        }
      }
    }
  }

  TargaPixels pixels;
  pixels.true_colour = true_colour;
  pixels.bytes = (depth + 7) / 8;
  // Channels are bytes at most: a 32-bit pixel without attribute bits is still blue, green,
  // red and a fourth byte.
  pixels.k = true_colour ? (bits / 3 < 8 ? bits / 3 : 8) : bits;
  for (int v = 0; v < 256; ++v) pixels.scale[v] = scale_channel(static_cast<uint32_t>(v), pixels.k);

  const int64_t available = size - data_start;
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, bits <= 8);
  if (width == 0 || height == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (!run_length) {
    if (available / (pixels.bytes * width) < height) {
      g_error = ERR_INVALID_FILE;
      return;
    }
  } else if (!raster_plausible(row_bytes * height, available, 128 * 4)) {
    return;
  }
  if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;

  const int origin = (descriptor >> 4) & 3;
  Walker walker{pixels, image, origin < 2, (origin & 1) != 0, (origin & 1) ? -image->pixel_bytes : image->pixel_bytes};
  if (!run_length) {
    decode_stored(walker, data + data_start);
  } else {
    std::memset(image->pixels, 0, image->pixel_size);
    decode_rle(walker, data + data_start, data + size);
  }
}

}  // namespace

void decode_targa(ImageRecord* image, Handle group, ByteReader& in) {
  decode(image, group, in.data(), in.size());
}
