#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"
#include "image/file_descriptor.h"

namespace {

Bytes header(int type, int width, int height, int depth, int descriptor, int map_length = 0, int entry_size = 0) {
  Bytes b;
  b.u8(0).u8(map_length ? 1 : 0).u8(type).u16le(0).u16le(map_length).u8(entry_size);
  b.u16le(0).u16le(0).u16le(width).u16le(height).u8(depth).u8(descriptor);
  return b;
}

// The file with an extension area (its size, the key colour's red, green and blue at 471, the
// gamma at 478, the scan-line table's offset at 490, zeros elsewhere) and the footer that
// points at it appended.
Bytes with_footer(Bytes b, std::initializer_list<uint8_t> key, uint16_t gamma_num, uint16_t gamma_den, uint32_t table) {
  const uint32_t extension = static_cast<uint32_t>(b.size());
  b.u16le(495).fill(469, 0).raw(key).fill(7 - key.size(), 0).u16le(gamma_num).u16le(gamma_den).fill(8, 0).u32le(table).u8(0);
  return b.u32le(extension).u32le(0).text("TRUEVISION-XFILE.").u8(0);
}

}  // namespace

using Targa = RasterTest;

TEST_F(Targa, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("tga_"), 20); }

// Origins, runs across rows, 15 to 32 bits, attribute bits, maps with a first entry: the
// generated pictures. Here the depth each kind reports, the bounds the generator misses, and
// the footer: the key colour looked up in the palette, the gamma as numerator / denominator.
TEST_F(Targa, PixelsOfEachKind) {
  Bytes map256 = header(1, 1, 1, 8, 0, 256, 24);
  for (int i = 0; i < 256; ++i) map256.u8(i).u8(0).u8(255 - i);
  expect_decoded(FORMAT_TARGA, {
      {"bl.tga", header(2, 1, 1, 24, 0).raw({1, 2, 3}), {0x030201}, {}, " - 1 x 1 pixels - 1 x 24 bits - Truevision Targa",
       {0, 0, 0, 0, -1, 0, 0}},
      // 16 bits, five a channel: 31 -> 255, 16 -> 132 (rounded); the attribute bit is no colour,
      // even when the descriptor claims 8 of them.
      {"rgb16_attr8.tga", header(2, 2, 1, 16, 8).u16le(0x8000 | 31 << 10 | 16 << 5).u16le(16), {0xFF8400, 0x000084}, {},
       " - 2 x 1 pixels - 1 x 15 bits - Truevision Targa"},
      {"map256.tga", map256.u8(255), {0x0000FF}, {}, " - 1 x 1 pixels - 1 x 8 bits - Truevision Targa"},
      // Grey with 4 attribute bits: the 16-entry ramp (1 is 17).
      {"grey4.tga", header(3, 2, 1, 8, 4).raw({0xFF, 0x01}), {0xFFFFFF, 0x111111}, {}, " - 2 x 1 pixels - 1 x 4 bits - Truevision Targa"},
      // The data ending inside a packet leaves the rest 0.
      {"rle_cut.tga", header(11, 4, 1, 8, 0).raw({0x81, 200, 0x02, 7}), {}, {200, 200, 7, 0}},
      // Key colour (7, 8, 9) is entry 1.
      {"footer.tga", with_footer(header(1, 1, 1, 8, 0, 2, 24).raw({0, 0, 0, 9, 8, 7}).u8(1), {7, 8, 9}, 22, 10, 0), {}, {},
       "", {1, 1, 8, 9, 2.2, 0, 0}},
      // An extension offset outside the file is not used.
      {"far_extension.tga", header(3, 1, 1, 8, 0).raw({5}).u32le(999999).u32le(0).text("TRUEVISION-XFILE.").u8(0), {}, {},
       "", {0, 0, 0, 0, -1, 0, 0}},
  });
}

TEST_F(Targa, Refusals) {
  expect_refusals(FORMAT_TARGA, {
      {"type4.tga", header(4, 1, 1, 8, 0).raw({0}), 3},
      {"map_without_entry_size.tga", header(1, 1, 1, 8, 0, 4, 0).raw({0}), 3},
      {"deep_index.tga", header(1, 1, 1, 16, 0).raw({0, 0}), 3},
      {"too_deep.tga", header(2, 1, 1, 40, 0).fill(5, 0), 14},
      {"deep_map.tga", header(1, 1, 1, 8, 0, 1, 40).fill(6, 0), 14},
      {"map257.tga", header(1, 1, 1, 8, 0, 257, 24).fill(257 * 3 + 1, 0), 3},
      {"short_map.tga", header(1, 1, 1, 8, 0, 10, 24).fill(5, 0), 14},
      {"short_rows.tga", header(2, 4, 4, 24, 0).fill(20, 0), 14},
      {"no_bits.tga", header(3, 1, 1, 8, 8).raw({0}), 14},
      {"empty.tga", header(2, 0, 1, 24, 0), 14},
      {"tiny.tga", Bytes().raw({0, 0, 2}), 14},
      {"huge_rle.tga", header(10, 65535, 65535, 32, 8).raw({0xFF, 1, 2, 3, 4}), 14},  // refused before allocating
      // A run-length file whose scan-line table (at 20) points past the end.
      {"table.tga", with_footer(header(11, 1, 1, 8, 0).raw({0x80, 5}).u32le(100000), {}, 0, 0, 20), 14},
  });
}
