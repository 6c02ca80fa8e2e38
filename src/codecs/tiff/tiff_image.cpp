// Turns a directory into pixels: sizes the pixel block, walks the strips or tiles, hands each
// to its decompressor and lands the decoded rows, converting the pixel format and applying
// the orientation on the way.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "codecs/raster_common.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"
#include "image/pixels.h"

namespace {

// Each byte with its bits in reverse order (FillOrder 2).
struct ReversedBytes {
  uint8_t value[256];
  ReversedBytes() {
    for (int v = 0; v < 256; ++v) {
      int r = 0;
      for (int i = 0; i < 8; ++i) r |= ((v >> i) & 1) << (7 - i);
      value[v] = static_cast<uint8_t>(r);
    }
  }
};
const ReversedBytes kReversed;

// Converts `n` pixels of a coded row to the stored format at `out` (contiguous).
void convert_row(TiffState& tiff, const uint8_t* src, uint8_t* out, int32_t n) {
  switch (tiff.land.bits) {
    case 1:
    case 2:
    case 4: {
      const int bits = tiff.land.bits;
      unpack_msb(src, (int64_t{n} * bits + 7) / 8, bits, out, n);
      break;
    }
    case 8:
      std::memcpy(out, src, static_cast<size_t>(n));
      break;
    case 24: {
      int32_t i = 0;
      if constexpr (std::endian::native == std::endian::little) {
        // Four pixels from three 32-bit words.
        for (; i + 4 <= n; i += 4, src += 12, out += 16) {
          uint32_t w[3], p[4];
          std::memcpy(w, src, 12);
          p[0] = w[0] & 0xFFFFFF;
          p[1] = (w[0] >> 24) | ((w[1] & 0xFFFF) << 8);
          p[2] = (w[1] >> 16) | ((w[2] & 0xFF) << 16);
          p[3] = w[2] >> 8;
          std::memcpy(out, p, 16);
        }
      }
      for (; i < n; ++i, src += 3, out += 4) {
        out[0] = src[0];
        out[1] = src[1];
        out[2] = src[2];
        out[3] = 0;
      }
      break;
    }
    case 32:
      if (tiff.land.rgba) {
        std::memcpy(out, src, size_t(n) * 4);
      } else {
        for (int32_t i = 0; i < n; ++i, src += 4, out += 4) {
          const int k = src[3];
          out[0] = ink_to_rgb(src[0], k);
          out[1] = ink_to_rgb(src[1], k);
          out[2] = ink_to_rgb(src[2], k);
          out[3] = static_cast<uint8_t>(k);
        }
      }
      break;
    default:
      break;
  }
}

// Horizontal differencing undone on one-byte-per-pixel values of fewer than 8 bits.
void undo_small_predictor(TiffState& tiff, uint8_t* row, int32_t n) {
  const uint8_t mask = static_cast<uint8_t>((1u << tiff.land.bits) - 1);
  for (int32_t i = 1; i < n; ++i) row[i] = (row[i] + row[i - 1]) & mask;
}

// Copies `n` stored pixels from `src` to their places for row `row` of the current strip or
// tile.
void place(TiffState& tiff, const uint8_t* src, int32_t row, int32_t n) {
  uint8_t* dest = tiff.land.land_ptr(row);
  const int64_t step = tiff.land.plane.pixel_step;
  if (tiff.land.pixel_bytes == 1) {
    for (int32_t i = 0; i < n; ++i, dest += step) *dest = src[i];
  } else {
    for (int32_t i = 0; i < n; ++i, dest += step) std::memcpy(dest, src + i * 4, 4);
  }
}

uint8_t* row_scratch(TiffState& tiff, int64_t bytes) { return tiff.buffer(kRowBuffer, bytes); }

// Rows of the current strip or tile that no data reached are cleared to 0.
void clear_unlanded_rows(TiffState& tiff) {
  if (tiff.land.landed >= tiff.land.rows || tiff.land.cleared) return;
  const TiffGeometry& g = tiff.land.plane;
  if (g.pixel_step == tiff.land.pixel_bytes || g.pixel_step == -tiff.land.pixel_bytes) {
    // The row is one run of bytes, forwards or mirrored.
    const int64_t span = int64_t{tiff.land.pixels_shown} * tiff.land.pixel_bytes;
    for (int32_t r = tiff.land.landed; r < tiff.land.rows; ++r) {
      uint8_t* first = tiff.land.land_ptr(r);
      if (g.pixel_step < 0) first -= span - tiff.land.pixel_bytes;
      std::memset(first, 0, static_cast<size_t>(span));
    }
    tiff.land.landed = tiff.land.rows;
    return;
  }
  const int64_t bytes = int64_t{tiff.land.pixels_shown} * tiff.land.pixel_bytes;
  uint8_t* zero = row_scratch(tiff, int64_t{tiff.land.row_pixels} * tiff.land.pixel_bytes + 8);
  if (zero == nullptr) return;
  std::memset(zero, 0, static_cast<size_t>(bytes));
  for (int32_t r = tiff.land.landed; r < tiff.land.rows; ++r) place(tiff, zero, r, tiff.land.pixels_shown);
  tiff.land.landed = tiff.land.rows;
}

// 16-bit samples to 8 bits, rounded to the nearest: v x 255 / 65535 = v / 257.
const uint8_t* narrow_row(TiffState& tiff, const uint8_t* src, int64_t count) {
  uint8_t* out = tiff.buffer(kNarrowBuffer, count + 8);
  if (out == nullptr) return nullptr;
  const int high = tiff.land.big_endian ? 0 : 1;
  for (int64_t i = 0; i < count; ++i, src += 2)
    out[i] = static_cast<uint8_t>(((uint32_t{src[high]} << 8 | src[1 - high]) + 128) / 257);
  return out;
}

// Lands one image row of the strip or tile from a coded row of one pixel per coded pixel.
void land_row(TiffState& tiff, const uint8_t* src, int32_t row, bool predicted) {
  if (row < 0 || row >= tiff.land.rows) return;
  if (row >= tiff.land.landed) tiff.land.landed = row + 1;
  const int32_t n = tiff.land.pixels_shown;
  if (tiff.land.wide && (src = narrow_row(tiff, src, int64_t{n} * tiff.land.samples)) == nullptr) return;
  const TiffGeometry& g = tiff.land.plane;
  const bool small_predicted = predicted && tiff.land.bits < 8;
  if (g.pixel_step == tiff.land.pixel_bytes && !small_predicted) {
    convert_row(tiff, src, tiff.land.land_ptr(row), n);
    return;
  }
  uint8_t* out = row_scratch(tiff, int64_t{tiff.land.row_pixels} * tiff.land.pixel_bytes + 8);
  if (out == nullptr) return;
  convert_row(tiff, src, out, n);
  if (small_predicted) undo_small_predictor(tiff, out, n);
  place(tiff, out, row, n);
}

// A coded row of subsampled YCbCr holds sub_v image rows as units of sub_h x sub_v luma
// samples followed by one Cb and one Cr; each pixel gets its unit's chroma.
void land_subsampled(TiffState& tiff, const uint8_t* src, int32_t coded_row) {
  const int32_t h = tiff.land.sub_h, v = tiff.land.sub_v;
  const int64_t n = tiff.land.row_pixels;
  uint8_t* rows = tiff.buffer(kExpandBuffer, v * n * 3 + 8);
  if (rows == nullptr) return;
  for (int64_t x0 = 0; x0 < n; x0 += h, src += h * v + 2) {
    const int64_t across = n - x0 < h ? n - x0 : h;
    for (int32_t j = 0; j < v; ++j)
      for (int64_t i = 0; i < across; ++i) {
        uint8_t* p = rows + (j * n + x0 + i) * 3;
        p[0] = src[j * h + i];
        p[1] = src[h * v];
        p[2] = src[h * v + 1];
      }
  }
  for (int32_t j = 0; j < v; ++j) land_row(tiff, rows + j * n * 3, coded_row * v + j, false);
}

}  // namespace

void tiff_land_row(TiffState& tiff, const uint8_t* src, int32_t row, bool predicted) {
  if (tiff.land.sub_h * tiff.land.sub_v > 1) {
    land_subsampled(tiff, src, row);
  } else {
    land_row(tiff, src, row, predicted);
  }
}

uint8_t* tiff_row_target(TiffState& tiff, int32_t row) {
  if (row < 0 || row >= tiff.land.rows || tiff.land.plane.pixel_step != 1) return nullptr;
  if (row >= tiff.land.landed) tiff.land.landed = row + 1;
  return tiff.land.land_ptr(row);
}

uint8_t* tiff_direct_row(TiffState& tiff, int32_t row, int64_t bytes) {
  if (tiff.land.bits != 8 || tiff.land.wide || tiff.land.pixels_shown < bytes) return nullptr;
  return tiff_row_target(tiff, row);
}

void tiff_land_bytes(TiffState& tiff, const uint8_t* src, int32_t row) {
  if (row < 0 || row >= tiff.land.rows) return;
  if (row >= tiff.land.landed) tiff.land.landed = row + 1;
  if (tiff.land.plane.pixel_step == 1) {
    std::memcpy(tiff.land.land_ptr(row), src, static_cast<size_t>(tiff.land.pixels_shown));
    return;
  }
  place(tiff, src, row, tiff.land.pixels_shown);
}

void tiff_undo_predictor(const TiffLanding& land, uint8_t* row, int32_t pixels) {
  if (land.bits < 8) return;  // undone after unpacking, in tiff_land_row
  if (land.wide) {
    // Differences of 16-bit samples in the file's byte order.
    const int high = land.big_endian ? 0 : 1;
    const int64_t step = int64_t{land.samples} * 2;
    const int64_t end = int64_t{pixels} * step;
    for (int64_t i = step; i < end; i += 2) {
      uint8_t* p = row + i;
      const uint8_t* q = p - step;
      const uint32_t sum = (uint32_t{p[high]} << 8 | p[1 - high]) + (uint32_t{q[high]} << 8 | q[1 - high]);
      p[high] = static_cast<uint8_t>(sum >> 8);
      p[1 - high] = static_cast<uint8_t>(sum);
    }
    return;
  }
  const int32_t stride = land.bits / 8;
  if (stride == 3) {
    // Running sums kept in registers, one per sample.
    uint8_t r = row[0], g = row[1], b = row[2];
    for (int32_t i = 1; i < pixels; ++i) {
      uint8_t* p = row + int64_t{i} * 3;
      p[0] = r = static_cast<uint8_t>(r + p[0]);
      p[1] = g = static_cast<uint8_t>(g + p[1]);
      p[2] = b = static_cast<uint8_t>(b + p[2]);
    }
    return;
  }
  const int64_t end = int64_t{pixels} * stride;
  for (int64_t i = stride; i < end; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
}


namespace {

bool read_chunk(TiffState& tiff, uint32_t index, TiffChunk* chunk) {
  const uint64_t offset = tiff.offsets[index];
  const uint64_t file_size = static_cast<uint64_t>(tiff.in.size());
  uint64_t count;
  if (tiff.byte_counts != nullptr && index < tiff.byte_count_count) {
    count = tiff.byte_counts[index];
  } else {
    // Without byte counts the data runs to the end of the file.
    count = offset <= file_size ? file_size - offset : 0;
  }
  return tiff_file_block(tiff, offset, count, chunk);
}

}  // namespace

bool tiff_in_file(const TiffState& tiff, uint64_t offset, uint64_t length) {
  const uint64_t file_size = static_cast<uint64_t>(tiff.in.size());
  return offset <= file_size && length <= file_size - offset;
}

bool tiff_file_block(const TiffState& tiff, uint64_t offset, uint64_t count, TiffChunk* chunk) {
  if (!tiff_in_file(tiff, offset, count)) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  chunk->data = tiff.in.data() + offset;
  chunk->size = static_cast<int64_t>(count);
  return true;
}

namespace {

// The strip or tile `index`; false with code 14 when it lies past the end. With
// FillOrder 2 the bits of every byte are reversed, so that every decoder reads FillOrder 1;
// JPEG data are bytes, not bit strings, and stay as they are.
bool get_chunk(TiffState& tiff, uint32_t index, TiffChunk* chunk) {
  if (!read_chunk(tiff, index, chunk)) return false;
  if (tiff.fill_order == 1 || tiff.image->description == DESC_TIFF_JPEG) return true;
  uint8_t* reversed = tiff.buffer(kChunkBuffer, chunk->size + 8);
  if (reversed == nullptr) return false;
  for (int64_t i = 0; i < chunk->size; ++i) reversed[i] = kReversed.value[chunk->data[i]];
  chunk->data = reversed;
  return true;
}

TiffStripHandler handler_for(const TiffState& tiff, int32_t description) {
  switch (description) {
    case DESC_TIFF_NONE: return tiff_strip_raw;
    case DESC_TIFF_G4: return tiff_strip_g4;
    case DESC_TIFF_LZW: return tiff_strip_lzw;
    case DESC_TIFF_DEFLATE: return tiff_strip_deflate;
    case DESC_TIFF_CCITT1D: return tiff_strip_mh;
    case DESC_TIFF_G3: return tiff_strip_g3;
    case DESC_TIFF_JPEG: return tiff.old_jpeg ? nullptr : tiff_strip_jpeg;
    case DESC_TIFF_PACKBITS: return tiff_strip_packbits;
    default: return nullptr;
  }
}

// The geometry of one plane for the orientation; W and H are the file's width and height,
// row_bytes that of the shown image.
TiffGeometry plane_geometry(int orientation, int64_t base, int64_t W, int64_t H, int64_t pb,
                        int64_t rb) {
  switch (orientation) {
    default:
    case 1: return {base, pb, rb};
    case 2: return {base + (W - 1) * pb, -pb, rb};
    case 3: return {base + (H - 1) * rb + (W - 1) * pb, -pb, -rb};
    case 4: return {base + (H - 1) * rb, pb, -rb};
    case 5: return {base, rb, pb};
    case 6: return {base + (H - 1) * pb, rb, -pb};
    case 7: return {base + (W - 1) * rb + (H - 1) * pb, -rb, -pb};
    case 8: return {base + (W - 1) * rb, -rb, pb};
  }
}

// Bytes of a coded row of `samples` samples of `bits` bits.
int64_t coded_row_bytes(int64_t samples, int32_t bits) { return (samples * bits + 7) / 8; }

// sRGB encoding of a linear intensity, by 1/65535 steps.
struct SrgbTable {
  uint8_t value[65536];
  SrgbTable() {
    for (int i = 0; i < 65536; ++i) {
      const double v = i / 65535.0;
      const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
      value[i] = static_cast<uint8_t>(std::lround(s * 255));
    }
  }
};

uint8_t srgb_byte(double linear) {
  static const SrgbTable table;
  const double i = linear * 65535 + 0.5;
  return table.value[i <= 0 ? 0 : i >= 65535 ? 65535 : static_cast<int>(i)];
}

// CIELab against the D50 white: L in 0..255 for 0..100, a and b signed bytes.
double lab_inverse(double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); }

void lab_to_rgb(uint8_t* p0, uint8_t* p1, uint8_t* p2) {
  const double fy = (*p0 * (100.0 / 255) + 16) / 116;
  const double x = 0.9642 * lab_inverse(fy + static_cast<int8_t>(*p1) / 500.0);
  const double y = lab_inverse(fy);
  const double z = 0.8249 * lab_inverse(fy - static_cast<int8_t>(*p2) / 200.0);
  // XYZ (D50) to linear sRGB, with the white adapted to D65.
  *p0 = srgb_byte(3.1338561 * x - 1.6168667 * y - 0.4906146 * z);
  *p1 = srgb_byte(-0.9787684 * x + 1.9161415 * y + 0.0334540 * z);
  *p2 = srgb_byte(0.0719453 * x - 0.2289914 * y + 1.4052427 * z);
}

uint8_t clamp_round(float v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : static_cast<int>(v + 0.5f)); }

// Y, Cb and Cr codes scaled by ReferenceBlackWhite: Y to 0..255, chroma to -127..127 around 0.
struct YcbcrScale {
  float y[256], cb[256], cr[256];
  explicit YcbcrScale(const float* ref) {
    float* out[3] = {y, cb, cr};
    for (int c = 0; c < 3; ++c) {
      const float range = ref[2 * c + 1] - ref[2 * c] != 0 ? ref[2 * c + 1] - ref[2 * c] : 1;
      for (int v = 0; v < 256; ++v) out[c][v] = (v - ref[2 * c]) * (c == 0 ? 255 : 127) / range;
    }
  }
};

// YCbCr or CIELab samples at p0, p1, p2 (`count` pixels, `step` bytes apart) to R, G, B.
void convert_to_rgb(TiffState& tiff, uint8_t* p0, uint8_t* p1, uint8_t* p2, int64_t count, int64_t step) {
  if (tiff.colour_model == kLabModel) {
    for (int64_t i = 0; i < count; ++i, p0 += step, p1 += step, p2 += step) lab_to_rgb(p0, p1, p2);
    return;
  }
  const YcbcrScale scale(tiff.reference);
  const float red = tiff.luma[0], green = tiff.luma[1], blue = tiff.luma[2];
  for (int64_t i = 0; i < count; ++i, p0 += step, p1 += step, p2 += step) {
    const float y = scale.y[*p0];
    const float r = y + (2 - 2 * red) * scale.cr[*p2];
    const float b = y + (2 - 2 * blue) * scale.cb[*p1];
    *p0 = clamp_round(r);
    *p1 = clamp_round((y - red * r - blue * b) / green);
    *p2 = clamp_round(b);
  }
}


// How a page is stored and how its strips or tiles are laid out.
struct PageLayout {
  TiffStripHandler handler;
  bool planar;           // planes stored one after the other
  bool wide;             // 16-bit samples, kept as 8
  bool converted;        // YCbCr or CIELab samples turned into RGB after decoding
  bool tiled;
  int32_t coded_samples; // samples of one coded pixel
  int64_t bits;          // stored bits per pixel
  int32_t planes;
  int32_t pixel_bytes;
  int32_t sub_h, sub_v;  // YCbCr subsampling
  int64_t chunk_width, chunk_length;  // pixels and rows of a strip or tile
  int64_t across, down;  // strips or tiles in a row and in a column of one plane
  int64_t bytes_per_row; // bytes of one coded row
};

// Checks the sample layout the directory declares and works out the stored one: 16-bit
// samples are kept as 8; chunky samples make one plane of wider pixels. False with the error.
bool plan_pixels(TiffState& tiff, PageLayout* page) {
  const int32_t description = tiff.image->description;
  page->handler = handler_for(tiff, description);
  if (page->handler == nullptr) {
    g_error = ERR_UNKNOWN_FORMAT;
    return false;
  }
  if (tiff.orientation < 1 || tiff.orientation > 8 || (tiff.planar_config != 1 && tiff.planar_config != 2) ||
      tiff.file_width == 0 || tiff.file_height == 0 || tiff.file_width > INT32_MAX ||
      tiff.file_height > INT32_MAX || tiff.offsets == nullptr || tiff.samples < 1) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  page->planar = tiff.planar_config == 2 && tiff.samples > 1;
  page->wide = tiff.sample_bits == 16;
  const int32_t sample_bits = page->wide ? 8 : tiff.sample_bits;
  page->coded_samples = page->planar ? 1 : tiff.samples;
  page->bits = page->planar ? sample_bits : int64_t{sample_bits} * tiff.samples;
  page->planes = page->planar ? tiff.samples : 1;
  switch (page->bits) {
    case 1: case 2: case 4: case 8: page->pixel_bytes = 1; break;
    case 16: page->pixel_bytes = 2; break;
    case 24: case 32: page->pixel_bytes = 4; break;
    default: g_error = ERR_INVALID_FILE; return false;
  }
  // Not shown: two samples a pixel (grey and alpha), single samples of 24 or 32 bits,
  // signed and floating-point samples, colour maps of 16-bit indexes, and colour spaces
  // other than RGB and CMYK except 8-bit CIELab and YCbCr.
  // JPEG data carry their own colour conversion and subsampling.
  const int model = tiff.colour_model;
  const bool jpeg = description == DESC_TIFF_JPEG;
  page->converted = model == kLabModel || (model == kYcbcrModel && !jpeg);
  const bool ycbcr = page->converted && model == kYcbcrModel;
  page->sub_h = ycbcr ? tiff.subsample_h : 1;
  page->sub_v = ycbcr ? tiff.subsample_v : 1;
  const bool subsampled = page->sub_h * page->sub_v > 1;
  if (page->pixel_bytes == 2 || (page->pixel_bytes == 4 && sample_bits != 8) || tiff.signed_or_float != 0 ||
      tiff.predictor > 1 || (page->wide && tiff.photometric == kPalette) ||
      (page->converted && (tiff.sample_bits != 8 || tiff.samples != 3)) || (jpeg && tiff.sample_bits != 8) ||
      (subsampled && (page->planar || tiff.predictor != 0))) {
    g_error = ERR_UNKNOWN_FORMAT;
    return false;
  }
  // CCITT codes pixels of one bit and nothing else; Predictor 0 does not exist.
  const bool ccitt = description == DESC_TIFF_CCITT1D || description == DESC_TIFF_G3 || description == DESC_TIFF_G4;
  const auto valid_factor = [](int f) { return f == 1 || f == 2 || f == 4; };
  if (!valid_factor(page->sub_h) || !valid_factor(page->sub_v) || (ycbcr && tiff.luma[1] <= 0) ||
      (ccitt && page->bits != 1) || tiff.predictor < 0) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  return true;
}

// Strips or tiles: their size, their number, and the bytes of one coded row.
bool plan_chunks(TiffState& tiff, PageLayout* page) {
  const int64_t W = tiff.file_width;
  const int64_t H = tiff.file_height;
  page->tiled = tiff.strip_count == 0;
  if (page->tiled) {
    if (tiff.tile_width == 0 || tiff.rows_per_strip == 0 || tiff.rows_per_strip % 16 != 0) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    page->chunk_width = tiff.tile_width;
  } else {
    if (tiff.rows_per_strip > H) tiff.rows_per_strip = static_cast<uint32_t>(H);
    if (tiff.rows_per_strip == 0) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    page->chunk_width = W;
  }
  page->chunk_length = tiff.rows_per_strip;
  page->across = (W + page->chunk_width - 1) / page->chunk_width;
  page->down = (H + page->chunk_length - 1) / page->chunk_length;
  // A coded row of subsampled YCbCr is a row of units covering sub_v image rows.
  const int32_t h = page->sub_h, v = page->sub_v;
  page->bytes_per_row = h * v > 1 ? (page->chunk_width + h - 1) / h * (h * v + 2)
                                  : coded_row_bytes(page->chunk_width * page->coded_samples, tiff.sample_bits);
  if (page->bytes_per_row * page->chunk_length > int64_t{INT32_MAX}) {
    g_error = ERR_MEMORY;
    return false;
  }
  return true;
}

// Sizes the record for the stored layout.
bool size_record(TiffState& tiff, const PageLayout& page) {
  ImageRecord* image = tiff.image;
  const bool transposed = tiff.orientation > 4;
  image->width = static_cast<int32_t>(transposed ? tiff.file_height : tiff.file_width);
  image->height = static_cast<int32_t>(transposed ? tiff.file_width : tiff.file_height);
  image->bits = static_cast<int32_t>(page.bits);
  image->planes = page.planes;
  image->pixel_bytes = page.pixel_bytes;
  // Rows of one-byte pixels are padded to 4 bytes; rows of 4-byte pixels need no padding.
  const int64_t row_bytes = raster_row_bytes(image->width, page.pixel_bytes, page.bits <= 8);
  if (row_bytes < 0) {
    g_error = ERR_MEMORY;
    return false;
  }
  image->row_bytes = static_cast<int32_t>(row_bytes);
  return true;
}

// Allocates the record's pixels, with the row padding cleared.
bool allocate_pixels(TiffState& tiff, const PageLayout& page) {
  ImageRecord* image = tiff.image;
  if (!image_set_pixel_size(image, page.planes)) return false;
  // All pages of a file live at once: together they stay within what one block may take.
  tiff.pixel_total += image->pixel_size;
  if (tiff.pixel_total > mem_limit()) {
    g_error = ERR_MEMORY;
    return false;
  }
  image_alloc_pixels(image, tiff.group);
  if (g_error != 0) return false;
  if (image->pixels == nullptr) {
    g_error = ERR_MEMORY;
    return false;
  }
  // Row padding is cleared here, pixels the data never reaches after their strip or tile.
  const int64_t used = int64_t{page.pixel_bytes} * image->width;
  const int64_t row_bytes = image->row_bytes;
  if (row_bytes > used) {
    for (int64_t r = 0; r < int64_t{page.planes} * image->height; ++r)
      std::memset(image->pixels + r * row_bytes + used, 0, static_cast<size_t>(row_bytes - used));
  }
  return true;
}

void start_landing(TiffState& tiff, const PageLayout& page) {
  TiffLanding& land = tiff.land;
  land = TiffLanding{};
  // File rows that become columns would be cleared a byte at a time: clear the block at once.
  if (tiff.orientation > 4) {
    std::memset(tiff.image->pixels, 0, tiff.image->pixel_size);
    land.cleared = true;
  }
  land.pixels = tiff.image->pixels;
  land.bits = static_cast<int32_t>(page.bits);
  land.pixel_bytes = page.pixel_bytes;
  land.rgba = tiff.colour_model == kRgbModel;
  land.predictor = tiff.predictor != 0;
  land.wide = page.wide;
  land.big_endian = tiff.byte_order == BIG_ENDIAN_ORDER;
  land.samples = page.coded_samples;
  land.sub_h = page.sub_h;
  land.sub_v = page.sub_v;
  land.row_pixels = static_cast<int32_t>(page.chunk_width);
}

// Decodes every strip or tile of every plane into its place; stops at the first error.
void decode_chunks(TiffState& tiff, const PageLayout& page) {
  TiffLanding& land = tiff.land;
  const int64_t W = tiff.file_width;
  const int64_t H = tiff.file_height;
  const int64_t per_plane = page.across * page.down;
  const int64_t row_bytes = tiff.image->row_bytes;
  const int64_t plane_bytes = row_bytes * tiff.image->height;
  const int64_t chunks = int64_t{page.planes} * per_plane;
  const int32_t sub_v = page.sub_v;
  for (int64_t index = 0; index < chunks && g_error == 0; ++index) {
    const int64_t plane = index / per_plane;
    const int64_t within = index % per_plane;
    const int64_t x0 = (within % page.across) * page.chunk_width;
    const int64_t y0 = (within / page.across) * page.chunk_length;
    land.plane = plane_geometry(tiff.orientation, plane * plane_bytes, W, H, page.pixel_bytes, row_bytes);
    land.x0 = static_cast<int32_t>(x0);
    land.y0 = static_cast<int32_t>(y0);
    land.pixels_shown = static_cast<int32_t>(std::min(W - x0, page.chunk_width));
    land.rows = static_cast<int32_t>(std::min(H - y0, page.chunk_length));
    land.landed = 0;
    TiffRows rows;
    rows.row_pixels = static_cast<int32_t>(page.chunk_width);
    rows.bytes_per_row = page.bytes_per_row;
    rows.rows = (land.rows + sub_v - 1) / sub_v;
    rows.shown_pixels = land.pixels_shown;
    rows.coded_rows = page.tiled ? static_cast<int32_t>((page.chunk_length + sub_v - 1) / sub_v) : rows.rows;
    TiffChunk chunk;
    if (index < tiff.offset_count) {
      if (!get_chunk(tiff, static_cast<uint32_t>(index), &chunk)) break;
      page.handler(tiff, chunk, rows);
      // Strips usually follow one another: the file's pages before this one are given back
      // (read again, should a later strip or page stand there).
      tiff.in.release_before(tiff.offsets[index]);
    }
    clear_unlanded_rows(tiff);
  }
}

// YCbCr and CIELab become RGB; planar CMYK has its first three planes turned into red, green
// and blue as chunky CMYK does, so that the planes show as colours, and the fourth keeps K.
void finish_colours(TiffState& tiff, const PageLayout& page) {
  uint8_t* p = tiff.image->pixels;
  const int64_t plane_bytes = int64_t{tiff.image->row_bytes} * tiff.image->height;
  if (page.converted) {
    if (page.planar) {
      convert_to_rgb(tiff, p, p + plane_bytes, p + 2 * plane_bytes, plane_bytes, 1);
    } else {
      convert_to_rgb(tiff, p, p + 1, p + 2, plane_bytes / 4, 4);
    }
  }
  if (page.planar && page.planes == 4 && page.bits == 8 && tiff.colour_model == kCmykModel)
    cmyk_planes_to_rgb(p, p + plane_bytes, p + 2 * plane_bytes, p + 3 * plane_bytes, plane_bytes, false);
}

}  // namespace

void tiff_decode_image(TiffState& tiff) {
  PageLayout page;
  if (!plan_pixels(tiff, &page) || !size_record(tiff, page) || !plan_chunks(tiff, &page) ||
      !allocate_pixels(tiff, page))
    return;
  start_landing(tiff, page);
  decode_chunks(tiff, page);
  if (g_error == 0) finish_colours(tiff, page);
}

void tiff_strip_raw(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  const int64_t bpr = rows.bytes_per_row;
  const uint8_t* p = chunk.data;
  int64_t left = chunk.size;
  for (int32_t r = 0; r < rows.coded_rows && left > 0; ++r) {
    if (left >= bpr) {
      tiff_land_row(tiff, p, r, false);
    } else {
      // The strip ends inside this row: the rest of the row reads as 0.
      uint8_t* row = tiff.buffer(kCodedRowBuffer, bpr + 8);
      if (row == nullptr) return;
      std::memcpy(row, p, static_cast<size_t>(left));
      std::memset(row + left, 0, static_cast<size_t>(bpr - left));
      tiff_land_row(tiff, row, r, false);
      return;
    }
    p += bpr;
    left -= bpr;
  }
}
