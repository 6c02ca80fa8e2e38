#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "image/image.h"
#include "codecs/raster_test_support.h"

namespace {

using Data = std::vector<uint8_t>;

struct PngWriter {
  Data bytes = Bytes("\x89PNG\r\n\x1A\n").data;
  PngWriter& chunk(const char* type, const Data& data, bool good_crc = true) {
    Bytes c = Bytes().u32be(static_cast<uint32_t>(data.size())).text(std::string(type, 4)).raw(data);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, c.data.data() + 4, static_cast<uInt>(c.size() - 4)));
    c.u32be(good_crc ? crc : ~crc);
    bytes.insert(bytes.end(), c.data.begin(), c.data.end());
    return *this;
  }
  // IHDR; `length` cuts or pads its data, `compression` and `filter` are its two method bytes.
  PngWriter& ihdr(uint32_t width, uint32_t height, int depth, int colour, int interlace = 0, bool good_crc = true,
                  int compression = 0, int filter = 0, size_t length = 13) {
    return chunk("IHDR", Bytes().u32be(width).u32be(height).raw({uint8_t(depth), uint8_t(colour), uint8_t(compression),
                                                                 uint8_t(filter), uint8_t(interlace)}).cut(length).data,
                 good_crc);
  }
  PngWriter& idat(const Data& raw) { return chunk("IDAT", zlib_deflate(raw)); }
  PngWriter& iend() { return chunk("IEND", {}); }
};

// Raw rows of filter type 0 from row data.
Data unfiltered(const std::vector<Data>& rows) {
  Data raw;
  for (const Data& r : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), r.begin(), r.end());
  }
  return raw;
}

std::vector<Data> gradient_rows(int width, int height, int channels) {
  std::vector<Data> rows;
  for (int y = 0; y < height; ++y) {
    Data r;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) r.push_back(static_cast<uint8_t>(x * 37 + y * 11 + c * 71 + x * y));
    rows.push_back(r);
  }
  return rows;
}

class Png : public RasterTest {
 protected:
  LoadResult load(const Data& file) {
    test_reset();
    return load_bytes("case.png", file);
  }
  // Loads a file that must decode and returns its only image.
  const ImageRecord* load_ok(const Data& file) {
    LoadResult r = load(file);
    EXPECT_EQ(r.error, 0);
    return r.images.empty() ? nullptr : r.images[0];
  }
  // Loads a file against libpng's decoding; returns our image.
  const ImageRecord* expect_like_libpng(const std::string& path) {
    test_reset();
    LoadResult r = load_file(path);
    int width, height;
    std::vector<uint32_t> expected;
    EXPECT_TRUE(read_png_rgb(path, &width, &height, &expected)) << path;
    EXPECT_EQ(r.error, 0) << path;
    if (r.error != 0) return nullptr;
    EXPECT_TRUE(image_rgb(r.images[0]) == expected) << path;
    return r.images[0];
  }
};

// --- Conformance ---------------------------------------------------------------------------

// The suite holds every colour type and depth, plain and Adam7 (basi*), and Adam7 at every
// size from 1 to 9 and 32 to 40 pixels (s*); the placeholders the viewer shows follow it.
TEST_F(Png, PngSuite) {
  const std::string dir = corpus_path("pngsuite");
  std::vector<std::string> paths;
  for (const std::string& name : files_in(dir, "", ".png")) paths.push_back(dir + "/" + name);
  ASSERT_GT(paths.size(), 150u);
  for (const char* name : {"erreur.png", "inconnu.png"}) paths.push_back(std::string(KORVELA_SOURCE_DIR) + "/assets/" + name);
  for (const std::string& path : paths) {
    const std::string name = path.substr(path.rfind('/') + 1);
    // Corrupt files fail, except those whose only fault is a CRC, which is not checked: a wrong
    // signature start is no PNG, any other fault (signature end, colour type, depth, no IDAT, ...)
    // an invalid file.
    if (name[0] == 'x' && name != "xcsn0g01.png" && name != "xhdn0g08.png") {
      test_reset();
      EXPECT_EQ(load_file(path).error, name.starts_with("xs") && name[2] != '7' ? ERR_UNKNOWN_FORMAT : ERR_INVALID_FILE)
          << name;
      continue;
    }
    const ImageRecord* image = expect_like_libpng(path);
    if (image == nullptr) continue;
    const Data file = read_file(path);
    const int depth = file[24], colour = file[25], interlace = file[28];
    const int32_t descriptions[2][2] = {{DESC_PNG, DESC_PNG_16}, {DESC_PNG_INTERLACED, DESC_PNG_INTERLACED_16}};
    const bool rgb = colour == 2 || colour == 6;
    EXPECT_EQ((std::vector<int64_t>{image->description, image->planes, image->bits, image->row_bytes}),
              (std::vector<int64_t>{descriptions[interlace][depth == 16], 1, rgb ? 24 : std::min(depth, 8),
                                    rgb ? 4 * image->width : (image->width + 3) / 4 * 4}))
        << name;
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
    Data raw;
    for (int p = k.interlace; p < (k.interlace ? 8 : 1); ++p) {
      const int* pass = kPasses[p];
      const int columns = (k.width - pass[0] + pass[2] - 1) / pass[2], rows = (k.height - pass[1] + pass[3] - 1) / pass[3];
      for (int y = 0; columns > 0 && y < rows; ++y) {
        raw.push_back(static_cast<uint8_t>(y * 3 % 5));  // 0 3 1 4 2: rows without a filter get read
        // Few distinct values make ties between the predictors; any value makes the rest.
        for (size_t x = 0; x < (size_t(columns) * bits + 7) / 8; ++x)
          raw.push_back(static_cast<uint8_t>(y & 2 ? rng() : rng() % 7 * 40));
      }
    }
    PngWriter w;
    w.ihdr(k.width, k.height, k.depth, k.colour, k.interlace).idat(raw).iend();
    expect_like_libpng(write_temp_file("filters.png", w.bytes));
  }
}

// --- Chunks and headers --------------------------------------------------------------------

TEST_F(Png, StructureAndHeaderFaultsGetTheirCodes) {
  Data raw = unfiltered(gradient_rows(4, 4, 1)), cut = zlib_deflate(raw);
  Data bad_filter = raw;
  bad_filter[5] = 5;
  using Build = std::function<void(PngWriter&)>;
  auto header = [&](uint32_t w, uint32_t h, int depth, int colour, int interlace = 0, int compression = 0,
                    int filter = 0, size_t length = 13) -> Build {
    return [=](PngWriter& p) { p.ihdr(w, h, depth, colour, interlace, true, compression, filter, length).idat(raw).iend(); };
  };
  const std::pair<Build, int32_t> cases[] = {
      // Unknown ancillary chunks are skipped, unknown critical ones refused.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("zzAb", {1, 2}).idat(raw).iend(); }, 0},
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("ZzAb", {1, 2}).idat(raw).iend(); }, ERR_UNKNOWN_FORMAT},
      // tRNS and bKGD before IHDR are ignored: taken as grey ones, these would be too short.
      {[&](PngWriter& w) { w.chunk("tRNS", {3}).chunk("bKGD", {1}).ihdr(4, 4, 8, 0).idat(raw).iend(); }, 0},
      // No IEND before the end of the file, no IHDR, a second IHDR.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).idat(raw); }, ERR_INVALID_FILE},
      {[&](PngWriter& w) { w.idat(raw).iend(); }, ERR_INVALID_FILE},
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).ihdr(4, 4, 8, 0).idat(raw).iend(); }, ERR_INVALID_FILE},
      // Empty IDAT chunks alone hold no data.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", {}).iend(); }, ERR_INVALID_FILE},
      // An IDAT longer than what remains of the file.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).idat(raw).iend(); w.bytes[35] = w.bytes[36] = 0xFF; }, ERR_INVALID_FILE},
      // PLTE length not a multiple of 3, filter type 5, a zlib header that is not deflate.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 3).chunk("PLTE", {1, 2, 3, 4}).idat(raw).iend(); }, ERR_INVALID_FILE},
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).idat(bad_filter).iend(); }, ERR_INVALID_FILE},
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", {0x79, 0x9C, 3, 0}).iend(); }, ERR_INVALID_FILE},
      // Compressed data cut short.
      {[&](PngWriter& w) { w.ihdr(4, 4, 8, 0).chunk("IDAT", Data(cut.begin(), cut.begin() + cut.size() / 2)).iend(); },
       ERR_INVALID_FILE},
      // Header fields.
      {header(0x80000000u, 4, 8, 0), ERR_VALUE},
      {header(4, 0xFFFFFFFFu, 8, 0), ERR_VALUE},
      {header(0, 4, 8, 0), ERR_INVALID_FILE},
      {header(4, 4, 8, 5), ERR_INVALID_FILE},
      {header(4, 4, 8, 0, 0, 1), ERR_INVALID_FILE},
      {header(4, 4, 8, 0, 0, 0, 1), ERR_INVALID_FILE},
      {header(4, 4, 8, 0, 0, 0, 0, 12), ERR_INVALID_FILE},
      {header(4, 4, 8, 0, 2), ERR_INVALID_FILE},  // no interlace method 2
      // Depths the colour type does not allow.
      {header(4, 4, 3, 0), ERR_INVALID_FILE},
      {header(4, 4, 16, 3), ERR_INVALID_FILE},
      {header(4, 4, 4, 2), ERR_INVALID_FILE},
      {header(4, 4, 4, 4), ERR_INVALID_FILE},
      {header(4, 4, 16, 4), 0},
      // Sizes no memory holds are refused before any allocation.
      {header(100000, 100000, 8, 6), ERR_MEMORY},
      {header(0x7FFFFFFF, 0x7FFFFFFF, 1, 0), ERR_MEMORY},
      {header(0x7FFFFFFF, 1, 8, 2), ERR_MEMORY},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    PngWriter w;
    cases[row].first(w);
    EXPECT_EQ(load(w.bytes).error, cases[row].second) << "row " << row;
  }
}

// tRNS, gAMA, pHYs and bKGD: the rules the suite's files leave unexercised, and the faults.
TEST_F(Png, AncillaryChunks) {
  Data grey = unfiltered(gradient_rows(4, 2, 1)), rgb = unfiltered(gradient_rows(4, 2, 3)),
       rgb16 = unfiltered(gradient_rows(4, 2, 6));
  auto phys = [](uint32_t x, uint32_t y, uint8_t unit, size_t length = 9) {
    return Bytes().u32be(x).u32be(y).u8(unit).cut(length).data;
  };
  struct Case {
    int colour;
    const char* type;
    Data data;
    int32_t error;
    std::vector<double> fields;  // as record_fields gives them; a palette's key is one index
    int depth = 8;
  };
  const Case cases[] = {
      // A palette's key is its first most transparent entry.
      {3, "tRNS", {255, 128, 0, 0}, 0, {1, 2, 0, 0, -1, 0, 0}},
      {3, "tRNS", {200, 100, 100}, 0, {1, 1, 0, 0, -1, 0, 0}},
      {3, "tRNS", {255, 255}, 0, {1, 0, 0, 0, -1, 0, 0}},
      // Grey and RGB keys: 8-bit samples clamped to 0..255, 16-bit ones rounded.
      {0, "tRNS", {0x01, 0x00}, 0, {1, 255, 0, 0, -1, 0, 0}},
      {2, "tRNS", {0, 7, 1, 0, 0x80, 0}, 0, {1, 7, 255, 0, -1, 0, 0}},
      {2, "tRNS", {0xFF, 0xFF, 0x12, 0x34, 0, 0x80}, 0, {1, 255, 18, 0, -1, 0, 0}, 16},
      {0, "tRNS", {1}, ERR_INVALID_FILE, {}},
      {0, "gAMA", {0, 0, 0xB1, 0x8F}, 0, {0, 0, 0, 0, 0.45455, 0, 0}},
      {0, "gAMA", {0, 0, 1}, ERR_INVALID_FILE, {}},
      {0, "pHYs", phys(2835, 3780, 1), 0, {0, 0, 0, 0, -1, 72, 96}},  // per metre become per inch
      {0, "pHYs", phys(1, 4, 0), 0, {0, 0, 0, 0, -1, 1, 4}},          // unit 0: as they stand
      {0, "pHYs", phys(2835, 2835, 2), ERR_INVALID_FILE, {}},
      {0, "pHYs", phys(1, 1, 0, 8), ERR_INVALID_FILE, {}},
      {0, "bKGD", {1}, ERR_INVALID_FILE, {}},
  };
  for (const Case& c : cases) {
    PngWriter w;
    w.ihdr(4, 2, c.depth, c.colour);
    if (c.colour == 3) w.chunk("PLTE", Data(12, 9));
    w.chunk(c.type, c.data).idat(c.colour != 2 ? grey : c.depth == 16 ? rgb16 : rgb).iend();
    LoadResult r = load(w.bytes);
    ASSERT_EQ(r.error, c.error) << c.type << " " << c.data.size();
    if (c.error != 0) continue;
    EXPECT_EQ(record_fields(r.images[0]), c.fields) << c.type << " " << c.data.size();
  }
}

// What the colour comparison does not see: padding bits, the alpha byte, 16-bit keys, rows
// the data does not reach and the background they keep.
TEST_F(Png, StoredBytes) {
  std::vector<Data> rows = gradient_rows(5, 6, 1);
  Data raw = unfiltered(rows), half(raw.begin(), raw.begin() + 3 * 6), twice = raw;
  twice.insert(twice.end(), raw.begin(), raw.end());
  // Adam7 data that ends inside a pass: the bytes left over make no row of a later, narrower
  // pass (the fifth pass of a 7-pixel-wide picture takes 5 bytes a row, the sixth 4).
  Data short_pass(18, 0);
  short_pass.insert(short_pass.end(), {0, 9, 9, 9});
  const Data grey_palette(3 * 256, 0);
  struct Case {
    const char* what;
    Data file;
    size_t at;
    Data bytes;
  };
  const Case cases[] = {
      {"1-bit rows of 12 bytes, pixels 10 and 11 from the padding bits",
       PngWriter().ihdr(10, 2, 1, 0).idat(unfiltered({{0xA5, 0xDF}, {0xFF, 0x00}})).iend().bytes, 0,
       {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}},
      {"RGBA keeps its alpha", PngWriter().ihdr(2, 1, 8, 6).idat(unfiltered({{1, 2, 3, 4, 5, 6, 7, 8}})).iend().bytes, 0,
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"16-bit alpha rounded (0x0180 / 257 is 1.49)",
       PngWriter().ihdr(1, 1, 16, 6).idat(unfiltered({{1, 0x80, 2, 99, 3, 99, 0xFF, 0x7F}})).iend().bytes, 0, {1, 2, 3, 255}},
      // 0x1233, 0x1234 and 0x1235 all round to 18: only the key itself lands on it.
      {"a 16-bit grey key", PngWriter().ihdr(3, 1, 16, 0).chunk("tRNS", {0x12, 0x34})
           .idat(unfiltered({{0x12, 0x33, 0x12, 0x34, 0x12, 0x35}})).iend().bytes, 0, {17, 18, 19}},
      {"a 16-bit RGB key", PngWriter().ihdr(2, 1, 16, 2).chunk("tRNS", {0, 0, 0x12, 0x34, 0xFF, 0xFF})
           .idat(unfiltered({{0, 0, 0x12, 0x34, 0xFF, 0xFF, 0, 0, 0x12, 0x34, 0xFF, 0xFE}})).iend().bytes, 0,
       {0, 18, 255, 0, 0, 18, 254, 0}},
      {"data for more rows than the image has", PngWriter().ihdr(5, 6, 8, 0).idat(twice).iend().bytes, 5 * 8 + 4, {rows[5][4]}},
      {"empty IDAT chunks around the data add nothing",
       PngWriter().ihdr(5, 6, 8, 0).chunk("IDAT", {}).idat(raw).chunk("IDAT", {}).iend().bytes, 5 * 8 + 4, {rows[5][4]}},
      {"three rows of six, then the background",
       PngWriter().ihdr(5, 6, 8, 3).chunk("PLTE", grey_palette).chunk("bKGD", {42}).idat(half).iend().bytes, 2 * 8,
       {rows[2][0], rows[2][1], rows[2][2], rows[2][3], rows[2][4], 42, 42, 42, 42, 42}},
      {"three rows of six, then zero", PngWriter().ihdr(5, 6, 8, 0).idat(half).iend().bytes, 2 * 8 + 4, {rows[2][4], 0, 0, 0, 0, 0}},
      {"Adam7 data ending inside a pass", PngWriter().ihdr(7, 8, 8, 0, 1).idat(short_pass).iend().bytes, 0, {0, 0}},
      {"Adam7 with the background", PngWriter().ihdr(7, 8, 8, 0, 1).chunk("bKGD", {0, 77}).idat(short_pass).iend().bytes, 0,
       {0, 77}},
      {"an RGB background: R, G, B, 0 in every slot",
       PngWriter().ihdr(2, 2, 8, 2).chunk("bKGD", {0, 1, 0x01, 0x00, 0xFF, 0xFF}).idat(unfiltered({{1, 2, 3, 4, 5, 6}})).iend().bytes,
       4, {4, 5, 6, 0, 1, 255, 0, 0}},
  };
  for (const Case& c : cases) {
    const ImageRecord* image = load_ok(c.file);
    ASSERT_NE(image, nullptr) << c.what;
    EXPECT_EQ(Data(image->pixels + c.at, image->pixels + c.at + c.bytes.size()), c.bytes) << c.what;
  }
  // A palette of more than 256 entries keeps the first 256.
  Data plte;
  for (int i = 0; i < 300; ++i) plte.insert(plte.end(), {uint8_t(i), uint8_t(i >> 8), 7});
  const ImageRecord* image = load_ok(PngWriter().ihdr(2, 1, 8, 3).chunk("PLTE", plte).idat(unfiltered({{255, 3}})).iend().bytes);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(palette_rgb(image, 255), 0xFF0007u);
}

}  // namespace
