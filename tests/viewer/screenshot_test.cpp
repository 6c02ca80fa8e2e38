// korvela --screenshot, run as a user would run it.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

#include "support/test_support.h"
#include "viewer/screenshot.h"
#include "viewer/viewer_harness.h"

namespace {

bool read_png(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return false;
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  rgb->resize(size_t(*width) * *height);
  for (size_t i = 0; i < rgb->size(); ++i)
    (*rgb)[i] = (uint32_t(bytes[3 * i]) << 16) | (uint32_t(bytes[3 * i + 1]) << 8) | bytes[3 * i + 2];
  return true;
}

uint32_t stripes(int32_t x, int32_t) { return x % 2 ? 0xFF0000u : 0x0000FFu; }

TEST(Screenshot, SizesAreParsedStrictly) {
  int32_t w = 0, h = 0;
  EXPECT_TRUE(parse_size("320x200", &w, &h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 200);
  for (const char* bad : {"", "x", "320", "320x", "0x10", "10x0", "-5x5", "20000x10", "5x5x5", "axb"})
    EXPECT_FALSE(parse_size(bad, &w, &h)) << bad;
}

TEST(Screenshot, WritesTheClientAreaAsTheViewerShowsIt) {
  const std::string dir = test_temp_dir();
  const std::string out = dir + "/shot.png";
  std::string bmp = write_temp_file("shot-source.bmp", bmp24(30, 10, stripes));
  int status = run_command(std::string(KORVELA_BINARY) + " --screenshot " + out + " --size 100x60 " + bmp +
                           " > /dev/null 2>&1");
  ASSERT_EQ(status, 0);
  int w, h;
  std::vector<uint32_t> rgb;
  ASSERT_TRUE(read_png(out, &w, &h, &rgb));
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 60);
  if (!bmp_decoder_available()) {
    // Without a decoder the file is an error display whose placeholder is missing: white.
    for (uint32_t p : rgb) ASSERT_EQ(p, 0xFFFFFFu);
    return;
  }
  // Scene -20 .. 49 x -20 .. 29, centred in 100 x 60: the image starts at (35.5, 25.5).
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      bool inside = x >= 36 && x < 66 && y >= 26 && y < 36;
      ASSERT_EQ(rgb[y * 100 + x], inside ? stripes(x - 36, 0) : 0xFFFFFFu) << x << "," << y;
    }
}

TEST(Screenshot, DefaultSizeAndBadArguments) {
  const std::string out = test_temp_dir() + "/default.png";
  ASSERT_EQ(run_command(std::string(KORVELA_BINARY) + " --screenshot " + out + " > /dev/null 2>&1"), 0);
  int w, h;
  std::vector<uint32_t> rgb;
  ASSERT_TRUE(read_png(out, &w, &h, &rgb));
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_NE(run_command(std::string(KORVELA_BINARY) + " --screenshot " + out + " --size 0x9 > /dev/null 2>&1"), 0);
  EXPECT_NE(run_command(std::string(KORVELA_BINARY) + " --screenshot > /dev/null 2>&1"), 0);
  EXPECT_NE(run_command(std::string(KORVELA_BINARY) + " --screenshot /nonexistent-dir/x.png > /dev/null 2>&1"), 0);
}

}  // namespace
