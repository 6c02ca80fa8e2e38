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

float g_c1, g_c2, g_c3, g_c4, g_c5, g_c6, g_c7;
bool g_idct_ready = false;

inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline float to_float(int32_t a) { return static_cast<float>(a); }

// x: 64 dequantised coefficients, natural order (index = vertical frequency x 8 + horizontal
// frequency). out: 64 samples, row-major, level added.
// One 8-point vector split into its even half (from a = c4 (x0 + x4), b = c4 (x0 - x4), x2,
// x6) and its odd half (from x1, x3, x5, x7); the butterflies come later.
template <class F>
inline void even_odd(F a, F b, F x1, F x2, F x3, F x5, F x6, F x7, F* o) {
  const float c1 = g_c1, c2 = g_c2, c3 = g_c3, c5 = g_c5, c6 = g_c6, c7 = g_c7;
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

template <class F, class I>
void idct(const I* x, F level, F* out) {
  const float c4 = g_c4;
  F part[64];  // [u][j]: vertical halves e0..e3, o0..o3 of horizontal frequency u
  for (int u = 0; u < 8; ++u) {
    const I* col = x + u;
    const F a = c4 * to_float(wrap_add(col[0], col[32]));
    const F b = c4 * to_float(wrap_sub(col[0], col[32]));
    const F x1 = to_float(col[8]), x2 = to_float(col[16]), x3 = to_float(col[24]);
    const F x5 = to_float(col[40]), x6 = to_float(col[48]), x7 = to_float(col[56]);
    even_odd<F>(a, b, x1, x2, x3, x5, x6, x7, part + u * 8);
  }
  F half[64];  // [j][k]: horizontal halves E0..E3, O0..O3 of vertical partial j
  for (int j = 0; j < 8; ++j) {
    const F y0 = part[j], y1 = part[8 + j], y2 = part[16 + j], y3 = part[24 + j];
    const F y4 = part[32 + j], y5 = part[40 + j], y6 = part[48 + j], y7 = part[56 + j];
    even_odd<F>(c4 * (y0 + y4), c4 * (y0 - y4), y1, y2, y3, y5, y6, y7, half + j * 8);
  }
  F vert[64];  // [y][k]: vertical sample y of horizontal half k
  for (int n = 0; n < 4; ++n) {
    for (int k = 0; k < 8; ++k) {
      const F e = half[n * 8 + k], o = half[(4 + n) * 8 + k];
      vert[n * 8 + k] = e + o;
      vert[(7 - n) * 8 + k] = e - o;
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
  uint64_t w[16];
  std::memcpy(w, c, sizeof w);
  uint64_t any = w[0] & ~uint64_t{0xFFFF};
  for (int i = 1; i < 16; ++i) any |= w[i];
  return any == 0;
}

}  // namespace

void jpeg_init_idct() {
  if (g_idct_ready) return;
  const double pi = 3.14159265358979323846;
  float* c[8] = {nullptr, &g_c1, &g_c2, &g_c3, &g_c4, &g_c5, &g_c6, &g_c7};
  for (int k = 1; k < 8; ++k) *c[k] = static_cast<float>(std::cos(k * pi / 16.0) / 2.0);
  g_idct_ready = true;
}

JpegIdctConstants jpeg_idct_constants() { return {g_c1, g_c2, g_c3, g_c4, g_c5, g_c6, g_c7}; }

void reconstruct_block(const int16_t* coefs, const uint16_t* quant_natural, float level, float* out,
                       int stride) {
  if (dc_only(coefs)) {
    const float v = g_c4 * (g_c4 * static_cast<float>(int32_t{quant_natural[0]} * coefs[0])) + level;
    for (int y = 0; y < 8; ++y)
      for (int k = 0; k < 8; ++k) out[y * stride + k] = v;
    return;
  }
  int32_t x[64];
  for (int i = 0; i < 64; ++i) x[i] = int32_t{quant_natural[i]} * coefs[i];
  float samples[64];
  idct<float, int32_t>(x, level, samples);
  for (int y = 0; y < 8; ++y) std::memcpy(out + y * stride, samples + y * 8, 8 * sizeof(float));
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

}  // namespace

void write_mcus(const int16_t* row_coefs, int64_t mcu_row, int first, int last) {
  JpegDecoder& d = g_jpeg;
  JpegLayout& L = d.layout;
  ImageRecord* image = d.image;
  const int nc = L.components;
  const float level = static_cast<float>(L.level);

  // Dequantisation tables in natural order.
  uint16_t quant[4][64];
  for (int c = 0; c < nc; ++c)
    for (int z = 0; z < 64; ++z) quant[c][kJpegZigzag[z]] = d.quant[L.quant[c]][z];

  // Inverse transform of every block of the columns into the component strips.
  const bool avx2 = jpeg_has_avx2();
  const JpegIdctConstants constants = jpeg_idct_constants();
  for (int c = 0; c < nc; ++c) {
    const int h = L.h[c], v = L.v[c], stride = L.strip_stride[c];
    const int16_t* pending[8];
    float* outs[8];
    int n = 0;
    for (int j = 0; j < v; ++j) {
      for (int col = first; col <= last; ++col) {
        const int16_t* mcu = row_coefs + int64_t{col} * L.coefs_per_mcu + L.coef_offset[c];
        for (int i = 0; i < h; ++i) {
          const int16_t* blk = mcu + 64 * (j * h + i);
          float* out = L.strips[c] + int64_t{j} * 8 * stride + (int64_t{col} * h + i) * 8;
          if (dc_only(blk)) {
            reconstruct_block(blk, quant[c], level, out, stride);
            continue;
          }
          if (!avx2) {
            reconstruct_block(blk, quant[c], level, out, stride);
            continue;
          }
          pending[n] = blk;
          outs[n] = out;
          if (++n == 8) {
            jpeg_idct8_avx2(constants, pending, quant[c], level, outs, stride);
            n = 0;
          }
        }
      }
    }
    for (int k = 0; k < n; ++k) reconstruct_block(pending[k], quant[c], level, outs[k], stride);
  }

  // Rows of the columns that lie inside the image.
  const int64_t y0 = mcu_row * L.mcu_height;
  const int64_t x_begin = int64_t{first} * L.mcu_width;
  const int64_t x_end = std::min<int64_t>(int64_t{last + 1} * L.mcu_width, image->width);
  if (x_begin >= x_end || y0 >= image->height) return;
  const int rows = static_cast<int>(std::min<int64_t>(L.mcu_height, image->height - y0));
  const int out_planes = std::min(nc, image->planes);
  if (out_planes == image->planes && d.cells != nullptr) {
    const int64_t last_cell_row = (y0 + rows - 1) / 8, last_cell = (x_end - 1) / 8;
    for (int64_t cy = y0 / 8; cy <= last_cell_row; ++cy)
      std::memset(d.cells + cy * d.cells_per_row + x_begin / 8, 1, size_t(last_cell - x_begin / 8 + 1));
  }
  // Three components are YCbCr unless a SPIFF header, or an Adobe header without a JFIF one,
  // says they are stored as they are (RGB). Four are CMYK, or YCCK when the Adobe header says
  // so: Y, Cb, Cr then convert like YCbCr, to 255 less the stored cyan, magenta and yellow.
  const bool cmyk = nc == 4 && out_planes == 4 && !d.as_stored;
  const bool ycck = cmyk && d.adobe && d.adobe_transform != 0;
  const bool stored_rgb = !d.ycbcr_convert || (d.adobe && d.adobe_transform == 0 && !d.jfif);
  const bool colour = (nc == 3 && out_planes == 3 && !stored_rgb) || ycck;
  const bool twelve = L.precision > 8;
  const double top = twelve ? 4095.0 : 255.0;
  const int shift = twelve ? 4 : 0;
  // 1.402 x 128 - 0.5, (0.34414 + 0.71414) x 128 + 0.5, 1.772 x 128 - 0.5: the centring of
  // Cb and Cr with a rounding half folded in (and the same with 2048 for 12-bit samples).
  const double kr = twelve ? 2870.796 : 178.956;
  const double kg = twelve ? 2167.85744 : 135.95984;
  const double kb = twelve ? 3628.556 : 226.316;
  const JpegColourConstants colour_k = {kr, kg, kb, top, shift};
  // 4:2:0 and 4:2:2: the chroma products are made once per chroma row and shared by the
  // pixels (and rows) that the chroma sample covers.
  const bool half_chroma = colour && nc == 3 && avx2 && L.hf[0] == 1 && L.vf[0] == 1 && L.hf[1] == 2 &&
                           L.hf[2] == 2 && L.vf[1] == L.vf[2];
  const size_t product_stride = size_t(L.mcus_per_row) * L.mcu_width / 2 + 8;
  const JpegChromaProducts products = {L.products, L.products + product_stride,
                                       L.products + 2 * product_stride, L.products + 3 * product_stride};
  int product_row = -1;
  const float* src[4];
  for (int r = 0; r < rows; ++r) {
    if (half_chroma) {
      const int chroma_row = r / L.vf[1];
      const int64_t c_begin = x_begin / 2, c_end = (x_end + 1) / 2;
      if (chroma_row != product_row) {
        const float* cb = L.strips[1] + int64_t{chroma_row} * L.strip_stride[1];
        const float* cr = L.strips[2] + int64_t{chroma_row} * L.strip_stride[2];
        const JpegChromaProducts at = {products.red + c_begin, products.green_cb + c_begin,
                                       products.green_cr + c_begin, products.blue + c_begin};
        int64_t i = c_begin + jpeg_chroma_products_avx2(cb + c_begin, cr + c_begin, at,
                                                        static_cast<int>(c_end - c_begin));
        for (; i < c_end; ++i) {
          const double u = cb[i], v = cr[i];
          products.red[i] = 1.402 * v;
          products.green_cb[i] = 0.34414 * u;
          products.green_cr[i] = 0.71414 * v;
          products.blue[i] = 1.772 * u;
        }
        product_row = chroma_row;
      }
      uint8_t* rp = image->pixels + (y0 + r) * int64_t{image->row_bytes};
      uint8_t* gp = rp + d.plane_size;
      uint8_t* bp = gp + d.plane_size;
      const float* ys = L.strips[0] + int64_t{r} * L.strip_stride[0];
      const JpegChromaProducts at = {products.red + c_begin, products.green_cb + c_begin,
                                     products.green_cr + c_begin, products.blue + c_begin};
      int64_t x = x_begin + jpeg_ycc_row_h2_avx2(ys + x_begin, at, rp + x_begin, gp + x_begin,
                                                 bp + x_begin, static_cast<int>(x_end - x_begin), colour_k);
      for (; x < x_end; ++x) {
        const double y = ys[x];
        const int64_t i = x / 2;
        rp[x] = static_cast<uint8_t>(clamp_trunc(y + products.red[i] - kr, top) >> shift);
        gp[x] = static_cast<uint8_t>(
            clamp_trunc(y - products.green_cb[i] - products.green_cr[i] + kg, top) >> shift);
        bp[x] = static_cast<uint8_t>(clamp_trunc(y + products.blue[i] - kb, top) >> shift);
      }
      continue;
    }
    for (int c = 0; c < nc; ++c) {
      const float* line = L.strips[c] + int64_t{r / L.vf[c]} * L.strip_stride[c];
      if (L.hf[c] == 1) {
        src[c] = line;
      } else {
        float* up = L.line[c];
        const int hf = L.hf[c];
        const int64_t s_begin = x_begin / hf, s_end = (x_end + hf - 1) / hf;
        if (hf == 2) {
          for (int64_t i = s_begin; i < s_end; ++i) up[2 * i] = up[2 * i + 1] = line[i];
        } else {
          for (int64_t i = s_begin; i < s_end; ++i)
            for (int k = 0; k < hf; ++k) up[i * hf + k] = line[i];
        }
        src[c] = up;
      }
    }
    uint8_t* dest = image->pixels + (y0 + r) * int64_t{image->row_bytes};
    if (colour) {
      uint8_t* rp = dest;
      uint8_t* gp = dest + d.plane_size;
      uint8_t* bp = dest + 2 * d.plane_size;
      const float *ys = src[0], *cb = src[1], *cr = src[2];
      int64_t x = x_begin;
      if (avx2)
        x += jpeg_ycc_row_avx2(ys + x, cb + x, cr + x, rp + x, gp + x, bp + x,
                               static_cast<int>(x_end - x), colour_k);
      for (; x < x_end; ++x) {
        const double y = ys[x], u = cb[x], v = cr[x];
        rp[x] = static_cast<uint8_t>(clamp_trunc(y + 1.402 * v - kr, top) >> shift);
        gp[x] = static_cast<uint8_t>(clamp_trunc(y - 0.34414 * u - 0.71414 * v + kg, top) >> shift);
        bp[x] = static_cast<uint8_t>(clamp_trunc(y + 1.772 * u - kb, top) >> shift);
      }
    }
    for (int c = colour ? 3 : 0; c < out_planes; ++c) {
      uint8_t* p = dest + c * d.plane_size;
      const float* s = src[c];
      int64_t x = x_begin;
      if (avx2) x += jpeg_plain_row_avx2(s + x, p + x, static_cast<int>(x_end - x), top, shift);
      for (; x < x_end; ++x) p[x] = plain_byte(s[x], top, shift);
    }
    if (cmyk) {
      uint8_t* planes[4];
      for (int c = 0; c < 4; ++c) planes[c] = dest + c * d.plane_size + x_begin;
      const int64_t n = x_end - x_begin;
      if (ycck)
        for (int c = 0; c < 3; ++c)
          for (int64_t x = 0; x < n; ++x) planes[c][x] = static_cast<uint8_t>(255 - planes[c][x]);
      // The inks are stored inverted, as Adobe's programs write them; the common decoders read
      // every four-component file so, with or without the Adobe header.
      cmyk_planes_to_rgb(planes[0], planes[1], planes[2], planes[3], n, true);
    }
  }
}
