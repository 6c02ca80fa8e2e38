// TIFF pages compared pixel by pixel with libtiff's decoding: generated variants of every
// compression and layout, orientations (also against ImageMagick), the public corpus, and
// files large enough to be read through the stream's small window.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/group.h"
#include "codecs/raster_test_support.h"
#include "image/image.h"
#include "support/test_support.h"

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;
};

uint32_t pack(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }
uint8_t colour_byte(uint16_t v) { return static_cast<uint8_t>(std::floor(v * 255.0 / 65535.0 + 0.5)); }

// Where file pixel (x, y) is shown, for a file of w x h pixels, by the TIFF Orientation tag.
void oriented(int orientation, int x, int y, int w, int h, int* c, int* r) {
  switch (orientation) {
    case 2: *c = w - 1 - x; *r = y; break;
    case 3: *c = w - 1 - x; *r = h - 1 - y; break;
    case 4: *c = x; *r = h - 1 - y; break;
    case 5: *c = y; *r = x; break;
    case 6: *c = h - 1 - y; *r = x; break;
    case 7: *c = h - 1 - y; *r = w - 1 - x; break;
    case 8: *c = y; *r = w - 1 - x; break;
    default: *c = x; *r = y; break;
  }
}

// libtiff decodes the samples of one directory; the colours follow the viewer's rules:
// 16-bit samples rounded to 8 bits, grey ramps, the colour map rounded to bytes, R G B from
// the first three samples, and CMYK as (255 - C - K, 255 - M - K, 255 - Y - K).
bool libtiff_page(const std::string& path, int directory, Picture* out, int* pages) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return false;
  if (pages != nullptr) *pages = TIFFNumberOfDirectories(tif);
  bool ok = TIFFSetDirectory(tif, static_cast<tdir_t>(directory)) != 0;
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = 0, planar = 1, orientation = 1;
  uint16_t *map_r = nullptr, *map_g = nullptr, *map_b = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  if (photometric == PHOTOMETRIC_PALETTE) TIFFGetField(tif, TIFFTAG_COLORMAP, &map_r, &map_g, &map_b);
  const int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
  const int per_pixel = planar == PLANARCONFIG_SEPARATE ? 1 : spp;
  // samples[s][y * w + x]
  std::vector<std::vector<uint8_t>> samples(spp, std::vector<uint8_t>(size_t(w) * h));
  auto take_row = [&](const uint8_t* row, uint32_t y, uint32_t x0, uint32_t n, int plane) {
    for (uint32_t i = 0; i < n && x0 + i < w; ++i) {
      for (int c = 0; c < per_pixel; ++c) {
        size_t bit = (size_t(i) * per_pixel + c) * bps;
        uint8_t v = bps == 16  ? colour_byte(reinterpret_cast<const uint16_t*>(row)[bit / 16])
                    : bps == 8 ? row[bit / 8]
                               : static_cast<uint8_t>((row[bit / 8] >> (8 - bps - bit % 8)) & ((1 << bps) - 1));
        samples[plane + c][size_t(y) * w + x0 + i] = v;
      }
    }
  };
  if (ok && TIFFIsTiled(tif)) {
    uint32_t tw = 0, tl = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tl);
    std::vector<uint8_t> tile(TIFFTileSize(tif));
    const tmsize_t row_size = TIFFTileRowSize(tif);
    for (int p = 0; p < planes && ok; ++p)
      for (uint32_t ty = 0; ty < h && ok; ty += tl)
        for (uint32_t tx = 0; tx < w && ok; tx += tw) {
          ok = TIFFReadTile(tif, tile.data(), tx, ty, 0, static_cast<uint16_t>(p)) >= 0;
          for (uint32_t r = 0; r < tl && ty + r < h; ++r) take_row(tile.data() + r * row_size, ty + r, tx, tw, p);
        }
  } else if (ok) {
    std::vector<uint8_t> line(TIFFScanlineSize(tif));
    for (int p = 0; p < planes && ok; ++p)
      for (uint32_t y = 0; y < h && ok; ++y) {
        ok = TIFFReadScanline(tif, line.data(), y, static_cast<uint16_t>(p)) >= 0;
        take_row(line.data(), y, 0, w, p);
      }
  }
  if (ok) {
    const bool transposed = orientation > 4;
    out->width = static_cast<int>(transposed ? h : w);
    out->height = static_cast<int>(transposed ? w : h);
    out->rgb.assign(size_t(w) * h, 0);
    const int top = bps == 16 ? 255 : (1 << bps) - 1;
    const int step = 255 / top;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x;
        uint32_t colour = 0;
        const int v = samples[0][i];
        // Three chunky samples land as R, G, B whatever the photometric says.
        const int model = (per_pixel == 3 && photometric < PHOTOMETRIC_RGB) ? int(PHOTOMETRIC_RGB) : photometric;
        switch (model) {
          case PHOTOMETRIC_MINISWHITE: colour = pack(255 - v * step, 255 - v * step, 255 - v * step); break;
          case PHOTOMETRIC_MINISBLACK: colour = pack(v * step, v * step, v * step); break;
          case PHOTOMETRIC_PALETTE:
            colour = pack(colour_byte(map_r[v]), colour_byte(map_g[v]), colour_byte(map_b[v]));
            break;
          case PHOTOMETRIC_RGB: colour = pack(v, samples[1][i], samples[2][i]); break;
          case PHOTOMETRIC_SEPARATED: {
            const int k = samples[3][i];
            colour = pack(std::max(0, 255 - v - k), std::max(0, 255 - samples[1][i] - k),
                          std::max(0, 255 - samples[2][i] - k));
            break;
          }
          default: ok = false; break;
        }
        int c, r;
        oriented(orientation, int(x), int(y), int(w), int(h), &c, &r);
        out->rgb[size_t(r) * out->width + c] = colour;
      }
  }
  TIFFClose(tif);
  return ok;
}

// Our page as shown; a two-plane page (grey and alpha) shows its first plane.
std::vector<uint32_t> shown(const ImageRecord* image) {
  if (image->planes == 2 && image->pixel_bytes == 1) {
    std::vector<uint32_t> rgb(size_t(image->width) * image->height);
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) {
        uint8_t v = image->pixels[size_t(y) * image->row_bytes + x];
        rgb[size_t(y) * image->width + x] = pack(image->palette_red[v], image->palette_green[v], image->palette_blue[v]);
      }
    return rgb;
  }
  return image_rgb(image);
}

// Loads `path` and checks every page against libtiff; returns the number of pages.
// Lossy data (JPEG) may differ by `tolerance` in each channel.
size_t expect_like_libtiff(const std::string& path, int tolerance = 0) {
  LoadResult result = load_file(path);
  EXPECT_EQ(result.error, 0) << path;
  if (result.error != 0) return 0;
  int pages = 0;
  for (size_t page = 0; page < result.images.size(); ++page) {
    Picture expected;
    EXPECT_TRUE(libtiff_page(path, static_cast<int>(page), &expected, &pages)) << path;
    const ImageRecord* image = result.images[page];
    EXPECT_EQ(image->width, expected.width) << path;
    EXPECT_EQ(image->height, expected.height) << path;
    if (image->width != expected.width || image->height != expected.height) continue;
    std::vector<uint32_t> ours = shown(image);
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < ours.size(); ++i)
      if (max_channel_difference({ours[i]}, {expected.rgb[i]}) > tolerance && differ++ == 0) first = i;
    EXPECT_EQ(differ, 0u) << path << " page " << page << ": first difference at pixel " << first
                          << " ours " << std::hex << ours[first] << " libtiff " << expected.rgb[first];
  }
  EXPECT_EQ(result.images.size(), size_t(pages)) << path;
  return result.images.size();
}

const std::string& cases_dir() {
  static std::string dir = [] {
    std::string d = test_temp_dir() + "/tiff-cases";
    int status = run_command("sh " + std::string(KORVELA_SOURCE_DIR) +
                             "/tests/codecs/tiff/make_tiff_cases.sh " + d + " >/dev/null 2>&1");
    EXPECT_EQ(status, 0) << "making the TIFF cases failed";
    return d;
  }();
  return dir;
}

class TiffConformance : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

TEST_F(TiffConformance, GeneratedVariantsMatchLibtiff) {
  std::vector<std::string> names = files_in(cases_dir(), "ok-");
  ASSERT_GT(names.size(), 250u);
  for (const std::string& name : names) {
    test_reset();
    expect_like_libtiff(cases_dir() + "/" + name);
  }
}

// The title names each page's depth and compression, BigTIFF and 16-bit samples included.
TEST_F(TiffConformance, TitlesNameDepthAndCompressionOfEveryPage) {
  const std::map<std::string, std::vector<std::string>> expected = {
      {"ok-rgb16-be-zip_2-one.tif", {"1 x 24 bits - TIFF compression Deflate"}},
      {"ok-bw-mh.tif", {"1 x 1 bits - TIFF CCITT-1D"}},
      {"ok-bww-g3_2d-one.tif", {"1 x 1 bits - TIFF T4 (Group 3 Fax)"}},
      {"ok-big-rgb-lzw.tif", {"1 x 24 bits - TIFF compression LZW"}},
      {"ok-multipage.tif",
       {"1 x 24 bits - TIFF compression LZW - page 1/5", " - 67 x 45 pixels - 1 x 1 bits - TIFF T6 (Group 4 Fax) - page 2/5",
        "1 x 8 bits - TIFF compression PackBits - page 3/5", "1 x 4 bits - TIFF compression LZW - page 4/5",
        "1 x 32 bits - TIFF non compresse - page 5/5"}}};
  for (const auto& [name, titles] : expected) {
    test_reset();
    LoadResult result = load_file(cases_dir() + "/" + name);
    ASSERT_EQ(result.error, 0) << name;
    ASSERT_EQ(result.images.size(), titles.size()) << name;
    for (size_t i = 0; i < titles.size(); ++i) {
      const std::string title = image_title(result.images[i], int(i + 1), int(titles.size()));
      EXPECT_NE(title.find(titles[i]), std::string::npos) << title;
    }
  }
}

TEST_F(TiffConformance, OrientationsLandAsImageMagickShowsThem) {
  for (const char* kind : {"rgb-strips", "pal8-tiles", "bw-g4"}) {
    for (int o = 1; o <= 8; ++o) {
      test_reset();
      const std::string path = cases_dir() + "/orient-" + std::to_string(o) + "-" + kind + ".tif";
      expect_like_libtiff(path);
      const std::string ppm = test_temp_dir() + "/oriented.ppm";
      ASSERT_EQ(run_command("convert " + path + " -auto-orient -depth 8 ppm:" + ppm), 0);
      Picture magick;
      ASSERT_TRUE(read_pnm_rgb(ppm, &magick.width, &magick.height, &magick.rgb));
      LoadResult result = load_file(path);
      ASSERT_EQ(result.error, 0) << path;
      const ImageRecord* image = result.images[0];
      ASSERT_EQ(image->width, magick.width) << path;
      ASSERT_EQ(image->height, magick.height) << path;
      // ImageMagick rounds palette colours its own way: allow one step.
      std::vector<uint32_t> ours = image_rgb(image);
      size_t differ = 0;
      for (size_t i = 0; i < ours.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
          if (std::abs(int((ours[i] >> shift) & 255) - int((magick.rgb[i] >> shift) & 255)) > 1) {
            ++differ;
            break;
          }
      EXPECT_EQ(differ, 0u) << path;
    }
  }
}

// Loads `path` and expects it refused with `code`, leaving no image behind.
void expect_refused(const std::string& path, int32_t code) {
  LoadResult result = load_file(path);
  EXPECT_EQ(result.error, code) << path;
  int32_t left = -1;
  group_count(result.group, TYPE_IMAGE, &left);
  EXPECT_EQ(left, 0) << path;
}

TEST_F(TiffConformance, RefusedVariantsGiveTheirCodes) {
  for (const std::string& name : files_in(cases_dir(), "bad")) {
    test_reset();
    expect_refused(cases_dir() + "/" + name, name.rfind("bad3-", 0) == 0 ? ERR_UNKNOWN_FORMAT : ERR_INVALID_FILE);
  }
}

// YCbCr against libtiff's own conversion to RGB, CIELab against ImageMagick's.
// Largest and mean difference per channel of two pictures of the same size.
std::pair<int, double> gap(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int64_t total = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8) total += std::abs(int((a[i] >> shift) & 255) - int((b[i] >> shift) & 255));
  return {max_channel_difference(a, b), a.empty() ? 0.0 : double(total) / (3 * a.size())};
}

// libtiff's own conversion of a page to RGB.
std::vector<uint32_t> libtiff_rgba(const std::string& path, int width, int height) {
  std::vector<uint32_t> rgba(size_t(width) * height);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr || !TIFFReadRGBAImageOriented(tif, width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) rgba.clear();
  if (tif != nullptr) TIFFClose(tif);
  for (uint32_t& p : rgba) p = pack(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p));
  return rgba;
}

// A JPEG-compressed page as djpeg decodes it: each strip or tile is joined to the shared
// tables and decoded with the float transform and without chroma smoothing, like ours.
std::vector<uint32_t> djpeg_page(const std::string& path) {
  std::vector<uint32_t> page;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return page;
  uint32_t w = 0, h = 0, cw = 0, ch = 0, table_size = 0;
  const uint8_t* tables = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_JPEGTABLES, &table_size, &tables);
  const bool tiled = TIFFIsTiled(tif);
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &cw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &ch);
  } else {
    cw = w;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &ch);
  }
  page.assign(size_t(w) * h, 0);
  const uint32_t across = (w + cw - 1) / cw;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint64_t* sizes = nullptr;
  TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &sizes);
  const std::string jpg = test_temp_dir() + "/chunk.jpg", ppm = test_temp_dir() + "/chunk.ppm";
  for (uint32_t i = 0; i < count; ++i) {
    std::vector<uint8_t> raw(sizes[i]);
    raw.resize(tiled ? TIFFReadRawTile(tif, i, raw.data(), raw.size()) : TIFFReadRawStrip(tif, i, raw.data(), raw.size()));
    std::vector<uint8_t> joined(tables, tables + (table_size >= 2 ? table_size - 2 : 0));
    joined.insert(joined.end(), raw.begin() + (table_size >= 2 ? 2 : 0), raw.end());
    std::ofstream(jpg, std::ios::binary).write(reinterpret_cast<const char*>(joined.data()), joined.size());
    int cw_got = 0, ch_got = 0;
    std::vector<uint32_t> chunk;
    if (run_command("djpeg -dct float -nosmooth -pnm " + jpg + " > " + ppm) != 0 ||
        !read_pnm_rgb(ppm, &cw_got, &ch_got, &chunk)) {
      page.clear();
      break;
    }
    const uint32_t x0 = (i % across) * cw, y0 = (i / across) * ch;
    for (uint32_t y = 0; y < uint32_t(ch_got) && y0 + y < h; ++y)
      for (uint32_t x = 0; x < uint32_t(cw_got) && x0 + x < w; ++x) page[size_t(y0 + y) * w + x0 + x] = chunk[size_t(y) * cw_got + x];
  }
  TIFFClose(tif);
  return page;
}

// YCbCr against libtiff's conversion, JPEG against djpeg, and CIELab made from a known sRGB
// picture against that picture, within what 8-bit Lab and the writer's rounding lose. JPEG of
// CMYK against libtiff's samples.
TEST_F(TiffConformance, ColourSpacesAndJpegAreConvertedToRgb) {
  test_reset();
  LoadResult source = load_file(cases_dir() + "/src/rgb.tif");
  ASSERT_EQ(source.error, 0);
  const std::vector<uint32_t> original = image_rgb(source.images[0]);
  enum Oracle { kLibtiff, kDjpeg, kSource };
  struct Case {
    std::string path;
    Oracle oracle;
    int max;
    double mean;
  };
  std::vector<Case> cases;
  for (const std::string& name : files_in(cases_dir(), "ycc-")) cases.push_back({cases_dir() + "/" + name, kLibtiff, 1, 0.5});
  for (const std::string& name : files_in(cases_dir(), "lab")) cases.push_back({cases_dir() + "/" + name, kSource, 16, 1.5});
  for (const std::string& name : files_in(cases_dir(), "jpeg-"))
    if (name != "jpeg-cmyk-strips.tif") cases.push_back({cases_dir() + "/" + name, kDjpeg, 2, 1.0});
  // Saturated edges of a test chart: the two decoders round the colour conversion apart.
  for (const char* name : {"tiled-jpeg-rgb-u8.tif", "tiled-jpeg-ycbcr.tif", "quad-tile.jpg.tiff"})
    cases.push_back({corpus_path("tiff-samples") + "/" + name, kDjpeg, 32, 1.0});
  for (const Case& c : cases) {
    test_reset();
    LoadResult result = load_file(c.path);
    ASSERT_EQ(result.error, 0) << c.path;
    const ImageRecord* image = result.images[0];
    const std::vector<uint32_t> expected = c.oracle == kSource  ? original
                                           : c.oracle == kDjpeg ? djpeg_page(c.path)
                                                                : libtiff_rgba(c.path, image->width, image->height);
    const auto [max, mean] = gap(image_rgb(image), expected);
    EXPECT_LE(max, c.max) << c.path;
    EXPECT_LE(mean, c.mean) << c.path;
  }
  test_reset();
  expect_like_libtiff(cases_dir() + "/jpeg-cmyk-strips.tif", 2);
}

// Files the decoder refuses, with the code; every other file must load like libtiff.
const std::map<std::string, int32_t> kCorpusRefused = {
    {"12bit.cropped.rgb.tiff", 14}, {"12bit.cropped.tiff", 14}, {"cmyk-3c-32b-float.tiff", 14},
    {"cmyk-4c-8b.tiff", 14}, {"extra_bits_gray_8b.tiff", 3}, {"gradient-1c-32b-float.tiff", 3},
    {"gradient-1c-32b.tiff", 3}, {"gradient-1c-64b-float.tiff", 14}, {"gradient-1c-64b.tiff", 14},
    {"gradient-3c-32b-float.tiff", 14}, {"gradient-3c-32b.tiff", 14}, {"gradient-3c-64b.tiff", 14},
    {"hpredict-1c-12b.tiff", 14}, {"int16.tif", 3}, {"int16_rgb.tif", 3}, {"int16_zstd.tif", 3},
    {"int8.tif", 3}, {"int8_rgb.tif", 3}, {"logluv-3c-16b.tiff", 3}, {"minisblack-1c-3b.tiff", 14},
    {"minisblack-1c-5b.tiff", 14}, {"minisblack-1c-7b.tiff", 14}, {"minisblack-1c-i16b.tiff", 3},
    {"minisblack-1c-i8b.tiff", 3}, {"miniswhite-1c-12b.tiff", 14}, {"miniswhite-1c-3b.tiff", 14},
    {"miniswhite-1c-6b.tiff", 14}, {"predictor-3-gray-f32.tif", 3}, {"predictor-3-rgb-f32.tif", 14},
    {"quad-lzw-compat.tiff", 14}, {"random-fp16-pred2.tiff", 3}, {"random-fp16-pred3.tiff", 3},
    {"random-fp16.tiff", 3}, {"single-black-fp16.tiff", 3}, {"tiled-cmyk-i8.tif", 3},
    {"tiled-oversize-gray-i8.tif", 3}, {"white-fp16-pred2.tiff", 3}, {"white-fp16-pred3.tiff", 3},
    {"white-fp16.tiff", 3}, {"seq/seq-1c-10b-6d739fa2.tiff", 14},
    {"seq/seq-1c-10b-hpredict-6d739fa2.tiff", 14}, {"seq/seq-1c-10b-miniswhite-6d739fa2.tiff", 14},
    {"seq/seq-1c-12b-47c39b31.tiff", 14}, {"seq/seq-1c-12b-hpredict-47c39b31.tiff", 14},
    {"seq/seq-1c-12b-miniswhite-47c39b31.tiff", 14}, {"seq/seq-1c-14b-e883657f.tiff", 14},
    {"seq/seq-1c-14b-hpredict-e883657f.tiff", 14}, {"seq/seq-1c-14b-miniswhite-e883657f.tiff", 14},
    {"seq/seq-1c-24b-072a9dc9.tiff", 3}, {"seq/seq-1c-24b-hpredict-072a9dc9.tiff", 3},
    {"seq/seq-1c-24b-miniswhite-072a9dc9.tiff", 3}, {"seq/seq-1c-32f-390fe673.tiff", 3},
    {"seq/seq-1c-32f-deflate-fpredict-390fe673.tiff", 3}, {"seq/seq-1c-3b-ef237c07.tiff", 14},
    {"seq/seq-1c-3b-miniswhite-ef237c07.tiff", 14}, {"seq/seq-1c-5b-73098d17.tiff", 14},
    {"seq/seq-1c-5b-miniswhite-73098d17.tiff", 14}, {"seq/seq-1c-64f-afa8560e.tiff", 14},
    {"seq/seq-1c-64f-deflate-fpredict-afa8560e.tiff", 14},
    {"seq/seq-1c-6b-miniswhite-79cafbb6.tiff", 14}, {"seq/seq-1c-7b-9c61ba70.tiff", 14},
    {"seq/seq-1c-7b-miniswhite-9c61ba70.tiff", 14}, {"seq/seq-1c-i16-63af2488.tiff", 3},
    {"seq/seq-1c-i32-99fddec2.tiff", 3}, {"seq/seq-1c-i8-f8446bbe.tiff", 3},
    {"seq/seq-3c-10b-contig-d08d5dc0.tiff", 14}, {"seq/seq-3c-10b-planar-c82e8ab6.tiff", 14},
    {"seq/seq-3c-12b-contig-e6f40b4a.tiff", 14}, {"seq/seq-3c-12b-planar-e29e8e25.tiff", 14},
    {"seq/seq-3c-14b-contig-f4dcc6cc.tiff", 14}, {"seq/seq-3c-14b-planar-4dde706b.tiff", 14},
    {"seq/seq-3c-24b-contig-27b9f8ce.tiff", 14}, {"seq/seq-3c-24b-planar-6296c0c9.tiff", 3},
    {"seq/seq-3c-32f-9a471c2b.tiff", 14}, {"seq/seq-3c-5b-contig-09f197f4.tiff", 14},
    {"seq/seq-3c-64f-9fff098a.tiff", 14}, {"seq/seq-3c-7b-contig-2e4f43c5.tiff", 14},
    {"seq/seq-3c-i16-f7fcf423.tiff", 3}, {"seq/seq-3c-i8-d7550ce4.tiff", 3}};

TEST_F(TiffConformance, CorpusFilesLoadLikeLibtiffOrAreRefused) {
  const std::string root = corpus_path("tiff-samples");
  std::vector<std::string> names;
  for (const char* sub : {"", "seq/", "bigtiff/"})
    for (const std::string& name : files_in(root + "/" + sub, ""))
      if (name.find(".tif") != std::string::npos) names.push_back(sub + name);
  ASSERT_GT(names.size(), 120u);
  size_t loaded = 0;
  for (const std::string& name : names) {
    test_reset();
    auto refused = kCorpusRefused.find(name);
    if (name.find("jpeg") != std::string::npos || name.find(".jpg") != std::string::npos) {
      ++loaded;  // compared with djpeg above
    } else if (refused != kCorpusRefused.end()) {
      expect_refused(root + "/" + name, refused->second);
    } else {
      loaded += expect_like_libtiff(root + "/" + name) > 0;
    }
  }
  EXPECT_EQ(loaded, names.size() - kCorpusRefused.size());
}

// Files of 10 MiB and more are read through a 4096-byte window instead of whole.
TEST_F(TiffConformance, LargeFilesReadThroughTheWindow) {
  const std::string dir = test_temp_dir();
  ASSERT_EQ(run_command("cd " + dir + " && convert -seed 7 -size 1900x1850 plasma:fractal -depth 8 "
                        "big.tif && tiffcp -c none -r 37 big.tif big-none.tif && "
                        "convert -seed 8 -size 1600x1500 xc: +noise Random -depth 8 noise.tif && "
                        "tiffcp -c lzw -t -w 256 -l 128 noise.tif big-lzw.tif"),
            0);
  for (const char* name : {"big-none.tif", "big-lzw.tif"}) {
    test_reset();
    const std::string path = dir + "/" + name;
    ASSERT_GE(read_file(path).size(), 10u << 20) << name;
    expect_like_libtiff(path);
  }
}

}  // namespace
