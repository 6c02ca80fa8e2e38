// Image data decoding: code widths, sub-block boundaries, the table's corner cases and
// corrupt code streams, on files built byte by byte and checked against giflib.
#include <gtest/gtest.h>

#include "codecs/gif/gif_test_util.h"
#include "core/errors.h"
#include "support/test_support.h"

using namespace gif_test;

namespace {

class GifLzw : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }

  // Loads one image whose data is the given codes and returns its first `count` indexes.
  std::vector<uint8_t> decode_codes(int m, const std::vector<int>& codes, int width, int height,
                                    const std::vector<int>& blocks = {}, int* error = nullptr) {
    Builder b;
    b.screen(width, height, 8, test_palette(256)).image(0, 0, width, height, pack_codes(m, codes), m, blocks).trailer();
    return decode_bytes(b.bytes, width, height, error);
  }

  std::vector<uint8_t> decode_bytes(const std::vector<uint8_t>& bytes, int width, int height,
                                    int* error = nullptr) {
    LoadResult r = load_file(write_temp_file("lzw.gif", bytes));
    if (error != nullptr) *error = r.error;
    std::vector<uint8_t> out;
    if (r.error == 0 && !r.images.empty()) {
      for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row = stored_row(r.images[0], y, width);
        out.insert(out.end(), row.begin(), row.end());
      }
    }
    release(r);
    return out;
  }
};

// Long runs and repeats: long strings, K-w-K codes and a table that fills up.
std::vector<uint8_t> patterned(size_t n, int colours) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(((i / 37) * (i % 11 == 0 ? 3 : 1)) % colours);
  return v;
}

TEST_F(GifLzw, CodeSequencesDecodeOrAreRefused) {
  // With m = 2: clear 4, end 5, first table entry 6.
  struct Case {
    const char* what;
    int m;
    std::vector<int> codes;
    int width;
    std::vector<uint8_t> pixels;  // empty when the file is refused
  };
  const Case cases[] = {
      {"a code two above the last one", 2, {4, 1, 7, 5}, 6, {}},
      {"data without a first clear code", 2, {3, 2, 6, 5}, 4, {3, 2, 3, 2}},
      {"a table code first", 2, {6, 5}, 4, {}},
      {"two clears in a row write nothing", 2, {4, 1, 2, 4, 4, 3, 0, 6, 5}, 6, {1, 2, 3, 0, 3, 0}},
      {"a table code right after a clear", 2, {4, 1, 2, 6, 4, 6, 5}, 8, {}},
      {"minimum code size 12", 12, {4096, 1, 4097}, 2, {}},
      {"size 11: literals above 255 keep their low byte", 11, {2048, 0x105, 7, 2050, 2049}, 4, {5, 7, 5, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int error = -1;
    EXPECT_EQ(decode_codes(c.m, c.codes, c.width, 1, {}, &error), c.pixels);
    EXPECT_EQ(error, c.pixels.empty() ? ERR_INVALID_FILE : 0);
  }
}

TEST_F(GifLzw, CodeWidthGrowsAfterCode511AndStaysAt12) {
  // With m = 8, runs of one colour make every code new; giflib agrees on the result across
  // 9, 10, 11 and 12 bits, and on a full table that is kept without a clear code.
  const int w = 640, h = 200;
  std::vector<uint8_t> px = patterned(w * h, 256);
  for (bool clear_when_full : {true, false}) {
    Builder b;
    b.screen(w, h, 8, test_palette(256)).image(0, 0, w, h, pack_codes(8, lzw_encode(px, 8, clear_when_full)), 8).trailer();
    EXPECT_EQ(compare_with_giflib(write_temp_file("grow.gif", b.bytes)), "") << clear_when_full;
  }
}

TEST_F(GifLzw, WhereTheImageDataEnds) {
  // Image descriptors of 8 x 1 and 4 x 1 pictures with minimum code size 2, data to follow.
  auto start = [](int width) { return Builder().screen(width, 1, 2, test_palette(4)).raw({0x2C, 0, 0, 0, 0, uint8_t(width), 0, 1, 0, 0, 2}); };
  const std::vector<uint8_t> ones = pack_codes(2, {4, 1, 1, 1, 1, 1, 1, 1, 1});  // 4 bytes
  std::vector<uint8_t> then_junk = pack_codes(2, {4, 1, 1, 5});
  then_junk.push_back(0xFF);
  const std::vector<uint8_t> second = pack_codes(2, {4, 2, 5});
  std::vector<uint8_t> long_data = pack_codes(2, lzw_encode(patterned(5000, 4), 2));
  std::vector<int> bad_late = lzw_encode(patterned(5000, 4), 2);
  bad_late.insert(bad_late.end() - 1, {4, 6});  // a table code right after a clear code
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    int error;
    std::vector<uint8_t> pixels;  // checked when the file loads
  };
  const Case cases[] = {
      // Clear and literal 1, then 2 bits: the rest of the frame stays background (white, 4).
      {"data ending inside a code", start(8).raw({1, 0x4C, 0}).trailer().bytes, 0, {1, 4, 4, 4, 4, 4, 4, 4}},
      {"the rest of an end code's sub-block is skipped",
       start(4).raw({uint8_t(then_junk.size())}).raw(then_junk).raw({uint8_t(second.size())}).raw(second).raw({0}).trailer().bytes,
       0, {1, 1, 2, 4}},
      {"a trailer in place of the terminator",
       Builder().screen(4, 1, 2, test_palette(4)).image(0, 0, 4, 1, pack_codes(2, {4, 3, 2, 6, 5}), 2, {}, false, {}, 0, false).trailer().bytes,
       0, {3, 2, 3, 2}},
      {"a length byte past the end of the file",
       Builder().screen(4, 1, 2, test_palette(4)).image(0, 0, 4, 1, pack_codes(2, {4, 3, 2, 6, 5}), 2, {}, false, {}, 0, false).raw({0x3A}).bytes,
       ERR_INVALID_FILE, {}},
      {"a sub-block past the end of the file", start(8).raw({10}).raw(ones).bytes, ERR_INVALID_FILE, {}},
      {"a code that runs into such a sub-block", start(8).raw({1, ones[0], 10, ones[1], ones[2]}).bytes, ERR_FILE_ACCESS, {}},
      {"whole sub-blocks, then nothing", start(8).raw({4}).raw(ones).bytes, ERR_FILE_ACCESS, {}},
      {"more pixels than the frame: dropped", Builder().screen(3, 2, 2, test_palette(4)).image(0, 0, 3, 2, long_data, 2).trailer().bytes,
       0, {0, 0, 0, 0, 0, 0}},
      {"a bad code far past the frame's end",
       Builder().screen(3, 2, 2, test_palette(4)).image(0, 0, 3, 2, pack_codes(2, bad_late), 2).trailer().bytes, ERR_INVALID_FILE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int width = c.file[6];
    int error = -1;
    std::vector<uint8_t> got = decode_bytes(c.file, width, int(c.pixels.size()) / std::max(width, 1), &error);
    EXPECT_EQ(error, c.error);
    if (c.error == 0) {
      EXPECT_EQ(got, c.pixels);
    }
  }
}

}  // namespace
