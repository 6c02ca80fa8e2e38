#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"

using Pnm = RasterTest;

// Every magic number, comments, and maxima of 7 to 65535 against their references.
TEST_F(Pnm, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("pnm_"), 12); }

// What the generated pictures never hold: padding pixels, digits run together, samples above
// the maximum, rasters that end early, and the titles.
TEST_F(Pnm, StoredSamplesAndTitles) {
  expect_decoded(-1, {
      // Width 10: rows of 12 bytes, the raw row's padding bits included.
      {"ten.pbm", std::string("P4\n10 2\n") + "\xC0\x40\x01\xFF", {},
       {1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1}, " - 10 x 2 pixels - 1 x 1 bits - PBM (rawbits)"},
      // ASCII bits may follow each other without separators.
      {"ten_ascii.pbm", "P1\n# plain\n10 2\n1100000001\n0 0 0 0 0 0 0 1 1 1\n", {}, {1, 1, 0, 0, 0, 0, 0, 0, 0, 1},
       " - 10 x 2 pixels - 1 x 1 bits - PBM (ascii)"},
      // Samples above the maximum count as the maximum, raw or ASCII, 8 or 16 bits.
      {"over.pgm", std::string("P5 2 1 15\n") + "\xC8\x07", {}, {15, 7}, " - 2 x 1 pixels - 1 x 8 bits - PGM (rawbits)"},
      {"over_ascii.pgm", "P2 2 1 15 300 16", {}, {15, 15}, " - 2 x 1 pixels - 1 x 8 bits - PGM (ascii)"},
      {"max1000.pgm", "P2 3 1 1000 2 998 1200", {}, {1, 254, 255}, " - 3 x 1 pixels - 1 x 8 bits - PGM (ascii) 16 bits"},
      // A text raster ending early leaves zeros.
      {"short.pgm", "P2 4 2 255 10 20 30", {}, {10, 20, 30, 0, 0, 0, 0, 0}},
      {"max255.ppm", std::string("P6\n1 1\n255\n") + "\x01\x80\xFF", {}, {1, 128, 255, 0},
       " - 1 x 1 pixels - 1 x 24 bits - PPM (rawbits)"},
      {"max65535.ppm", std::string("P6 1 1 65535\n") + std::string("\0\x80\0\x81\xFF\xFF", 6), {}, {0, 1, 255, 0},
       " - 1 x 1 pixels - 1 x 24 bits - PPM (rawbits) 16 bits"},
  });
}

TEST_F(Pnm, Refusals) {
  expect_refusals(-1, {
      {"max0.pgm", "P5 1 1 0\n\x01", 14},
      {"max65536.pgm", "P5 1 1 65536\n\x01\x01", 14},
      {"short_raw16.pgm", "P5 2 1 1000\n\x01\x02\x03", 2},
      {"zero_width.ppm", "P6 0 1 255\n", 14},
      {"short_raw.ppm", "P6 2 2 255\n\x01\x02\x03", 2},
      {"short_header.pgm", "P5 1", 14},
      // Sizes no memory holds are refused before any allocation.
      {"huge.ppm", "P6 30000 30000 255\n\x01\x02\x03", 2},
      {"huge.pgm", "P2 30000 30000 255\n1 2 3", 14},
      {"wide.ppm", "P3 99999999999 1 255\n1 2 3", 14},
  });
}
