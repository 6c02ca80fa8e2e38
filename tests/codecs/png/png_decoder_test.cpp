#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "image/image.h"
#include "codecs/raster_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// --- Building PNG files ------------------------------------------------------------------

void put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

struct PngWriter {
  Bytes bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  PngWriter& chunk(const char* type, const Bytes& data, bool good_crc = true) {
    put32(bytes, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
    put32(bytes, good_crc ? crc : ~crc);
    return *this;
  }
  PngWriter& ihdr(uint32_t width, uint32_t height, int depth, int colour, int interlace = 0) {
    Bytes d;
    put32(d, width);
    put32(d, height);
    d.insert(d.end(), {static_cast<uint8_t>(depth), static_cast<uint8_t>(colour), 0, 0,
                       static_cast<uint8_t>(interlace)});
    return chunk("IHDR", d);
  }
  PngWriter& idat(const Bytes& raw) {
    uLongf size = compressBound(raw.size());
    Bytes z(size);
    compress2(z.data(), &size, raw.data(), raw.size(), 6);
    z.resize(size);
    return chunk("IDAT", z);
  }
  PngWriter& iend() { return chunk("IEND", {}); }
};

// Raw rows of filter type 0 from row data.
Bytes unfiltered(const std::vector<Bytes>& rows) {
  Bytes raw;
  for (const Bytes& r : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), r.begin(), r.end());
  }
  return raw;
}

class Png : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }

  LoadResult load(const Bytes& file) {
    std::string path = write_temp_file("case-" + std::to_string(counter_++) + ".png", file);
    return load_file(path);
  }
  int counter_ = 0;
};

// A small RGB picture with every filter type and pixels that make the filters work.
std::vector<Bytes> gradient_rows(int width, int height, int channels) {
  std::vector<Bytes> rows;
  for (int y = 0; y < height; ++y) {
    Bytes r;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) r.push_back(static_cast<uint8_t>(x * 37 + y * 11 + c * 71 + x * y));
    rows.push_back(r);
  }
  return rows;
}

// --- The conformance suite ---------------------------------------------------------------

TEST_F(Png, PngSuite) {
  std::string dir = corpus_path("pngsuite");
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.substr(n.size() - 4) == ".png") names.push_back(n);
  }
  closedir(d);
  ASSERT_GT(names.size(), 150u);
  int loaded = 0;
  for (const std::string& name : names) {
    test_reset();
    const std::string path = dir + "/" + name;
    Bytes file = read_file(path);
    ASSERT_GT(file.size(), 29u);
    const int depth = file[24], colour = file[25], interlace = file[28];
    LoadResult r = load_file(path);
    // Corrupt files fail, except those whose only fault is a CRC, which is not checked.
    if (name[0] == 'x' && name != "xcsn0g01.png" && name != "xhdn0g08.png") {
      EXPECT_NE(r.error, 0) << name;
      continue;
    }
    ASSERT_EQ(r.error, 0) << name;
    ASSERT_EQ(r.images.size(), 1u) << name;
    const ImageRecord* image = r.images[0];
    int width, height;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(read_png_rgb(path, &width, &height, &expected)) << name;
    EXPECT_EQ(image->width, width) << name;
    EXPECT_EQ(image->height, height) << name;
    const int32_t descriptions[2][2] = {{DESC_PNG, DESC_PNG_16}, {DESC_PNG_INTERLACED, DESC_PNG_INTERLACED_16}};
    EXPECT_EQ(image->description, descriptions[interlace][depth == 16]) << name;
    EXPECT_EQ(image->planes, 1) << name;
    const bool rgb = colour == 2 || colour == 6;
    EXPECT_EQ(image->bits, rgb ? 24 : std::min(depth, 8)) << name;
    EXPECT_EQ(image->pixel_bytes, rgb ? 4 : 1) << name;
    EXPECT_EQ(image->row_bytes, rgb ? 4 * width : (width + 3) / 4 * 4) << name;
    EXPECT_EQ(image->pixel_size, uint32_t(image->row_bytes) * height) << name;
    EXPECT_TRUE(image_rgb(image) == expected) << name;
    ++loaded;
  }
  EXPECT_GE(loaded, 150);
}

TEST_F(Png, PngSuiteRecordFields) {
  auto open = [](const char* name) {
    test_reset();
    LoadResult r = load_file(corpus_path(std::string("pngsuite/") + name));
    EXPECT_EQ(r.error, 0) << name;
    return r.images.empty() ? ImageRecord{} : *r.images[0];
  };
  ImageRecord i = open("g03n2c08.png");
  EXPECT_DOUBLE_EQ(i.gamma, 35000 * 0.00001);
  i = open("g25n3p04.png");
  EXPECT_DOUBLE_EQ(i.gamma, 250000 * 0.00001);
  i = open("tm3n3p02.png");  // no gAMA; alphas 0, 0x55, 0xAA
  EXPECT_DOUBLE_EQ(i.gamma, -1.0);
  EXPECT_EQ(i.has_transparent, 1);
  EXPECT_EQ(i.transparent[0], 0);
  i = open("basn3p08.png");
  EXPECT_EQ(i.has_transparent, 0);
  i = open("tbbn0g04.png");  // grey sample 0x000F
  EXPECT_EQ(i.has_transparent, 1);
  EXPECT_EQ(i.transparent[0], 15);
  i = open("tbrn2c08.png");  // 0x00FF three times
  EXPECT_EQ(i.has_transparent, 1);
  EXPECT_EQ(i.transparent[0], 255);
  EXPECT_EQ(i.transparent[2], 255);
  i = open("tbbn2c16.png");  // 16 bits: 0xFFFF rounded
  EXPECT_EQ(i.transparent[0], 255);
  EXPECT_EQ(i.transparent[1], 255);
  i = open("cdun2c08.png");  // 1000 pixels per metre
  EXPECT_EQ(i.x_resolution, 25);
  EXPECT_EQ(i.y_resolution, 25);
  i = open("cdfn2c08.png");  // unit 0: the values as they stand
  EXPECT_EQ(i.x_resolution, 1);
  EXPECT_EQ(i.y_resolution, 4);
}

// --- Chunks ------------------------------------------------------------------------------

TEST_F(Png, CrcsAreNotCheckedAndIdatMayBeSplitAnywhere) {
  std::vector<Bytes> rows = gradient_rows(7, 5, 3);
  Bytes raw = unfiltered(rows);
  PngWriter whole;
  whole.ihdr(7, 5, 8, 2).idat(raw).iend();
  LoadResult a = load(whole.bytes);
  ASSERT_EQ(a.error, 0);
  std::vector<uint32_t> reference = image_rgb(a.images[0]);
  EXPECT_EQ(reference[8], (uint32_t{rows[1][3]} << 16) | (rows[1][4] << 8) | rows[1][5]);

  // The same data cut into one-byte IDAT chunks with wrong CRCs everywhere.
  uLongf size = compressBound(raw.size());
  Bytes z(size);
  compress2(z.data(), &size, raw.data(), raw.size(), 9);
  z.resize(size);
  PngWriter split;
  Bytes header;
  put32(header, 7);
  put32(header, 5);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  split.chunk("IHDR", header, false);
  for (uint8_t b : z) split.chunk("IDAT", {b}, false);
  split.chunk("IEND", {}, false);
  LoadResult b = load(split.bytes);
  ASSERT_EQ(b.error, 0);
  EXPECT_EQ(image_rgb(b.images[0]), reference);
  // RGB pixels get 0 as their fourth byte.
  EXPECT_EQ(b.images[0]->pixels[3], 0);
}

TEST_F(Png, StructureFaults) {
  Bytes raw = unfiltered(gradient_rows(4, 4, 1));
  auto with = [&](auto&& add) {
    PngWriter w;
    add(w);
    return load(w.bytes).error;
  };
  // Unknown ancillary chunks are skipped, unknown critical ones refused.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("zzAb", {1, 2}).idat(raw).iend(); }), 0);
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("ZzAb", {1, 2}).idat(raw).iend(); }),
            ERR_UNKNOWN_FORMAT);
  // No IEND before the end of the file, no IDAT, no IHDR.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).idat(raw); }), ERR_INVALID_FILE);
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).iend(); }), ERR_INVALID_FILE);
  EXPECT_EQ(with([&](PngWriter& w) { w.idat(raw).iend(); }), ERR_INVALID_FILE);
  // Empty IDAT chunks add nothing; with nothing else there is no data.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", {}).idat(raw).chunk("IDAT", {}).iend(); }), 0);
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", {}).iend(); }), ERR_INVALID_FILE);
  // A second IHDR.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).ihdr(4, 4, 8, 0).idat(raw).iend(); }),
            ERR_INVALID_FILE);
  // An IDAT longer than what remains of the file.
  EXPECT_EQ(with([&](PngWriter& w) {
              w.ihdr(4, 4, 8, 0).idat(raw).iend();
              w.bytes[33 + 3] = 0xFF;
              w.bytes[33 + 2] = 0xFF;
            }),
            ERR_INVALID_FILE);
  // Signature bytes 4 to 7.
  EXPECT_EQ(with([&](PngWriter& w) {
              w.ihdr(4, 4, 8, 0).idat(raw).iend();
              w.bytes[6] = 0;
            }),
            ERR_INVALID_FILE);
  // PLTE length not a multiple of 3.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 3).chunk("PLTE", {1, 2, 3, 4}).idat(raw).iend(); }),
            ERR_INVALID_FILE);
  // A filter type of 5.
  Bytes bad_filter = raw;
  bad_filter[5] = 5;
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).idat(bad_filter).iend(); }), ERR_INVALID_FILE);
  // A zlib header that is not deflate.
  EXPECT_EQ(with([&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", {0x79, 0x9C, 3, 0}).iend(); }),
            ERR_INVALID_FILE);
}

TEST_F(Png, HeaderFaults) {
  Bytes raw = unfiltered(gradient_rows(4, 4, 1));
  auto header = [&](uint32_t w, uint32_t h, int depth, int colour, int compression = 0, int filter = 0,
                    size_t length = 13, int interlace = 0) {
    Bytes d;
    put32(d, w);
    put32(d, h);
    d.insert(d.end(), {static_cast<uint8_t>(depth), static_cast<uint8_t>(colour),
                       static_cast<uint8_t>(compression), static_cast<uint8_t>(filter),
                       static_cast<uint8_t>(interlace)});
    d.resize(length);
    PngWriter p;
    p.chunk("IHDR", d).idat(raw).iend();
    return load(p.bytes).error;
  };
  EXPECT_EQ(header(4, 4, 8, 0), 0);
  EXPECT_EQ(header(0x80000000u, 4, 8, 0), ERR_VALUE);
  EXPECT_EQ(header(4, 0xFFFFFFFFu, 8, 0), ERR_VALUE);
  EXPECT_EQ(header(0, 4, 8, 0), ERR_INVALID_FILE);
  for (int depth : {0, 17, 200}) EXPECT_EQ(header(4, 4, depth, 0), ERR_INVALID_FILE) << depth;
  for (int colour : {1, 5, 7, 255}) EXPECT_EQ(header(4, 4, 8, colour), ERR_INVALID_FILE) << colour;
  EXPECT_EQ(header(4, 4, 8, 0, 1), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 8, 0, 0, 1), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 8, 0, 0, 0, 12), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 8, 0, 0, 0, 13, 2), ERR_INVALID_FILE);  // no interlace method 2
  // Depths the colour type does not allow.
  EXPECT_EQ(header(4, 4, 3, 0), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 3, 3), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 16, 3), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 4, 2), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 4, 4), ERR_INVALID_FILE);
  EXPECT_EQ(header(4, 4, 16, 4), 0);
  // Sizes no memory holds are refused before any allocation.
  EXPECT_EQ(header(100000, 100000, 8, 6), ERR_MEMORY);
  EXPECT_EQ(header(0x7FFFFFFF, 0x7FFFFFFF, 1, 0), ERR_MEMORY);
  EXPECT_EQ(header(0x7FFFFFFF, 1, 8, 2), ERR_MEMORY);
}

TEST_F(Png, Transparency) {
  Bytes raw = unfiltered(gradient_rows(4, 2, 1));
  Bytes palette(3 * 4, 9);
  auto trns = [&](int colour, const Bytes& data) {
    PngWriter w;
    w.ihdr(4, 2, 8, colour);
    if (colour == 3) w.chunk("PLTE", palette);
    w.chunk("tRNS", data).idat(colour == 2 ? unfiltered(gradient_rows(4, 2, 3)) : raw).iend();
    LoadResult r = load(w.bytes);
    EXPECT_EQ(r.error, 0);
    return r.images.empty() ? ImageRecord{} : *r.images[0];
  };
  ImageRecord i = trns(3, {255, 128, 0, 0});
  EXPECT_EQ(i.has_transparent, 1);
  EXPECT_EQ(i.transparent[0], 2);
  i = trns(3, {200, 100, 100});
  EXPECT_EQ(i.transparent[0], 1);
  i = trns(3, {255, 255});
  EXPECT_EQ(i.has_transparent, 1);
  EXPECT_EQ(i.transparent[0], 0);
  i = trns(0, {0x01, 0x00});
  EXPECT_EQ(i.transparent[0], 255);
  i = trns(0, {0x80, 0x00});
  EXPECT_EQ(i.transparent[0], 0);
  i = trns(2, {0, 7, 1, 0, 0x80, 0});
  EXPECT_EQ(i.transparent[0], 7);
  EXPECT_EQ(i.transparent[1], 255);
  EXPECT_EQ(i.transparent[2], 0);
  // 16 bits: the key is rounded, and only pixels equal to it in all 16 bits land on it;
  // 0x1233, 0x1234 and 0x1235 all round to 18.
  PngWriter grey16;
  grey16.ihdr(3, 1, 16, 0).chunk("tRNS", {0x12, 0x34}).idat(unfiltered({{0x12, 0x33, 0x12, 0x34, 0x12, 0x35}})).iend();
  LoadResult keyed = load(grey16.bytes);
  ASSERT_EQ(keyed.error, 0);
  EXPECT_EQ(keyed.images[0]->transparent[0], 18);
  EXPECT_EQ(Bytes(keyed.images[0]->pixels, keyed.images[0]->pixels + 3), (Bytes{17, 18, 19}));
  PngWriter rgb16;
  rgb16.ihdr(2, 1, 16, 2).chunk("tRNS", {0, 0, 0x12, 0x34, 0xFF, 0xFF})
      .idat(unfiltered({{0, 0, 0x12, 0x34, 0xFF, 0xFF, 0, 0, 0x12, 0x34, 0xFF, 0xFE}})).iend();
  keyed = load(rgb16.bytes);
  ASSERT_EQ(keyed.error, 0);
  EXPECT_EQ(Bytes(keyed.images[0]->pixels, keyed.images[0]->pixels + 8), (Bytes{0, 18, 255, 0, 0, 18, 254, 0}));
  // Too short for the colour type.
  PngWriter w;
  w.ihdr(4, 2, 8, 0).chunk("tRNS", {1}).idat(raw).iend();
  EXPECT_EQ(load(w.bytes).error, ERR_INVALID_FILE);
  // Before IHDR it is ignored.
  PngWriter early;
  early.chunk("tRNS", {0, 3}).ihdr(4, 2, 8, 0).idat(raw).iend();
  LoadResult r = load(early.bytes);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images[0]->has_transparent, 0);
}

TEST_F(Png, GammaAndResolution) {
  Bytes raw = unfiltered(gradient_rows(4, 2, 1));
  auto with = [&](const char* type, const Bytes& data, int32_t* error) {
    PngWriter w;
    w.ihdr(4, 2, 8, 0).chunk(type, data).idat(raw).iend();
    LoadResult r = load(w.bytes);
    *error = r.error;
    return r.images.empty() ? ImageRecord{} : *r.images[0];
  };
  int32_t error;
  Bytes gama;
  put32(gama, 45455);
  EXPECT_DOUBLE_EQ(with("gAMA", gama, &error).gamma, 0.45455);
  EXPECT_EQ(with("gAMA", {0, 0, 1}, &error).gamma, 0.0);
  EXPECT_EQ(error, ERR_INVALID_FILE);
  auto phys = [](uint32_t x, uint32_t y, uint8_t unit) {
    Bytes d;
    put32(d, x);
    put32(d, y);
    d.push_back(unit);
    return d;
  };
  ImageRecord i = with("pHYs", phys(2835, 3780, 1), &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(i.x_resolution, 72);
  EXPECT_EQ(i.y_resolution, 96);
  i = with("pHYs", phys(2835, 2835, 0), &error);
  EXPECT_EQ(i.x_resolution, 2835);
  with("pHYs", phys(2835, 2835, 2), &error);
  EXPECT_EQ(error, ERR_INVALID_FILE);
  Bytes short_phys = phys(1, 1, 0);
  short_phys.pop_back();
  with("pHYs", short_phys, &error);
  EXPECT_EQ(error, ERR_INVALID_FILE);
}

TEST_F(Png, PixelLayouts) {
  // 1-bit grey 10 pixels wide: rows of 12 bytes, pixels 10 and 11 from the padding bits.
  {
    PngWriter w;
    w.ihdr(10, 2, 1, 0).idat(unfiltered({{0xA5, 0xDF}, {0xFF, 0x00}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    const ImageRecord* i = r.images[0];
    EXPECT_EQ(i->row_bytes, 12);
    EXPECT_EQ(Bytes(i->pixels, i->pixels + 24),
              (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(i->palette_red[1], 255);
  }
  // 2-bit and 4-bit grey, palette indexes.
  {
    PngWriter w;
    w.ihdr(5, 1, 2, 0).idat(unfiltered({{0x1B, 0xC0}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 5), (Bytes{0, 1, 2, 3, 3}));
    EXPECT_EQ(r.images[0]->palette_green[2], 170);
    PngWriter v;
    v.ihdr(3, 1, 4, 3).chunk("PLTE", Bytes(48, 1)).idat(unfiltered({{0x4F, 0xA0}})).iend();
    r = load(v.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 3), (Bytes{4, 15, 10}));
  }
  // Grey with alpha keeps the grey bytes; RGBA keeps its alpha as the fourth byte.
  {
    PngWriter w;
    w.ihdr(3, 1, 8, 4).idat(unfiltered({{10, 1, 20, 2, 30, 3}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->bits, 8);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 3), (Bytes{10, 20, 30}));
    PngWriter v;
    v.ihdr(2, 1, 8, 6).idat(unfiltered({{1, 2, 3, 4, 5, 6, 7, 8}})).iend();
    r = load(v.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  }
  // 16-bit RGB and RGBA round each sample to 8 bits: 0x0180 / 257 is 1.49, 0x01C0 is 1.74.
  {
    PngWriter w;
    w.ihdr(2, 1, 16, 2).idat(unfiltered({{1, 0x80, 1, 0xC0, 3, 99, 4, 99, 5, 99, 6, 99}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->bits, 24);
    EXPECT_EQ(r.images[0]->pixel_bytes, 4);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 8), (Bytes{1, 2, 3, 0, 4, 5, 6, 0}));
    PngWriter v;
    v.ihdr(1, 1, 16, 6).idat(unfiltered({{1, 99, 2, 99, 3, 99, 0xFF, 0x7F}})).iend();
    r = load(v.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Bytes(r.images[0]->pixels, r.images[0]->pixels + 4), (Bytes{1, 2, 3, 255}));
  }
  // A palette of more than 256 entries keeps the first 256.
  {
    Bytes plte;
    for (int i = 0; i < 300; ++i) plte.insert(plte.end(), {uint8_t(i), uint8_t(i >> 8), 7});
    PngWriter w;
    w.ihdr(2, 1, 8, 3).chunk("PLTE", plte).idat(unfiltered({{255, 3}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->palette_red[255], 255);
    EXPECT_EQ(r.images[0]->palette_green[255], 0);
  }
}

// Every filter type on every pixel size against libpng's decoding of the same file; the large
// pictures span several pieces of the inflated stream, whole or Adam7 interlaced.
TEST_F(Png, FiltersMatchLibpng) {
  struct Kind {
    int depth, colour, channels, width, height, interlace;
  };
  const Kind kinds[] = {{8, 0, 1, 61, 23, 0}, {8, 4, 2, 61, 23, 0}, {8, 2, 3, 61, 23, 0}, {8, 6, 4, 61, 23, 0},
                        {16, 2, 6, 61, 23, 0}, {16, 6, 8, 61, 23, 0}, {4, 0, 1, 61, 23, 0}, {1, 0, 1, 61, 23, 0},
                        {8, 2, 3, 700, 300, 0}, {8, 6, 4, 513, 301, 1}, {16, 6, 8, 9000, 9, 0}};
  // x0, y0, dx, dy: the whole picture, then the seven Adam7 passes.
  static const int kPasses[8][4] = {{0, 0, 1, 1}, {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::mt19937 rng(11);
  for (const Kind& k : kinds) {
    const int bits = k.depth * k.channels / (k.depth == 16 ? 2 : 1);
    Bytes raw;
    for (int p = k.interlace; p < (k.interlace ? 8 : 1); ++p) {
      const int* pass = kPasses[p];
      const int columns = (k.width - pass[0] + pass[2] - 1) / pass[2], rows = (k.height - pass[1] + pass[3] - 1) / pass[3];
      for (int y = 0; columns > 0 && y < rows; ++y) {
        raw.push_back(static_cast<uint8_t>(y % 5));
        // Few distinct values make ties between the predictors; any value makes the rest.
        for (size_t x = 0; x < (size_t(columns) * bits + 7) / 8; ++x)
          raw.push_back(static_cast<uint8_t>(y & 2 ? rng() : rng() % 7 * 40));
      }
    }
    PngWriter w;
    w.ihdr(k.width, k.height, k.depth, k.colour, k.interlace).idat(raw).iend();
    std::string path = write_temp_file("filters.png", w.bytes);
    test_reset();
    LoadResult r = load_file(path);
    ASSERT_EQ(r.error, 0) << k.depth << " " << k.colour << " " << k.width;
    int ow, oh;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(read_png_rgb(path, &ow, &oh, &expected));
    EXPECT_TRUE(image_rgb(r.images[0]) == expected) << k.depth << " " << k.colour << " " << k.width;
  }
}

TEST_F(Png, StreamLengthsAndBackground) {
  std::vector<Bytes> rows = gradient_rows(5, 6, 1);
  Bytes raw = unfiltered(rows);
  Bytes plte(3 * 256, 0);
  // Data for more rows than the image has: the extra rows are ignored.
  {
    Bytes more = raw;
    more.insert(more.end(), raw.begin(), raw.end());
    PngWriter w;
    w.ihdr(5, 6, 8, 0).idat(more).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->pixels[5 * 8 + 4], rows[5][4]);
  }
  // A complete stream with only three rows: the rest keeps the background, or zero.
  Bytes half(raw.begin(), raw.begin() + 3 * 6);
  {
    PngWriter w;
    w.ihdr(5, 6, 8, 3).chunk("PLTE", plte).chunk("bKGD", {42}).idat(half).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    const ImageRecord* i = r.images[0];
    EXPECT_EQ(i->pixels[2 * 8 + 1], rows[2][1]);
    EXPECT_EQ(i->pixels[3 * 8 + 1], 42);
    EXPECT_EQ(i->pixels[5 * 8 + 4], 42);
  }
  {
    PngWriter w;
    w.ihdr(5, 6, 8, 0).idat(half).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->pixels[4 * 8 + 2], 0);
  }
  // Adam7 data that ends inside a pass: the bytes left over make no row of a later, narrower
  // pass (the fifth pass of a 7-pixel-wide picture takes 5 bytes a row, the sixth 4).
  {
    Bytes cut(18, 0);
    cut.insert(cut.end(), {0, 9, 9, 9});
    PngWriter w;
    w.ihdr(7, 8, 8, 0, 1).idat(cut).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->pixels[1], 0);
  }
  // RGB background: R, G, B, 0 in every pixel slot.
  {
    PngWriter w;
    w.ihdr(2, 2, 8, 2).chunk("bKGD", {0, 1, 0x01, 0x00, 0xFF, 0xFF}).idat(unfiltered({{1, 2, 3, 4, 5, 6}})).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Bytes(r.images[0]->pixels + 8, r.images[0]->pixels + 12), (Bytes{1, 255, 0, 0}));
  }
  // bKGD too short, and before IHDR (ignored).
  {
    PngWriter w;
    w.ihdr(5, 6, 8, 0).chunk("bKGD", {1}).idat(raw).iend();
    EXPECT_EQ(load(w.bytes).error, ERR_INVALID_FILE);
    PngWriter v;
    v.chunk("bKGD", {1}).ihdr(5, 6, 8, 0).idat(raw).iend();
    EXPECT_EQ(load(v.bytes).error, 0);
  }
  // Compressed data cut short: refused.
  {
    PngWriter w;
    w.ihdr(5, 6, 8, 0).idat(raw);
    Bytes& b = w.bytes;
    const size_t idat_length_at = 33;
    uint32_t length = (b[idat_length_at + 2] << 8) | b[idat_length_at + 3];
    b.resize(b.size() - 4 - length / 2);
    b[idat_length_at + 2] = static_cast<uint8_t>((length - length / 2) >> 8);
    b[idat_length_at + 3] = static_cast<uint8_t>(length - length / 2);
    put32(b, 0);
    w.iend();
    EXPECT_EQ(load(w.bytes).error, ERR_INVALID_FILE);
  }
}

// ImageMagick's Adam7 and 16-bit files of every colour type against libpng's reduction.
TEST_F(Png, GeneratedVariantsMatchLibpng) {
  struct Variant {
    const char* options;
    int depth, colour, interlace;
  };
  const Variant variants[] = {
      {"-interlace PNG PNG24:", 8, 2, 1},          {"-interlace PNG -depth 16 PNG48:", 16, 2, 1},
      {"-depth 16 PNG64:", 16, 6, 0},              {"-interlace PNG -depth 16 PNG64:", 16, 6, 1},
      {"-interlace PNG -colors 50 PNG8:", 8, 3, 1}, {"-alpha off -colorspace gray -depth 16 -interlace PNG PNG:", 16, 0, 1},
      {"-colorspace gray -depth 16 PNG:", 16, 4, 0}, {"-alpha off -colorspace gray -depth 2 -interlace PNG PNG:", 2, 0, 1},
      {"-colorspace gray -depth 8 -interlace PNG PNG:", 8, 4, 1}};
  const std::string dir = test_temp_dir() + "/png-variants";
  ASSERT_EQ(run_command("mkdir -p " + dir + " && convert -size 61x37 -seed 7 plasma: -alpha set -channel A -fx u.r "
                        "+channel " + dir + "/base.png"), 0);
  int n = 0;
  for (const Variant& v : variants) {
    const std::string path = dir + "/" + std::to_string(n++) + ".png";
    SCOPED_TRACE(v.options);
    ASSERT_EQ(run_command("convert " + dir + "/base.png " + v.options + path), 0);
    const Bytes file = read_file(path);
    ASSERT_EQ((std::vector<int>{file[24], file[25], file[28]}), (std::vector<int>{v.depth, v.colour, v.interlace}));
    test_reset();
    LoadResult r = load_file(path);
    ASSERT_EQ(r.error, 0);
    int width, height;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(read_png_rgb(path, &width, &height, &expected));
    EXPECT_TRUE(image_rgb(r.images[0]) == expected);
  }
}

// Damaged copies of the suite's files: any error code or a picture, never a crash (the
// sanitizer build watches reads and writes).
TEST_F(Png, DamagedFilesNeverCrash) {
  std::mt19937 rng(5);
  const char* names[] = {"basn0g01.png", "basn2c08.png", "basn3p04.png", "basn4a08.png",
                         "basn6a16.png", "f04n2c08.png", "z09n2c08.png", "tbwn3p08.png",
                         "basi0g01.png", "basi6a16.png", "s09i3p02.png"};
  for (const char* name : names) {
    Bytes original = read_file(corpus_path(std::string("pngsuite/") + name));
    for (int i = 0; i < 60; ++i) {
      Bytes b = original;
      const int kind = i % 3;
      if (kind == 0) {
        for (int k = 0, n = 1 + rng() % 6; k < n; ++k) b[8 + rng() % (b.size() - 8)] = static_cast<uint8_t>(rng());
      } else if (kind == 1) {
        b.resize(8 + rng() % (b.size() - 8));
      } else {
        b[8 + rng() % (b.size() - 8)] ^= static_cast<uint8_t>(1 << (rng() % 8));
      }
      test_reset();
      LoadResult r = load(b);
      if (r.error == 0) {
        ASSERT_EQ(r.images.size(), 1u);
        EXPECT_GT(r.images[0]->width, 0);
      }
    }
  }
}

TEST_F(Png, PlaceholdersLoad) {
  for (const char* name : {"erreur.png", "inconnu.png"}) {
    LoadResult r = load_file(std::string(KORVELA_SOURCE_DIR) + "/assets/" + name);
    ASSERT_EQ(r.error, 0) << name;
    const ImageRecord* i = r.images[0];
    EXPECT_GE(i->width, 64) << name;
    EXPECT_GE(i->height, 64) << name;
    EXPECT_TRUE(i->bits == 8 || i->bits == 24) << name;
    // Not a blank picture: some pixels differ from the first.
    std::vector<uint32_t> rgb = image_rgb(i);
    EXPECT_NE(std::count(rgb.begin(), rgb.end(), rgb[0]), static_cast<long>(rgb.size())) << name;
  }
}

}  // namespace
