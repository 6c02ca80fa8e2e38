#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "image/file_descriptor.h"

namespace {

// A 128-byte header; palette entry i of the header palette is (i, 2i, 3i).
Bytes header(int version, int encoding, int bits, int width, int height, int planes, int bytes_per_line) {
  Bytes b;
  b.u8(10).u8(version).u8(encoding).u8(bits).u16le(0).u16le(0).u16le(width - 1).u16le(height - 1);
  b.u16le(300).u16le(150);
  for (int i = 0; i < 16; ++i) b.u8(i).u8(2 * i).u8(3 * i);
  b.u8(0).u8(planes).u16le(bytes_per_line).fill(60, 0);
  return b;
}

}  // namespace

using Pcx = RasterTest;

TEST_F(Pcx, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("pcx_"), 12); }

// What the generated files do not show: the header palette of versions before 5, the
// resolution, and a run of length 0.
TEST_F(Pcx, HeaderPaletteResolutionAndEmptyRuns) {
  Bytes v3 = header(3, 0, 8, 2, 1, 1, 2).raw({0, 1}).u8(12);
  for (int i = 0; i < 256; ++i) v3.u8(255 - i).u8(i).u8(7);
  expect_decoded(-1, {
      {"v3.pcx", v3, {0, 0x010203}, {}, "", {0, 0, 0, 0, -1, 300, 150}},
      // Width 5: three planes of rows of 8 bytes; the 0xC0 run writes nothing.
      {"rgb.pcx", header(5, 1, 8, 5, 1, 3, 6).raw({0xC0, 9, 1, 2, 3, 4, 5, 0, 0xC6, 0x80, 0xC5, 0xFF, 0}),
       {0x0180FF, 0x0280FF, 0x0380FF, 0x0480FF, 0x0580FF}, {}, " - 5 x 1 pixels - 3 x 8 bits - PCX"},
  });
}

TEST_F(Pcx, Refusals) {
  expect_refusals(FORMAT_PCX, {
      {"encoding2.pcx", header(5, 2, 8, 1, 1, 1, 2).raw({0, 0}), 3},
      {"three_bits.pcx", header(5, 1, 3, 8, 1, 1, 3).raw({0, 0, 0}), 3},
      {"too_many_planes.pcx", header(5, 1, 4, 8, 1, 4, 4).fill(16, 0), 3},
      {"two_byte_planes.pcx", header(5, 1, 8, 8, 1, 2, 8).fill(16, 0), 3},
      {"run_past_line.pcx", header(5, 1, 8, 4, 1, 1, 4).raw({1, 0xC4, 7}), 14},
      {"data_ends.pcx", header(5, 1, 8, 4, 2, 1, 4).raw({1, 2, 3, 4, 5}), 14},
      {"stored_short.pcx", header(5, 0, 8, 4, 2, 1, 4).raw({1, 2, 3, 4, 5}), 14},
      {"no_line.pcx", header(5, 1, 8, 4, 1, 1, 0), 14},
      {"inverted_window.pcx", header(5, 1, 8, -3, 1, 1, 2), 14},
      {"tiny.pcx", Bytes().raw({10, 5, 1, 8}), 14},
      {"huge.pcx", header(5, 1, 8, 30000, 30000, 3, 30000).raw({0xFF, 0}), 14},
  });
}
