#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "core/memory.h"
#include "image/file_descriptor.h"

namespace {

class Targa : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

Bytes header(int type, int width, int height, int depth, int descriptor, int map_length = 0, int entry_size = 0) {
  Bytes b;
  b.u8(0).u8(map_length ? 1 : 0).u8(type).u16le(0).u16le(map_length).u8(entry_size);
  b.u16le(0).u16le(0).u16le(width).u16le(height).u8(depth).u8(descriptor);
  return b;
}

// Appends an extension area and the footer that points at it.
void add_footer(Bytes* b, const uint8_t key[3], uint16_t gamma_num, uint16_t gamma_den, uint32_t table) {
  const uint32_t extension = static_cast<uint32_t>(b->size());
  std::vector<uint8_t> area(495, 0);
  area[0] = 495 & 255;
  area[1] = 495 >> 8;
  std::copy(key, key + 3, area.begin() + 471);
  area[478] = gamma_num & 255, area[479] = gamma_num >> 8;
  area[480] = gamma_den & 255, area[481] = gamma_den >> 8;
  for (int i = 0; i < 4; ++i) area[490 + i] = static_cast<uint8_t>(table >> (8 * i));
  b->data.insert(b->data.end(), area.begin(), area.end());
  b->u32le(extension).u32le(0).text("TRUEVISION-XFILE.").u8(0);
}

}  // namespace

TEST_F(Targa, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("tga_"), 20); }

TEST_F(Targa, PixelsOfEachKind) {
  Bytes map256 = header(1, 1, 1, 8, 0, 256, 24);
  for (int i = 0; i < 256; ++i) map256.u8(i).u8(0).u8(255 - i);
  Bytes first39 = header(1, 4, 1, 8, 2 << 4, 2, 24);  // a map of two entries for values 39, 40
  first39.data[3] = 39;
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<uint32_t> rgb;
    int bits;
  };
  const Case cases[] = {
      // 24 bits, bottom-left: the first file row is the bottom row; B, G, R bytes.
      {"bl.tga", header(2, 2, 2, 24, 0).raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
       {0x090807, 0x0C0B0A, 0x030201, 0x060504}, 24},
      // Top-right: the first file pixel lands in the top row's last column.
      {"tr.tga", header(2, 2, 1, 24, 3 << 4).raw({1, 2, 3, 4, 5, 6}), {0x060504, 0x030201}, 24},
      // 32 bits with 8 attribute bits: 24 bits of colour, the alpha byte ignored.
      {"argb.tga", header(2, 1, 1, 32, 8).raw({1, 2, 3, 200}), {0x030201}, 24},
      // 16 bits, five a channel: 31 -> 255, 16 -> 132 (rounded); the attribute bit is no colour,
      // even when the descriptor claims 8 of them.
      {"rgb16.tga", header(2, 2, 1, 16, 1).u16le(31 << 10 | 16 << 5).u16le(16), {0xFF8400, 0x000084}, 15},
      {"rgb16_attr8.tga", header(2, 2, 1, 16, 8).u16le(0x8000 | 31 << 10 | 16 << 5).u16le(16), {0xFF8400, 0x000084}, 15},
      // Run length, 3 x 2: a run of 4 crosses the end of the first row, then 2 literal pixels.
      {"rle.tga", header(10, 3, 2, 24, 2 << 4).raw({0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}),
       {0x030201, 0x030201, 0x030201, 0x030201, 0x060504, 0x090807}, 24},
      // Colour maps: 16-bit entries; 256 entries; a map starting at 39 (values outside it black).
      {"map16.tga", header(1, 2, 1, 8, 0, 2, 16).u16le(31 << 10).u16le(31).raw({1, 0}), {0x0000FF, 0xFF0000}, 8},
      {"map256.tga", map256.u8(255), {0x0000FF}, 8},
      {"first39.tga", first39.raw({1, 2, 3, 4, 5, 6, 38, 39, 40, 41}), {0, 0x030201, 0x060504, 0}, 8},
      // Grey without a map: the identity ramp, and for 4 bits the 16-entry ramp (1 is 17).
      {"grey.tga", header(3, 2, 1, 8, 0).raw({0, 77}), {0, 0x4D4D4D}, 8},
      {"grey4.tga", header(3, 2, 1, 8, 4).raw({0xFF, 0x01}), {0xFFFFFF, 0x111111}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    LoadResult r = load_bytes_as(c.name, c.bytes.data, FORMAT_TARGA);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(image_rgb(r.images[0]), c.rgb);
    EXPECT_EQ(r.images[0]->bits, c.bits);
  }
  // The record of a true-colour file; the data ending inside a packet leaves the rest 0.
  test_reset();
  LoadResult r = load_bytes("bl.tga", cases[0].bytes.data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->description, DESC_TARGA);
  EXPECT_EQ(r.images[0]->pixel_bytes, 4);
  EXPECT_EQ(r.images[0]->row_bytes, 8);
  EXPECT_FALSE(r.images[0]->has_transparent);
  EXPECT_EQ(r.images[0]->gamma, -1.0);
  test_reset();
  r = load_bytes_as("rle_cut.tga", header(11, 4, 1, 8, 0).raw({0x81, 200, 0x02, 7}).data, FORMAT_TARGA);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(std::vector<uint8_t>(r.images[0]->pixels, r.images[0]->pixels + 4), (std::vector<uint8_t>{200, 200, 7, 0}));
}

TEST_F(Targa, FooterKeyColourGammaAndScanLineTable) {
  // The key colour is looked up in the palette; the gamma is numerator / denominator.
  Bytes b = header(1, 1, 1, 8, 0, 2, 24).raw({0, 0, 0, 9, 8, 7}).u8(1);
  const uint8_t key[3] = {7, 8, 9};  // red, green, blue of entry 1
  add_footer(&b, key, 22, 10, 0);
  LoadResult r = load_bytes("footer.tga", b.data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->has_transparent, 1);
  EXPECT_EQ(r.images[0]->transparent[0], 1);
  EXPECT_EQ(r.images[0]->transparent[1], 8);
  EXPECT_DOUBLE_EQ(r.images[0]->gamma, 2.2);

  // A run-length file whose scan-line table points past the end is invalid.
  test_reset();
  b = header(11, 1, 1, 8, 0).raw({0x80, 5});
  const uint32_t table = static_cast<uint32_t>(b.size());
  b.u32le(100000);
  add_footer(&b, key, 0, 0, table);
  EXPECT_EQ(load_bytes("table.tga", b.data).error, 14);

  // An extension offset outside the file is not used.
  test_reset();
  b = header(3, 1, 1, 8, 0).raw({5});
  b.u32le(999999).u32le(0).text("TRUEVISION-XFILE.").u8(0);
  r = load_bytes("far_extension.tga", b.data);
  ASSERT_EQ(r.error, 0);
  EXPECT_FALSE(r.images[0]->has_transparent);
}

TEST_F(Targa, Refusals) {
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
  };
  const std::vector<Case> cases = {
      {"type4.tga", header(4, 1, 1, 8, 0).raw({0}), 3},
      {"map_without_entry_size.tga", header(1, 1, 1, 8, 0, 4, 0).raw({0}), 3},
      {"deep_index.tga", header(1, 1, 1, 16, 0).raw({0, 0}), 3},
      {"too_deep.tga", header(2, 1, 1, 40, 0).fill(5, 0), 14},
      {"deep_map.tga", header(1, 1, 1, 8, 0, 1, 40).fill(6, 0), 14},
      {"map257.tga", header(1, 1, 1, 8, 0, 257, 24).fill(257 * 3 + 1, 0), 3},
      {"short_map.tga", header(1, 1, 1, 8, 0, 10, 24).fill(5, 0), 14},
      {"short_rows.tga", header(2, 4, 4, 24, 0).fill(20, 0), 14},
      {"no_bits.tga", header(3, 1, 1, 8, 8).raw({0}), 14},
      {"empty.tga", header(2, 0, 1, 24, 0), 14},
      {"tiny.tga", Bytes().raw({0, 0, 2}), 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    EXPECT_EQ(load_bytes_as(c.name, c.bytes.data, FORMAT_TARGA).error, c.code);
  }
}

TEST_F(Targa, HugeRunLengthClaimIsRefused) {
  mem_set_limit(size_t{64} << 20);
  EXPECT_EQ(load_bytes_as("huge.tga", header(10, 65535, 65535, 32, 8).raw({0xFF, 1, 2, 3, 4}).data, FORMAT_TARGA).error, 14);
}
