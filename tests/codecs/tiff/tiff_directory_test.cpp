// Hand-built TIFF files: the header, the directory chain, the tag checks, the colour rules of
// row landing and each decompressor's edge cases, and hostile files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "codecs/raster_test_support.h"
#include "support/test_support.h"

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

// Writes pages in order, each directory after its data; strip tables are added from `strips`.
class TiffWriter {
 public:
  explicit TiffWriter(bool big_endian = false) : big_(big_endian) {
    bytes_ = {big_ ? uint8_t('M') : uint8_t('I'), big_ ? uint8_t('M') : uint8_t('I')};
    put16(42);
    put32(0);
  }

  std::vector<uint8_t> build(const std::vector<Page>& pages) {
    size_t previous_link = 4;
    for (const Page& page : pages) {
      std::vector<Tag> tags = page.tags;
      if (!page.strips.empty()) {
        Tag offsets{static_cast<uint16_t>(page.tiles ? 324 : 273), LONG, {}};
        Tag counts{static_cast<uint16_t>(page.tiles ? 325 : 279), LONG, {}};
        for (const auto& strip : page.strips) {
          offsets.values.push_back(static_cast<uint32_t>(bytes_.size()));
          counts.values.push_back(static_cast<uint32_t>(strip.size()));
          bytes_.insert(bytes_.end(), strip.begin(), strip.end());
        }
        tags.push_back(offsets);
        tags.push_back(counts);
      }
      std::stable_sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
      if (bytes_.size() % 2) bytes_.push_back(0);
      const uint32_t ifd = static_cast<uint32_t>(bytes_.size());
      patch32(previous_link, ifd);
      ifd_offsets.push_back(ifd);
      put16(static_cast<uint32_t>(tags.size()));
      std::vector<std::pair<size_t, std::vector<uint8_t>>> spill;
      for (const Tag& tag : tags) {
        put16(tag.tag);
        put16(tag.type);
        const uint32_t count = tag.type == RATIONAL ? uint32_t(tag.values.size() / 2) : uint32_t(tag.values.size());
        put32(count);
        std::vector<uint8_t> data = encode(tag);
        if (data.size() <= 4) {
          data.resize(4, 0);
          bytes_.insert(bytes_.end(), data.begin(), data.end());
        } else {
          spill.emplace_back(bytes_.size(), data);
          put32(0);
        }
      }
      previous_link = bytes_.size();
      put32(0);
      for (auto& [at, data] : spill) {
        patch32(at, static_cast<uint32_t>(bytes_.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
      }
    }
    return bytes_;
  }

  void patch32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(big_ ? v >> (24 - 8 * i) : v >> (8 * i));
  }

  std::vector<uint32_t> ifd_offsets;

 private:
  std::vector<uint8_t> encode(const Tag& tag) const {
    std::vector<uint8_t> out;
    auto add = [&](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(big_ ? v >> (8 * (n - 1 - i)) : v >> (8 * i)));
    };
    for (uint32_t v : tag.values) add(v, tag.type == SHORT ? 2 : tag.type == ASCII ? 1 : 4);
    return out;
  }
  void put16(uint32_t v) {
    bytes_.push_back(static_cast<uint8_t>(big_ ? v >> 8 : v));
    bytes_.push_back(static_cast<uint8_t>(big_ ? v : v >> 8));
  }
  void put32(uint32_t v) {
    bytes_.resize(bytes_.size() + 4);
    patch32(bytes_.size() - 4, v);
  }

  bool big_;
  std::vector<uint8_t> bytes_;
};

// A grey or colour page of w x h with the given sample layout and raw strips.
Page page(uint32_t w, uint32_t h, uint32_t bits, uint32_t samples, uint32_t photometric,
          std::vector<std::vector<uint8_t>> strips, uint32_t compression = 1) {
  Page p;
  p.tags = {{256, LONG, {w}},
            {257, LONG, {h}},
            {258, SHORT, std::vector<uint32_t>(samples, bits)},
            {259, SHORT, {compression}},
            {262, SHORT, {photometric}},
            {277, SHORT, {samples}}};
  p.strips = std::move(strips);
  return p;
}

void set_tag(Page* p, Tag tag) {
  for (Tag& t : p->tags)
    if (t.tag == tag.tag) {
      t = tag;
      return;
    }
  p->tags.push_back(tag);
}

// The page with the tags set or replaced; `tiles` makes its tables tile tables.
Page with(Page p, const std::vector<Tag>& tags, bool tiles = false) {
  for (const Tag& tag : tags) set_tag(&p, tag);
  p.tiles = tiles;
  return p;
}

LoadResult load_bytes(const std::vector<uint8_t>& bytes, const char* name = "t.tif") {
  return load_file(write_temp_file(name, bytes));
}

// Images left in the group after a load; a failed load leaves none.
int32_t images_left(const LoadResult& r) {
  int32_t count = -1;
  group_count(r.group, TYPE_IMAGE, &count);
  return count;
}

LoadResult load_pages(const std::vector<Page>& pages, bool big_endian = false) {
  return load_bytes(TiffWriter(big_endian).build(pages));
}

uint8_t pixel(const ImageRecord* image, int x, int y) { return pixel_at(image, y, x); }

class TiffDirectory : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

// Both byte orders are read by the conformance tests; here the marks and the 42 that check them.
TEST_F(TiffDirectory, HeaderMarksAndTheAnswer) {
  const std::vector<uint8_t> good = TiffWriter(true).build({page(3, 2, 8, 1, 1, {{1, 2, 3, 4, 5, 6}})});
  const std::pair<std::vector<std::pair<size_t, uint8_t>>, int32_t> cases[] = {
      {{}, 0},
      {{{1, 'X'}}, 0},                                 // any mark other than "II" reads big-endian
      {{{0, 'I'}, {1, 'I'}}, ERR_INVALID_FILE},        // 42 read in the wrong order
      {{{3, 43}}, ERR_INVALID_FILE}};
  for (const auto& [edits, code] : cases) {
    test_reset();
    std::vector<uint8_t> bytes = good;
    for (auto [at, value] : edits) bytes[at] = value;
    LoadResult r = load_bytes_as("forced.tif", bytes, FORMAT_TIFF);
    EXPECT_EQ(r.error, code) << edits.size();
    if (code != 0) {
      EXPECT_EQ(images_left(r), 0);
    }
  }
}

TEST_F(TiffDirectory, TagsAboveTheTableAreSkippedAndUnknownOnesRefused) {
  Page p = page(2, 1, 8, 1, 1, {{7, 9}});
  p.tags.push_back({33432, ASCII, {'a', 'b', 'c', 'd', 'e', 0}});
  p.tags.push_back({270, ASCII, {'h', 'e', 'l', 'l', 'o', 0}});
  EXPECT_EQ(load_pages({p}).error, 0);
  p.tags.push_back({300, SHORT, {1}});
  test_reset();
  EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE);
}

TEST_F(TiffDirectory, WrongTypesAndCountsAreInvalid) {
  const std::vector<Tag> bad = {{259, LONG, {1}},     {262, SHORT, {1, 1}},  {256, RATIONAL, {1, 1}},
                                {258, LONG, {8}},     {274, LONG, {1}},      {282, SHORT, {72}},
                                {278, SHORT, {1, 1}}, {272, SHORT, {1}},     {296, SHORT, {4}},
                                {293, LONG, {1}},     {262, SHORT, {7}},     {262, SHORT, {9}},
                                {274, SHORT, {9}},    {258, SHORT, {3}}};  // orientation and depth out of range
  for (const Tag& tag : bad) {
    test_reset();
    Page p = page(2, 1, 8, 1, 1, {{7, 9}});
    set_tag(&p, tag);
    EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE) << "tag " << tag.tag;
  }
}

TEST_F(TiffDirectory, RefusedPagesGetTheirCodes) {
  const std::vector<uint8_t> big_frame = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0x03, 0xE8, 0x03, 0xE8, 1, 1, 0x11, 0};
  const std::vector<uint8_t> tile(256, 1);
  const std::vector<Tag> grid = {{322, SHORT, {16}}, {323, SHORT, {16}}};
  const std::pair<Page, int32_t> cases[] = {
      // Differing sizes, signed and floating-point samples, floating-point prediction, colour
      // maps of 16-bit indexes, YCbCr of 16 bits, compressions 6 and 7 of 1-bit pixels.
      {with(page(1, 1, 8, 3, 2, {{1, 2, 3}}), {{258, SHORT, {8, 8, 4}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 8, 1, 1, {{1}}), {{339, SHORT, {2}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 3, 2, {{1, 2, 3, 4, 5, 6}}), {{339, SHORT, {1, 3, 1}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 8, 1, 1, {{0}}, 5), {{317, SHORT, {3}}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 1, 3, {{1, 2}}), {{320, SHORT, std::vector<uint32_t>(3, 0)}}), ERR_UNKNOWN_FORMAT},
      {with(page(1, 1, 16, 3, 6, {{1, 2, 3, 4, 5, 6}}), {{530, SHORT, {1, 1}}}), ERR_UNKNOWN_FORMAT},
      {page(8, 1, 1, 1, 0, {{0xFF}}, 6), ERR_UNKNOWN_FORMAT},
      {page(8, 1, 1, 1, 0, {{0xFF}}, 7), ERR_UNKNOWN_FORMAT},
      // CCITT codes only 1-bit pixels (wider ones were landed from a line of bytes).
      {page(8, 1, 8, 3, 2, {{0x80, 0x80, 0x80}}, 2), ERR_INVALID_FILE},
      {page(8, 1, 8, 3, 2, {{0x80, 0x80, 0x80}}, 3), ERR_INVALID_FILE},
      {page(8, 1, 8, 3, 2, {{0x80, 0x80, 0x80}}, 4), ERR_INVALID_FILE},
      {with(page(1, 1, 8, 1, 1, {{0}}, 5), {{317, SHORT, {0}}}), ERR_INVALID_FILE},  // no Predictor 0
      // A JPEG strip must start as JPEG and describe no more than its strip (here 1000 x 1000).
      {page(8, 8, 8, 1, 1, {big_frame}, 7), ERR_INVALID_FILE},
      {page(8, 8, 8, 1, 1, {{1, 2, 3}}, 7), ERR_INVALID_FILE},
      // Colour maps with more entries than the depth allows, or a count not a multiple of 3.
      {with(page(2, 1, 1, 1, 3, {{0x40}}), {{320, SHORT, std::vector<uint32_t>(9, 0)}}), ERR_INVALID_FILE},
      {with(page(2, 1, 1, 1, 3, {{0x40}}), {{320, SHORT, std::vector<uint32_t>(5, 0)}}), ERR_INVALID_FILE},
      // Tiles: fewer than the grid, or a width that is no multiple of 16.
      {with(page(20, 16, 8, 1, 1, {tile}), grid, true), ERR_INVALID_FILE},
      {with(with(page(20, 16, 8, 1, 1, {tile, tile}), grid), {{322, SHORT, {24}}}, true), ERR_INVALID_FILE},
      // Fewer byte counts than offsets.
      {with(page(2, 2, 8, 1, 1, {}), {{278, SHORT, {1}}, {273, LONG, {8, 8}}, {279, LONG, {2}}}), ERR_INVALID_FILE},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    test_reset();
    LoadResult r = load_pages({cases[i].first});
    EXPECT_EQ(r.error, cases[i].second) << "row " << i;
    EXPECT_EQ(images_left(r), 0) << "row " << i;
  }
  // An unknown compression is logged.
  test_reset();
  const std::string log = log_to_temp("TIFF");
  EXPECT_EQ(load_pages({page(1, 1, 8, 1, 1, {{1}}, 50000)}).error, ERR_UNKNOWN_FORMAT);
  EXPECT_NE(read_text(log).find("Sortie 3 : compression\n"), std::string::npos);
}

TEST_F(TiffDirectory, ResolutionsAreIntegerQuotientsInTheFileUnit) {
  Page p = page(1, 1, 8, 1, 1, {{1}});
  p.tags.push_back({282, RATIONAL, {118, 1}});
  p.tags.push_back({283, RATIONAL, {300, 0}});
  p.tags.push_back({296, SHORT, {3}});
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->x_resolution, 299);  // 118 x 2.54 = 299.72
  EXPECT_EQ(r.images[0]->y_resolution, 0);    // a zero denominator gives 0
  test_reset();
  p.tags.back() = {296, SHORT, {2}};
  p.tags[6] = {282, RATIONAL, {601, 2}};
  r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->x_resolution, 300);
}

TEST_F(TiffDirectory, ColourMapRoundsToNearestByte) {
  Page p = page(2, 1, 1, 1, 3, {{0x40}});
  p.tags.push_back({320, SHORT, {65535, 32768, 0, 32767, 128, 129}});
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  // Green 32767 is 127.498, blue 128 is 0.498 and 129 0.502.
  EXPECT_EQ((std::vector<uint32_t>{palette_rgb(r.images[0], 0), palette_rgb(r.images[0], 1)}),
            (std::vector<uint32_t>{0xFF0000, 0x807F01}));
  EXPECT_EQ(stored_row(r.images[0], 0, 2), (std::vector<uint8_t>{0, 1}));
}

TEST_F(TiffDirectory, StripTablesAndRowsPerStrip) {
  // One strip: RowsPerStrip 4294967295 or none stands for the whole height.
  Page p = page(2, 3, 8, 1, 1, {{1, 2, 3, 4, 5, 6}});
  p.tags.push_back({278, LONG, {0xFFFFFFFF}});
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 1, 2), 6);
  // SHORT tables of two entries stand inside their entries.
  test_reset();
  std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6};
  Page inline_tables = page(2, 3, 8, 1, 1, {});
  inline_tables.tags.push_back({273, SHORT, {8, 12}});
  inline_tables.tags.push_back({279, SHORT, {4, 2}});
  inline_tables.tags.push_back({278, SHORT, {2}});
  std::vector<uint8_t> built = TiffWriter().build({inline_tables});
  built.insert(built.begin() + 8, bytes.begin() + 8, bytes.end());
  const uint32_t ifd = built[4] | built[5] << 8;
  built[4] = static_cast<uint8_t>(ifd + 6);
  built[5] = static_cast<uint8_t>((ifd + 6) >> 8);
  r = load_bytes(built);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 1, 1), 4);
  EXPECT_EQ(pixel(r.images[0], 1, 2), 6);
}

TEST_F(TiffDirectory, PackBitsRunsAndTheNoOperationByte) {
  // Row 1: literal 3 bytes, -128 skipped, repeat 9 twice (the run's extra byte past the row
  // is dropped). Row 2: repeat 7 five times.
  std::vector<uint8_t> data = {2, 1, 2, 3, 0x80, 0xFE, 9, 0xFC, 7};
  LoadResult r = load_pages({page(5, 2, 8, 1, 1, {data}, 32773)});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(stored_row(r.images[0], 0, 5), (std::vector<uint8_t>{1, 2, 3, 9, 9}));
  EXPECT_EQ(stored_row(r.images[0], 1, 5), std::vector<uint8_t>(5, 7));
}

// LZW codes after a first Clear, most significant bit first; the width grows from 9 to 12
// bits as each code after the first defines an entry.
std::vector<uint8_t> lzw_bits(const std::vector<uint32_t>& codes) {
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int n = 0, width = 9;
  uint32_t last = 257;
  for (size_t i = 0; i < codes.size(); ++i) {
    acc = (acc << width) | codes[i];
    n += width;
    for (; n >= 8; n -= 8) out.push_back(static_cast<uint8_t>(acc >> (n - 8)));
    if (i >= 2) ++last;
    if (width < 12 && last >= (1u << width) - 2) ++width;
  }
  if (n > 0) out.push_back(static_cast<uint8_t>(acc << (8 - n)));
  return out;
}

TEST_F(TiffDirectory, LzwStringsAndTheirLimits) {
  // Clear, 'A', 'B', 258 ("AB"), 260 (the code being defined: "BAB"... here "ABA"), End.
  std::vector<uint8_t> data = lzw_bits({256, 65, 66, 258, 260, 257});
  LoadResult r = load_pages({page(8, 1, 8, 1, 1, {data}, 5)});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(stored_row(r.images[0], 0, 8), (std::vector<uint8_t>{'A', 'B', 'A', 'B', 'A', 'B', 'A', 0}));

  // A code beyond the next one to be defined is invalid.
  test_reset();
  EXPECT_EQ(load_pages({page(8, 1, 8, 1, 1, {lzw_bits({256, 65, 300, 257})}, 5)}).error, ERR_INVALID_FILE);

  // More output than the strip holds stops at the strip's end.
  test_reset();
  r = load_pages({page(3, 1, 8, 1, 1, {lzw_bits({256, 65, 66, 258, 260, 258, 258, 257})}, 5)});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 2, 0), 'A');

  // A stream that never clears its table and keeps defining codes stops at 4096 entries.
  test_reset();
  std::vector<uint32_t> codes = {256};
  for (int i = 0; i < 5000; ++i) codes.push_back(65);
  r = load_pages({page(100, 60, 8, 1, 1, {lzw_bits(codes)}, 5)});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 99, 37), 'A');  // the 3800th byte was reached
  EXPECT_EQ(pixel(r.images[0], 99, 59), 0);    // the table filled up before the end
}

TEST_F(TiffDirectory, RowsTheDataMissesAreClearedInEveryOrientation) {
  // Three rows declared, one row of data: the rest is 0 wherever the orientation puts it.
  for (uint32_t orientation : {1u, 2u, 3u, 6u, 8u}) {
    test_reset();
    Page p = page(4, 3, 8, 1, 1, {{1, 2, 3, 4}});
    p.tags.push_back({274, SHORT, {orientation}});
    LoadResult r = load_pages({p});
    ASSERT_EQ(r.error, 0) << orientation;
    const ImageRecord* image = r.images[0];
    int sum = 0, nonzero = 0;
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) {
        sum += pixel(image, x, y);
        nonzero += pixel(image, x, y) != 0;
      }
    EXPECT_EQ(sum, 10) << orientation;
    EXPECT_EQ(nonzero, 4) << orientation;
  }
}

// Pages: the chain, copies of the previous page, thumbnails dropped wherever they stand.
TEST_F(TiffDirectory, LaterPagesStartFromThePageBefore) {
  Page first = page(2, 1, 8, 1, 3, {{0, 1}});
  first.tags.push_back({320, SHORT, std::vector<uint32_t>(768, 65535)});
  Page second;
  second.strips = {{1, 0}};  // only the tables: everything else comes from page one
  LoadResult r = load_pages({first, second});
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 2u);
  EXPECT_EQ(r.images[1]->width, 2);
  EXPECT_EQ(r.images[1]->palette_red[1], 255);
  EXPECT_EQ(pixel(r.images[1], 0, 0), 1);
  EXPECT_NE(r.images[0]->pixels, r.images[1]->pixels);
}

TEST_F(TiffDirectory, ReducedResolutionDirectoriesAreDroppedAnywhere) {
  auto full = [](uint8_t v) { return page(2, 1, 8, 1, 1, {{v, v}}); };
  auto thumb = [](uint8_t v) {
    Page p = page(1, 1, 8, 1, 1, {{v}});
    p.tags.push_back({254, LONG, {1}});
    return p;
  };
  struct Case {
    std::vector<Page> pages;
    std::vector<uint8_t> kept;
  };
  const std::vector<Case> cases = {{{thumb(9), full(1), full(2)}, {1, 2}},
                                   {{full(1), thumb(9), full(2)}, {1, 2}},
                                   {{full(1), full(2), thumb(9)}, {1, 2}},
                                   {{thumb(8), thumb(9), full(3)}, {3}},
                                   {{full(1), thumb(8), thumb(9)}, {1}}};
  for (size_t i = 0; i < cases.size(); ++i) {
    test_reset();
    LoadResult r = load_pages(cases[i].pages);
    ASSERT_EQ(r.error, 0) << i;
    ASSERT_EQ(r.images.size(), cases[i].kept.size()) << i;
    for (size_t k = 0; k < r.images.size(); ++k) {
      EXPECT_EQ(r.images[k]->width, 2) << i;
      EXPECT_EQ(pixel(r.images[k], 1, 0), cases[i].kept[k]) << i;
    }
  }
  test_reset();
  LoadResult none = load_pages({thumb(1), thumb(2)});
  EXPECT_EQ(none.error, ERR_INVALID_FILE);
  EXPECT_EQ(images_left(none), 0);
}

TEST_F(TiffDirectory, ChainsThatLoopStop) {
  TiffWriter w;
  std::vector<uint8_t> bytes = w.build({page(1, 1, 8, 1, 1, {{1}}), page(1, 1, 8, 1, 1, {{2}})});
  // The second directory points back at the first.
  const uint32_t second = w.ifd_offsets[1];
  const size_t link = second + 2 + 8 * 12;
  for (uint32_t target : {w.ifd_offsets[0], second}) {
    test_reset();
    for (int i = 0; i < 4; ++i) bytes[link + i] = static_cast<uint8_t>(target >> (8 * i));
    LoadResult r = load_bytes(bytes);
    EXPECT_EQ(r.error, ERR_INVALID_FILE);
    EXPECT_EQ(images_left(r), 0);
  }
}

TEST_F(TiffDirectory, LongChainsOfDroppedDirectoriesAreWalkedQuickly) {
  TiffWriter w;
  std::vector<uint8_t> bytes = w.build({page(2, 1, 8, 1, 1, {{4, 5}})});
  uint32_t next = w.ifd_offsets[0];
  // 60000 thumbnails of one entry each, added in front of the page in the chain.
  for (int i = 0; i < 60000; ++i) {
    const uint32_t at = static_cast<uint32_t>(bytes.size());
    const uint8_t ifd[18] = {1, 0, 254, 0, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                             uint8_t(next), uint8_t(next >> 8), uint8_t(next >> 16), uint8_t(next >> 24)};
    bytes.insert(bytes.end(), ifd, ifd + 18);
    next = at;
  }
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(next >> (8 * i));
  LoadResult r = load_bytes(bytes);
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 1u);
  EXPECT_EQ(pixel(r.images[0], 1, 0), 5);
}

TEST_F(TiffDirectory, DirectoriesThatReadTheSameTableOverAndOverAreRefused) {
  // 4000 StripOffsets entries, each naming the same table of 100000 offsets.
  const uint32_t values = 100000, entries = 4000;
  std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 0, 0, 0, 0};
  bytes.resize(8 + values * 4, 0);
  const uint32_t ifd = static_cast<uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(ifd >> (8 * i));
  bytes.push_back(entries & 0xFF);
  bytes.push_back(entries >> 8);
  for (uint32_t e = 0; e < entries; ++e) {
    const uint8_t entry[12] = {17, 1, 4, 0, uint8_t(values), uint8_t(values >> 8), uint8_t(values >> 16), 0, 8, 0, 0, 0};
    bytes.insert(bytes.end(), entry, entry + 12);
  }
  bytes.insert(bytes.end(), 4, 0);
  EXPECT_EQ(load_bytes(bytes).error, ERR_INVALID_FILE);
}

TEST_F(TiffDirectory, EmptyDirectoryIsReadWithoutLosingItsPlace) {
  // The first directory holds no entries; its next offset right after the count is 0.
  std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  LoadResult r = load_bytes(bytes);
  EXPECT_EQ(r.error, ERR_INVALID_FILE);  // no image data
}

TEST_F(TiffDirectory, OffsetsAndSizesPastTheFileAreRefused) {
  TiffWriter w;
  const std::vector<uint8_t> good = w.build({page(4, 4, 8, 1, 1, {std::vector<uint8_t>(16, 5)})});
  ASSERT_EQ(load_bytes(good).error, 0);
  const uint32_t ifd = w.ifd_offsets[0];
  struct Damage {
    size_t at;  // the byte offset of a 32-bit value
    uint32_t value;
    int32_t code;
  };
  // The entries are sorted: width (256) is the first, the strip offset (273) the sixth and its
  // byte count (279) the eighth; the first directory's offset is at 4.
  const Damage damages[] = {{ifd + 2 + 5 * 12 + 8, 0xFFFFFF00, ERR_INVALID_FILE},
                            {ifd + 2 + 7 * 12 + 8, 0x7FFFFFFF, ERR_INVALID_FILE},
                            {ifd + 2 + 0 * 12 + 8, 0x7FFFFFFF, ERR_MEMORY},
                            {4, 0xFFF0, ERR_INVALID_FILE}};
  for (const Damage& d : damages) {
    test_reset();
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 4; ++k) bytes[d.at + k] = static_cast<uint8_t>(d.value >> (8 * k));
    LoadResult r = load_bytes(bytes);
    EXPECT_EQ(r.error, d.code) << d.at;
    EXPECT_EQ(images_left(r), 0) << d.at;
  }
}

TEST_F(TiffDirectory, HugeDimensionsAreRefusedWithoutAllocating) {
  Page p = page(60000, 60000, 8, 3, 2, {{1, 2, 3}});
  LoadResult r = load_pages({p});
  EXPECT_EQ(r.error, ERR_MEMORY);
  EXPECT_EQ(images_left(r), 0);
  // Pages that each fit but together exceed the limit.
  test_reset();
  mem_set_limit(size_t{3} << 20);
  Page mega = page(1024, 1024, 8, 1, 1, {{1}});
  LoadResult two = load_pages({mega, mega});
  EXPECT_EQ(two.error, 0);
  test_reset();
  mem_set_limit(size_t{3} << 20);
  LoadResult four = load_pages({mega, mega, mega, mega});
  EXPECT_EQ(four.error, ERR_MEMORY);
  EXPECT_EQ(images_left(four), 0);
}

}  // namespace
