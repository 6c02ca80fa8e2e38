#include <gtest/gtest.h>

#include "support/test_support.h"

// The bundled samples of the simple raster formats go through the program's --info and
// --export modes; the exported picture equals the one our loader gives.
TEST(RasterSamples, InfoAndExportWork) {
  test_reset();
  const std::string samples = std::string(KORVELA_SOURCE_DIR) + "/samples/";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"rose.bmp", "1 x 24 bits - BMP non compresse"}, {"rose.ppm", "1 x 24 bits - PPM (rawbits)"},
      {"rose.tga", "1 x 24 bits - Truevision Targa"},   {"rose.pcx", "3 x 8 bits - PCX"},
      {"rose.ras", "1 x 24 bits - Sun Rasterfile"},     {"rose.xpm", "1 x 8 bits - XPixmap"}};
  for (const auto& [name, title] : files) {
    SCOPED_TRACE(name);
    int status = -1;
    std::string info = command_output(std::string(KORVELA_BINARY) + " --info " + samples + name, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(info, samples + name + " - 70 x 46 pixels - " + title + "\n");
    const std::string out = test_temp_dir() + "/" + name + ".ppm";
    EXPECT_EQ(run_command(std::string(KORVELA_BINARY) + " --export " + out + " " + samples + name), 0);
    int width = 0, height = 0;
    std::vector<uint32_t> exported;
    ASSERT_TRUE(read_pnm_rgb(out, &width, &height, &exported));
    test_reset();
    LoadResult loaded = load_file(samples + name);
    ASSERT_EQ(loaded.error, 0);
    EXPECT_EQ(image_rgb(loaded.images[0]), exported);
  }
}
