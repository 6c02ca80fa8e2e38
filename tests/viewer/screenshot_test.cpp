// korvela --screenshot, run as a user would run it.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "viewer/screenshot.h"
#include "viewer/viewer_harness.h"

namespace {

uint32_t stripes(int32_t x, int32_t) { return x % 2 ? 0xFF0000u : 0x0000FFu; }

std::string shoot(const std::string& args) {
  return std::string(KORVELA_BINARY) + " --screenshot " + args + " > /dev/null 2>&1";
}

TEST(Screenshot, SizesAreParsedStrictly) {
  int32_t w = 0, h = 0;
  EXPECT_TRUE(parse_size("320x200", &w, &h) && w == 320 && h == 200);
  for (const char* bad : {"", "x", "320", "320x", "0x10", "10x0", "-5x5", "20000x10", "5x5x5", "axb"})
    EXPECT_FALSE(parse_size(bad, &w, &h)) << bad;
}

TEST(Screenshot, WritesTheClientAreaAsTheViewerShowsItAtTheAskedOrDefaultSize) {
  const std::string out = test_temp_dir() + "/shot.png";
  const std::string bmp = write_temp_file("shot-source.bmp", bmp24(30, 10, stripes));
  ASSERT_EQ(run_command(shoot(out + " --size 100x60 " + bmp)), 0);
  int w = 0, h = 0;
  std::vector<uint32_t> rgb;
  ASSERT_TRUE(read_png_rgb(out, &w, &h, &rgb));
  ASSERT_EQ(std::make_pair(w, h), std::make_pair(100, 60));
  // Scene -20 .. 49 x -20 .. 29, centred in 100 x 60: the image starts at (35.5, 25.5).
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 100; ++x)
      ASSERT_EQ(rgb[y * 100 + x], x >= 36 && x < 66 && y >= 26 && y < 36 ? stripes(x - 36, 0) : 0xFFFFFFu) << x << "," << y;
  ASSERT_EQ(run_command(shoot(out)), 0);
  ASSERT_TRUE(read_png_rgb(out, &w, &h, &rgb));
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(800, 600));
  EXPECT_NE(run_command(shoot("")), 0);
  EXPECT_NE(run_command(shoot("/nonexistent-dir/x.png")), 0);
}

}  // namespace
