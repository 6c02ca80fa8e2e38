#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "image/file_descriptor.h"

namespace {

Bytes header(uint32_t width, uint32_t height, uint32_t depth, uint32_t length, uint32_t type,
             uint32_t map_type = 0, uint32_t map_length = 0) {
  Bytes b;
  b.u32be(0x59A66A95).u32be(width).u32be(height).u32be(depth).u32be(length).u32be(type);
  b.u32be(map_type).u32be(map_length);
  return b;
}

}  // namespace

using Sun = RasterTest;

TEST_F(Sun, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("sun_"), 14); }

// What the generated files do not show: an empty map, the escape byte on its own, runs
// carried into the next row, and run-length data that stops early.
TEST_F(Sun, EmptyMapsAndRunEdges) {
  expect_decoded(-1, {
      {"map_length_0_is_grey.ras", header(2, 1, 8, 2, 1, 1, 0).raw({0, 200}), {0, 0xC8C8C8}},
      // 0x80 0x04 0x07 is five 7s, carried into the second row; 0x80 0x00 one 0x80.
      {"rle.ras", header(4, 2, 8, 7, 2).raw({0x80, 0x04, 0x07, 0x80, 0x00, 1, 2}),
       {0x070707, 0x070707, 0x070707, 0x070707, 0x070707, 0x808080, 0x010101, 0x020202}, {},
       " - 4 x 2 pixels - 1 x 8 bits - Sun Rasterfile"},
      {"rle_cut_leaves_0.ras", header(4, 1, 8, 0, 2).raw({5, 0x80}), {0x050505, 0, 0, 0}},
  });
}

TEST_F(Sun, Refusals) {
  expect_refusals(FORMAT_SUN, {
      {"type4.ras", header(1, 1, 8, 2, 4).raw({0, 0}), 3},
      {"map_type3.ras", header(1, 1, 8, 2, 1, 3, 0).raw({0, 0}), 3},
      {"rle_24.ras", header(1, 1, 24, 4, 2).raw({0, 0, 0, 0}), 3},
      {"depth16.ras", header(1, 1, 16, 2, 1).raw({0, 0}), 14},
      {"short_raster.ras", header(4, 4, 8, 16, 1).raw({0, 0}), 14},
      {"short_map.ras", header(1, 1, 8, 2, 1, 1, 300).raw({0, 0}), 14},
      {"zero_height.ras", header(1, 0, 8, 0, 1), 14},
      {"tiny.ras", Bytes().u32be(0x59A66A95).u32be(1), 14},
      {"huge.ras", header(0xFFFFFFF, 0xFFFFFFF, 32, 0, 1).raw({0}), 14},
      {"huge_rle.ras", header(30000, 30000, 8, 3, 2).raw({0x80, 0xFF, 1}), 14},
  });
}
