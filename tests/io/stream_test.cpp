// The file stream's edges, which whole-file decoding of the corpus never reaches: the end of
// the file, blocks that run past it, files read through a window, and Windows-style paths.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/errors.h"
#include "io/stream.h"
#include "support/test_support.h"

namespace {

class Stream : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
  void TearDown() override {
    if (stream_is_open()) stream_close();
  }
  void open(const std::vector<uint8_t>& bytes, int32_t limit = 0) {
    std::string path = write_temp_file("stream.bin", bytes);
    ASSERT_EQ(stream_open(path.c_str(), limit), 0);
  }
};

}  // namespace

TEST_F(Stream, EndOfFileAndBlocksPastIt) {
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i + 1);
  open(bytes);
  stream_seek(0, 2);
  EXPECT_EQ(stream_get_u8(), 0u);
  EXPECT_EQ(g_error, ERR_FILE_ACCESS);
  g_error = 0;
  stream_seek(1, 2);  // counts back from the end
  EXPECT_EQ(stream_get_u8(), 40u);
  stream_seek(38, 0);
  stream_seek(1, 1);
  // Only the start of a block is checked: one byte left gives it and a zero byte.
  EXPECT_EQ(stream_get_u16[0](), 40u);
  EXPECT_EQ(g_error, 0);
  EXPECT_EQ(stream_get_u16[0](), 0u);
  EXPECT_EQ(g_error, ERR_FILE_ACCESS);
  g_error = 0;
  uint8_t block[8] = {};
  stream_seek(10, 0);
  stream_read_at(block, 36, 4);  // a block that ends exactly at the end is refused
  EXPECT_EQ(g_error, ERR_FILE_ACCESS);
  EXPECT_EQ(stream_tell(), 10);  // unchanged
  g_error = 0;
  stream_seek(36, 0);
  stream_read(block, 8);  // starts inside, runs past the end: no error, zeros beyond
  EXPECT_EQ(g_error, 0);
  EXPECT_EQ(std::make_pair(block[3], block[4]), std::make_pair(uint8_t{40}, uint8_t{0}));
}

TEST_F(Stream, LargeFilesAreReadThroughAWindow) {
  // 10 MiB + a little with a 4096-byte window: reads and seeks across window borders.
  std::vector<uint8_t> bytes(static_cast<size_t>(kStreamWholeFileBelow) + 5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  open(bytes, 4096);
  const uint8_t* data;
  int64_t size;
  EXPECT_FALSE(stream_whole_file(&data, &size));
  stream_seek(4094, 0);
  EXPECT_EQ(stream_get_u32le(), bytes[4094] | (bytes[4095] << 8) | (bytes[4096] << 16) |
                                    (uint32_t{bytes[4097]} << 24));
  std::vector<uint8_t> block(10000);
  stream_seek(8000000, 0);
  stream_read(block.data(), 10000);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + 8000000));
  stream_seek(100, 0);  // back to the start
  EXPECT_EQ(stream_get_u8(), bytes[100]);
  stream_read_at(block.data(), 10485000, 300);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 300, bytes.begin() + 10485000));
  EXPECT_EQ(g_error, 0);
}

class WholeFile : public Stream, public ::testing::WithParamInterface<size_t> {};

// Sizes around a page border: two zero bytes follow the file's bytes, which stay whole after a
// read past the end and after their memory was given back.
TEST_P(WholeFile, BytesThenTwoZeros) {
  std::vector<uint8_t> bytes(GetParam());
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 | 1);
  open(bytes);
  stream_seek(0, 2);
  EXPECT_EQ(stream_get_u8(), 0u);
  stream_release_before(static_cast<int64_t>(bytes.size()));
  const uint8_t* data;
  int64_t size;
  ASSERT_TRUE(stream_whole_file(&data, &size));
  ASSERT_EQ(size, static_cast<int64_t>(bytes.size()));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data));
  EXPECT_EQ(data[size] | data[size + 1], 0);
  uint8_t last = 0;
  stream_read_at(&last, size - 2, 1);
  EXPECT_EQ(last, bytes[size - 2]);
}
INSTANTIATE_TEST_SUITE_P(PageBorders, WholeFile, ::testing::Values(2, 4095, 4096, 3 * 4096 + 1));

TEST(FileOpen, BackslashesBecomeSlashes) {
  std::string path = write_temp_file("open-me.bin", std::string("x"));
  std::string windows_style = path;
  for (char& c : windows_style)
    if (c == '/') c = '\\';
  windows_style[0] = '/';  // keep it absolute on this system
  FILE* fp = file_open(windows_style.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(std::fgetc(fp), 'x');
  std::fclose(fp);
}
