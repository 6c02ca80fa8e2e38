// Hand-built TIFF files: the header, the directory chain, the tag checks, the colour rules of
// row landing and each decompressor's edge cases, and hostile files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
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

LoadResult load_bytes(const std::vector<uint8_t>& bytes, const char* name = "t.tif") {
  return load_file(write_temp_file(name, bytes));
}

// Hands the bytes to the TIFF decoder whatever identification would say of them.
int32_t decode_as_tiff(const std::vector<uint8_t>& bytes) {
  std::string path = write_temp_file("forced.tif", bytes);
  Handle list = 0, descriptor = 0, group = 0;
  file_descriptor_create(path.c_str(), &list, &descriptor);
  FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor);
  d->status = FILE_SUPPORTED;
  d->format = FORMAT_TIFF;
  g_error = 0;
  group_create(&group);
  image_load(descriptor, &group);
  int32_t error = g_error;
  g_error = 0;
  int32_t members = -1;
  group_count(group, TYPE_IMAGE, &members);
  EXPECT_TRUE(error == 0 || members == 0);
  return error;
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

uint8_t pixel(const ImageRecord* image, int x, int y) { return image->pixels[size_t(y) * image->row_bytes + x]; }
const uint8_t* pixel4(const ImageRecord* image, int x, int y) {
  return image->pixels + size_t(y) * image->row_bytes + size_t(x) * 4;
}

class TiffDirectory : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

TEST_F(TiffDirectory, EitherByteOrderReadsTheSamePage) {
  for (bool big : {false, true}) {
    test_reset();
    LoadResult r = load_pages({page(3, 2, 8, 1, 1, {{1, 2, 3, 4, 5, 6}})}, big);
    ASSERT_EQ(r.error, 0) << big;
    ASSERT_EQ(r.images.size(), 1u);
    const ImageRecord* image = r.images[0];
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->row_bytes, 4);
    EXPECT_EQ(image->description, DESC_TIFF_NONE);
    EXPECT_EQ(pixel(image, 2, 1), 6);
    EXPECT_EQ(image->palette_red[200], 200);
  }
  // Any mark other than "II" reads big-endian.
  std::vector<uint8_t> bytes = TiffWriter(true).build({page(3, 2, 8, 1, 1, {{1, 2, 3, 4, 5, 6}})});
  bytes[1] = 'X';
  test_reset();
  EXPECT_EQ(decode_as_tiff(bytes), 0);
  bytes[0] = bytes[1] = 'I';
  test_reset();
  EXPECT_EQ(decode_as_tiff(bytes), ERR_INVALID_FILE);  // 42 read in the wrong order
}

TEST_F(TiffDirectory, HeaderWithout42IsInvalid) {
  std::vector<uint8_t> bytes = TiffWriter().build({page(1, 1, 8, 1, 1, {{0}})});
  EXPECT_EQ(decode_as_tiff(bytes), 0);
  bytes[2] = 43;
  test_reset();
  EXPECT_EQ(decode_as_tiff(bytes), ERR_INVALID_FILE);
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
                                {293, LONG, {1}},     {262, SHORT, {7}},     {262, SHORT, {9}}};
  for (const Tag& tag : bad) {
    test_reset();
    Page p = page(2, 1, 8, 1, 1, {{7, 9}});
    set_tag(&p, tag);
    EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE) << "tag " << tag.tag;
  }
}

TEST_F(TiffDirectory, UnsupportedSamplesAndCompressionsAreRefused) {
  // Differing sizes, signed and floating-point samples, floating-point prediction, colour
  // maps of 16-bit indexes, YCbCr of 16 bits.
  Page lzw = page(1, 1, 8, 1, 1, {{0}}, 5);
  lzw.tags.push_back({317, SHORT, {3}});
  const std::vector<std::pair<Page, Tag>> refused = {
      {page(1, 1, 8, 3, 2, {{1, 2, 3}}), {258, SHORT, {8, 8, 4}}},
      {page(1, 1, 8, 1, 1, {{1}}), {339, SHORT, {2}}},
      {page(1, 1, 16, 3, 2, {{1, 2, 3, 4, 5, 6}}), {339, SHORT, {1, 3, 1}}},
      {lzw, {317, SHORT, {3}}},
      {page(1, 1, 16, 1, 3, {{1, 2}}), {320, SHORT, std::vector<uint32_t>(3, 0)}},
      {page(1, 1, 16, 3, 6, {{1, 2, 3, 4, 5, 6}}), {530, SHORT, {1, 1}}}};
  for (const auto& [base, tag] : refused) {
    test_reset();
    Page p = base;
    set_tag(&p, tag);
    EXPECT_EQ(load_pages({p}).error, ERR_UNKNOWN_FORMAT) << tag.tag;
  }
  // CCITT codes only 1-bit pixels (wider ones were landed from a line of bytes); Predictor 0
  // does not exist.
  for (uint32_t compression : {2u, 3u, 4u}) {
    test_reset();
    EXPECT_EQ(load_pages({page(8, 1, 8, 3, 2, {{0x80, 0x80, 0x80}}, compression)}).error, ERR_INVALID_FILE);
  }
  test_reset();
  set_tag(&lzw, {317, SHORT, {0}});
  EXPECT_EQ(load_pages({lzw}).error, ERR_INVALID_FILE);

  test_reset();
  const std::string log = test_temp_dir() + "/zz_TIFF.log";
  std::remove(log.c_str());
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(test_temp_dir().c_str()), 0);
  log_set_path("TIFF");
  EXPECT_EQ(load_pages({page(1, 1, 8, 1, 1, {{1}}, 50000)}).error, ERR_UNKNOWN_FORMAT);
  log_set_path("");
  ASSERT_EQ(chdir(cwd), 0);
  std::vector<uint8_t> text = read_file(log);
  EXPECT_NE(std::string(text.begin(), text.end()).find("Sortie 3 : compression\n"), std::string::npos);

  for (uint32_t compression : {6u, 7u}) {
    test_reset();
    EXPECT_EQ(load_pages({page(8, 1, 1, 1, 0, {{0xFF}}, compression)}).error, ERR_UNKNOWN_FORMAT)
        << compression;
  }
}

// A JPEG strip must start as JPEG and describe no more than its strip (here 1000 x 1000).
TEST_F(TiffDirectory, JpegStripsThatCannotStandThereAreInvalid) {
  const std::vector<uint8_t> frame = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0x03, 0xE8, 0x03, 0xE8, 1, 1, 0x11, 0};
  for (const std::vector<uint8_t>& strip : {frame, std::vector<uint8_t>{1, 2, 3}}) {
    test_reset();
    EXPECT_EQ(load_pages({page(8, 8, 8, 1, 1, {strip}, 7)}).error, ERR_INVALID_FILE);
  }
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
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->palette_red[0], 255);
  EXPECT_EQ(image->palette_red[1], 128);
  EXPECT_EQ(image->palette_green[0], 0);
  EXPECT_EQ(image->palette_green[1], 127);  // 127.498
  EXPECT_EQ(image->palette_blue[0], 0);     // 0.498
  EXPECT_EQ(image->palette_blue[1], 1);     // 0.502
  EXPECT_EQ(pixel(image, 0, 0), 0);
  EXPECT_EQ(pixel(image, 1, 0), 1);
  // More entries than the depth allows, or a count that is not a multiple of 3.
  for (std::vector<uint32_t> map : {std::vector<uint32_t>(9, 0), std::vector<uint32_t>(5, 0)}) {
    test_reset();
    set_tag(&p, {320, SHORT, map});
    EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE);
  }
}

TEST_F(TiffDirectory, GreyRampsFollowThePhotometric) {
  LoadResult r = load_pages({page(2, 1, 4, 1, 0, {{0x0F}})});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->palette_red[0], 255);
  EXPECT_EQ(r.images[0]->palette_red[1], 238);
  EXPECT_EQ(r.images[0]->palette_red[15], 0);
  EXPECT_EQ(pixel(r.images[0], 1, 0), 15);
  // 16-bit samples are rounded to 8 bits (128 / 257 is just below one half) on an 8-bit ramp.
  test_reset();
  r = load_pages({page(4, 1, 16, 1, 1, {{128, 0, 129, 0, 0x80, 0x7F, 0xFF, 0xFF}})});
  ASSERT_EQ(r.error, 0);
  const uint8_t narrowed[4] = {0, 1, 127, 255};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(pixel(r.images[0], x, 0), narrowed[x]) << x;
  EXPECT_EQ(r.images[0]->palette_red[200], 200);
  // Four 2-bit samples a byte on a ramp of four greys.
  test_reset();
  r = load_pages({page(5, 1, 2, 1, 1, {{0x1B, 0x40}})});
  ASSERT_EQ(r.error, 0);
  const uint8_t two_bits[5] = {0, 1, 2, 3, 1};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(pixel(r.images[0], x, 0), two_bits[x]) << x;
  EXPECT_EQ(r.images[0]->palette_red[2], 170);
  test_reset();
  EXPECT_EQ(load_pages({page(4, 1, 3, 1, 1, {{0x1B, 0}})}).error, ERR_INVALID_FILE);
}

TEST_F(TiffDirectory, ChunkyColourLandsAsFourBytePixels) {
  LoadResult r = load_pages({page(2, 1, 8, 3, 2, {{10, 20, 30, 40, 50, 60}})});
  ASSERT_EQ(r.error, 0);
  const ImageRecord* image = r.images[0];
  EXPECT_EQ(image->bits, 24);
  EXPECT_EQ(image->planes, 1);
  EXPECT_EQ(image->pixel_bytes, 4);
  EXPECT_EQ(image->row_bytes, 8);
  EXPECT_EQ(0, std::memcmp(pixel4(image, 1, 0), "\x28\x32\x3c\x00", 4));

  // CMYK: (0,0,0,0) is white with K 0, (0,255,0,0) magenta, and the sums stop at 0.
  test_reset();
  r = load_pages({page(3, 1, 8, 4, 5, {{0, 0, 0, 0, 0, 255, 0, 0, 200, 100, 50, 100}})});
  ASSERT_EQ(r.error, 0);
  image = r.images[0];
  EXPECT_EQ(0, std::memcmp(pixel4(image, 0, 0), "\xff\xff\xff\x00", 4));
  EXPECT_EQ(0, std::memcmp(pixel4(image, 1, 0), "\xff\x00\xff\x00", 4));
  EXPECT_EQ(0, std::memcmp(pixel4(image, 2, 0), "\x00\x37\x69\x64", 4));

  // RGB with an extra sample keeps its colours.
  test_reset();
  r = load_pages({page(1, 1, 8, 4, 2, {{10, 20, 30, 255}})});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(0, std::memcmp(pixel4(r.images[0], 0, 0), "\x0a\x14\x1e\xff", 4));
}

// FillOrder 2 reverses the bits of every byte, whatever the depth or compression.
TEST_F(TiffDirectory, FillOrderTwoReversesEveryByte) {
  struct Case {
    Page page;
    std::vector<uint8_t> expected;
  };
  const std::vector<Case> cases = {
      {page(10, 1, 1, 1, 1, {{0x01, 0x02}}), {1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {page(3, 1, 4, 1, 1, {{0x21, 0x43}}), {8, 4, 12}},
      {page(2, 1, 8, 1, 1, {{0x01, 0x06}}), {0x80, 0x60}},
      {page(2, 1, 8, 1, 1, {{0x01, 0x08, 0x12, 0x02}}, 5), {'A', 'B'}}};  // LZW Clear, 65, 66
  for (const Case& c : cases) {
    test_reset();
    Page p = c.page;
    p.tags.push_back({266, SHORT, {2}});
    LoadResult r = load_pages({p});
    ASSERT_EQ(r.error, 0);
    for (size_t x = 0; x < c.expected.size(); ++x) EXPECT_EQ(pixel(r.images[0], int(x), 0), c.expected[x]) << x;
  }
}

TEST_F(TiffDirectory, StripTablesAndRowsPerStrip) {
  // One strip: RowsPerStrip 4294967295 or none stands for the whole height.
  Page p = page(2, 3, 8, 1, 1, {{1, 2, 3, 4, 5, 6}});
  p.tags.push_back({278, LONG, {0xFFFFFFFF}});
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 1, 2), 6);
  // Two strips of two rows; the last strip holds what is left.
  test_reset();
  Page q = page(2, 3, 8, 1, 1, {{1, 2, 3, 4}, {5, 6}});
  q.tags.push_back({278, SHORT, {2}});
  r = load_pages({q});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 0, 2), 5);
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
  // Fewer byte counts than offsets.
  test_reset();
  Page bad = page(2, 2, 8, 1, 1, {});
  bad.tags.push_back({278, SHORT, {1}});
  bad.tags.push_back({273, LONG, {8, 8}});
  bad.tags.push_back({279, LONG, {2}});
  EXPECT_EQ(load_pages({bad}).error, ERR_INVALID_FILE);
}

TEST_F(TiffDirectory, PackBitsRunsAndTheNoOperationByte) {
  // Row 1: literal 3 bytes, -128 skipped, repeat 9 twice (the run's extra byte past the row
  // is dropped). Row 2: repeat 7 five times.
  std::vector<uint8_t> data = {2, 1, 2, 3, 0x80, 0xFE, 9, 0xFC, 7};
  LoadResult r = load_pages({page(5, 2, 8, 1, 1, {data}, 32773)});
  ASSERT_EQ(r.error, 0);
  const uint8_t row0[5] = {1, 2, 3, 9, 9};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(pixel(r.images[0], x, 0), row0[x]);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(pixel(r.images[0], x, 1), 7);
  EXPECT_EQ(r.images[0]->description, DESC_TIFF_PACKBITS);
}

// LZW codes of 9 bits, most significant bit first.
std::vector<uint8_t> lzw_bits(const std::vector<uint32_t>& codes) {
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int n = 0;
  for (uint32_t c : codes) {
    acc = (acc << 9) | c;
    n += 9;
    while (n >= 8) {
      out.push_back(static_cast<uint8_t>(acc >> (n - 8)));
      n -= 8;
    }
  }
  if (n > 0) out.push_back(static_cast<uint8_t>(acc << (8 - n)));
  return out;
}

TEST_F(TiffDirectory, LzwStringsAndTheirLimits) {
  // Clear, 'A', 'B', 258 ("AB"), 260 (the code being defined: "BAB"... here "ABA"), End.
  std::vector<uint8_t> data = lzw_bits({256, 65, 66, 258, 260, 257});
  LoadResult r = load_pages({page(8, 1, 8, 1, 1, {data}, 5)});
  ASSERT_EQ(r.error, 0);
  const char* expected = "ABABABA";
  for (int x = 0; x < 7; ++x) EXPECT_EQ(pixel(r.images[0], x, 0), expected[x]) << x;
  EXPECT_EQ(pixel(r.images[0], 7, 0), 0);  // never reached

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
  std::vector<uint8_t> long_stream;
  {
    // widths grow from 9 to 12 bits as the table fills
    uint64_t acc = 0;
    int n = 0, width = 9;
    uint32_t last = 257;
    for (size_t i = 0; i < codes.size(); ++i) {
      acc = (acc << width) | codes[i];
      n += width;
      while (n >= 8) {
        long_stream.push_back(static_cast<uint8_t>(acc >> (n - 8)));
        n -= 8;
      }
      if (i >= 2) ++last;
      if (width < 12 && last >= (1u << width) - 2) ++width;
    }
    if (n > 0) long_stream.push_back(static_cast<uint8_t>(acc << (8 - n)));
  }
  r = load_pages({page(100, 60, 8, 1, 1, {long_stream}, 5)});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 99, 37), 'A');  // the 3800th byte was reached
  EXPECT_EQ(pixel(r.images[0], 99, 59), 0);    // the table filled up before the end
}

TEST_F(TiffDirectory, PredictorIsUndoneBeforeLanding) {
  Page p = page(3, 2, 8, 3, 2, {{0}}, 5);
  // Rows of 3 RGB pixels: first pixel as is, then differences.
  std::vector<uint32_t> codes = {256, 10, 20, 30, 1, 2, 3, 1, 2, 3, 100, 100, 100, 5, 0, 255, 0, 0, 1, 257};
  p.strips = {lzw_bits(codes)};
  p.tags.push_back({317, SHORT, {2}});
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(0, std::memcmp(pixel4(r.images[0], 2, 0), "\x0c\x18\x24\x00", 4));
  EXPECT_EQ(0, std::memcmp(pixel4(r.images[0], 2, 1), "\x69\x64\x64\x00", 4));
  // Orientation 3 turns the image after the differences are undone.
  test_reset();
  p.tags.push_back({274, SHORT, {3}});
  r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(0, std::memcmp(pixel4(r.images[0], 0, 1), "\x0c\x18\x24\x00", 4));
  // Any orientation outside 1 to 8 is invalid.
  test_reset();
  p.tags.back() = {274, SHORT, {9}};
  EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE);
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

TEST_F(TiffDirectory, TilesMustBeMultiplesOf16AndComplete) {
  Page p = page(20, 16, 8, 1, 1, {});
  p.tiles = true;
  p.tags.push_back({322, SHORT, {16}});
  p.tags.push_back({323, SHORT, {16}});
  std::vector<uint8_t> left(256, 1), right(256, 2);
  p.strips = {left, right};
  LoadResult r = load_pages({p});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(pixel(r.images[0], 15, 15), 1);
  EXPECT_EQ(pixel(r.images[0], 19, 15), 2);
  EXPECT_EQ(r.images[0]->row_bytes, 20);
  test_reset();
  p.strips = {left};
  EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE);  // fewer tiles than the grid
  test_reset();
  p.strips = {left, right};
  set_tag(&p, {322, SHORT, {24}});
  EXPECT_EQ(load_pages({p}).error, ERR_INVALID_FILE);
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
  std::vector<uint8_t> good = w.build({page(4, 4, 8, 1, 1, {std::vector<uint8_t>(16, 5)})});
  ASSERT_EQ(load_bytes(good).error, 0);
  struct Damage {
    uint16_t tag;
    uint32_t value;
  };
  for (Damage d : {Damage{273, 0xFFFFFF00}, Damage{279, 0x7FFFFFFF}, Damage{256, 0x7FFFFFFF}}) {
    test_reset();
    TiffWriter again;
    Page p = page(4, 4, 8, 1, 1, {std::vector<uint8_t>(16, 5)});
    std::vector<uint8_t> bytes = again.build({p});
    // Patch the tag's value in the directory.
    const uint32_t ifd = again.ifd_offsets[0];
    const uint16_t n = static_cast<uint16_t>(bytes[ifd] | bytes[ifd + 1] << 8);
    for (uint16_t i = 0; i < n; ++i) {
      const size_t e = ifd + 2 + size_t(i) * 12;
      if ((bytes[e] | bytes[e + 1] << 8) == d.tag)
        for (int k = 0; k < 4; ++k) bytes[e + 8 + k] = static_cast<uint8_t>(d.value >> (8 * k));
    }
    LoadResult r = load_bytes(bytes);
    EXPECT_NE(r.error, 0) << d.tag;
    EXPECT_TRUE(d.tag == 256 ? r.error == ERR_MEMORY : r.error == ERR_INVALID_FILE) << d.tag << " " << r.error;
    EXPECT_EQ(images_left(r), 0);
  }
  // A first directory offset past the end.
  test_reset();
  std::vector<uint8_t> bytes = good;
  bytes[4] = 0xF0;
  bytes[5] = 0xFF;
  EXPECT_EQ(load_bytes(bytes).error, ERR_INVALID_FILE);
}

TEST_F(TiffDirectory, TruncatedAndDamagedFilesFailCleanly) {
  const std::string dir = test_temp_dir();
  ASSERT_EQ(run_command("cd " + dir + " && convert -seed 2 -size 61x37 plasma:fractal -depth 8 h.tif && "
                        "tiffcp -c lzw:2 h.tif h-lzw.tif && tiffcp -c packbits -t -w 16 -l 16 h.tif h-pb.tif && "
                        "convert h.tif -threshold 50% pbm:- | pnmtotiff > h-bw.tif && tiffcp -c g4 h-bw.tif h-g4.tif"),
            0);
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (const char* name : {"h-lzw.tif", "h-pb.tif", "h-g4.tif"}) {
    const std::vector<uint8_t> whole = read_file(dir + "/" + name);
    ASSERT_GT(whole.size(), 100u);
    for (size_t cut = 8; cut < whole.size(); cut += whole.size() / 23 + 1) {
      test_reset();
      LoadResult r = load_bytes(std::vector<uint8_t>(whole.begin(), whole.begin() + cut), "cut.tif");
      if (r.error != 0) {
        EXPECT_EQ(images_left(r), 0) << name << " cut at " << cut;
      }
    }
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> bytes = whole;
      for (int k = 0; k < 6; ++k) bytes[8 + next() % (bytes.size() - 8)] = static_cast<uint8_t>(next() >> 16);
      test_reset();
      LoadResult r = load_bytes(bytes, "damaged.tif");
      if (r.error != 0) {
        EXPECT_EQ(images_left(r), 0) << name << " round " << round;
      }
    }
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
