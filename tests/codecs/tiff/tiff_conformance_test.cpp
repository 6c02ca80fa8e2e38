// TIFF pages compared pixel by pixel with libtiff's decoding: generated variants of every
// compression, layout and orientation, colour spaces and JPEG,
// and the public corpus.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "codecs/raster_test_support.h"
#include "core/errors.h"
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
std::pair<int, int> oriented(int orientation, int x, int y, int w, int h) {
  switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {h - 1 - y, x};
    case 7: return {h - 1 - y, w - 1 - x};
    case 8: return {y, w - 1 - x};
    default: return {x, y};
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
  *pages = TIFFNumberOfDirectories(tif);
  bool ok = TIFFSetDirectory(tif, static_cast<tdir_t>(directory)) != 0;
  uint32_t w = 0, h = 0, tw = 0, tl = 0;
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
  const bool tiled = TIFFIsTiled(tif);
  if (!tiled || !TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tl)) {
    tw = w;  // a scanline at a time
    tl = 1;
  }
  const int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
  const int per_pixel = planar == PLANARCONFIG_SEPARATE ? 1 : spp;
  // samples[s][y * w + x], read a tile or a scanline at a time.
  std::vector<std::vector<uint8_t>> samples(spp, std::vector<uint8_t>(size_t(w) * h));
  std::vector<uint8_t> chunk(tiled ? TIFFTileSize(tif) : TIFFScanlineSize(tif));
  const tmsize_t row_size = tiled ? TIFFTileRowSize(tif) : TIFFScanlineSize(tif);
  for (int p = 0; p < planes && ok; ++p)
    for (uint32_t y0 = 0; y0 < h && ok; y0 += tl)
      for (uint32_t x0 = 0; x0 < w && ok; x0 += tw) {
        ok = (tiled ? TIFFReadTile(tif, chunk.data(), x0, y0, 0, uint16_t(p))
                    : TIFFReadScanline(tif, chunk.data(), y0, uint16_t(p))) >= 0;
        for (uint32_t r = 0; r < tl && y0 + r < h; ++r)
          for (uint32_t i = 0; i < tw && x0 + i < w; ++i)
            for (int c = 0; c < per_pixel; ++c) {
              const uint8_t* row = chunk.data() + r * row_size;
              const size_t bit = (size_t(i) * per_pixel + c) * bps;
              samples[p + c][size_t(y0 + r) * w + x0 + i] =
                  bps == 16  ? colour_byte(reinterpret_cast<const uint16_t*>(row)[bit / 16])
                  : bps == 8 ? row[bit / 8]
                             : uint8_t((row[bit / 8] >> (8 - bps - bit % 8)) & ((1 << bps) - 1));
            }
      }
  const bool transposed = orientation > 4;
  out->width = int(transposed ? h : w);
  out->height = int(transposed ? w : h);
  out->rgb.assign(size_t(w) * h, 0);
  const int step = 255 / (bps == 16 ? 255 : (1 << bps) - 1);
  // Three chunky samples land as R, G, B whatever the photometric says.
  const int model = (per_pixel == 3 && photometric < PHOTOMETRIC_RGB) ? int(PHOTOMETRIC_RGB) : photometric;
  for (uint32_t y = 0; y < h && ok; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const int v = samples[0][i];
      uint32_t colour = 0;
      switch (model) {
        case PHOTOMETRIC_MINISWHITE: colour = pack(255 - v * step, 255 - v * step, 255 - v * step); break;
        case PHOTOMETRIC_MINISBLACK: colour = pack(v * step, v * step, v * step); break;
        case PHOTOMETRIC_PALETTE: colour = pack(colour_byte(map_r[v]), colour_byte(map_g[v]), colour_byte(map_b[v])); break;
        case PHOTOMETRIC_RGB: colour = pack(v, samples[1][i], samples[2][i]); break;
        case PHOTOMETRIC_SEPARATED: {
          const int k = samples[3][i];
          colour = pack(std::max(0, 255 - v - k), std::max(0, 255 - samples[1][i] - k), std::max(0, 255 - samples[2][i] - k));
          break;
        }
        default: ok = false; break;
      }
      const auto [c, r] = oriented(orientation, int(x), int(y), int(w), int(h));
      out->rgb[size_t(r) * out->width + c] = colour;
    }
  TIFFClose(tif);
  return ok;
}

// Our page as shown; a two-plane page (grey and alpha) shows its first plane.
std::vector<uint32_t> shown(const ImageRecord* image) {
  if (image->planes != 2 || image->pixel_bytes != 1) return image_rgb(image);
  std::vector<uint32_t> rgb;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x) rgb.push_back(palette_rgb(image, pixel_at(image, y, x)));
  return rgb;
}

// Loads `path` and checks every page against libtiff; returns the number of pages.
// Lossy data (JPEG) may differ by `tolerance` in each channel.
size_t expect_like_libtiff(const std::string& path, int tolerance = 0) {
  LoadResult result = load_file(path);
  EXPECT_EQ(result.error, 0) << path;
  int pages = 0;
  for (size_t page = 0; page < result.images.size(); ++page) {
    Picture expected;
    EXPECT_TRUE(libtiff_page(path, static_cast<int>(page), &expected, &pages)) << path;
    const std::vector<uint32_t> ours = shown(result.images[page]);
    const int difference = channel_difference(ours, expected.rgb).max;  // 256 for different sizes
    EXPECT_LE(difference, tolerance) << path << " page " << page;
  }
  EXPECT_EQ(result.images.size(), size_t(result.error == 0 ? pages : 0)) << path;
  return result.images.size();
}

const std::string& cases_dir() {
  return generated_dir("tiff-cases", [](const std::string& out) {
    return run_command("sh " + std::string(KORVELA_SOURCE_DIR) + "/tests/codecs/tiff/make_tiff_cases.sh " + out +
                       " >/dev/null 2>&1");
  });
}

using TiffConformance = RasterTest;

// Generated variants, orientations 1 to 8 included, load like libtiff's decoding or are
// refused, leaving no image behind, with the code their name carries ("bad3-" unknown format,
// other "bad" files invalid).
TEST_F(TiffConformance, GeneratedVariantsMatchLibtiffOrAreRefused) {
  std::vector<std::string> names = files_in(cases_dir(), "ok-");
  ASSERT_GT(names.size(), 250u);
  for (const std::string& name : files_in(cases_dir(), "orient-")) names.push_back(name);
  for (const std::string& name : names) {
    test_reset();
    expect_like_libtiff(cases_dir() + "/" + name);
  }
  for (const std::string& name : files_in(cases_dir(), "bad")) {
    test_reset();
    const LoadResult result = load_file(cases_dir() + "/" + name);
    EXPECT_EQ(result.error, name.rfind("bad3-", 0) == 0 ? ERR_UNKNOWN_FORMAT : ERR_INVALID_FILE) << name;
    EXPECT_TRUE(result.images.empty()) << name;
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
    ASSERT_EQ(result.images.size(), titles.size()) << name;
    for (size_t i = 0; i < titles.size(); ++i)
      EXPECT_NE(image_title(result.images[i], int(i + 1), int(titles.size())).find(titles[i]), std::string::npos)
          << name << " page " << i + 1;
  }
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
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return {};
  uint32_t w = 0, h = 0, cw = 0, ch = 0, table_size = 0;
  const uint8_t* tables = nullptr;
  uint64_t* sizes = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_JPEGTABLES, &table_size, &tables);
  const bool tiled = TIFFIsTiled(tif);
  TIFFGetField(tif, tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_IMAGEWIDTH, &cw);
  TIFFGetFieldDefaulted(tif, tiled ? TIFFTAG_TILELENGTH : TIFFTAG_ROWSPERSTRIP, &ch);
  TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &sizes);
  std::vector<uint32_t> page(size_t(w) * h, 0);
  const std::string jpg = test_temp_dir() + "/chunk.jpg", ppm = test_temp_dir() + "/chunk.ppm";
  for (uint32_t i = 0; i < (tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif)); ++i) {
    std::vector<uint8_t> raw(sizes[i]);
    raw.resize(tiled ? TIFFReadRawTile(tif, i, raw.data(), raw.size()) : TIFFReadRawStrip(tif, i, raw.data(), raw.size()));
    std::vector<uint8_t> joined(tables, tables + (table_size >= 2 ? table_size - 2 : 0));
    joined.insert(joined.end(), raw.begin() + (table_size >= 2 ? 2 : 0), raw.end());
    std::ofstream(jpg, std::ios::binary).write(reinterpret_cast<const char*>(joined.data()), joined.size());
    Picture chunk;
    if (run_command("djpeg -dct float -nosmooth -pnm " + jpg + " > " + ppm) != 0 ||
        !read_pnm_rgb(ppm, &chunk.width, &chunk.height, &chunk.rgb)) {
      page.clear();
      break;
    }
    const uint32_t x0 = (i % ((w + cw - 1) / cw)) * cw, y0 = (i / ((w + cw - 1) / cw)) * ch;
    for (uint32_t y = 0; y < uint32_t(chunk.height) && y0 + y < h; ++y)
      for (uint32_t x = 0; x < uint32_t(chunk.width) && x0 + x < w; ++x)
        page[size_t(y0 + y) * w + x0 + x] = chunk.rgb[size_t(y) * chunk.width + x];
  }
  TIFFClose(tif);
  return page;
}

// YCbCr against libtiff's conversion, JPEG against djpeg, and CIELab made from a known sRGB
// picture against that picture, within what 8-bit Lab and the writer's rounding lose. JPEG of
// CMYK against libtiff's samples.
TEST_F(TiffConformance, ColourSpacesAndJpegAreConvertedToRgb) {
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
    const ChannelDifference d = channel_difference(image_rgb(image), c.oracle == kSource  ? original
                                                                     : c.oracle == kDjpeg ? djpeg_page(c.path)
                                                                     : libtiff_rgba(c.path, image->width, image->height));
    EXPECT_LE(d.max, c.max) << c.path;
    EXPECT_LE(d.mean, c.mean) << c.path;
  }
  test_reset();
  expect_like_libtiff(cases_dir() + "/jpeg-cmyk-strips.tif", 2);
}

// Every file loads like libtiff or is refused, leaving no image behind: 32 as of an unknown
// format (signed and floating-point samples among them) and 47 as invalid (depths of 3 to 14
// bits among them). A file that changes side or code changes a count; the refused files are
// named when one does.
TEST_F(TiffConformance, CorpusFilesLoadLikeLibtiffOrAreRefused) {
  const std::string root = corpus_path("tiff-samples") + "/";
  std::map<int32_t, std::string> refused;
  std::map<int32_t, size_t> counts;
  size_t files = 0;
  for (const char* sub : {"", "seq/", "bigtiff/"})
    for (const std::string& file : files_in(root + sub, "")) {
      const std::string name = sub + file;
      if (name.find(".tif") == std::string::npos) continue;
      ++files;
      if (name.find("jpeg") != std::string::npos || name.find(".jpg") != std::string::npos) continue;  // djpeg's above
      test_reset();
      const LoadResult result = load_file(root + name);
      if (result.error == 0) {
        test_reset();
        expect_like_libtiff(root + name);
        continue;
      }
      EXPECT_TRUE(result.images.empty()) << name;
      refused[result.error] += " " + name;
      ++counts[result.error];
    }
  ASSERT_GT(files, 120u);
  EXPECT_EQ(counts, (std::map<int32_t, size_t>{{ERR_UNKNOWN_FORMAT, 32}, {ERR_INVALID_FILE, 47}}))
      << "unknown:" << refused[ERR_UNKNOWN_FORMAT] << "\ninvalid:" << refused[ERR_INVALID_FILE];
}

}  // namespace
