// Hand-built TIFF files decoded from memory: the header, the directory chain, the tag checks,
// each decompressor's edge cases, and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "codecs/raster_test_support.h"

namespace {

enum : uint16_t { ASCII = 2, SHORT = 3, LONG = 4, RATIONAL = 5 };

struct Tag {
  uint16_t tag;
  uint16_t type;
  std::vector<uint32_t> values;  // RATIONAL: numerator, denominator pairs
};

struct Page {
  std::vector<Tag> tags;
  std::vector<std::vector<uint8_t>> strips;  // written before the directory
  bool tiles = false;                        // tables as TileOffsets / TileByteCounts
};

// A TIFF file of the pages, each directory after its data, its strip (or tile) tables made from
// `strips` and its tags sorted. `ifds`, when given, receives the directories' offsets.
std::vector<uint8_t> tiff_file(const std::vector<Page>& pages, bool big = false,
                               std::vector<uint32_t>* ifds = nullptr) {
  std::vector<uint8_t> out = {uint8_t(big ? 'M' : 'I'), uint8_t(big ? 'M' : 'I'), 0, 0, 0, 0, 0, 0};
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out[at + i] = uint8_t(big ? v >> (8 * (n - 1 - i)) : v >> (8 * i));
  };
  auto append = [&](uint32_t v, int n) {
    out.resize(out.size() + n);
    put(out.size() - n, v, n);
  };
  put(2, 42, 2);
  size_t link = 4;
  for (const Page& page : pages) {
    std::vector<Tag> tags = page.tags;
    if (!page.strips.empty()) {
      Tag offsets{uint16_t(page.tiles ? 324 : 273), LONG, {}}, counts{uint16_t(page.tiles ? 325 : 279), LONG, {}};
      for (const auto& strip : page.strips) {
        offsets.values.push_back(uint32_t(out.size()));
        counts.values.push_back(uint32_t(strip.size()));
        out.insert(out.end(), strip.begin(), strip.end());
      }
      tags.push_back(offsets);
      tags.push_back(counts);
    }
    std::stable_sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
    if (out.size() % 2) out.push_back(0);
    put(link, uint32_t(out.size()), 4);
    if (ifds != nullptr) ifds->push_back(uint32_t(out.size()));
    append(uint32_t(tags.size()), 2);
    std::vector<std::pair<size_t, const Tag*>> spilled;
    auto size_of = [](const Tag& t) { return t.type == SHORT ? 2 : t.type == ASCII ? 1 : 4; };
    for (const Tag& tag : tags) {
      append(tag.tag, 2);
      append(tag.type, 2);
      append(uint32_t(tag.type == RATIONAL ? tag.values.size() / 2 : tag.values.size()), 4);
      append(0, 4);
      if (tag.values.size() * size_of(tag) > 4) spilled.emplace_back(out.size() - 4, &tag);
      else
        for (size_t i = 0; i < tag.values.size(); ++i) put(out.size() - 4 + i * size_of(tag), tag.values[i], size_of(tag));
    }
    link = out.size();
    append(0, 4);
    for (auto [at, tag] : spilled) {
      put(at, uint32_t(out.size()), 4);
      for (uint32_t v : tag->values) append(v, size_of(*tag));
    }
  }
  return out;
}

// A grey or colour page of w x h with the given sample layout and strips.
Page page(uint32_t w, uint32_t h, uint32_t bits, uint32_t samples, uint32_t photometric,
          std::vector<std::vector<uint8_t>> strips, uint32_t compression = 1) {
  return {{{256, LONG, {w}}, {257, LONG, {h}}, {258, SHORT, std::vector<uint32_t>(samples, bits)},
           {259, SHORT, {compression}}, {262, SHORT, {photometric}}, {277, SHORT, {samples}}},
          std::move(strips)};
}

// The page with the tags set or replaced; `tiles` makes its tables tile tables.
Page with(Page p, const std::vector<Tag>& tags, bool tiles = false) {
  for (const Tag& tag : tags) {
    auto same = std::find_if(p.tags.begin(), p.tags.end(), [&](const Tag& t) { return t.tag == tag.tag; });
    if (same != p.tags.end()) *same = tag;
    else p.tags.push_back(tag);
  }
  p.tiles = tiles;
  return p;
}

LoadResult load_memory(const std::vector<uint8_t>& bytes) { return load_bytes("t.tif", bytes, FORMAT_TIFF); }

Page thumbnail(uint8_t v) { return with(page(1, 1, 8, 1, 1, {{v}}), {{254, LONG, {1}}}); }
Page grey2(uint8_t v) { return page(2, 1, 8, 1, 1, {{v, v}}); }

using TiffDirectory = RasterTest;

// Pages whose loading is refused, with the code; the group is left empty.
TEST_F(TiffDirectory, RefusedPagesGetTheirCodes) {
  const std::vector<uint8_t> big_frame = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0x03, 0xE8, 0x03, 0xE8, 1, 1, 0x11, 0};
  const std::vector<uint8_t> tile(256, 1);
  const std::vector<Tag> grid = {{322, SHORT, {16}}, {323, SHORT, {16}}};
  const Page base = page(2, 1, 8, 1, 1, {{7, 9}});
  std::vector<std::pair<Page, int32_t>> cases = {
      // Differing sizes, signed and floating-point samples, floating-point prediction, colour
      // maps of 16-bit indexes, YCbCr of 16 bits; below, compressions 6 and 7 of 1-bit pixels.
      {with(page(1, 1, 8, 3, 2, {{1, 2, 3}}), {{258, SHORT, {8, 8, 4}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 8, 1, 1, {{1}}), {{339, SHORT, {2}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 3, 2, {{1, 2, 3, 4, 5, 6}}), {{339, SHORT, {1, 3, 1}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 8, 1, 1, {{0}}, 5), {{317, SHORT, {3}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 1, 3, {{1, 2}}), {{320, SHORT, std::vector<uint32_t>(3, 0)}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 3, 6, {{1, 2, 3, 4, 5, 6}}), {{530, SHORT, {1, 1}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 8, 1, 1, {{0}}, 5), {{317, SHORT, {0}}}), ERR_INVALID_FILE},  // no Predictor 0
      // A JPEG strip must start as JPEG and describe no more than its strip (here 1000 x 1000).
      {page(8, 8, 8, 1, 1, {big_frame}, 7), ERR_INVALID_FILE},
      {page(8, 8, 8, 1, 1, {{1, 2, 3}}, 7), ERR_INVALID_FILE},
      // So must the shared tables and the strip joined: here an end of image and no data.
      {with(page(8, 8, 8, 1, 1, std::vector<std::vector<uint8_t>>(1), 7), {{347, ASCII, {0xFF, 0xD9}}}), ERR_INVALID_FILE},
      // Tiles: fewer than the grid, or a width that is no multiple of 16.
      {with(page(20, 16, 8, 1, 1, {tile}), grid, true), ERR_INVALID_FILE},
      {with(with(page(20, 16, 8, 1, 1, {tile, tile}), grid), {{322, SHORT, {24}}}, true), ERR_INVALID_FILE},
      // Fewer byte counts than offsets.
      {with(page(2, 2, 8, 1, 1, {}), {{278, SHORT, {1}}, {273, LONG, {8, 8}}, {279, LONG, {2}}}), ERR_INVALID_FILE},
      // Tags inside the table but unknown, and no page with a full image.
      {with(base, {{300, SHORT, {1}}}), ERR_INVALID_FILE},
      {thumbnail(1), ERR_INVALID_FILE},
      // Dimensions whose pixels no block may hold.
      {page(60000, 60000, 8, 3, 2, {{1, 2, 3}}), ERR_MEMORY},
  };
  for (uint32_t compression : {6, 7}) cases.push_back({page(8, 1, 1, 1, 0, {{0xFF}}, compression), ERR_UNKNOWN_FORMAT});
  // CCITT codes only 1-bit pixels (wider ones were landed from a line of bytes).
  for (uint32_t ccitt : {2, 3, 4}) cases.push_back({page(8, 1, 8, 3, 2, {{0x80, 0x80, 0x80}}, ccitt), ERR_INVALID_FILE});
  // Colour maps with more entries than the depth allows, or a count not a multiple of 3.
  for (size_t count : {9, 5})
    cases.push_back({with(page(2, 1, 1, 1, 3, {{0x40}}), {{320, SHORT, std::vector<uint32_t>(count, 0)}}), ERR_INVALID_FILE});
  // Wrong types and counts, orientations, photometrics, units and depths out of range.
  for (const Tag& tag : std::vector<Tag>{{259, LONG, {1}},     {262, SHORT, {1, 1}}, {256, RATIONAL, {1, 1}},
                                         {258, LONG, {8}},     {274, LONG, {1}},     {282, SHORT, {72}},
                                         {278, SHORT, {1, 1}}, {272, SHORT, {1}},    {296, SHORT, {4}},
                                         {293, LONG, {1}},     {262, SHORT, {7}},    {262, SHORT, {9}},
                                         {274, SHORT, {9}},    {258, SHORT, {3}}})
    cases.push_back({with(base, {tag}), ERR_INVALID_FILE});
  for (size_t i = 0; i < cases.size(); ++i) {
    test_reset();
    LoadResult r = load_memory(tiff_file({cases[i].first}));
    EXPECT_EQ(r.error, cases[i].second) << "row " << i;
    EXPECT_TRUE(r.images.empty()) << "row " << i;
  }
  // An unknown compression is logged.
  test_reset();
  const std::string log = log_to_temp("TIFF");
  EXPECT_EQ(load_memory(tiff_file({page(1, 1, 8, 1, 1, {{1}}, 50000)})).error, ERR_UNKNOWN_FORMAT);
  EXPECT_NE(read_text(log).find("Sortie 3 : compression\n"), std::string::npos);
}

// Files that load: chosen stored bytes of each page, as (x, y, value) per page.
TEST_F(TiffDirectory, PagesDecodeToTheirStoredBytes) {
  struct Probe {
    int x, y;
    uint8_t value;
  };
  std::vector<int> table_filler = {256};  // never clears its table: stops at 4096 entries
  table_filler.insert(table_filler.end(), 5000, 65);
  // Strips given as SHORT tables of two entries, inline in their entries.
  Page inline_tables = with(page(2, 3, 8, 1, 1, {}), {{273, SHORT, {8, 12}}, {279, SHORT, {4, 2}}, {278, SHORT, {2}}});
  std::vector<uint8_t> inline_file = tiff_file({inline_tables});
  inline_file.insert(inline_file.begin() + 8, {1, 2, 3, 4, 5, 6});
  inline_file[4] += 6;  // the directory moves after the strips
  const struct Case {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<Probe>> probes;  // one list per page loaded
  } cases[] = {
      {inline_file, {{{1, 1, 4}, {1, 2, 6}}}},
      // Tags above the table are skipped, known ones without effect passed over.
      {tiff_file({with(page(2, 1, 8, 1, 1, {{7, 9}}), {{33432, ASCII, {'a', 'b', 'c', 'd', 'e', 0}}, {270, ASCII, {'h', 'i', 0, 0, 0}}})}),
       {{{1, 0, 9}}}},
      // RowsPerStrip 4294967295 stands for the whole height.
      {tiff_file({with(page(2, 3, 8, 1, 1, {{1, 2, 3, 4, 5, 6}}), {{278, LONG, {0xFFFFFFFF}}})}), {{{1, 2, 6}}}},
      // PackBits row 1: literal 3 bytes, -128 skipped, 9 repeated twice (the run's extra byte
      // past the row dropped); row 2: 7 repeated five times.
      {tiff_file({page(5, 2, 8, 1, 1, {{2, 1, 2, 3, 0x80, 0xFE, 9, 0xFC, 7}}, 32773)}),
       {{{0, 0, 1}, {2, 0, 3}, {3, 0, 9}, {4, 0, 9}, {0, 1, 7}, {4, 1, 7}}}},
      // LZW (whose strings libtiff's files test): Clear, 'A', 'B', 258 ("AB"), 260 (the code being
      // defined: "ABA"), 258, 258, End is more output than the strip holds: it stops at its end.
      {tiff_file({page(3, 1, 8, 1, 1, {pack_codes(8, {256, 65, 66, 258, 260, 258, 258, 257}, true)}, 5)}), {{{2, 0, 'A'}}}},
      {tiff_file({page(100, 60, 8, 1, 1, {pack_codes(8, table_filler, true)}, 5)}), {{{99, 37, 'A'}, {99, 59, 0}}}},
      // Thumbnails are dropped wherever they stand, alone or in a row.
      {tiff_file({thumbnail(8), thumbnail(9), grey2(1), thumbnail(7), grey2(2), thumbnail(6), thumbnail(5)}),
       {{{1, 0, 1}}, {{1, 0, 2}}}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    test_reset();
    LoadResult r = load_memory(cases[i].bytes);
    const auto& probes = cases[i].probes;
    ASSERT_EQ(r.error, 0) << "row " << i;
    ASSERT_EQ(r.images.size(), probes.size()) << "row " << i;
    for (size_t k = 0; k < probes.size(); ++k)
      for (const Probe& p : probes[k]) EXPECT_EQ(pixel_at(r.images[k], p.y, p.x), p.value) << "row " << i << " page " << k;
  }
}

// A later page starts from the page before: a second directory of strip tables and
// resolutions only keeps the first one's size, depth and colour map.
TEST_F(TiffDirectory, LaterPagesKeepWhatTheyDoNotRepeat) {
  // 118 x 2.54 = 299.72 is truncated; a zero denominator gives 0; 601/2 inches gives 300.
  Page second{{{282, RATIONAL, {601, 2}}, {296, SHORT, {2}}}, {{0x80}}};
  LoadResult r = load_memory(tiff_file({with(page(2, 1, 1, 1, 3, {{0x40}}),
                                             {{282, RATIONAL, {118, 1}}, {283, RATIONAL, {300, 0}}, {296, SHORT, {3}},
                                              {320, SHORT, {65535, 32768, 0, 32767, 128, 129}}}),
                                        second}));
  ASSERT_EQ(r.images.size(), 2u);
  EXPECT_EQ(r.images[0]->x_resolution, 299);
  EXPECT_EQ(r.images[0]->y_resolution, 0);
  EXPECT_EQ(r.images[1]->x_resolution, 300);
  // The second page's map is the first one's: green 32767 is 127.498, blue 128 is 0.498 and 129 0.502.
  EXPECT_EQ(palette_rgb(r.images[1], 0), 0xFF0000u);
  EXPECT_EQ(palette_rgb(r.images[1], 1), 0x807F01u);
  EXPECT_EQ(stored_row(r.images[0], 0, 2), (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(stored_row(r.images[1], 0, 2), (std::vector<uint8_t>{1, 0}));
}

TEST_F(TiffDirectory, RowsTheDataMissesAreClearedInEveryOrientation) {
  // Three rows declared, one row of data: the rest is 0 wherever the orientation puts it.
  for (uint32_t orientation : {1u, 2u, 3u, 6u, 8u}) {
    test_reset();
    LoadResult r = load_memory(tiff_file({with(page(4, 3, 8, 1, 1, {{1, 2, 3, 4}}), {{274, SHORT, {orientation}}})}));
    ASSERT_EQ(r.error, 0) << orientation;
    // The four data bytes sum to 10: any byte left over in the missing rows adds to it.
    int sum = 0;
    for (int y = 0; y < r.images[0]->height; ++y)
      for (int x = 0; x < r.images[0]->width; ++x) sum += pixel_at(r.images[0], y, x);
    EXPECT_EQ(sum, 10) << orientation;
  }
}

// Damaged headers, chains and offsets, and pages that together pass the memory limit: the
// code, or the pages that load.
TEST_F(TiffDirectory, DamagedFilesAreRefusedAndLongChainsWalked) {
  std::vector<uint32_t> ifds, two_ifds;
  Bytes good, two;
  good.data = tiff_file({page(4, 4, 8, 1, 1, {std::vector<uint8_t>(16, 5)})}, true, &ifds);
  const uint32_t ifd = ifds[0];
  // Two pages whose second directory points back at the first, or at itself.
  two.data = tiff_file({grey2(1), grey2(2)}, false, &two_ifds);
  const size_t link = two_ifds[1] + 2 + 8 * 12;
  // 60000 thumbnails of one entry each in front of a page.
  std::vector<Page> chain(60000, Page{{{254, LONG, {1}}}, {}});
  chain.push_back(page(2, 1, 8, 1, 1, {{4, 5}}));
  // 4000 StripOffsets entries, each naming the same table of 100000 offsets.
  Bytes rereads = Bytes("II").u16le(42).u32le(400008).fill(400000, 0).u16le(4000);
  for (int e = 0; e < 4000; ++e) rereads.u16le(273).u16le(LONG).u32le(100000).u32le(8);
  rereads.u32le(0);  // no next directory
  const Page mega = page(1024, 1024, 8, 1, 1, {{5, 5}});  // pages of 1 MiB
  const struct Case {
    std::vector<uint8_t> bytes;
    int32_t code;
    int32_t pages = 0;
  } cases[] = {
      {good.data, 0, 1},
      {Bytes(good).set(1, {'X'}).data, 0, 1},  // any mark other than "II" reads big-endian
      {Bytes(good).set(0, {'I', 'I'}).data, ERR_INVALID_FILE},  // 42 read in the wrong order
      {Bytes(good).set(3, {43}).data, ERR_INVALID_FILE},
      {{'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ERR_INVALID_FILE},  // no entries, no image
      {Bytes(good).set(4, {0, 0, 0xFF, 0xF0}).data, ERR_INVALID_FILE},  // the first directory past the end
      // The strip offset (sixth entry) and byte count (eighth) past the end, a huge width (first).
      {Bytes(good).set(ifd + 2 + 5 * 12 + 8, {0xFF, 0xFF, 0xFF, 0}).data, ERR_INVALID_FILE},
      {Bytes(good).set(ifd + 2 + 7 * 12 + 8, {0x7F, 0xFF, 0xFF, 0xFF}).data, ERR_INVALID_FILE},
      {Bytes(good).set(ifd + 2 + 0 * 12 + 8, {0x7F, 0xFF, 0xFF, 0xFF}).data, ERR_MEMORY},
      {Bytes(two).set(link, {uint8_t(two_ifds[0]), uint8_t(two_ifds[0] >> 8), 0, 0}).data, ERR_INVALID_FILE},
      {Bytes(two).set(link, {uint8_t(two_ifds[1]), uint8_t(two_ifds[1] >> 8), 0, 0}).data, ERR_INVALID_FILE},
      {tiff_file(chain), 0, 1},
      {rereads.data, ERR_INVALID_FILE},
      {tiff_file({mega, mega}), 0, 2},
      {tiff_file({mega, mega, mega, mega}), ERR_MEMORY},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    test_reset();
    mem_set_limit(size_t{3} << 20);
    LoadResult r = load_memory(cases[i].bytes);
    EXPECT_EQ(r.error, cases[i].code) << "row " << i;
    EXPECT_EQ(r.images.size(), size_t(cases[i].pages)) << "row " << i;
    for (const ImageRecord* image : r.images) EXPECT_EQ(pixel_at(image, 0, 1), 5) << "row " << i;
  }
}

}  // namespace
