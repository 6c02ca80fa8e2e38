#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "core/memory.h"

namespace {

class Pnm : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

LoadResult load_text(const std::string& name, const std::string& text) {
  return load_bytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> row(const ImageRecord* image, int y, int n) {
  const uint8_t* p = image->pixels + int64_t{y} * image->row_bytes;
  return std::vector<uint8_t>(p, p + n);
}

}  // namespace

TEST_F(Pnm, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("pnm_"), 12); }

TEST_F(Pnm, BitmapRowsRawAndAscii) {
  // Width 10: rows of 12 bytes. A raw row reads 2 bytes and writes 12 pixels; an ASCII row
  // reads 10 digits, which may follow each other without separators.
  LoadResult r = load_bytes("ten.pbm", Bytes().text("P4\n10 2\n").raw({0xC0, 0x40, 0x01, 0xFF}).data);
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->row_bytes, 12);
  EXPECT_EQ(image->pixel_size, 24u);
  EXPECT_EQ(image->bits, 1);
  EXPECT_EQ(image->description, DESC_PBM_RAW);
  EXPECT_EQ(row(image, 0, 12), (std::vector<uint8_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(row(image, 1, 12), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(image_rgb(image)[0], 0u);         // 1 is black
  EXPECT_EQ(image_rgb(image)[2], 0xFFFFFFu);  // 0 is white

  test_reset();
  r = load_text("ten_ascii.pbm", "P1\n# plain\n10 2\n1100000001\n0 0 0 0 0 0 0 1 1 1\n");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->description, DESC_PBM_ASCII);
  EXPECT_EQ(row(r.images[0], 0, 10), (std::vector<uint8_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(row(r.images[0], 1, 10), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
}

TEST_F(Pnm, GreyPaletteFollowsTheMaximum) {
  LoadResult r = load_bytes("max15.pgm", Bytes().text("P5 2 1 15\n").raw({15, 7}).data);
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  for (int i = 0; i <= 15; ++i) EXPECT_EQ(image->palette_red[i], 17 * i);
  EXPECT_EQ(image->palette_red[16], 0);
  EXPECT_EQ(row(image, 0, 2), (std::vector<uint8_t>{15, 7}));
  EXPECT_EQ(image_rgb(image), (std::vector<uint32_t>{0xFFFFFF, 0x777777}));
  // Samples above the maximum count as the maximum, raw or ASCII.
  test_reset();
  r = load_bytes("over.pgm", Bytes().text("P5 1 1 15\n").raw({200}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel_at(r.images[0], 0, 0), 15);
  test_reset();
  r = load_text("over_ascii.pgm", "P2 2 1 15 300 16");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0]), (std::vector<uint32_t>{0xFFFFFF, 0xFFFFFF}));
}

TEST_F(Pnm, PixmapSamplesAreScaledToTheMaximum) {
  LoadResult r = load_bytes("max255.ppm", Bytes().text("P6\n1 1\n255\n").raw({1, 128, 255}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0])[0], 0x0180FFu);
  EXPECT_EQ(r.images[0]->pixel_bytes, 4);
  EXPECT_EQ(r.images[0]->row_bytes, 4);
  EXPECT_EQ(r.images[0]->pixels[3], 0);
  EXPECT_EQ(image_title(r.images[0], 1, 1), r.images[0]->name + std::string(" - 1 x 1 pixels - 1 x 24 bits - PPM (rawbits)"));

  test_reset();
  r = load_text("max100.ppm", "P3 2 1 100 50 100 0 #c\n 1 2 3\n");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0]), (std::vector<uint32_t>{0x7FFF00, 0x020507}));

  // Above 255, samples round: with 65535, 0x80 is 0.498 and 0x81 0.502; with 1000, 998 is
  // 254.49 and the 1200 above the maximum counts as 1000.
  test_reset();
  r = load_bytes("max65535.ppm", Bytes().text("P6 1 1 65535\n").raw({0, 0x80, 0, 0x81, 0xFF, 0xFF}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0])[0], 0x0001FFu);
  EXPECT_EQ(r.images[0]->pixels[3], 0);
  EXPECT_EQ(image_title(r.images[0], 1, 1), r.images[0]->name + std::string(" - 1 x 1 pixels - 1 x 24 bits - PPM (rawbits) 16 bits"));
  test_reset();
  r = load_text("max1000.pgm", "P2 3 1 1000 2 998 1200");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(row(r.images[0], 0, 3), (std::vector<uint8_t>{1, 254, 255}));
  EXPECT_EQ(r.images[0]->palette_red[254], 254);
  EXPECT_EQ(r.images[0]->description, DESC_PGM_ASCII_16);
}

TEST_F(Pnm, CommentsInTheHeader) {
  // Right after the magic, between the numbers, and one ended by the token's own line feed.
  LoadResult r = load_text("comments.pgm", "P2# first\n3 # width\n#\n1\n# max\n9\n0 9 4\n");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->width, 3);
  EXPECT_EQ(r.images[0]->height, 1);
  EXPECT_EQ(row(r.images[0], 0, 3), (std::vector<uint8_t>{0, 9, 4}));
  EXPECT_EQ(r.images[0]->palette_red[4], 113);
}

TEST_F(Pnm, TextRasterEndingEarlyLeavesZeros) {
  LoadResult r = load_text("short.pgm", "P2 4 2 255 10 20 30");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(row(r.images[0], 0, 4), (std::vector<uint8_t>{10, 20, 30, 0}));
  EXPECT_EQ(row(r.images[0], 1, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(Pnm, Refusals) {
  struct Case {
    const char* name;
    std::string text;
    int code;
  };
  const std::vector<Case> cases = {
      {"max0.pgm", "P5 1 1 0\n\x01", 14},
      {"max65536.pgm", "P5 1 1 65536\n\x01\x01", 14},
      {"short_raw16.pgm", "P5 2 1 1000\n\x01\x02\x03", 2},
      {"zero_width.ppm", "P6 0 1 255\n", 14},
      {"short_raw.ppm", "P6 2 2 255\n\x01\x02\x03", 2},
      {"short_header.pgm", "P5 1", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    EXPECT_EQ(load_text(c.name, c.text).error, c.code);
  }
}

TEST_F(Pnm, HugeClaimsAreRefusedBeforeAllocating) {
  mem_set_limit(size_t{64} << 20);
  EXPECT_EQ(load_text("huge.ppm", "P6 30000 30000 255\n\x01\x02\x03").error, 2);
  test_reset();
  EXPECT_EQ(load_text("huge.pgm", "P2 30000 30000 255\n1 2 3").error, 14);
  test_reset();
  EXPECT_EQ(load_text("wide.ppm", "P3 99999999999 1 255\n1 2 3").error, 14);
}
