// AVX2 versions of the reconstruction's hot loops, chosen at run time. Each lane carries one
// block (transform) or one pixel (conversion) through exactly the operations of the scalar
// code, in the same order, so the results are the same bits as the scalar path's.
#include "codecs/jpeg/jpeg_simd.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define KORVELA_AVX2 __attribute__((target("avx2")))

namespace {
bool g_simd_allowed = true;
}

void jpeg_allow_simd(bool allowed) { g_simd_allowed = allowed; }

bool jpeg_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && g_simd_allowed;
}

namespace {

KORVELA_AVX2 inline void transpose8_epi16(__m128i* a) {
  const __m128i b0 = _mm_unpacklo_epi16(a[0], a[1]), b1 = _mm_unpackhi_epi16(a[0], a[1]);
  const __m128i b2 = _mm_unpacklo_epi16(a[2], a[3]), b3 = _mm_unpackhi_epi16(a[2], a[3]);
  const __m128i b4 = _mm_unpacklo_epi16(a[4], a[5]), b5 = _mm_unpackhi_epi16(a[4], a[5]);
  const __m128i b6 = _mm_unpacklo_epi16(a[6], a[7]), b7 = _mm_unpackhi_epi16(a[6], a[7]);
  const __m128i c0 = _mm_unpacklo_epi32(b0, b2), c1 = _mm_unpackhi_epi32(b0, b2);
  const __m128i c2 = _mm_unpacklo_epi32(b1, b3), c3 = _mm_unpackhi_epi32(b1, b3);
  const __m128i c4 = _mm_unpacklo_epi32(b4, b6), c5 = _mm_unpackhi_epi32(b4, b6);
  const __m128i c6 = _mm_unpacklo_epi32(b5, b7), c7 = _mm_unpackhi_epi32(b5, b7);
  a[0] = _mm_unpacklo_epi64(c0, c4);
  a[1] = _mm_unpackhi_epi64(c0, c4);
  a[2] = _mm_unpacklo_epi64(c1, c5);
  a[3] = _mm_unpackhi_epi64(c1, c5);
  a[4] = _mm_unpacklo_epi64(c2, c6);
  a[5] = _mm_unpackhi_epi64(c2, c6);
  a[6] = _mm_unpacklo_epi64(c3, c7);
  a[7] = _mm_unpackhi_epi64(c3, c7);
}

KORVELA_AVX2 inline void transpose8_ps(__m256* r) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
  r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
  r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
  r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
  r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
  r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
  r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
  r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

KORVELA_AVX2 inline __m256i wrap_add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
KORVELA_AVX2 inline __m256i wrap_sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
KORVELA_AVX2 inline __m256 cvt(__m256i a) { return _mm256_cvtepi32_ps(a); }
KORVELA_AVX2 inline __m256 mul(float c, __m256 a) { return _mm256_mul_ps(_mm256_set1_ps(c), a); }
KORVELA_AVX2 inline __m256 add(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
KORVELA_AVX2 inline __m256 sub(__m256 a, __m256 b) { return _mm256_sub_ps(a, b); }

// The even and odd halves of one 8-point vector, as in the scalar transform.
KORVELA_AVX2 inline void halves(const JpegIdctConstants& k, __m256 a, __m256 b, __m256 x1, __m256 x2,
                               __m256 x3, __m256 x5, __m256 x6, __m256 x7, __m256* o) {
  const __m256 p = add(mul(k.c2, x2), mul(k.c6, x6));
  const __m256 q = sub(mul(k.c6, x2), mul(k.c2, x6));
  o[0] = add(a, p);
  o[1] = add(b, q);
  o[2] = sub(b, q);
  o[3] = sub(a, p);
  o[4] = add(add(add(mul(k.c1, x1), mul(k.c3, x3)), mul(k.c5, x5)), mul(k.c7, x7));
  o[5] = sub(sub(sub(mul(k.c3, x1), mul(k.c7, x3)), mul(k.c1, x5)), mul(k.c5, x7));
  o[6] = add(add(sub(mul(k.c5, x1), mul(k.c1, x3)), mul(k.c7, x5)), mul(k.c3, x7));
  o[7] = sub(add(sub(mul(k.c7, x1), mul(k.c5, x3)), mul(k.c3, x5)), mul(k.c1, x7));
}

}  // namespace

KORVELA_AVX2 void jpeg_idct8_avx2(const JpegIdctConstants& k, const int16_t* const* blocks,
                                  const uint16_t* quant, float level, float* const* outs,
                                  int stride) {
  // Dequantised coefficients, one block per lane.
  __m256i x[64];
  for (int r = 0; r < 8; ++r) {
    __m128i a[8];
    for (int l = 0; l < 8; ++l) a[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[l] + r * 8));
    transpose8_epi16(a);
    for (int c = 0; c < 8; ++c)
      x[r * 8 + c] = _mm256_mullo_epi32(_mm256_cvtepi16_epi32(a[c]), _mm256_set1_epi32(quant[r * 8 + c]));
  }
  __m256 part[64];
  for (int u = 0; u < 8; ++u) {
    const __m256i* col = x + u;
    const __m256 a = mul(k.c4, cvt(wrap_add(col[0], col[32])));
    const __m256 b = mul(k.c4, cvt(wrap_sub(col[0], col[32])));
    halves(k, a, b, cvt(col[8]), cvt(col[16]), cvt(col[24]), cvt(col[40]), cvt(col[48]),
           cvt(col[56]), part + u * 8);
  }
  __m256 half[64];
  for (int j = 0; j < 8; ++j) {
    const __m256 a = mul(k.c4, add(part[j], part[32 + j]));
    const __m256 b = mul(k.c4, sub(part[j], part[32 + j]));
    halves(k, a, b, part[8 + j], part[16 + j], part[24 + j], part[40 + j], part[48 + j],
           part[56 + j], half + j * 8);
  }
  __m256 vert[64];
  for (int n = 0; n < 4; ++n) {
    for (int c = 0; c < 8; ++c) {
      const __m256 e = half[n * 8 + c], o = half[(4 + n) * 8 + c];
      vert[n * 8 + c] = add(e, o);
      vert[(7 - n) * 8 + c] = sub(e, o);
    }
  }
  const __m256 lv = _mm256_set1_ps(level);
  for (int y = 0; y < 8; ++y) {
    const __m256* v = vert + y * 8;
    __m256 row[8];
    for (int n = 0; n < 4; ++n) {
      row[n] = add(add(v[n], v[4 + n]), lv);
      row[7 - n] = add(sub(v[n], v[4 + n]), lv);
    }
    transpose8_ps(row);
    for (int l = 0; l < 8; ++l) _mm256_storeu_ps(outs[l] + y * stride, row[l]);
  }
}

namespace {

// Truncates eight values to bytes: the top is clamped in double (an int conversion of a larger
// value would overflow), values below zero saturate to 0 in the packing.
template <int kShift>
KORVELA_AVX2 inline __m128i to_bytes(__m256d lo, __m256d hi, __m256d top) {
  __m128i a = _mm256_cvttpd_epi32(_mm256_min_pd(lo, top));
  __m128i b = _mm256_cvttpd_epi32(_mm256_min_pd(hi, top));
  if (kShift != 0) {
    a = _mm_srai_epi32(a, kShift);
    b = _mm_srai_epi32(b, kShift);
  }
  const __m128i w = _mm_packs_epi32(a, b);
  return _mm_packus_epi16(w, w);
}

template <int kShift>
KORVELA_AVX2 int ycc_row(const float* ys, const float* cbs, const float* crs, uint8_t* r,
                         uint8_t* g, uint8_t* b, int count, const JpegColourConstants& k) {
  const __m256d c_rv = _mm256_set1_pd(1.402), c_gu = _mm256_set1_pd(0.34414),
                c_gv = _mm256_set1_pd(0.71414), c_bu = _mm256_set1_pd(1.772);
  const __m256d kr = _mm256_set1_pd(k.kr), kg = _mm256_set1_pd(k.kg), kb = _mm256_set1_pd(k.kb);
  const __m256d top = _mm256_set1_pd(k.top);
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256 y8 = _mm256_loadu_ps(ys + x), u8 = _mm256_loadu_ps(cbs + x),
                 v8 = _mm256_loadu_ps(crs + x);
    __m256d y[2] = {_mm256_cvtps_pd(_mm256_castps256_ps128(y8)), _mm256_cvtps_pd(_mm256_extractf128_ps(y8, 1))};
    __m256d u[2] = {_mm256_cvtps_pd(_mm256_castps256_ps128(u8)), _mm256_cvtps_pd(_mm256_extractf128_ps(u8, 1))};
    __m256d v[2] = {_mm256_cvtps_pd(_mm256_castps256_ps128(v8)), _mm256_cvtps_pd(_mm256_extractf128_ps(v8, 1))};
    __m256d rr[2], gg[2], bb[2];
    for (int h = 0; h < 2; ++h) {
      rr[h] = _mm256_sub_pd(_mm256_add_pd(y[h], _mm256_mul_pd(c_rv, v[h])), kr);
      gg[h] = _mm256_add_pd(
          _mm256_sub_pd(_mm256_sub_pd(y[h], _mm256_mul_pd(c_gu, u[h])), _mm256_mul_pd(c_gv, v[h])), kg);
      bb[h] = _mm256_sub_pd(_mm256_add_pd(y[h], _mm256_mul_pd(c_bu, u[h])), kb);
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(r + x), to_bytes<kShift>(rr[0], rr[1], top));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(g + x), to_bytes<kShift>(gg[0], gg[1], top));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(b + x), to_bytes<kShift>(bb[0], bb[1], top));
  }
  return x;
}

template <int kShift>
KORVELA_AVX2 int plain_row(const float* s, uint8_t* out, int count, double top) {
  const __m256d half = _mm256_set1_pd(0.5), t = _mm256_set1_pd(top);
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256 s8 = _mm256_loadu_ps(s + x);
    const __m256d lo = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(s8)), half);
    const __m256d hi = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(s8, 1)), half);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), to_bytes<kShift>(lo, hi, t));
  }
  return x;
}

template <int kShift>
KORVELA_AVX2 int ycc_row_h2(const float* ys, const JpegChromaProducts& p, uint8_t* r, uint8_t* g,
                            uint8_t* b, int count, const JpegColourConstants& k) {
  const __m256d kr = _mm256_set1_pd(k.kr), kg = _mm256_set1_pd(k.kg), kb = _mm256_set1_pd(k.kb);
  const __m256d top = _mm256_set1_pd(k.top);
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256 y8 = _mm256_loadu_ps(ys + x);
    const __m256d y[2] = {_mm256_cvtps_pd(_mm256_castps256_ps128(y8)),
                          _mm256_cvtps_pd(_mm256_extractf128_ps(y8, 1))};
    const int c = x / 2;
    const __m256d pr4 = _mm256_loadu_pd(p.red + c), pgu4 = _mm256_loadu_pd(p.green_cb + c),
                  pgv4 = _mm256_loadu_pd(p.green_cr + c), pb4 = _mm256_loadu_pd(p.blue + c);
    // Each chroma sample serves two neighbouring pixels.
    const __m256d pr[2] = {_mm256_permute4x64_pd(pr4, 0x50), _mm256_permute4x64_pd(pr4, 0xFA)};
    const __m256d pgu[2] = {_mm256_permute4x64_pd(pgu4, 0x50), _mm256_permute4x64_pd(pgu4, 0xFA)};
    const __m256d pgv[2] = {_mm256_permute4x64_pd(pgv4, 0x50), _mm256_permute4x64_pd(pgv4, 0xFA)};
    const __m256d pb[2] = {_mm256_permute4x64_pd(pb4, 0x50), _mm256_permute4x64_pd(pb4, 0xFA)};
    __m256d rr[2], gg[2], bb[2];
    for (int h = 0; h < 2; ++h) {
      rr[h] = _mm256_sub_pd(_mm256_add_pd(y[h], pr[h]), kr);
      gg[h] = _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(y[h], pgu[h]), pgv[h]), kg);
      bb[h] = _mm256_sub_pd(_mm256_add_pd(y[h], pb[h]), kb);
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(r + x), to_bytes<kShift>(rr[0], rr[1], top));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(g + x), to_bytes<kShift>(gg[0], gg[1], top));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(b + x), to_bytes<kShift>(bb[0], bb[1], top));
  }
  return x;
}

}  // namespace

KORVELA_AVX2 int jpeg_chroma_products_avx2(const float* cb, const float* cr, const JpegChromaProducts& p,
                                           int count) {
  const __m256d c_rv = _mm256_set1_pd(1.402), c_gu = _mm256_set1_pd(0.34414),
                c_gv = _mm256_set1_pd(0.71414), c_bu = _mm256_set1_pd(1.772);
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d u = _mm256_cvtps_pd(_mm_loadu_ps(cb + i)), v = _mm256_cvtps_pd(_mm_loadu_ps(cr + i));
    _mm256_storeu_pd(p.red + i, _mm256_mul_pd(c_rv, v));
    _mm256_storeu_pd(p.green_cb + i, _mm256_mul_pd(c_gu, u));
    _mm256_storeu_pd(p.green_cr + i, _mm256_mul_pd(c_gv, v));
    _mm256_storeu_pd(p.blue + i, _mm256_mul_pd(c_bu, u));
  }
  return i;
}

KORVELA_AVX2 int jpeg_ycc_row_h2_avx2(const float* ys, const JpegChromaProducts& p, uint8_t* r,
                                      uint8_t* g, uint8_t* b, int count, const JpegColourConstants& k) {
  return k.shift == 0 ? ycc_row_h2<0>(ys, p, r, g, b, count, k) : ycc_row_h2<4>(ys, p, r, g, b, count, k);
}

KORVELA_AVX2 int jpeg_ycc_row_avx2(const float* ys, const float* cbs, const float* crs, uint8_t* r,
                                   uint8_t* g, uint8_t* b, int count, const JpegColourConstants& k) {
  return k.shift == 0 ? ycc_row<0>(ys, cbs, crs, r, g, b, count, k)
                      : ycc_row<4>(ys, cbs, crs, r, g, b, count, k);
}

KORVELA_AVX2 int jpeg_plain_row_avx2(const float* s, uint8_t* out, int count, double top, int shift) {
  return shift == 0 ? plain_row<0>(s, out, count, top) : plain_row<4>(s, out, count, top);
}

#else

void jpeg_allow_simd(bool) {}
bool jpeg_has_avx2() { return false; }
void jpeg_idct8_avx2(const JpegIdctConstants&, const int16_t* const*, const uint16_t*, float,
                     float* const*, int) {}
int jpeg_ycc_row_avx2(const float*, const float*, const float*, uint8_t*, uint8_t*, uint8_t*, int,
                      const JpegColourConstants&) {
  return 0;
}
int jpeg_plain_row_avx2(const float*, uint8_t*, int, double, int) { return 0; }
int jpeg_chroma_products_avx2(const float*, const float*, const JpegChromaProducts&, int) { return 0; }
int jpeg_ycc_row_h2_avx2(const float*, const JpegChromaProducts&, uint8_t*, uint8_t*, uint8_t*, int,
                         const JpegColourConstants&) {
  return 0;
}

#endif
