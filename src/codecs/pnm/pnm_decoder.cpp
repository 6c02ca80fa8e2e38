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
#include "io/stream.h"
#include "io/text.h"

namespace {

constexpr int kTokenMax = 31;
constexpr int64_t kWideMaximum = 65535;

struct PnmState {
  ImageRecord* image;
  uint32_t budget;  // bytes the text readers may still consume
  int64_t maximum;
  bool wide;  // maximum above 255
  // Sample -> stored byte: scaled to 0..255 for pixmaps and wide grey maps, else kept as an
  // index into the grey palette; samples above the maximum count as the maximum.
  uint8_t scale[kWideMaximum + 1];
};
PnmState g_pnm;

// One header number; comments (tokens that begin with "#") run to the end of their line.
int64_t read_header_number() {
  char token[kTokenMax + 1];
  uint8_t after = 0;
  text_read_token(kTokenMax, &g_pnm.budget, token, &after);
  while (token[0] == '#' && g_error == 0) {
    if (after != '\n' && after != '\r') text_skip_line(&g_pnm.budget);
    text_read_token(kTokenMax, &g_pnm.budget, token, &after);
  }
  return std::atoll(token);
}

uint8_t* row_start(int32_t row) { return g_pnm.image->pixels + int64_t{row} * g_pnm.image->row_bytes; }

// The ASCII rasters. A file that ends early leaves the rest of the picture at 0.
void read_ascii(int32_t variant) {
  ImageRecord* image = g_pnm.image;
  const int64_t maximum = g_pnm.maximum;
  for (int32_t y = 0; y < image->height && g_pnm.budget > 0 && g_error == 0; ++y) {
    uint8_t* out = row_start(y);
    for (int32_t x = 0; x < image->width && g_pnm.budget > 0; ++x) {
      if (variant == DESC_PBM_ASCII) {
        out[x] = static_cast<uint8_t>(text_read_digit(&g_pnm.budget));
      } else if (variant == DESC_PGM_ASCII) {
        int64_t v = text_read_number(&g_pnm.budget);
        out[x] = g_pnm.scale[v < maximum ? v : maximum];
      } else {
        for (int c = 0; c < 3; ++c) {
          int64_t v = text_read_number(&g_pnm.budget);
          out[4 * x + c] = g_pnm.scale[v < maximum ? v : maximum];
        }
      }
    }
  }
}

inline uint8_t wide_sample(const uint8_t* p) { return g_pnm.scale[(uint32_t{p[0]} << 8) | p[1]]; }

// Rows are taken from the file's bytes in place; the pages behind them are given back every
// kReleaseRows rows, so a mapped file does not add its size to the picture's.
constexpr int32_t kReleaseRows = 64;

void read_raw(int32_t variant, const uint8_t* file, const uint8_t* p) {
  ImageRecord* image = g_pnm.image;
  const int64_t width = image->width;
  for (int32_t y = 0; y < image->height; ++y) {
    if (y % kReleaseRows == 0) stream_release_before(p - file);
    uint8_t* out = row_start(y);
    if (variant == DESC_PBM_RAW) {
      const int64_t bytes = (width + 7) / 8;
      unpack_msb(p, bytes, 1, out, image->row_bytes);
      p += bytes;
    } else if (g_pnm.wide) {
      const int channels = variant == DESC_PGM_RAW ? 1 : 3;
      for (int64_t x = 0; x < width; ++x, p += 2 * channels) {
        if (channels == 1) {
          out[x] = wide_sample(p);
          continue;
        }
        out[4 * x] = wide_sample(p);
        out[4 * x + 1] = wide_sample(p + 2);
        out[4 * x + 2] = wide_sample(p + 4);
        out[4 * x + 3] = 0;
      }
    } else if (variant == DESC_PGM_RAW) {
      if (g_pnm.maximum == 255) {
        std::memcpy(out, p, static_cast<size_t>(width));
      } else {
        const uint8_t* clamp = g_pnm.scale;
        for (int64_t x = 0; x < width; ++x) out[x] = clamp[p[x]];
      }
      p += width;
    } else if (g_pnm.maximum == 255) {
      for (int64_t x = 0; x < width; ++x, p += 3, out += 4) {
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = 0;
      }
    } else {
      const uint8_t* scale = g_pnm.scale;
      for (int64_t x = 0; x < width; ++x, p += 3, out += 4) {
        out[0] = scale[p[0]];
        out[1] = scale[p[1]];
        out[2] = scale[p[2]];
        out[3] = 0;
      }
    }
  }
}

void decode(ImageRecord* image, int32_t variant, Handle group) {
  g_pnm.image = image;
  const int64_t size = stream_size();
  g_pnm.budget = size > 2 ? static_cast<uint32_t>(size - 2 > UINT32_MAX ? UINT32_MAX : size - 2) : 0;
  stream_seek(2, 0);
  const bool bitmap = variant == DESC_PBM_ASCII || variant == DESC_PBM_RAW;
  const bool pixmap = variant == DESC_PPM_ASCII || variant == DESC_PPM_RAW;
  const bool ascii = variant <= DESC_PPM_ASCII;
  const int64_t width = read_header_number();
  const int64_t height = read_header_number();
  g_pnm.maximum = bitmap ? 1 : read_header_number();
  if (g_error != 0) return;
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (g_pnm.maximum <= 0 || g_pnm.maximum > kWideMaximum) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  g_pnm.wide = g_pnm.maximum > 255;
  if (g_pnm.wide) {
    static const int32_t kWideDescriptions[] = {DESC_PGM_ASCII_16, DESC_PPM_ASCII_16, 0, DESC_PGM_RAW_16, DESC_PPM_RAW_16};
    image->description = kWideDescriptions[variant - DESC_PGM_ASCII];
  }
  image->planes = 1;
  image->bits = pixmap ? 24 : bitmap ? 1 : 8;
  image->pixel_bytes = pixmap ? 4 : 1;
  const int64_t row_bytes = raster_row_bytes(width, image->pixel_bytes, !pixmap);
  if (row_bytes < 0) {
    g_error = ERR_MEMORY;
    return;
  }
  const int64_t start = stream_tell();
  if (ascii) {
    // Every sample of a text raster takes at least one byte of the file.
    if (!raster_plausible(row_bytes * height, size - start, 16)) return;
  } else {
    const int64_t row_in = variant == DESC_PBM_RAW ? (width + 7) / 8 : (pixmap ? 3 * width : width) * (g_pnm.wide ? 2 : 1);
    if (start > size || (size - start) / row_in < height) {
      g_error = ERR_FILE_ACCESS;  // the raster is shorter than the header promises
      return;
    }
  }

  if (bitmap) {
    image->palette_red[0] = image->palette_green[0] = image->palette_blue[0] = 255;
    image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 0;
  } else if (g_pnm.wide) {
    if (!pixmap) palette_set_grey(image, 8);
    const int64_t top = g_pnm.maximum;
    for (int64_t v = 0; v <= kWideMaximum; ++v)
      g_pnm.scale[v] = static_cast<uint8_t>(((v < top ? v : top) * 255 + top / 2) / top);
  } else if (!pixmap) {
    for (int64_t i = 0; i <= g_pnm.maximum; ++i)
      image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] =
          static_cast<uint8_t>(i * 255 / g_pnm.maximum);
    // Samples above the maximum are taken as the maximum, as in the ASCII form.
    for (int v = 0; v < 256; ++v) g_pnm.scale[v] = static_cast<uint8_t>(v < g_pnm.maximum ? v : g_pnm.maximum);
  } else {
    for (int v = 0; v < 256; ++v)
      g_pnm.scale[v] = static_cast<uint8_t>((v < g_pnm.maximum ? v : g_pnm.maximum) * 255 / g_pnm.maximum);
  }

  if (!raster_alloc(image, group, width, height, row_bytes, 1)) return;
  if (ascii) {
    std::memset(image->pixels, 0, image->pixel_size);
    read_ascii(variant);
  } else {
    const uint8_t* data;
    int64_t whole;
    if (!stream_whole_file(&data, &whole)) {
      g_error = ERR_FILE_ACCESS;
      return;
    }
    read_raw(variant, data, data + start);
  }
}

}  // namespace

void decode_pnm(ImageRecord* image, int32_t description, Handle group, ByteReader& /*in*/) {
  if (stream_open(image->name, 0) != 0) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  if (description < DESC_PBM_ASCII || description > DESC_PPM_RAW) {
    g_error = ERR_VALUE;
  } else {
    image->description = description;
    decode(image, description, group);
  }
  stream_close();
}
