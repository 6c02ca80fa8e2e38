// Reconstruction: dequantisation, the single-precision inverse DCT with its even/odd split,
// the level shift, replication upsampling, the YCbCr, YCCK and CMYK conversions and the copy
// into the image.
//
// Every sample goes through the same sequence of float operations, here for one block and in
// jpeg_simd.cpp for eight blocks side by side (one block per lane): the lanes never mix, so
// vectorising does not change a result. The build forbids fused multiply-add, which would.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs/jpeg/jpeg_internal.h"
#include "codecs/jpeg/jpeg_simd.h"
#include "image/image.h"
#include "image/pixels.h"

namespace {

inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline float to_float(int32_t a) { return static_cast<float>(a); }

// One 8-point vector split into its even half (from a = c4 (x0 + x4), b = c4 (x0 - x4), x2,
// x6) and its odd half (from x1, x3, x5, x7); the butterflies come later.
template <class F>
inline void even_odd(const JpegIdctConstants& k, F a, F b, F x1, F x2, F x3, F x5, F x6, F x7, F* o) {
  const float c1 = k.c1, c2 = k.c2, c3 = k.c3, c5 = k.c5, c6 = k.c6, c7 = k.c7;
  const F p = c2 * x2 + c6 * x6;
  const F q = c6 * x2 - c2 * x6;
  o[0] = a + p;
  o[1] = b + q;
  o[2] = b - q;
  o[3] = a - p;
  o[4] = c1 * x1 + c3 * x3 + c5 * x5 + c7 * x7;
  o[5] = c3 * x1 - c7 * x3 - c1 * x5 - c5 * x7;
  o[6] = c5 * x1 - c1 * x3 + c7 * x5 + c3 * x7;
  o[7] = c7 * x1 - c5 * x3 + c3 * x5 - c1 * x7;
}

// x: 64 dequantised coefficients, natural order (index = vertical frequency x 8 + horizontal
// frequency). out: 64 samples, row-major, level added.
template <class F, class I>
void idct(const JpegIdctConstants& k, const I* x, F level, F* out) {
  const float c4 = k.c4;
  F part[64];  // [u][j]: vertical halves e0..e3, o0..o3 of horizontal frequency u
  for (int u = 0; u < 8; ++u) {
    const I* col = x + u;
    const F a = c4 * to_float(wrap_add(col[0], col[32]));
    const F b = c4 * to_float(wrap_sub(col[0], col[32]));
    const F x1 = to_float(col[8]), x2 = to_float(col[16]), x3 = to_float(col[24]);
    const F x5 = to_float(col[40]), x6 = to_float(col[48]), x7 = to_float(col[56]);
    even_odd<F>(k, a, b, x1, x2, x3, x5, x6, x7, part + u * 8);
  }
  F half[64];  // [j][k]: horizontal halves E0..E3, O0..O3 of vertical partial j
  for (int j = 0; j < 8; ++j) {
    const F y0 = part[j], y1 = part[8 + j], y2 = part[16 + j], y3 = part[24 + j];
    const F y4 = part[32 + j], y5 = part[40 + j], y6 = part[48 + j], y7 = part[56 + j];
    even_odd<F>(k, c4 * (y0 + y4), c4 * (y0 - y4), y1, y2, y3, y5, y6, y7, half + j * 8);
  }
  F vert[64];  // [y][k]: vertical sample y of horizontal half k
  for (int n = 0; n < 4; ++n) {
    for (int i = 0; i < 8; ++i) {
      const F e = half[n * 8 + i], o = half[(4 + n) * 8 + i];
      vert[n * 8 + i] = e + o;
      vert[(7 - n) * 8 + i] = e - o;
    }
  }
  for (int y = 0; y < 8; ++y) {
    const F* v = vert + y * 8;
    F* row = out + y * 8;
    for (int n = 0; n < 4; ++n) {
      row[n] = v[n] + v[4 + n] + level;
      row[7 - n] = v[n] - v[4 + n] + level;
    }
  }
}

// True when only the DC coefficient may be non-zero.
inline bool dc_only(const int16_t* c) {
  uint64_t any = 0;
  for (int i = 0; i < 16; ++i) {
    uint64_t w;
    std::memcpy(&w, c + 4 * i, sizeof w);
    any |= i == 0 ? w & ~uint64_t{0xFFFF} : w;
  }
  return any == 0;
}

JpegIdctConstants make_idct_constants() {
  const double pi = 3.14159265358979323846;
  float c[8];
  for (int k = 1; k < 8; ++k) c[k] = static_cast<float>(std::cos(k * pi / 16.0) / 2.0);
  return {c[1], c[2], c[3], c[4], c[5], c[6], c[7]};
}

// One block's 64 natural-order coefficients to 8x8 samples, rows `stride` floats apart.
void reconstruct_block(const JpegIdctConstants& k, const int16_t* coefs, const uint16_t* quant_natural,
                       float level, float* out, int stride) {
  if (dc_only(coefs)) {
    const float v = k.c4 * (k.c4 * static_cast<float>(int32_t{quant_natural[0]} * coefs[0])) + level;
    for (int y = 0; y < 8; ++y)
      for (int i = 0; i < 8; ++i) out[y * stride + i] = v;
    return;
  }
  int32_t x[64];
  for (int i = 0; i < 64; ++i) x[i] = int32_t{quant_natural[i]} * coefs[i];
  float samples[64];
  idct<float, int32_t>(k, x, level, samples);
  for (int y = 0; y < 8; ++y) std::memcpy(out + y * stride, samples + y * 8, 8 * sizeof(float));
}

}  // namespace

const JpegIdctConstants& jpeg_idct_constants() {
  static const JpegIdctConstants constants = make_idct_constants();
  return constants;
}

namespace {

// Sample to byte for images stored as decoded: below 0.5 is 0, from top - 0.5 on is top, else
// s + 0.5 truncated. In double, s + 0.5 is exact, so clamping it first gives the same.
inline uint8_t plain_byte(float s, double top, int shift) {
  double t = static_cast<double>(s) + 0.5;
  t = t < 0.0 ? 0.0 : (t > top ? top : t);
  return static_cast<uint8_t>(static_cast<int>(t) >> shift);
}

// Truncation toward zero of a value clamped to 0..top (the same as clamping the truncation).
inline int clamp_trunc(double v, double top) {
  if (v < 0.0) return 0;
  if (v > top) return static_cast<int>(top);
  return static_cast<int>(v);
}

// A component's blocks waiting for the eight-lane transform.
struct IdctBatch {
  const int16_t* blocks[8];
  float* outs[8];
  int count = 0;
};

// What the transform of a run of MCUs needs: the constants, the dequantisation tables in
// natural order, and the blocks gathered for the vector transform.
struct Transform {
  const JpegIdctConstants& k;
  float level;
  bool vector;
  uint16_t quant[4][64];
  IdctBatch batches[4];
};

// Transforms one block of component c into its place in the strip: at once when only its DC
// coefficient is set (or without the vector transform), else with the next seven of the
// component.
inline void transform_block(Transform& t, int c, const int16_t* blk, float* out, int stride) {
  if (!t.vector || dc_only(blk)) {
    reconstruct_block(t.k, blk, t.quant[c], t.level, out, stride);
    return;
  }
  IdctBatch& batch = t.batches[c];
  batch.blocks[batch.count] = blk;
  batch.outs[batch.count] = out;
  if (++batch.count == 8) {
    jpeg_idct8_avx2(t.k, batch.blocks, t.quant[c], t.level, batch.outs, stride);
    batch.count = 0;
  }
}

// Writes the samples of one MCU (its coefficients at `mcu`, column `column` of the strips)
// into the sample strips, component by component.
void write_mcu(const JpegLayout& L, Transform& t, const int16_t* mcu, int column) {
  for (int c = 0; c < L.components; ++c) {
    const int h = L.h[c], v = L.v[c], stride = L.strip_stride[c];
    const int16_t* blk = mcu + L.coef_offset[c];
    float* row = L.strips[c] + int64_t{column} * h * 8;
    for (int j = 0; j < v; ++j, row += 8 * int64_t{stride})
      for (int i = 0; i < h; ++i, blk += 64) transform_block(t, c, blk, row + 8 * i, stride);
  }
}

// The blocks left in the batches, one at a time.
void finish_batches(const JpegLayout& L, Transform& t) {
  for (int c = 0; c < L.components; ++c) {
    IdctBatch& batch = t.batches[c];
    for (int n = 0; n < batch.count; ++n)
      reconstruct_block(t.k, batch.blocks[n], t.quant[c], t.level, batch.outs[n], L.strip_stride[c]);
    batch.count = 0;
  }
}

// The part of a run of MCUs that lies inside the image: rows y0 .. y0 + rows - 1, columns
// x_begin .. x_end - 1. Column x_begin is the strips' first sample column.
struct PixelSpan {
  int64_t y0, x_begin, x_end;
  int rows;
};

// Marks the 8x8 cells the span covers as written.
void mark_cells(JpegDecoder& d, const PixelSpan& span) {
  const int64_t last_cell_row = (span.y0 + span.rows - 1) / 8, last_cell = (span.x_end - 1) / 8;
  for (int64_t cy = span.y0 / 8; cy <= last_cell_row; ++cy)
    for (int64_t cx = span.x_begin / 8; cx <= last_cell; ++cx) d.mark_cell(cy, cx);
}

// How the samples of the components become the bytes of the image planes.
struct Conversion {
  bool colour;       // YCbCr (or the Y, Cb, Cr of YCCK) to RGB
  bool cmyk, ycck;   // four inverted inks, the first three as YCbCr for YCCK
  bool half_chroma;  // YCbCr with chroma at half horizontal resolution, vector path
  bool vector;
  int out_planes;
  JpegColourConstants k;
};

Conversion conversion_for(const JpegDecoder& d, bool vector) {
  const JpegLayout& L = d.layout;
  const int nc = L.components;
  Conversion v{};
  v.vector = vector;
  v.out_planes = std::min(nc, d.image->planes);
  // Three components are YCbCr unless a SPIFF header, or an Adobe header without a JFIF one,
  // says they are stored as they are (RGB). Four are CMYK, or YCCK when the Adobe header says
  // so: Y, Cb, Cr then convert like YCbCr, to 255 less the stored cyan, magenta and yellow.
  v.cmyk = nc == 4 && v.out_planes == 4 && !d.as_stored;
  v.ycck = v.cmyk && d.adobe && d.adobe_transform != 0;
  const bool stored_rgb = !d.ycbcr_convert || (d.adobe && d.adobe_transform == 0 && !d.jfif);
  v.colour = (nc == 3 && v.out_planes == 3 && !stored_rgb) || v.ycck;
  // 4:2:0 and 4:2:2: the chroma products are made once per chroma row and shared by the
  // pixels (and rows) that the chroma sample covers.
  v.half_chroma = v.colour && nc == 3 && vector && L.hf[0] == 1 && L.vf[0] == 1 && L.hf[1] == 2 &&
                  L.hf[2] == 2 && L.vf[1] == L.vf[2];
  // 1.402 x 128 - 0.5, (0.34414 + 0.71414) x 128 + 0.5, 1.772 x 128 - 0.5: the centring of
  // Cb and Cr with a rounding half folded in (and the same with 2048 for 12-bit samples).
  const bool twelve = L.precision > 8;
  v.k = twelve ? JpegColourConstants{2870.796, 2167.85744, 3628.556, 4095.0, 4}
               : JpegColourConstants{178.956, 135.95984, 226.316, 255.0, 0};
  return v;
}

// The three byte planes of the span's row r, from its first column.
struct RgbRow {
  uint8_t *r, *g, *b;
};

RgbRow rgb_row(const JpegDecoder& d, const PixelSpan& span, int r) {
  uint8_t* red = d.image->pixels + (span.y0 + r) * int64_t{d.image->row_bytes} + span.x_begin;
  return {red, red + d.plane_size, red + 2 * d.plane_size};
}

// Converts one row whose chroma, at half horizontal resolution, comes from chroma row
// `chroma_row`; the chroma products are made when that row changes.
void convert_half_chroma_row(const JpegDecoder& d, const Conversion& v, const PixelSpan& span, int r,
                             int* product_row) {
  const JpegLayout& L = d.layout;
  const JpegColourConstants& k = v.k;
  const size_t product_stride = size_t(L.chunk_mcus) * L.mcu_width / 2 + 8;
  const JpegChromaProducts products = {L.products, L.products + product_stride, L.products + 2 * product_stride,
                                       L.products + 3 * product_stride};
  const int chroma_row = r / L.vf[1];
  const int count = static_cast<int>(span.x_end - span.x_begin), chroma_count = (count + 1) / 2;
  if (chroma_row != *product_row) {
    const float* cb = L.strips[1] + int64_t{chroma_row} * L.strip_stride[1];
    const float* cr = L.strips[2] + int64_t{chroma_row} * L.strip_stride[2];
    for (int i = jpeg_chroma_products_avx2(cb, cr, products, chroma_count); i < chroma_count; ++i) {
      const double u = cb[i], w = cr[i];
      products.red[i] = 1.402 * w;
      products.green_cb[i] = 0.34414 * u;
      products.green_cr[i] = 0.71414 * w;
      products.blue[i] = 1.772 * u;
    }
    *product_row = chroma_row;
  }
  const RgbRow out = rgb_row(d, span, r);
  const float* ys = L.strips[0] + int64_t{r} * L.strip_stride[0];
  for (int x = jpeg_ycc_row_h2_avx2(ys, products, out.r, out.g, out.b, count, k); x < count; ++x) {
    const double y = ys[x];
    const int i = x / 2;
    out.r[x] = static_cast<uint8_t>(clamp_trunc(y + products.red[i] - k.kr, k.top) >> k.shift);
    out.g[x] = static_cast<uint8_t>(
        clamp_trunc(y - products.green_cb[i] - products.green_cr[i] + k.kg, k.top) >> k.shift);
    out.b[x] = static_cast<uint8_t>(clamp_trunc(y + products.blue[i] - k.kb, k.top) >> k.shift);
  }
}

// Row r of component c's samples at full resolution, `count` of them: the strip row itself, or
// the line buffer holding its samples repeated hf times.
const float* upsampled_row(const JpegLayout& L, int count, int c, int r) {
  const float* line = L.strips[c] + int64_t{r / L.vf[c]} * L.strip_stride[c];
  const int hf = L.hf[c];
  if (hf == 1) return line;
  float* up = L.line[c];
  const int samples = (count + hf - 1) / hf;
  if (hf == 2) {
    for (int i = 0; i < samples; ++i) up[2 * i] = up[2 * i + 1] = line[i];
  } else {
    for (int i = 0; i < samples; ++i)
      for (int j = 0; j < hf; ++j) up[i * hf + j] = line[i];
  }
  return up;
}

void convert_ycc_row(const Conversion& v, const float* const* src, const RgbRow& out, int count) {
  const JpegColourConstants& k = v.k;
  const float *ys = src[0], *cb = src[1], *cr = src[2];
  int x = v.vector ? jpeg_ycc_row_avx2(ys, cb, cr, out.r, out.g, out.b, count, k) : 0;
  for (; x < count; ++x) {
    const double y = ys[x], u = cb[x], w = cr[x];
    out.r[x] = static_cast<uint8_t>(clamp_trunc(y + 1.402 * w - k.kr, k.top) >> k.shift);
    out.g[x] = static_cast<uint8_t>(clamp_trunc(y - 0.34414 * u - 0.71414 * w + k.kg, k.top) >> k.shift);
    out.b[x] = static_cast<uint8_t>(clamp_trunc(y + 1.772 * u - k.kb, k.top) >> k.shift);
  }
}

// Converts and stores one row of the span in every output plane.
void convert_row(const JpegDecoder& d, const Conversion& v, const PixelSpan& span, int r) {
  const JpegLayout& L = d.layout;
  const int count = static_cast<int>(span.x_end - span.x_begin);
  const float* src[4];
  for (int c = 0; c < L.components; ++c) src[c] = upsampled_row(L, count, c, r);
  const RgbRow out = rgb_row(d, span, r);
  if (v.colour) convert_ycc_row(v, src, out, count);
  for (int c = v.colour ? 3 : 0; c < v.out_planes; ++c) {
    uint8_t* p = out.r + c * d.plane_size;
    const float* s = src[c];
    int x = v.vector ? jpeg_plain_row_avx2(s, p, count, v.k.top, v.k.shift) : 0;
    for (; x < count; ++x) p[x] = plain_byte(s[x], v.k.top, v.k.shift);
  }
  if (v.cmyk) {
    uint8_t* planes[4];
    for (int c = 0; c < 4; ++c) planes[c] = out.r + c * d.plane_size;
    if (v.ycck)
      for (int c = 0; c < 3; ++c)
        for (int x = 0; x < count; ++x) planes[c][x] = static_cast<uint8_t>(255 - planes[c][x]);
    // The inks are stored inverted, as Adobe's programs write them; the common decoders read
    // every four-component file so, with or without the Adobe header.
    cmyk_planes_to_rgb(planes[0], planes[1], planes[2], planes[3], count, true);
  }
}

// Reconstructs the MCU columns first..last (at most chunk_mcus of them, coefficients from
// `coefs`) of one MCU row into the strips and converts them into the image.
void write_chunk(JpegDecoder& d, Transform& t, const int16_t* coefs, int64_t mcu_row, int first, int last) {
  const JpegLayout& L = d.layout;
  ImageRecord* image = d.image;
  for (int col = first; col <= last; ++col) write_mcu(L, t, coefs + int64_t{col - first} * L.coefs_per_mcu, col - first);
  finish_batches(L, t);

  PixelSpan span;
  span.y0 = mcu_row * L.mcu_height;
  span.x_begin = int64_t{first} * L.mcu_width;
  span.x_end = std::min<int64_t>(int64_t{last + 1} * L.mcu_width, image->width);
  if (span.x_begin >= span.x_end || span.y0 >= image->height) return;
  span.rows = static_cast<int>(std::min<int64_t>(L.mcu_height, image->height - span.y0));
  const Conversion v = conversion_for(d, t.vector);
  if (v.out_planes == image->planes && d.cells != nullptr) mark_cells(d, span);
  int product_row = -1;
  for (int r = 0; r < span.rows; ++r) {
    if (v.half_chroma) convert_half_chroma_row(d, v, span, r, &product_row);
    else convert_row(d, v, span, r);
  }
}

}  // namespace

void write_mcus(JpegDecoder& d, const int16_t* coefs, int64_t mcu_row, int first, int last) {
  const JpegLayout& L = d.layout;
  Transform t{jpeg_idct_constants(), static_cast<float>(L.level), jpeg_has_avx2(), {}, {}};
  for (int c = 0; c < L.components; ++c)
    for (int z = 0; z < 64; ++z) t.quant[c][kJpegZigzag[z]] = d.quant[L.quant[c]][z];
  for (int begin = first; begin <= last; begin += L.chunk_mcus) {
    const int end = std::min(last, begin + L.chunk_mcus - 1);
    write_chunk(d, t, coefs + int64_t{begin - first} * L.coefs_per_mcu, mcu_row, begin, end);
  }
}
