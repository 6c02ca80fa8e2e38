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

std::vector<uint8_t> noise(size_t n, int colours, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (auto& x : v) {
    seed = seed * 1103515245u + 12345u;
    x = uint8_t((seed >> 16) % uint32_t(colours));
  }
  return v;
}

// Long runs and repeats: long strings, K-w-K codes and a table that fills up.
std::vector<uint8_t> patterned(size_t n, int colours) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(((i / 37) * (i % 11 == 0 ? 3 : 1)) % colours);
  return v;
}

TEST_F(GifLzw, EveryMinimumCodeSizeAgreesWithGiflib) {
  for (int m = 2; m <= 8; ++m) {
    SCOPED_TRACE(m);
    Builder b;
    const int w = 61, h = 47;
    b.screen(w, h, m, test_palette(1 << m)).pixels(0, 0, w, h, noise(w * h, 1 << m, m), m).trailer();
    EXPECT_EQ(compare_with_giflib(write_temp_file("m.gif", b.bytes)), "");
  }
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
      {"3-bit codes, entry 6 = 0 1", 2, {4, 0, 1, 6, 5}, 4, {0, 1, 0, 1}},
      {"K-w-K: a code defined by itself", 2, {4, 1, 6, 7, 5}, 6, {1, 1, 1, 1, 1, 1}},
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
  // With m = 8, runs of one colour make every code new; the widths come from pack_codes,
  // and giflib agrees on the result across 9, 10, 11 and 12 bits, and on a full table that
  // is kept without a clear code.
  const int w = 640, h = 200;
  std::vector<uint8_t> px = patterned(w * h, 256);
  for (bool clear_when_full : {true, false}) {
    SCOPED_TRACE(clear_when_full);
    Builder b;
    b.screen(w, h, 8, test_palette(256))
        .image(0, 0, w, h, pack_codes(8, lzw_encode(px, 8, clear_when_full)), 8)
        .trailer();
    EXPECT_EQ(compare_with_giflib(write_temp_file("grow.gif", b.bytes)), "");
    std::vector<uint8_t> got = decode_bytes(b.bytes, w, h);
    EXPECT_EQ(got, px);
  }
}

TEST_F(GifLzw, FullTableAddsNothingUntilClear) {
  // 3839 literals after a clear fill the table (entries 258..4095); the next codes are
  // 12 bits wide and add nothing: code 4095 still means its old string.
  std::vector<int> codes{256};
  std::vector<uint8_t> want;
  for (int i = 0; i < 3839; ++i) {
    codes.push_back(i % 200);
    want.push_back(uint8_t(i % 200));
  }
  codes.push_back(7);
  want.push_back(7);
  // Entry 4095 = literal 3837 % 200 followed by the first byte of literal 3838.
  codes.push_back(4095);
  want.push_back(uint8_t(3837 % 200));
  want.push_back(uint8_t(3838 % 200));
  codes.push_back(257);
  const int n = int(want.size());
  EXPECT_EQ(decode_codes(8, codes, n, 1), want);
}

TEST_F(GifLzw, SubBlockBoundariesDoNotMatter) {
  // Codes cut by length bytes at every place, including sub-blocks of one byte (a 12-bit
  // code spread over three sub-blocks) and a sub-block of 59 bytes, the trailer's value.
  const int w = 300, h = 90;
  std::vector<uint8_t> px = patterned(w * h, 256);
  std::vector<uint8_t> data = pack_codes(8, lzw_encode(px, 8));
  for (const std::vector<int>& blocks :
       std::vector<std::vector<int>>{{1}, {2, 1, 3}, {59}, {254, 59, 1, 255}, {7, 1, 1, 5}}) {
    Builder b;
    b.screen(w, h, 8, test_palette(256)).image(0, 0, w, h, data, 8, blocks).trailer();
    EXPECT_EQ(decode_bytes(b.bytes, w, h), px) << blocks.size() << " " << blocks[0];
  }
}

TEST_F(GifLzw, DataEndingInsideACodeStops) {
  // Clear (3 bits), literal 1 (3 bits), then only 2 bits before the zero length byte: the
  // data ends without error; the rest of the frame stays background.
  Builder b;
  b.screen(8, 1, 2, test_palette(4)).image(0, 0, 8, 1, {0x4C}, 2).trailer();
  int error = -1;
  std::vector<uint8_t> got = decode_bytes(b.bytes, 8, 1, &error);
  EXPECT_EQ(error, 0);
  // Background: the white entry appended after the 4 colours.
  EXPECT_EQ(got, (std::vector<uint8_t>{1, 4, 4, 4, 4, 4, 4, 4}));
}

TEST_F(GifLzw, EndCodeSkipsTheRestOfItsSubBlock) {
  // After an end code the rest of its sub-block is not decoded; a further sub-block is.
  std::vector<uint8_t> first = pack_codes(2, {4, 1, 1, 5});
  first.push_back(0xFF);  // junk after the end code, inside the same sub-block
  std::vector<uint8_t> second = pack_codes(2, {4, 2, 5});
  Builder b;
  b.screen(4, 1, 2, test_palette(4)).raw({0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0, 2});
  b.bytes.push_back(uint8_t(first.size()));
  b.raw(first);
  b.bytes.push_back(uint8_t(second.size()));
  b.raw(second);
  b.raw({0}).trailer();
  EXPECT_EQ(decode_bytes(b.bytes, 4, 1), (std::vector<uint8_t>{1, 1, 2, 4}));
}

TEST_F(GifLzw, TrailerInPlaceOfTheTerminatorEndsTheFile) {
  // The image data ends with its end code but has no zero length byte: the 0x3B that
  // follows is taken as the trailer and the frame is kept.
  Builder b;
  b.screen(4, 1, 2, test_palette(4)).image(0, 0, 4, 1, pack_codes(2, {4, 3, 2, 6, 5}), 2, {}, false, {}, 0, false).trailer();
  int error = -1;
  EXPECT_EQ(decode_bytes(b.bytes, 4, 1, &error), (std::vector<uint8_t>{3, 2, 3, 2}));
  EXPECT_EQ(error, 0);
  // Any other length byte that runs past the end of the file is refused.
  b.bytes.back() = 0x3A;
  decode_bytes(b.bytes, 4, 1, &error);
  EXPECT_EQ(error, ERR_INVALID_FILE);
}

TEST_F(GifLzw, OutputBeyondTheFrameIsDropped) {
  // Far more pixels than the 3 x 2 frame: decoding goes on (and still checks the codes)
  // but writes nothing past the frame.
  const int w = 3, h = 2;
  std::vector<uint8_t> px = patterned(5000, 4);
  Builder b;
  b.screen(w, h, 2, test_palette(4)).pixels(0, 0, w, h, px, 2).trailer();
  std::vector<uint8_t> got = decode_bytes(b.bytes, w, h);
  EXPECT_EQ(got, std::vector<uint8_t>(px.begin(), px.begin() + w * h));
  // A bad code far past the frame's end is still an error.
  std::vector<int> codes = lzw_encode(px, 2);
  codes.insert(codes.end() - 1, {4, 6});  // a table code right after a clear code
  int error = 0;
  Builder bad;
  bad.screen(w, h, 2, test_palette(4)).image(0, 0, w, h, pack_codes(2, codes), 2).trailer();
  decode_bytes(bad.bytes, w, h, &error);
  EXPECT_EQ(error, ERR_INVALID_FILE);
}

TEST_F(GifLzw, ImageDataCutByTheEndOfTheFile) {
  std::vector<uint8_t> codes = pack_codes(2, {4, 1, 1, 1, 1, 1, 1, 1, 1});  // 4 bytes
  auto header = [] {
    Builder b;
    b.screen(8, 1, 2, test_palette(4)).raw({0x2C, 0, 0, 0, 0, 8, 0, 1, 0, 0, 2});
    return b;
  };
  int error = 0;
  // A sub-block length that runs past the end of the file where a length is expected.
  Builder first = header();
  first.raw({10}).raw(codes);
  decode_bytes(first.bytes, 8, 1, &error);
  EXPECT_EQ(error, ERR_INVALID_FILE);
  // A code that continues into such a sub-block reads past the end of the file.
  Builder straddle = header();
  straddle.raw({1, codes[0], 10, codes[1], codes[2]});
  decode_bytes(straddle.bytes, 8, 1, &error);
  EXPECT_EQ(error, ERR_FILE_ACCESS);
  // Whole sub-blocks and then nothing: neither terminator nor trailer.
  Builder ends = header();
  ends.raw({4}).raw(codes);
  decode_bytes(ends.bytes, 8, 1, &error);
  EXPECT_EQ(error, ERR_FILE_ACCESS);
}

}  // namespace
