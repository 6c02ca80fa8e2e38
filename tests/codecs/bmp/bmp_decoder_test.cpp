#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>

#include "codecs/raster_test_support.h"
#include "core/memory.h"
#include "image/file_descriptor.h"

namespace {

class Bmp : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name).size() > 4 && std::string(e->d_name).ends_with(".bmp")) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t header_size(const std::string& path) {
  std::vector<uint8_t> bytes = read_file(path);
  return bytes.size() < 18 ? 0 : bytes[14] | bytes[15] << 8 | bytes[16] << 16 | uint32_t{bytes[17]} << 24;
}

// A bitmap with a 40-byte header; `pixels` follow the colour table.
Bytes bmp(int32_t width, int32_t height, int bits, uint32_t compression, const std::vector<uint8_t>& table,
          const std::vector<uint8_t>& pixels, uint32_t declared_size = 0, int16_t planes = 1) {
  const uint32_t offset = 54 + static_cast<uint32_t>(table.size());
  Bytes b;
  b.text("BM").u32le(declared_size ? declared_size : offset + static_cast<uint32_t>(pixels.size()));
  b.u32le(0).u32le(offset).u32le(40).u32le(width).u32le(static_cast<uint32_t>(height));
  b.u16le(static_cast<uint16_t>(planes)).u16le(bits).u32le(compression).u32le(0);
  b.u32le(2835).u32le(3780).u32le(0).u32le(0);
  b.data.insert(b.data.end(), table.begin(), table.end());
  b.data.insert(b.data.end(), pixels.begin(), pixels.end());
  return b;
}

std::vector<uint8_t> grey_table(int n) {
  std::vector<uint8_t> t;
  for (int i = 0; i < n; ++i) t.insert(t.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  return t;
}

}  // namespace

// Every picture of the suite's g/ folder with the 40-byte header equals its rendering; the
// others (OS/2 and version 4 and 5 headers) are refused as unknown formats. 16-bit files
// differ by at most 1: their channels are truncated (value x 255 / mask), the renderings
// replicate the top bits.
TEST_F(Bmp, SuiteGoodFilesMatchTheirRenderings) {
  const std::string dir = corpus_path("bmpsuite/g/");
  const std::map<std::string, std::string> same_picture = {
      {"pal1wb", "pal1"},     {"pal4rle", "pal4"},          {"pal8-0", "pal8"},     {"pal8rle", "pal8"},
      {"pal8topdown", "pal8"}, {"pal8nonsquare", "pal8nonsquare-e"}, {"rgb16-565pal", "rgb16-565"},
      {"rgb16bfdef", "rgb16"}, {"rgb24pal", "rgb24"},         {"rgb32", "rgb24"},      {"rgb32bf", "rgb24"},
      {"rgb32bfdef", "rgb24"}};
  std::vector<std::string> names = list_dir(dir);
  ASSERT_GE(names.size(), 20u);
  int compared = 0;
  for (const std::string& file : names) {
    SCOPED_TRACE(file);
    test_reset();
    LoadResult r = load_file(dir + file);
    if (header_size(dir + file) != 40) {
      EXPECT_EQ(r.error, 3);
      continue;
    }
    ASSERT_EQ(r.error, 0);
    std::string stem = file.substr(0, file.size() - 4);
    auto alias = same_picture.find(stem);
    std::string png = corpus_path("bmpsuite/expected/" + (alias != same_picture.end() ? alias->second : stem) + ".png");
    int w, h;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(read_png_rgb(png, &w, &h, &expected));
    ASSERT_EQ(r.images[0]->width, w);
    ASSERT_EQ(r.images[0]->height, h);
    EXPECT_LE(max_channel_difference(image_rgb(r.images[0]), expected), r.images[0]->bits == 16 ? 1 : 0);
    ++compared;
  }
  EXPECT_EQ(compared, 24);
}

// q/: other headers are unknown formats; the 40-byte ones either match their rendering
// (run-length files cut short or with deltas leave index 0) or are refused as invalid.
TEST_F(Bmp, SuiteQuestionableFiles) {
  const std::string dir = corpus_path("bmpsuite/q/");
  const std::map<std::string, std::string> renderings = {
      {"pal1p1", "pal1p1"},           {"pal4rlecut", "pal4rlecut-0"}, {"pal4rletrns", "pal4rletrns-0"},
      {"pal8rlecut", "pal8rlecut-0"}, {"pal8rletrns", "pal8rletrns-0"}, {"rgb16-231", "rgb16-231"},
      {"rgb16-3103", "rgb16-3103"},   {"rgb32-7187", "rgb32-7187"}};
  int compared = 0;
  for (const std::string& file : list_dir(dir)) {
    SCOPED_TRACE(file);
    test_reset();
    LoadResult r = load_file(dir + file);
    if (header_size(dir + file) != 40) {
      EXPECT_EQ(r.error, 3);
      continue;
    }
    if (file == "pal2.bmp" || file == "pal2color.bmp" || file == "rgba64.bmp") {
      EXPECT_EQ(r.error, 14);  // 2 and 64 bits a pixel are not bitmap depths this reader knows
      continue;
    }
    if (file == "rgba32abf.bmp") {
      EXPECT_EQ(r.error, 3);  // alpha bit fields: compression 6
      continue;
    }
    ASSERT_EQ(r.error, 0);
    auto it = renderings.find(file.substr(0, file.size() - 4));
    if (it == renderings.end()) continue;
    int w, h;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(read_png_rgb(corpus_path("bmpsuite/expected/" + it->second + ".png"), &w, &h, &expected));
    EXPECT_LE(max_channel_difference(image_rgb(r.images[0]), expected), 1);
    ++compared;
  }
  EXPECT_EQ(compared, 8);
}

// b/ and x/: nothing crashes; what the rules refuse gets its code, the rest loads into a
// record whose rows fit its pixel block.
TEST_F(Bmp, SuiteBrokenFilesFailCleanly) {
  const std::map<std::string, int> codes = {
      {"badbitcount.bmp", 14}, {"badheadersize.bmp", 3}, {"badwidth.bmp", 14}, {"reallybig.bmp", 14},
      {"rletopdown.bmp", 14},  {"shortfile.bmp", 14},     {"ba-bm.bmp", 3}};
  for (const char* sub : {"b/", "x/"}) {
    const std::string dir = corpus_path(std::string("bmpsuite/") + sub);
    ASSERT_FALSE(list_dir(dir).empty());
    for (const std::string& file : list_dir(dir)) {
      SCOPED_TRACE(file);
      test_reset();
      LoadResult r = load_file(dir + file);
      auto it = codes.find(file);
      if (it != codes.end()) {
        EXPECT_EQ(r.error, it->second);
      } else if (r.error == 0) {
        const ImageRecord* image = r.images[0];
        EXPECT_GE(int64_t{image->pixel_size}, int64_t{image->row_bytes} * image->height);
        EXPECT_EQ(image->planes, 1);
      }
    }
  }
}

TEST_F(Bmp, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("bmp_"), 12); }

TEST_F(Bmp, OneBitRowsKeepOnlyTheirWidth) {
  // 4 pixels wide: the row holds 4 bytes and takes only the upper four bits of its byte.
  std::vector<uint8_t> table = {0, 0, 0, 0, 255, 255, 255, 0};
  LoadResult r = load_bytes("one_bit.bmp", bmp(4, 2, 1, 0, table, {0xA5, 0, 0, 0, 0x5F, 0, 0, 0}).data);
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->row_bytes, 4);
  EXPECT_EQ(image->pixel_bytes, 1);
  EXPECT_EQ(image->x_resolution, 2835);
  EXPECT_EQ(image->y_resolution, 3780);
  // Bottom-up: the second file row (0x5F) is the top row.
  EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + 8), (std::vector<uint8_t>{0, 1, 0, 1, 1, 0, 1, 0}));
  EXPECT_EQ(image_rgb(image)[0], 0u);
  EXPECT_EQ(image_rgb(image)[1], 0xFFFFFFu);
}

TEST_F(Bmp, ColourTableRules) {
  // A data offset of 54 reads no table: the palette stays black.
  LoadResult r = load_bytes("no_table.bmp", bmp(1, 1, 8, 0, {}, {7, 0, 0, 0}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->palette_red[7] | r.images[0]->palette_green[7] | r.images[0]->palette_blue[7], 0);
  // Room for 300 entries: only 256 are read, and the pixels come from the data offset.
  test_reset();
  std::vector<uint8_t> table = grey_table(256);
  for (int i = 0; i < 44; ++i) table.insert(table.end(), {9, 9, 9, 9});
  r = load_bytes("big_table.bmp", bmp(1, 1, 8, 0, table, {200, 0, 0, 0}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel_at(r.images[0], 0, 0), 200);
  EXPECT_EQ(r.images[0]->palette_red[255], 255);
  // A table that the file does not hold.
  test_reset();
  Bytes cut = bmp(1, 1, 8, 0, grey_table(256), {1, 0, 0, 0});
  cut.data.resize(300);
  EXPECT_EQ(load_bytes("cut_table.bmp", cut.data).error, 14);
}

TEST_F(Bmp, TopDownRowsAndTheTitle) {
  std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8};
  LoadResult r = load_bytes("top_down.bmp", bmp(4, -2, 8, 0, grey_table(16), px).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->height, 2);
  EXPECT_EQ(pixel_at(r.images[0], 0, 0), 1);
  EXPECT_EQ(pixel_at(r.images[0], 1, 3), 8);
  EXPECT_EQ(image_title(r.images[0], 1, 1), r.images[0]->name + std::string(" - 4 x 2 pixels - 1 x 8 bits - BMP non compresse"));
}

TEST_F(Bmp, BitFieldsAndDefaultMasks) {
  // 5-6-5 masks: 0xFFFF is white, 0x0000 black, pure green 0x07E0.
  Bytes b = bmp(3, 1, 16, 3, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                {0xFF, 0xFF, 0x00, 0x00, 0xE0, 0x07, 0, 0});
  LoadResult r = load_bytes("bitfields.bmp", b.data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->description, DESC_BMP_BITFIELDS);
  EXPECT_EQ(image_rgb(r.images[0]), (std::vector<uint32_t>{0xFFFFFF, 0, 0x00FF00}));
  // No masks at 16 bits: 5-5-5. A channel of 16 becomes trunc(16 x 255 / 31) = 131.
  test_reset();
  r = load_bytes("rgb555.bmp", bmp(2, 1, 16, 0, {}, {0x00, 0x7C, 0x10, 0x00, 0, 0, 0, 0}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0]), (std::vector<uint32_t>{0xFF0000, 131}));
  // 32 bits keep the file's fourth byte.
  test_reset();
  r = load_bytes("rgb32.bmp", bmp(1, 1, 32, 0, {}, {0x10, 0x20, 0x30, 0x40}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(image_rgb(r.images[0])[0], 0x302010u);
  EXPECT_EQ(r.images[0]->pixels[3], 0x40);
  // Bit fields in a file too short for the masks.
  test_reset();
  Bytes shortfile = bmp(1, 1, 16, 3, {}, {});
  shortfile.data.resize(60);
  EXPECT_EQ(load_bytes("short_masks.bmp", shortfile.data).error, 14);
}

TEST_F(Bmp, RunLengthDecoding) {
  // RLE8, 6 x 3: a run, an absolute run of 3 with its pad byte, an end of line, a delta of
  // (1, 1), a run, and the end of the bitmap. Unreached pixels stay index 0.
  std::vector<uint8_t> data = {2, 9, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 2, 7, 0, 1};
  LoadResult r = load_bytes("rle8.bmp", bmp(6, 3, 8, 1, grey_table(16), data).data);
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->description, DESC_BMP_RLE);
  EXPECT_EQ(image->has_transparent, 1);
  EXPECT_EQ(image->transparent[0], 0);
  auto row = [&](int y) { return std::vector<uint8_t>(image->pixels + y * 8, image->pixels + y * 8 + 6); };
  EXPECT_EQ(row(2), (std::vector<uint8_t>{9, 9, 4, 5, 6, 0}));
  EXPECT_EQ(row(1), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(row(0), (std::vector<uint8_t>{0, 7, 7, 0, 0, 0}));
  EXPECT_EQ(image_title(image, 1, 1), image->name + std::string(" - 6 x 3 pixels - 1 x 8 bits - BMP compression RLE"));

  // RLE4: a run alternates the two nibbles; an absolute run of 3 reads 2 bytes, no pad.
  test_reset();
  r = load_bytes("rle4.bmp", bmp(6, 1, 4, 2, grey_table(16), {3, 0x12, 0, 3, 0x34, 0x50, 0, 1}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(std::vector<uint8_t>(r.images[0]->pixels, r.images[0]->pixels + 6), (std::vector<uint8_t>{1, 2, 1, 3, 4, 5}));

  // Runs past the row's end and rows above the top are dropped; no end-of-bitmap code is
  // needed.
  test_reset();
  r = load_bytes("rle_overrun.bmp", bmp(2, 1, 8, 1, grey_table(16), {200, 3, 0, 2, 0, 5, 1, 1}).data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel_at(r.images[0], 0, 0), 3);
  EXPECT_EQ(pixel_at(r.images[0], 0, 1), 3);

  // A declared size smaller than the data: decoding stops when that budget is spent.
  test_reset();
  Bytes small = bmp(4, 1, 8, 1, grey_table(16), {2, 5, 2, 6, 0, 1}, 54 + 64 + 2);
  r = load_bytes("rle_budget.bmp", small.data);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(std::vector<uint8_t>(r.images[0]->pixels, r.images[0]->pixels + 4), (std::vector<uint8_t>{5, 5, 0, 0}));

  // A file shorter than its declared size is invalid, and so is top-down RLE.
  test_reset();
  EXPECT_EQ(load_bytes("rle_short.bmp", bmp(4, 1, 8, 1, grey_table(16), {2, 5}, 5000).data).error, 14);
  test_reset();
  EXPECT_EQ(load_bytes("rle_topdown.bmp", bmp(4, -1, 8, 1, grey_table(16), {2, 5, 0, 1}).data).error, 14);
}

TEST_F(Bmp, RefusalsAndTheirCodes) {
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
  };
  Bytes os2;
  os2.text("BM").u32le(26 + 6).u32le(0).u32le(26).u32le(12).u16le(1).u16le(1).u16le(1).u16le(24).fill(40, 0);
  Bytes tiny;
  tiny.text("BM").fill(40, 0);
  std::vector<Case> cases = {
      {"os2.bmp", os2, 3},
      {"compression4.bmp", bmp(1, 1, 24, 4, {}, {0, 0, 0, 0}), 3},
      {"rle8_at_4_bits.bmp", bmp(2, 1, 4, 1, grey_table(16), {0, 1}), 14},
      {"rle4_at_8_bits.bmp", bmp(2, 1, 8, 2, grey_table(16), {0, 1}), 14},
      {"bitfields_at_24.bmp", bmp(1, 1, 24, 3, {}, std::vector<uint8_t>(16, 0)), 14},
      {"two_bits.bmp", bmp(1, 1, 2, 0, grey_table(4), {0, 0, 0, 0}), 14},
      {"tiny.bmp", tiny, 14},
      {"zero_width.bmp", bmp(0, 1, 24, 0, {}, {0, 0, 0, 0}), 14},
      {"rows_missing.bmp", bmp(4, 3, 24, 0, {}, std::vector<uint8_t>(24, 0)), 14},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    EXPECT_EQ(load_bytes(c.name, c.bytes.data).error, c.code);
  }
}

TEST_F(Bmp, PlanesOtherThanOneReadAsOnePlane) {
  for (int16_t planes : {0, 3}) {
    test_reset();
    LoadResult r = load_bytes("planes.bmp", bmp(1, 1, 8, 0, grey_table(256), {77, 0, 0, 0}, 0, planes).data);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->planes, 1);
    EXPECT_EQ(r.images[0]->pixel_size, 4u);
    EXPECT_EQ(image_rgb(r.images[0])[0], 0x4D4D4Du);
  }
}

TEST_F(Bmp, HugeClaimsAreRefusedBeforeAllocating) {
  // A 100-byte file that claims 30000 x 30000 pixels, stored or run-length encoded.
  mem_set_limit(size_t{64} << 20);
  EXPECT_EQ(load_bytes("huge.bmp", bmp(30000, 30000, 24, 0, {}, std::vector<uint8_t>(46, 0)).data).error, 14);
  test_reset();
  EXPECT_EQ(load_bytes("huge_rle.bmp", bmp(30000, 30000, 8, 1, grey_table(2), {0, 1}).data).error, 14);
  // Dimensions whose row does not fit in 32 bits.
  test_reset();
  EXPECT_EQ(load_bytes("wide.bmp", bmp(0x7FFFFFFF, 1, 32, 0, {}, std::vector<uint8_t>(16, 0)).data).error, 14);
}
