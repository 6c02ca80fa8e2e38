#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "core/memory.h"
#include "image/file_descriptor.h"

namespace {

class Sun : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

Bytes header(uint32_t width, uint32_t height, uint32_t depth, uint32_t length, uint32_t type,
             uint32_t map_type = 0, uint32_t map_length = 0) {
  Bytes b;
  b.u32be(0x59A66A95).u32be(width).u32be(height).u32be(depth).u32be(length).u32be(type);
  b.u32be(map_type).u32be(map_length);
  return b;
}

}  // namespace

TEST_F(Sun, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("sun_"), 14); }

TEST_F(Sun, OneBitRowsArePaddedToTwoBytes) {
  // Width 10: L = 2 file bytes, rows of 12 pixel bytes; no map: 0 white, 1 black.
  LoadResult r = load_bytes("mono.ras", header(10, 2, 1, 4, 1).raw({0x80, 0x40, 0xFF, 0xFF}).data);
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->description, DESC_SUN);
  EXPECT_EQ(image->row_bytes, 12);
  EXPECT_EQ(stored_row(image, 0, 12), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(stored_row(image, 1, 10), std::vector<uint8_t>(10, 1));
  EXPECT_EQ(image_rgb(image)[1], 0xFFFFFFu);
  EXPECT_EQ(image_rgb(image)[0], 0u);
}

TEST_F(Sun, PixelLayoutsMapsAndRuns) {
  Bytes bgr = header(5, 2, 24, 32, 1);  // L = 16: 15 bytes of pixels and a pad byte
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 5; ++x) bgr.u8(x).u8(y).u8(100 + x);
    bgr.u8(0xEE);
  }
  Bytes map = header(2, 1, 8, 2, 1, 1, 768);  // 256 reds, then greens, then blues
  for (int i = 0; i < 256; ++i) map.u8(i);
  for (int i = 0; i < 256; ++i) map.u8(255 - i);
  map.fill(256, 9).raw({0, 255});
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<uint32_t> rgb;
  };
  const Case cases[] = {
      {"bgr.ras", bgr, {0x640000, 0x650001, 0x660002, 0x670003, 0x680004,
                        0x640100, 0x650101, 0x660102, 0x670103, 0x680104}},
      {"xrgb.ras", header(1, 1, 32, 4, 3).raw({0x55, 1, 2, 3}), {0x010203}},  // unused byte, R, G, B
      {"map.ras", map, {0x00FF09, 0xFF0009}},
      {"map_length_0_is_grey.ras", header(2, 1, 8, 2, 1, 1, 0).raw({0, 200}), {0, 0xC8C8C8}},
      // 0x80 0x04 0x07 is five 7s, carried into the second row; 0x80 0x00 one 0x80.
      {"rle.ras", header(4, 2, 8, 7, 2).raw({0x80, 0x04, 0x07, 0x80, 0x00, 1, 2}),
       {0x070707, 0x070707, 0x070707, 0x070707, 0x070707, 0x808080, 0x010101, 0x020202}},
      {"rle_cut_leaves_0.ras", header(4, 1, 8, 0, 2).raw({5, 0x80}), {0x050505, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    LoadResult r = load_bytes(c.name, c.bytes.data);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(image_rgb(r.images[0]), c.rgb);
  }
  EXPECT_EQ(image_title(load_bytes("bgr.ras", bgr.data).images.at(0), 1, 1),
            test_temp_dir() + "/bgr.ras - 5 x 2 pixels - 1 x 24 bits - Sun Rasterfile");
}

TEST_F(Sun, Refusals) {
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
  };
  const std::vector<Case> cases = {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    mem_set_limit(size_t{64} << 20);
    EXPECT_EQ(load_bytes_as(c.name, c.bytes.data, FORMAT_SUN).error, c.code);
  }
}
