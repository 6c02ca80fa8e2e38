// Turns a directory into pixels: sizes the pixel block, walks the strips or tiles, hands each
// to its decompressor and lands the decoded rows, converting the pixel format and applying
// the orientation on the way.
#include <bit>
#include <cmath>
#include <cstring>

#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"
#include "image/pixels.h"
#include "io/stream.h"

namespace {

// Where file pixel (x, y) lands: origin + x * pixel_step + y * row_step, in bytes from the
// start of the pixel block. Steps are multiples of the stored pixel size and may be negative.
struct Geometry {
  int64_t origin;
  int64_t pixel_step;
  int64_t row_step;
};

struct Landing {
  uint8_t* pixels;       // start of the pixel block
  Geometry plane;        // geometry of the current plane
  int32_t bits;          // stored bits per pixel: 1, 2, 4, 8, 24 or 32
  int32_t pixel_bytes;
  bool rgba;             // 32-bit pixels are RGB plus an extra sample, not CMYK
  bool predictor;
  bool wide;             // coded samples are 16 bits, reduced to 8 before landing
  bool big_endian;       // byte order of 16-bit samples
  int32_t samples;       // samples of one coded pixel (1 for a plane)
  int32_t sub_h, sub_v;  // YCbCr subsampling: one coded row holds sub_v image rows
  // The current strip or tile.
  int32_t x0, y0;        // its first pixel in file coordinates
  int32_t pixels_shown;  // pixels of each row that fall inside the image
  int32_t rows;          // rows that fall inside the image
  int32_t row_pixels;    // coded pixels per row
  int32_t landed;        // rows of the current strip or tile landed so far (always from 0)
  bool cleared;          // the whole block was cleared before decoding
};

Landing g_land;

// Bits of one byte spread to eight bytes of 0 or 1, most significant first.
struct BitTable {
  uint64_t spread[256];
  BitTable() {
    for (int v = 0; v < 256; ++v) {
      uint8_t m[8];
      for (int i = 0; i < 8; ++i) m[i] = static_cast<uint8_t>((v >> (7 - i)) & 1);
      std::memcpy(&spread[v], m, 8);
    }
  }
};
const BitTable kBits;

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
void convert_row(const uint8_t* src, uint8_t* out, int32_t n) {
  switch (g_land.bits) {
    case 1: {
      const uint64_t* table = kBits.spread;
      int32_t whole = n / 8;
      for (int32_t i = 0; i < whole; ++i) std::memcpy(out + i * 8, &table[src[i]], 8);
      if (n % 8 != 0) {
        uint8_t tail[8];
        std::memcpy(tail, &table[src[whole]], 8);
        std::memcpy(out + whole * 8, tail, static_cast<size_t>(n % 8));
      }
      break;
    }
    case 2:
      for (int32_t i = 0; i < n; ++i) out[i] = (src[i / 4] >> (6 - 2 * (i % 4))) & 3;
      break;
    case 4:
      for (int32_t i = 0; i + 1 < n; i += 2) {
        uint8_t v = src[i / 2];
        out[i] = v >> 4;
        out[i + 1] = v & 15;
      }
      if (n % 2 != 0) out[n - 1] = src[n / 2] >> 4;
      break;
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
      if (g_land.rgba) {
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
void undo_small_predictor(uint8_t* row, int32_t n) {
  const uint8_t mask = static_cast<uint8_t>((1u << g_land.bits) - 1);
  for (int32_t i = 1; i < n; ++i) row[i] = (row[i] + row[i - 1]) & mask;
}

// Copies `n` stored pixels from `row` to their places for file row `y`, from file column x0.
void place(const uint8_t* row, int32_t y, int32_t n) {
  const Geometry& g = g_land.plane;
  uint8_t* dest = g_land.pixels + g.origin + int64_t{g_land.x0} * g.pixel_step + int64_t{y} * g.row_step;
  const int64_t step = g.pixel_step;
  if (g_land.pixel_bytes == 1) {
    for (int32_t i = 0; i < n; ++i, dest += step) *dest = row[i];
  } else {
    for (int32_t i = 0; i < n; ++i, dest += step) std::memcpy(dest, row + i * 4, 4);
  }
}

uint8_t* row_scratch(int64_t bytes) { return tiff_buffer(kRowBuffer, bytes); }

// Rows of the current strip or tile that no data reached are cleared to 0.
void clear_unlanded_rows() {
  if (g_land.landed >= g_land.rows || g_land.cleared) return;
  const Geometry& g = g_land.plane;
  if (g.pixel_step == g_land.pixel_bytes || g.pixel_step == -g_land.pixel_bytes) {
    // The row is one run of bytes, forwards or mirrored.
    const int64_t span = int64_t{g_land.pixels_shown} * g_land.pixel_bytes;
    for (int32_t r = g_land.landed; r < g_land.rows; ++r) {
      int64_t first = g.origin + int64_t{g_land.x0} * g.pixel_step + int64_t{g_land.y0 + r} * g.row_step;
      if (g.pixel_step < 0) first -= span - g_land.pixel_bytes;
      std::memset(g_land.pixels + first, 0, static_cast<size_t>(span));
    }
    g_land.landed = g_land.rows;
    return;
  }
  const int64_t bytes = int64_t{g_land.pixels_shown} * g_land.pixel_bytes;
  uint8_t* zero = row_scratch(int64_t{g_land.row_pixels} * g_land.pixel_bytes + 8);
  if (zero == nullptr) return;
  std::memset(zero, 0, static_cast<size_t>(bytes));
  for (int32_t r = g_land.landed; r < g_land.rows; ++r) place(zero, g_land.y0 + r, g_land.pixels_shown);
  g_land.landed = g_land.rows;
}

// 16-bit samples to 8 bits, rounded to the nearest: v x 255 / 65535 = v / 257.
const uint8_t* narrow_row(const uint8_t* src, int64_t count) {
  uint8_t* out = tiff_buffer(kNarrowBuffer, count + 8);
  if (out == nullptr) return nullptr;
  const int high = g_land.big_endian ? 0 : 1;
  for (int64_t i = 0; i < count; ++i, src += 2)
    out[i] = static_cast<uint8_t>(((uint32_t{src[high]} << 8 | src[1 - high]) + 128) / 257);
  return out;
}

// Lands one image row of the strip or tile from a coded row of one pixel per coded pixel.
void land_row(const uint8_t* src, int32_t row, bool predicted) {
  if (row < 0 || row >= g_land.rows) return;
  if (row >= g_land.landed) g_land.landed = row + 1;
  const int32_t y = g_land.y0 + row;
  const int32_t n = g_land.pixels_shown;
  if (g_land.wide && (src = narrow_row(src, int64_t{n} * g_land.samples)) == nullptr) return;
  const Geometry& g = g_land.plane;
  const bool small_predicted = predicted && g_land.bits < 8;
  if (g.pixel_step == g_land.pixel_bytes && !small_predicted) {
    uint8_t* dest = g_land.pixels + g.origin + int64_t{g_land.x0} * g.pixel_step + int64_t{y} * g.row_step;
    convert_row(src, dest, n);
    return;
  }
  uint8_t* out = row_scratch(int64_t{g_land.row_pixels} * g_land.pixel_bytes + 8);
  if (out == nullptr) return;
  convert_row(src, out, n);
  if (small_predicted) undo_small_predictor(out, n);
  place(out, y, n);
}

// A coded row of subsampled YCbCr holds sub_v image rows as units of sub_h x sub_v luma
// samples followed by one Cb and one Cr; each pixel gets its unit's chroma.
void land_subsampled(const uint8_t* src, int32_t coded_row) {
  const int32_t h = g_land.sub_h, v = g_land.sub_v;
  const int64_t n = g_land.row_pixels;
  uint8_t* rows = tiff_buffer(kExpandBuffer, v * n * 3 + 8);
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
  for (int32_t j = 0; j < v; ++j) land_row(rows + j * n * 3, coded_row * v + j, false);
}

}  // namespace

void tiff_land_row(const uint8_t* src, int32_t row, bool predicted) {
  if (g_land.sub_h * g_land.sub_v > 1) {
    land_subsampled(src, row);
  } else {
    land_row(src, row, predicted);
  }
}

uint8_t* tiff_row_target(int32_t row) {
  if (row < 0 || row >= g_land.rows || g_land.plane.pixel_step != 1) return nullptr;
  if (row >= g_land.landed) g_land.landed = row + 1;
  return g_land.pixels + g_land.plane.origin + g_land.x0 + int64_t{g_land.y0 + row} * g_land.plane.row_step;
}

uint8_t* tiff_direct_row(int32_t row, int64_t bytes) {
  if (g_land.bits != 8 || g_land.wide || g_land.pixels_shown < bytes) return nullptr;
  return tiff_row_target(row);
}

void tiff_land_bytes(const uint8_t* src, int32_t row) {
  if (row < 0 || row >= g_land.rows) return;
  if (row >= g_land.landed) g_land.landed = row + 1;
  const int32_t y = g_land.y0 + row;
  if (g_land.plane.pixel_step == 1) {
    uint8_t* dest = g_land.pixels + g_land.plane.origin + g_land.x0 + int64_t{y} * g_land.plane.row_step;
    std::memcpy(dest, src, static_cast<size_t>(g_land.pixels_shown));
    return;
  }
  place(src, y, g_land.pixels_shown);
}

void tiff_undo_predictor(uint8_t* row, int32_t pixels) {
  if (g_land.bits < 8) return;  // undone after unpacking, in tiff_land_row
  if (g_land.wide) {
    // Differences of 16-bit samples in the file's byte order.
    const int high = g_land.big_endian ? 0 : 1;
    const int64_t step = int64_t{g_land.samples} * 2;
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
  const int32_t stride = g_land.bits / 8;
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

bool tiff_predictor_active() { return g_land.predictor; }

namespace {

struct Buffer {
  uint8_t* data = nullptr;
  int64_t size = 0;
};
Buffer g_buffers[kBufferSlots];

bool read_chunk(uint32_t index, TiffChunk* chunk) {
  const uint64_t offset = g_tiff.offsets[index];
  const uint64_t file_size = static_cast<uint64_t>(g_tiff.file_size);
  uint64_t count;
  if (g_tiff.byte_counts != nullptr && index < g_tiff.byte_count_count) {
    count = g_tiff.byte_counts[index];
  } else {
    // Without byte counts the data runs to the end of the file.
    count = offset <= file_size ? file_size - offset : 0;
  }
  return tiff_read_block(offset, count, kChunkBuffer, chunk);
}

}  // namespace

bool tiff_read_block(uint64_t offset, uint64_t count, int slot, TiffChunk* chunk) {
  const uint64_t file_size = static_cast<uint64_t>(g_tiff.file_size);
  if (offset > file_size || count > file_size - offset) {
    g_error = ERR_INVALID_FILE;
    return false;
  }
  chunk->size = static_cast<int64_t>(count);
  const uint8_t* whole;
  int64_t whole_size;
  if (stream_whole_file(&whole, &whole_size)) {
    chunk->data = whole + offset;
    return true;
  }
  // Through the small window: the block is read straight from the file.
  uint8_t* copy = tiff_buffer(slot, chunk->size + 8);
  if (copy == nullptr) return false;
  std::memset(copy + chunk->size, 0, 8);
  if (count > 1) stream_read_at(copy, static_cast<int64_t>(offset), chunk->size - 1);
  if (count > 0) {
    // A block may end exactly at the end of the file, which the block read refuses.
    stream_seek(static_cast<int64_t>(offset + count - 1), 0);
    copy[count - 1] = static_cast<uint8_t>(stream_get_u8());
  }
  chunk->data = copy;
  return g_error == 0;
}

namespace {

// Reads the strip or tile at `offset`; false with code 14 when it lies past the end. With
// FillOrder 2 the bits of every byte are reversed, so that every decoder reads FillOrder 1;
// JPEG data are bytes, not bit strings, and stay as they are.
bool get_chunk(uint32_t index, TiffChunk* chunk) {
  if (!read_chunk(index, chunk)) return false;
  if (g_tiff.fill_order == 1 || g_tiff.image->description == DESC_TIFF_JPEG) return true;
  uint8_t* reversed = tiff_buffer(kChunkBuffer, chunk->size + 8);
  if (reversed == nullptr) return false;
  for (int64_t i = 0; i < chunk->size; ++i) reversed[i] = kReversed.value[chunk->data[i]];
  chunk->data = reversed;
  return true;
}

using Handler = void (*)(const TiffChunk&, const TiffRows&);

Handler handler_for(int32_t description) {
  switch (description) {
    case DESC_TIFF_NONE: return tiff_strip_raw;
    case DESC_TIFF_G4: return tiff_strip_g4;
    case DESC_TIFF_LZW: return tiff_strip_lzw;
    case DESC_TIFF_DEFLATE: return tiff_strip_deflate;
    case DESC_TIFF_CCITT1D: return tiff_strip_mh;
    case DESC_TIFF_G3: return tiff_strip_g3;
    case DESC_TIFF_JPEG: return g_tiff.old_jpeg ? nullptr : tiff_strip_jpeg;
    case DESC_TIFF_PACKBITS: return tiff_strip_packbits;
    default: return nullptr;
  }
}

// The geometry of one plane for the orientation; W and H are the file's width and height,
// row_bytes that of the shown image.
Geometry plane_geometry(int orientation, int64_t base, int64_t W, int64_t H, int64_t pb,
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
  YcbcrScale() {
    const float* ref = g_tiff.reference;
    float* out[3] = {y, cb, cr};
    for (int c = 0; c < 3; ++c) {
      const float range = ref[2 * c + 1] - ref[2 * c] != 0 ? ref[2 * c + 1] - ref[2 * c] : 1;
      for (int v = 0; v < 256; ++v) out[c][v] = (v - ref[2 * c]) * (c == 0 ? 255 : 127) / range;
    }
  }
};

// YCbCr or CIELab samples at p0, p1, p2 (`count` pixels, `step` bytes apart) to R, G, B.
void convert_to_rgb(uint8_t* p0, uint8_t* p1, uint8_t* p2, int64_t count, int64_t step) {
  if (g_tiff.colour_model == 4) {
    for (int64_t i = 0; i < count; ++i, p0 += step, p1 += step, p2 += step) lab_to_rgb(p0, p1, p2);
    return;
  }
  const YcbcrScale scale;
  const float red = g_tiff.luma[0], green = g_tiff.luma[1], blue = g_tiff.luma[2];
  for (int64_t i = 0; i < count; ++i, p0 += step, p1 += step, p2 += step) {
    const float y = scale.y[*p0];
    const float r = y + (2 - 2 * red) * scale.cr[*p2];
    const float b = y + (2 - 2 * blue) * scale.cb[*p1];
    *p0 = clamp_round(r);
    *p1 = clamp_round((y - red * r - blue * b) / green);
    *p2 = clamp_round(b);
  }
}

}  // namespace

uint8_t* tiff_buffer(int slot, int64_t size) {
  Buffer& b = g_buffers[slot];
  if (size > b.size) {
    if (size < 0 || static_cast<uint64_t>(size) > mem_limit()) {
      g_error = ERR_MEMORY;
      return nullptr;
    }
    if (mem_alloc(&b.data, static_cast<size_t>(size)) == nullptr) {
      b.size = 0;
      return nullptr;
    }
    b.size = size;
  }
  return b.data;
}

void tiff_free_buffers() {
  for (Buffer& b : g_buffers) {
    mem_free(&b.data);
    b.size = 0;
  }
}

void tiff_decode_image() {
  ImageRecord* image = g_tiff.image;
  const int32_t description = image->description;
  const Handler handler = handler_for(description);
  if (handler == nullptr) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  const int orientation = g_tiff.orientation;
  if (orientation < 1 || orientation > 8 || (g_tiff.planar_config != 1 && g_tiff.planar_config != 2) ||
      g_tiff.file_width == 0 || g_tiff.file_height == 0 || g_tiff.file_width > INT32_MAX ||
      g_tiff.file_height > INT32_MAX || g_tiff.offsets == nullptr || g_tiff.samples < 1) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const bool planar = g_tiff.planar_config == 2 && g_tiff.samples > 1;

  // Stored layout: 16-bit samples are kept as 8; chunky samples make one plane of wider
  // pixels.
  const bool wide = g_tiff.sample_bits == 16;
  const int32_t sample_bits = wide ? 8 : g_tiff.sample_bits;
  const int32_t coded_samples = planar ? 1 : g_tiff.samples;
  int64_t bits = sample_bits;
  int32_t planes = g_tiff.samples;
  if (!planar) {
    bits *= planes;
    planes = 1;
  }
  int32_t pixel_bytes;
  switch (bits) {
    case 1: case 2: case 4: case 8: pixel_bytes = 1; break;
    case 16: pixel_bytes = 2; break;
    case 24: case 32: pixel_bytes = 4; break;
    default: g_error = ERR_INVALID_FILE; return;
  }
  // Not shown: two samples a pixel (grey and alpha), single samples of 24 or 32 bits,
  // signed and floating-point samples, colour maps of 16-bit indexes, and colour spaces
  // other than RGB and CMYK except 8-bit CIELab and YCbCr.
  // JPEG data carry their own colour conversion and subsampling.
  const int model = g_tiff.colour_model;
  const bool jpeg = description == DESC_TIFF_JPEG;
  const bool converted = model == 4 || (model == 2 && !jpeg);
  const int sub_h = converted && model == 2 ? g_tiff.subsample_h : 1;
  const int sub_v = converted && model == 2 ? g_tiff.subsample_v : 1;
  const bool subsampled = sub_h * sub_v > 1;
  if (pixel_bytes == 2 || (pixel_bytes == 4 && sample_bits != 8) || g_tiff.signed_or_float != 0 ||
      g_tiff.predictor > 1 || (wide && g_tiff.photometric == 3) ||
      (converted && (g_tiff.sample_bits != 8 || g_tiff.samples != 3)) || (jpeg && g_tiff.sample_bits != 8) ||
      (subsampled && (planar || g_tiff.predictor != 0))) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  // CCITT codes pixels of one bit and nothing else; Predictor 0 does not exist.
  const bool ccitt = description == DESC_TIFF_CCITT1D || description == DESC_TIFF_G3 || description == DESC_TIFF_G4;
  if ((sub_h != 1 && sub_h != 2 && sub_h != 4) || (sub_v != 1 && sub_v != 2 && sub_v != 4) ||
      (converted && model == 2 && g_tiff.luma[1] <= 0) || (ccitt && bits != 1) || g_tiff.predictor < 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int64_t W = g_tiff.file_width;
  const int64_t H = g_tiff.file_height;
  const bool transposed = orientation > 4;
  image->width = static_cast<int32_t>(transposed ? H : W);
  image->height = static_cast<int32_t>(transposed ? W : H);
  image->bits = static_cast<int32_t>(bits);
  image->planes = planes;
  image->pixel_bytes = pixel_bytes;
  int64_t row_bytes = int64_t{pixel_bytes} * image->width;
  if (bits <= 8) row_bytes = (row_bytes + 3) & ~int64_t{3};
  if (row_bytes > INT32_MAX) {
    g_error = ERR_MEMORY;
    return;
  }
  image->row_bytes = static_cast<int32_t>(row_bytes);

  const bool tiled = g_tiff.strip_count == 0;
  int64_t chunk_width, chunk_length, across, down;
  if (tiled) {
    if (g_tiff.tile_width == 0 || g_tiff.rows_per_strip == 0 || g_tiff.rows_per_strip % 16 != 0) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    chunk_width = g_tiff.tile_width;
    chunk_length = g_tiff.rows_per_strip;
    across = (W + chunk_width - 1) / chunk_width;
    down = (H + chunk_length - 1) / chunk_length;
  } else {
    if (g_tiff.rows_per_strip > H) g_tiff.rows_per_strip = static_cast<uint32_t>(H);
    if (g_tiff.rows_per_strip == 0) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    chunk_width = W;
    chunk_length = g_tiff.rows_per_strip;
    across = 1;
    down = (H + chunk_length - 1) / chunk_length;
  }
  // A coded row of subsampled YCbCr is a row of units covering sub_v image rows.
  const int64_t bytes_per_row =
      subsampled ? (chunk_width + sub_h - 1) / sub_h * (sub_h * sub_v + 2)
                 : coded_row_bytes(chunk_width * coded_samples, g_tiff.sample_bits);
  if (bytes_per_row * chunk_length > int64_t{INT32_MAX}) {
    g_error = ERR_MEMORY;
    return;
  }

  if (!image_set_pixel_size(image, planes)) return;
  // All pages of a file live at once: together they stay within what one block may take.
  g_tiff.pixel_total += image->pixel_size;
  if (g_tiff.pixel_total > mem_limit()) {
    g_error = ERR_MEMORY;
    return;
  }
  image_alloc_pixels(image, g_tiff.group);
  if (g_error != 0) return;
  if (image->pixels == nullptr) {
    g_error = ERR_MEMORY;
    return;
  }
  // Row padding is cleared here, pixels the data never reaches after their strip or tile.
  if (row_bytes > int64_t{pixel_bytes} * image->width) {
    const int64_t used = int64_t{pixel_bytes} * image->width;
    for (int64_t r = 0; r < int64_t{planes} * image->height; ++r)
      std::memset(image->pixels + r * row_bytes + used, 0, static_cast<size_t>(row_bytes - used));
  }

  g_land = Landing{};
  // File rows that become columns would be cleared a byte at a time: clear the block at once.
  if (transposed) {
    std::memset(image->pixels, 0, image->pixel_size);
    g_land.cleared = true;
  }
  g_land.pixels = image->pixels;
  g_land.bits = static_cast<int32_t>(bits);
  g_land.pixel_bytes = pixel_bytes;
  g_land.rgba = g_tiff.colour_model == 1;
  g_land.predictor = g_tiff.predictor != 0;
  g_land.wide = wide;
  g_land.big_endian = g_tiff.byte_order != 0;
  g_land.samples = coded_samples;
  g_land.sub_h = sub_h;
  g_land.sub_v = sub_v;
  g_land.row_pixels = static_cast<int32_t>(chunk_width);

  const int64_t per_plane = across * down;
  const int64_t plane_bytes = row_bytes * image->height;
  const int64_t chunks = int64_t{planes} * per_plane;
  for (int64_t index = 0; index < chunks && g_error == 0; ++index) {
    const int64_t plane = index / per_plane;
    const int64_t within = index % per_plane;
    const int64_t x0 = (within % across) * chunk_width;
    const int64_t y0 = (within / across) * chunk_length;
    g_land.plane = plane_geometry(orientation, plane * plane_bytes, W, H, pixel_bytes, row_bytes);
    g_land.x0 = static_cast<int32_t>(x0);
    g_land.y0 = static_cast<int32_t>(y0);
    g_land.pixels_shown = static_cast<int32_t>(W - x0 < chunk_width ? W - x0 : chunk_width);
    g_land.rows = static_cast<int32_t>(H - y0 < chunk_length ? H - y0 : chunk_length);
    TiffRows rows;
    rows.row_pixels = static_cast<int32_t>(chunk_width);
    rows.bytes_per_row = bytes_per_row;
    rows.rows = (g_land.rows + sub_v - 1) / sub_v;
    rows.shown_pixels = g_land.pixels_shown;
    rows.coded_rows = tiled ? static_cast<int32_t>((chunk_length + sub_v - 1) / sub_v) : rows.rows;
    g_land.landed = 0;
    TiffChunk chunk;
    if (index < g_tiff.offset_count) {
      if (!get_chunk(static_cast<uint32_t>(index), &chunk)) break;
      handler(chunk, rows);
    }
    clear_unlanded_rows();
  }
  if (g_error == 0 && converted) {
    if (planar) {
      convert_to_rgb(image->pixels, image->pixels + plane_bytes, image->pixels + 2 * plane_bytes, plane_bytes, 1);
    } else {
      convert_to_rgb(image->pixels, image->pixels + 1, image->pixels + 2, plane_bytes / 4, 4);
    }
  }
  // Planar CMYK: the first three planes become red, green and blue as chunky CMYK does,
  // so that the planes show as colours; the fourth keeps K.
  if (g_error == 0 && planar && planes == 4 && bits == 8 && g_tiff.colour_model == 3) {
    uint8_t* c = image->pixels;
    cmyk_planes_to_rgb(c, c + plane_bytes, c + 2 * plane_bytes, c + 3 * plane_bytes, plane_bytes, false);
  }
}

void tiff_strip_raw(const TiffChunk& chunk, const TiffRows& rows) {
  const int64_t bpr = rows.bytes_per_row;
  const uint8_t* p = chunk.data;
  int64_t left = chunk.size;
  for (int32_t r = 0; r < rows.coded_rows && left > 0; ++r) {
    if (left >= bpr) {
      tiff_land_row(p, r, false);
    } else {
      // The strip ends inside this row: the rest of the row reads as 0.
      uint8_t* row = tiff_buffer(kCodedRowBuffer, bpr + 8);
      if (row == nullptr) return;
      std::memcpy(row, p, static_cast<size_t>(left));
      std::memset(row + left, 0, static_cast<size_t>(bpr - left));
      tiff_land_row(row, r, false);
      return;
    }
    p += bpr;
    left -= bpr;
  }
}
