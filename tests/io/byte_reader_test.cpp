// The byte reader's end-of-data rule, read by read, and the bytes of a file opened once:
// mapped, or read when it cannot be mapped (an empty file; every file on Windows).
#include <gtest/gtest.h>

#include <algorithm>

#include "core/errors.h"
#include "io/byte_reader.h"
#include "support/test_support.h"

namespace {

struct EndRule {
  const char* what;
  int64_t at;  // where the cursor is put first
  uint32_t (*read)(ByteReader&);
  uint32_t value;
  int32_t error;
};

void PrintTo(const EndRule& rule, std::ostream* out) { *out << rule.what; }

// Four bytes read as a block, at the cursor (offset < 0) or at `Offset`, little-endian; 0xAA
// bytes are ones the read left alone.
template <int64_t Offset = -2>
uint32_t block(ByteReader& in) {
  uint8_t b[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  if (Offset == -2) in.read(b, 4);
  else in.read_at(b, Offset, 4);
  return b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
}

// Over the eight bytes 1..8.
class ByteReaderEnd : public ::testing::TestWithParam<EndRule> {};
TEST_P(ByteReaderEnd, ReadsFollowTheRule) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  PaddedBytes padded(bytes, 8);
  ByteReader in = padded.reader();
  in.seek(GetParam().at);
  g_error = 0;
  EXPECT_EQ(GetParam().read(in), GetParam().value);
  EXPECT_EQ(g_error, GetParam().error);
  g_error = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ByteReaderEnd,
    ::testing::Values(
        EndRule{"last byte", 7, [](ByteReader& in) { return in.u8(); }, 8, 0},
        EndRule{"at the end", 8, [](ByteReader& in) { return in.u8(); }, 0, ERR_FILE_ACCESS},
        EndRule{"before the start", -1, [](ByteReader& in) { return in.u8(); }, 0, ERR_FILE_ACCESS},
        EndRule{"u16le over the end", 7, [](ByteReader& in) { return in.u16le(); }, 0x0008, 0},
        EndRule{"u16be over the end", 7, [](ByteReader& in) { return in.u16be(); }, 0x0800, 0},
        EndRule{"u32be over the end", 6, [](ByteReader& in) { return in.u32be(); }, 0x07080000, 0},
        EndRule{"u32 little-endian", 0, [](ByteReader& in) { return in.u32(LITTLE_ENDIAN_ORDER); }, 0x04030201, 0},
        EndRule{"u16 big-endian", 2, [](ByteReader& in) { return in.u16(BIG_ENDIAN_ORDER); }, 0x0304, 0},
        EndRule{"u32le at the end", 8, [](ByteReader& in) { return in.u32le(); }, 0, ERR_FILE_ACCESS},
        EndRule{"block over the end: zeros beyond", 6, block, 0x00000807, 0},
        EndRule{"block at the end: left alone", 8, block, 0xAAAAAAAA, ERR_FILE_ACCESS},
        EndRule{"cursor moves by the count", 6, [](ByteReader& in) { block(in); return uint32_t(in.tell()); }, 10, 0},
        EndRule{"block inside, cursor kept", 5, [](ByteReader& in) { return block<3>(in) + uint32_t(in.tell()); },
                0x07060504 + 5, 0},
        EndRule{"block ending at the end refused", 0, block<4>, 0xAAAAAAAA, ERR_FILE_ACCESS},
        EndRule{"block before the start refused", 0, block<-1>, 0xAAAAAAAA, ERR_FILE_ACCESS}),
    [](const ::testing::TestParamInfo<EndRule>& info) { return "row" + std::to_string(info.index); });

class FileBytesOpen : public ::testing::TestWithParam<size_t> {};

// Sizes around a page border: two zero bytes follow the file's bytes, which stay whole after
// their memory was given back. The name is written with backslashes, as on Windows.
TEST_P(FileBytesOpen, BytesThenTwoZeros) {
  test_reset();
  std::vector<uint8_t> bytes(GetParam());
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 | 1);
  std::string path = write_temp_file("bytes.bin", bytes);
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') path[i] = '\\';
  FileBytes file;
  ASSERT_TRUE(file.open(path.c_str()));
  ByteReader in = file.reader();
  ASSERT_EQ(in.size(), static_cast<int64_t>(bytes.size()));
  in.release_before(in.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), in.data()));
  EXPECT_EQ(in.data()[in.size()] | in.data()[in.size() + 1], 0);
  EXPECT_FALSE(file.open((path + ".missing").c_str()));
}
INSTANTIATE_TEST_SUITE_P(PageBorders, FileBytesOpen, ::testing::Values(0, 2, 4095, 4096, 3 * 4096 + 1));

}  // namespace
