// Vector versions of the reconstruction's hot loops (x86 AVX2, chosen at run time). They give
// the same results as the scalar code, which remains the path on other machines.
#pragma once
#include <cstdint>

struct JpegIdctConstants {
  float c1, c2, c3, c4, c5, c6, c7;
};

struct JpegColourConstants {
  double kr, kg, kb;  // offsets of the red, green and blue sums
  double top;         // largest sample value (255, or 4095 for 12-bit samples)
  int shift;          // right shift to one byte (0, or 4 for 12-bit samples)
};

const JpegIdctConstants& jpeg_idct_constants();  // c1..c7, made on first use
// The chroma terms of the conversion, 1.402 Cr, 0.34414 Cb, 0.71414 Cr and 1.772 Cb in double,
// made once per chroma sample when chroma is subsampled (the same products, the same sums).
struct JpegChromaProducts {
  double* red;
  double* green_cb;
  double* green_cr;
  double* blue;
};

bool jpeg_has_avx2();
void jpeg_allow_simd(bool allowed);  // lets tests compare the two paths
// Eight blocks, one per lane: dequantise (quant in natural order), transform, add the level and
// store each 8x8 result at outs[l] with rows `stride` floats apart.
void jpeg_idct8_avx2(const JpegIdctConstants& k, const int16_t* const* blocks,
                     const uint16_t* quant, float level, float* const* outs, int stride);
// Converts a row prefix of whole groups of 8 pixels; returns how many pixels it did.
int jpeg_ycc_row_avx2(const float* y, const float* cb, const float* cr, uint8_t* r, uint8_t* g,
                      uint8_t* b, int count, const JpegColourConstants& k);
// Products of a prefix of groups of 4 chroma samples; returns how many it did.
int jpeg_chroma_products_avx2(const float* cb, const float* cr, const JpegChromaProducts& p, int count);
// Conversion with chroma at half horizontal resolution, from the products (indexed by x / 2).
int jpeg_ycc_row_h2_avx2(const float* y, const JpegChromaProducts& p, uint8_t* r, uint8_t* g,
                         uint8_t* b, int count, const JpegColourConstants& k);
int jpeg_plain_row_avx2(const float* s, uint8_t* out, int count, double top, int shift);
