// Portable anymap decoder: PBM, PGM and PPM in their ASCII (P1, P2, P3) and raw (P4, P5, P6)
// forms. Bitmaps and grey maps keep one byte per pixel with a palette; pixmaps become
// red, green, blue, 0 pixels scaled from the file's maximum to 0..255. A maximum above 255
// (two bytes a raw sample, most significant first) is scaled to 8 bits with rounding, grey
// maps then going through a plain grey ramp.
#include <cstdlib>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "image/image.h"
#include "io/text.h"

namespace {

constexpr int kTokenMax = 31;
constexpr int64_t kMagicBytes = 2;  // "P1" .. "P6"
constexpr int64_t kByteMaximum = 255;
constexpr int64_t kWideMaximum = 65535;
// Every sample of a text raster takes at least one byte of the file.
constexpr int64_t kTextPixelsPerByte = 16;
// Rows are taken from the file's bytes in place; the pages behind them are given back every
// kReleaseRows rows, so a mapped file does not add its size to the picture's.
constexpr int32_t kReleaseRows = 64;

// One decode: the file, the record, and the sample scaling its header asks for.
struct PnmDecode {
  ByteReader& in;
  ImageRecord* image;
  int32_t variant;  // DESC_PBM_ASCII .. DESC_PPM_RAW
  int64_t maximum = 0;
  bool wide = false;  // maximum above 255
  // Sample -> stored byte: scaled to 0..255 for pixmaps and wide grey maps, else kept as an
  // index into the grey palette; samples above the maximum count as the maximum.
  uint8_t scale[kWideMaximum + 1];

  PnmDecode(ByteReader& reader, ImageRecord* record, int32_t description)
      : in(reader), image(record), variant(description) {}
  bool bitmap() const { return variant == DESC_PBM_ASCII || variant == DESC_PBM_RAW; }
  bool pixmap() const { return variant == DESC_PPM_ASCII || variant == DESC_PPM_RAW; }
  bool ascii() const { return variant <= DESC_PPM_ASCII; }
  uint8_t* row_start(int32_t row) const { return image->pixels + int64_t{row} * image->row_bytes; }
  uint8_t text_sample() {
    const int64_t v = text_read_number(in);
    return scale[v < maximum ? v : maximum];
  }
  uint8_t wide_sample(const uint8_t* p) const { return scale[(uint32_t{p[0]} << 8) | p[1]]; }
};

// One header number; comments (tokens that begin with "#") run to the end of their line.
int64_t read_header_number(ByteReader& in) {
  char token[kTokenMax + 1];
  uint8_t after = 0;
  text_read_token(in, kTokenMax, token, &after);
  while (token[0] == '#' && g_error == 0) {
    if (after != '\n' && after != '\r') text_skip_line(in);
    text_read_token(in, kTokenMax, token, &after);
  }
  return std::atoll(token);
}

// The ASCII rasters. A file that ends early leaves the rest of the picture at 0.
void read_ascii(PnmDecode& d) {
  const ImageRecord* image = d.image;
  for (int32_t y = 0; y < image->height && !d.in.at_end() && g_error == 0; ++y) {
    uint8_t* out = d.row_start(y);
    for (int32_t x = 0; x < image->width && !d.in.at_end(); ++x) {
      if (d.variant == DESC_PBM_ASCII) {
        out[x] = static_cast<uint8_t>(text_read_digit(d.in));
      } else if (d.variant == DESC_PGM_ASCII) {
        out[x] = d.text_sample();
      } else {
        for (int c = 0; c < 3; ++c) out[4 * x + c] = d.text_sample();
      }
    }
  }
}

void read_raw(PnmDecode& d, const uint8_t* p) {
  const ImageRecord* image = d.image;
  const int64_t width = image->width;
  for (int32_t y = 0; y < image->height; ++y) {
    if (y % kReleaseRows == 0) d.in.release_before(p - d.in.data());
    uint8_t* out = d.row_start(y);
    if (d.variant == DESC_PBM_RAW) {
      const int64_t bytes = (width + 7) / 8;
      unpack_msb(p, bytes, 1, out, image->row_bytes);
      p += bytes;
    } else if (d.wide) {
      const int channels = d.variant == DESC_PGM_RAW ? 1 : 3;
      for (int64_t x = 0; x < width; ++x, p += 2 * channels) {
        if (channels == 1) {
          out[x] = d.wide_sample(p);
          continue;
        }
        out[4 * x] = d.wide_sample(p);
        out[4 * x + 1] = d.wide_sample(p + 2);
        out[4 * x + 2] = d.wide_sample(p + 4);
        out[4 * x + 3] = 0;
      }
    } else if (d.variant == DESC_PGM_RAW) {
      if (d.maximum == kByteMaximum) {
        std::memcpy(out, p, static_cast<size_t>(width));
      } else {
        for (int64_t x = 0; x < width; ++x) out[x] = d.scale[p[x]];
      }
      p += width;
    } else if (d.maximum == kByteMaximum) {
      for (int64_t x = 0; x < width; ++x, p += 3, out += 4) {
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = 0;
      }
    } else {
      const uint8_t* scale = d.scale;
      for (int64_t x = 0; x < width; ++x, p += 3, out += 4) {
        out[0] = scale[p[0]];
        out[1] = scale[p[1]];
        out[2] = scale[p[2]];
        out[3] = 0;
      }
    }
  }
}

// The palette and the sample scaling for the header's maximum.
void set_up_samples(PnmDecode& d) {
  ImageRecord* image = d.image;
  const int64_t top = d.maximum;
  if (d.bitmap()) {
    image->palette_red[0] = image->palette_green[0] = image->palette_blue[0] = 255;
    image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 0;
  } else if (d.wide) {
    if (!d.pixmap()) palette_set_grey(image, 8);
    for (int64_t v = 0; v <= kWideMaximum; ++v)
      d.scale[v] = static_cast<uint8_t>(((v < top ? v : top) * 255 + top / 2) / top);
  } else if (!d.pixmap()) {
    for (int64_t i = 0; i <= top; ++i)
      image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] = static_cast<uint8_t>(i * 255 / top);
    // Samples above the maximum are taken as the maximum, as in the ASCII form.
    for (int v = 0; v <= kByteMaximum; ++v) d.scale[v] = static_cast<uint8_t>(v < top ? v : top);
  } else {
    for (int v = 0; v <= kByteMaximum; ++v) d.scale[v] = static_cast<uint8_t>((v < top ? v : top) * 255 / top);
  }
}

// The description of a maximum above 255, for the variants that have one.
int32_t wide_description(int32_t variant) {
  switch (variant) {
    case DESC_PGM_ASCII: return DESC_PGM_ASCII_16;
    case DESC_PPM_ASCII: return DESC_PPM_ASCII_16;
    case DESC_PGM_RAW: return DESC_PGM_RAW_16;
    default: return DESC_PPM_RAW_16;
  }
}

void decode(PnmDecode& d, Handle group) {
  ImageRecord* image = d.image;
  const int64_t size = d.in.size();
  d.in.seek(kMagicBytes);
  const int64_t width = read_header_number(d.in);
  const int64_t height = read_header_number(d.in);
  d.maximum = d.bitmap() ? 1 : read_header_number(d.in);
  if (g_error != 0) return;
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (d.maximum <= 0 || d.maximum > kWideMaximum) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  d.wide = d.maximum > kByteMaximum;
  if (d.wide) image->description = wide_description(d.variant);
  image->planes = 1;
  image->bits = d.pixmap() ? 24 : d.bitmap() ? 1 : 8;
  image->pixel_bytes = d.pixmap() ? 4 : 1;
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, !d.pixmap());
  if (row_bytes < 0) {
    g_error = ERR_MEMORY;
    return;
  }
  const int64_t start = d.in.tell();
  if (d.ascii()) {
    if (!raster_plausible(row_bytes * height, size - start, kTextPixelsPerByte)) return;
  } else {
    const int64_t row_in = d.variant == DESC_PBM_RAW ? (width + 7) / 8 : (d.pixmap() ? 3 * width : width) * (d.wide ? 2 : 1);
    if (start > size || (size - start) / row_in < height) {
      g_error = ERR_FILE_ACCESS;  // the raster is shorter than the header promises
      return;
    }
  }
  set_up_samples(d);
  if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;
  if (d.ascii()) {
    std::memset(image->pixels, 0, image->pixel_size);
    read_ascii(d);
  } else {
    read_raw(d, d.in.data() + start);
  }
}

}  // namespace

void decode_pnm(ImageRecord* image, int32_t description, Handle group, ByteReader& in) {
  if (description < DESC_PBM_ASCII || description > DESC_PPM_RAW) {
    g_error = ERR_VALUE;
    return;
  }
  image->description = description;
  PnmDecode d(in, image, description);
  decode(d, group);
}
