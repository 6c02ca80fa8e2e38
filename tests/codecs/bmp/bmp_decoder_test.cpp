#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "codecs/raster_test_support.h"
#include "image/file_descriptor.h"

namespace {

// A bitmap with a header of 40 bytes, or `header` bytes whose part past 40 is `table`'s
// start (masks from byte 54 on in every version); `pixels` follow the colour table.
Bytes bmp(int32_t width, int32_t height, int bits, uint32_t compression, const std::vector<uint8_t>& table,
          const std::vector<uint8_t>& pixels, uint32_t declared_size = 0, int16_t planes = 1,
          uint32_t header = 40) {
  const uint32_t offset = 54 + static_cast<uint32_t>(table.size());
  Bytes b;
  b.text("BM").u32le(declared_size ? declared_size : offset + static_cast<uint32_t>(pixels.size()));
  b.u32le(0).u32le(offset).u32le(header).u32le(width).u32le(static_cast<uint32_t>(height));
  b.u16le(static_cast<uint16_t>(planes)).u16le(bits).u32le(compression).u32le(0);
  return b.u32le(2835).u32le(3780).u32le(0).u32le(0).raw(table).raw(pixels);
}

std::vector<uint8_t> grey_table(int n) {
  std::vector<uint8_t> t;
  for (int i = 0; i < n; ++i) t.insert(t.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  return t;
}

// The rendering a suite file is compared with: its own (the "-0" one, where undefined pixels
// are index 0, or the "-e" one, for non-square pixels), else that of the longest start of its
// name that has one; 32-bit pictures without alpha look like rgb24.
std::string rendering(std::string stem) {
  const auto png = [](const std::string& s) { return corpus_path("bmpsuite/expected/" + s + ".png"); };
  for (const char* suffix : {"-0", "", "-e"})
    if (std::filesystem::exists(png(stem + suffix))) return png(stem + suffix);
  if (stem.starts_with("rgb32")) return png("rgb24");
  while (!stem.empty() && !std::filesystem::exists(png(stem))) stem.pop_back();
  return png(stem);
}

}  // namespace

using Bmp = RasterTest;

// Every picture of the suite's g/ and q/ folders, whatever its header version, loads and
// equals its rendering (but rgb24prof2, whose colours come from its profile, which is not
// applied), or is refused with the code given. Pixels the rendering shows fully transparent
// are not compared: alpha is kept, not drawn. Channels of bit fields may differ by 1: ours are
// truncated (value x 255 / mask), the renderings replicate the top bits.
TEST_F(Bmp, SuiteFilesMatchTheirRenderings) {
  const std::map<std::string, int> refused = {
      {"pal2", 14}, {"pal2color", 14}, {"rgba64", 14},  // 2 and 64 bits a pixel
      {"rgba32abf", 3}, {"rgb24jpeg", 3}, {"rgb24png", 3},  // compressions 6, 4, 5
      {"rgb24rle24", 3}, {"pal1huffmsb", 3}};              // OS/2 RLE24 and Huffman
  int compared = 0;
  for (const char* sub : {"g/", "q/"}) {
    const std::string dir = corpus_path(std::string("bmpsuite/") + sub);
    for (const std::string& file : files_in(dir, "", ".bmp")) {
      SCOPED_TRACE(file);
      test_reset();
      LoadResult r = load_file(dir + file);
      const std::string stem = file.substr(0, file.size() - 4);
      if (refused.count(stem) != 0) {
        EXPECT_EQ(r.error, refused.at(stem));
        continue;
      }
      ASSERT_EQ(r.error, 0);
      EXPECT_EQ(r.images[0]->description == DESC_BMP_OS2, stem.starts_with("pal8os2") && stem != "pal8os2v2-40sz");
      if (stem == "rgb24prof2") continue;
      int w, h;
      std::vector<uint32_t> expected;
      std::vector<bool> clear;
      ASSERT_TRUE(read_png_rgb(rendering(stem), &w, &h, &expected, &clear)) << rendering(stem);
      ASSERT_EQ(std::make_pair(r.images[0]->width, r.images[0]->height), std::make_pair(w, h));
      const bool masked = r.images[0]->bits == 16 || r.images[0]->description == DESC_BMP_BITFIELDS;
      EXPECT_LE(channel_difference(image_rgb(r.images[0]), expected, clear).max, masked ? 1 : 0);
      ++compared;
    }
  }
  EXPECT_EQ(compared, 61);
}

// b/ and x/: nothing crashes; what the rules refuse gets its code, the rest loads into a
// record whose rows fit its pixel block.
TEST_F(Bmp, SuiteBrokenFilesFailCleanly) {
  const std::map<std::string, int> codes = {
      {"badbitcount.bmp", 14}, {"badheadersize.bmp", 3}, {"badwidth.bmp", 14}, {"reallybig.bmp", 14},
      {"rletopdown.bmp", 14},  {"shortfile.bmp", 14},     {"ba-bm.bmp", 3}};
  for (const char* sub : {"b/", "x/"}) {
    const std::string dir = corpus_path(std::string("bmpsuite/") + sub);
    ASSERT_FALSE(files_in(dir, "", ".bmp").empty());
    for (const std::string& file : files_in(dir, "", ".bmp")) {
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

// What the suite's comparisons do not show: tables, masks and runs at their edges, and the
// record's fields: the title's description, the resolution, the transparent index of runs.
TEST_F(Bmp, PixelsAtTheEdges) {
  Bytes os2;  // OS/2 1.x: 3-byte entries; its 36-byte file is shorter than any Windows header
  os2.text("BM").u32le(36).u32le(0).u32le(32).u32le(12).u16le(1).u16le(1).u16le(1).u16le(8);
  os2.raw({1, 2, 3, 4, 5, 6}).raw({1, 0, 0, 0});
  const std::vector<uint8_t> alpha_masks = {0, 0x0F, 0, 0, 0xF0, 0, 0, 0, 0x0F, 0, 0, 0, 0, 0xF0, 0, 0};
  expect_decoded(-1, {
      {"no_table.bmp", bmp(1, 1, 8, 0, {}, {7, 0, 0, 0}), {0}},  // an offset of 54 reads no table
      {"top_down.bmp", bmp(4, -2, 8, 0, grey_table(16), {1, 2, 3, 4, 5, 6, 7, 8}), {}, {1, 2, 3, 4, 5, 6, 7, 8},
       " - 4 x 2 pixels - 1 x 8 bits - BMP non compresse", {0, 0, 0, 0, -1, 2835, 3780}},
      {"os2.bmp", os2, {0x060504}},
      {"planes.bmp", bmp(1, 1, 8, 0, grey_table(256), {77, 0, 0, 0}, 0, 3), {0x4D4D4D}},  // one plane whatever it says
      // No masks at 16 bits: 5-5-5, 16 becoming trunc(16 x 255 / 31) = 131; no fourth byte.
      {"rgb555.bmp", bmp(2, 1, 16, 0, {}, {0x00, 0x7C, 0x10, 0x00, 0, 0, 0, 0}), {0xFF0000, 131}, {255, 0, 0, 0}},
      {"rgb32.bmp", bmp(1, 1, 32, 0, {}, {0x10, 0x20, 0x30, 0x40}), {0x302010}, {0x30, 0x20, 0x10, 0x40}},
      // 56 bytes and more: the alpha mask fills the fourth byte.
      {"alpha4444.bmp", bmp(1, 1, 16, 3, alpha_masks, {0x5A, 0x3F, 0, 0}, 0, 1, 56), {}, {255, 0x55, 0xAA, 0x33},
       " - 1 x 1 pixels - 1 x 16 bits - BMP compression Bitfields"},
      // RLE8, 6 x 3, stored bottom-up: a run, an absolute run of 3 with its pad byte, an end of
      // line, a delta of (1, 1), a run, the end of the bitmap. Unreached pixels stay 0.
      {"rle8.bmp", bmp(6, 3, 8, 1, grey_table(16), {2, 9, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 2, 7, 0, 1}), {},
       {0, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 4, 5, 6, 0}, " - 6 x 3 pixels - 1 x 8 bits - BMP compression RLE",
       {1, 0, 0, 0, -1, 2835, 3780}},
      // Runs past the row's end and rows above the top are dropped; no end code is needed.
      {"rle_overrun.bmp", bmp(2, 1, 8, 1, grey_table(16), {200, 3, 0, 2, 0, 5, 1, 1}), {}, {3, 3}},
      // A declared size smaller than the data: decoding stops when that budget is spent.
      {"rle_budget.bmp", bmp(4, 1, 8, 1, grey_table(16), {2, 5, 2, 6, 0, 1}, 54 + 64 + 2), {}, {5, 5, 0, 0}},
  });
}

// Each refusal the suite's files do not make (its pal2, badheadersize, shortfile, rletopdown
// and reallybig have theirs), and huge claims refused before anything is allocated for them.
TEST_F(Bmp, RefusalsAndTheirCodes) {
  expect_refusals(-1, {
      {"header_size_0.bmp", bmp(1, 1, 24, 0, {}, {0, 0, 0, 0}, 0, 1, 0), 3},
      {"v5_header_cut.bmp", bmp(1, 1, 24, 0, {}, {}).set(14, {124}), 14},
      {"compression4.bmp", bmp(1, 1, 24, 4, {}, {0, 0, 0, 0}), 3},
      {"rle8_at_4_bits.bmp", bmp(2, 1, 4, 1, grey_table(16), {0, 1}), 14},
      {"rle4_at_8_bits.bmp", bmp(2, 1, 8, 2, grey_table(16), {0, 1}), 14},
      {"bitfields_at_24.bmp", bmp(1, 1, 24, 3, {}, std::vector<uint8_t>(16, 0)), 14},
      {"tiny.bmp", Bytes("BM").fill(12, 0).u32le(40).fill(20, 0), 14},
      {"zero_width.bmp", bmp(0, 1, 24, 0, {}, {0, 0, 0, 0}), 14},
      {"cut_table.bmp", bmp(1, 1, 8, 0, grey_table(256), {1, 0, 0, 0}).cut(300), 14},
      {"short_masks.bmp", bmp(1, 1, 16, 3, {}, {}).cut(60), 14},
      {"rle_short.bmp", bmp(4, 1, 8, 1, grey_table(16), {2, 5}, 5000), 14},  // shorter than declared
      {"huge_rle.bmp", bmp(30000, 30000, 8, 1, grey_table(2), {0, 1}), 14},
      {"wide.bmp", bmp(0x7FFFFFFF, 1, 32, 0, {}, std::vector<uint8_t>(16, 0)), 14},  // row beyond 32 bits
  });
}
