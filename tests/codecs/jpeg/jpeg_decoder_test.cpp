// JPEG decoding: the corpus, cjpeg files of every common layout against djpeg's float
// decoding, lossless transforms that must decode identically, headers, refusals, and damaged
// files.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "codecs/jpeg/jpeg_simd.h"
#include "codecs/jpeg/jpeg_test_support.h"
#include "core/errors.h"
#include "image/image.h"
#include "image/pixels.h"
#include "support/test_support.h"

using namespace jpeg_test;

namespace {

class Jpeg : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
  void TearDown() override { jpeg_allow_simd(true); }

  // Loads a file that must decode.
  const ImageRecord* load_ok(const std::string& path) {
    LoadResult r = load_file(path);
    EXPECT_EQ(r.error, 0) << path;
    EXPECT_EQ(r.images.size(), 1u) << path;
    return r.images.empty() ? nullptr : r.images[0];
  }

  int load_error(const std::vector<uint8_t>& bytes, const std::string& name = "case.jpg") {
    return load_file(write_temp_file(name, bytes)).error;
  }

  void clear_log() { log_ = log_to_temp("JPEGTEST"); }
  std::string read_log() const { return read_text(log_); }
  std::string log_;
};

std::string corpus(const std::string& name) { return corpus_path("jpeg-testimages/" + name); }

const uint8_t kSof0 = 0xC0;

// Offset of the n-th `marker` (from 0) after the start of image, of the last one for n < 0.
size_t marker_at(const std::vector<uint8_t>& file, uint8_t marker, int n = 0) {
  size_t found = 0;
  for (size_t i = 2; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == marker && (found = i, n-- == 0)) break;
  return found;
}

Segment* find_segment(JpegParts& parts, uint8_t marker) {
  for (Segment& s : parts.segments)
    if (s.marker == marker) return &s;
  return nullptr;
}

}  // namespace

TEST_F(Jpeg, CorpusFilesMatchTheFloatReference) {
  for (const char* name : {"testorig.jpg", "testimgint.jpg"}) {
    const ImageRecord* image = load_ok(corpus(name));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 227);
    EXPECT_EQ(image->height, 149);
    EXPECT_EQ(image->planes, 3);
    EXPECT_EQ(image->bits, 8);
    EXPECT_EQ(image->description, DESC_JPEG_JFIF);
    EXPECT_EQ(image->x_resolution, 1);
    EXPECT_EQ(image_pixel_layout(image), LAYOUT_PLANAR);
    // djpeg clamps luminance before the colour conversion and rounds in integers; the two
    // differ by one in places and a little more near saturated colours.
    Difference d = against_djpeg(image, corpus(name));
    EXPECT_LE(d.max, 16) << name;
    EXPECT_LT(d.mean, 0.5) << name;
  }
  // And against the corpus' own decoding (integer transform, smooth upsampling).
  EXPECT_LT(against_reference(load_ok(corpus("testorig.jpg")), corpus("testorig.ppm")).mean, 2.0);
}

TEST_F(Jpeg, TwelveBitFileLoadsAsOneBytePerSample) {
  const ImageRecord* image = load_ok(corpus("monkey12.jpg"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->bits, 12);
  EXPECT_EQ(image->planes, 3);
  EXPECT_EQ(image->pixel_bytes, 1);
  EXPECT_EQ(image->row_bytes, image->width);
  EXPECT_EQ(image_pixel_layout(image), LAYOUT_PLANAR);
  EXPECT_NE(image_title(image, 1, 1).find("149 x 227 pixels - 3 x 12 bits"), std::string::npos);
  // No oracle reads 12 bits: a grey face, neither flat nor saturated, with orange-brown eyes
  // (around (35, 53) and (99, 63)) clearly redder than blue.
  int dark = 0, bright = 0;
  for (uint32_t p : image_rgb(image)) {
    const int grey = (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3;
    dark += grey < 40;
    bright += grey > 180;
  }
  EXPECT_GT(std::min(dark, bright), 100);
  EXPECT_LT(std::max(dark, bright), 149 * 227 / 2);
  for (int at : {53 * 149 + 35, 63 * 149 + 99}) {
    const uint32_t eye = image_rgb(image)[at];
    EXPECT_GT(int((eye >> 16) & 255), int(eye & 255) + 30);
  }
}

TEST_F(Jpeg, CjpegLayoutsMatchTheFloatReference) {
  struct Case {
    const char* name;
    int width, height;
    const char* options;
  };
  const Case cases[] = {
      {"q90_420", 203, 117, "-quality 90"},
      {"q5_sof1", 203, 117, "-quality 5"},
      {"q100_444", 203, 117, "-quality 100 -sample 1x1"},
      {"s422", 203, 117, "-sample 2x1"},
      {"s440", 203, 117, "-sample 1x2"},
      {"s411", 203, 117, "-sample 4x1"},
      {"grey", 203, 117, "-grayscale"},
      {"one_pixel", 1, 1, ""},
      {"one_pixel_grey", 1, 1, "-grayscale"},
      {"odd_17x9", 17, 9, ""},
      {"odd_17x9_grey", 17, 9, "-grayscale"},
      {"odd_33x20_411", 33, 20, "-sample 4x1"},
      {"restart_2b", 64, 48, "-restart 2B"},
      {"restart_rows", 64, 48, "-restart 1 -sample 1x1"},
      {"progressive", 203, 117, "-progressive"},
      {"progressive_444", 61, 35, "-progressive -sample 1x1"},
      {"progressive_grey", 61, 35, "-progressive -grayscale"},
      {"progressive_restart", 61, 35, "-progressive -restart 3B"},
      {"optimized", 203, 117, "-optimize -quality 75"},
      {"q50_12x1000", 12, 100, "-quality 50 -sample 2x2"},
  };
  int worst = 0;
  for (const Case& c : cases) {
    test_reset();
    std::string path = cjpeg(c.name, c.width, c.height, c.options);
    const ImageRecord* image = load_ok(path);
    ASSERT_NE(image, nullptr) << c.name;
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    Difference d = against_djpeg(image, path);
    // Both decoders use a float transform and replication; they differ in rounding, and
    // djpeg also clamps luminance before the colour conversion, which shows a little more
    // on saturated noise.
    EXPECT_LE(d.max, 6) << c.name;
    EXPECT_LT(d.mean, 0.6) << c.name;
    EXPECT_GT(d.within_one, 0.99) << c.name;
    worst = std::max(worst, d.max);
  }
  EXPECT_GT(worst, 0);  // the comparison really compares two decoders
}

// jpegtran's lossless rewrites: progressive, restarts, optimised tables, sequential scans that
// each carry one component, and a scan of Cb and Cr together.
TEST_F(Jpeg, LosslessRewritesDecodeToIdenticalPixels) {
  const std::string separate = "-scans " + write_temp_file("separate.txt", "0: 0 63 0 0;\n1: 0 63 0 0;\n2: 0 63 0 0;\n");
  const std::string chroma = "-scans " + write_temp_file("chroma.txt", "0: 0 63 0 0;\n1 2: 0 63 0 0;\n");
  const std::vector<std::string> transforms = {"-progressive", "-restart 1", "-restart 7B", "-optimize",
                                               "-progressive -restart 3B", "-progressive -restart 1", "-restart 1B"};
  const std::vector<std::string> scans = {separate, chroma, separate + " -restart 5B", chroma + " -restart 5B"};
  std::vector<std::string> both = transforms;
  both.insert(both.end(), scans.begin(), scans.end());
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"-sample 2x2", both}, {"-sample 2x1", both}, {"-sample 1x1", scans}, {"-grayscale", transforms}};
  for (const auto& [sampling, rewrites] : cases) {
    const std::string base = cjpeg("base", 203, 117, std::string("-quality 85 ") + sampling);
    for (const std::string& rewrite : rewrites) {
      test_reset();
      const ImageRecord* a = load_ok(base);
      const ImageRecord* b = load_ok(jpegtran("rewritten", base, rewrite));
      ASSERT_TRUE(a != nullptr && b != nullptr);
      EXPECT_EQ(between(a, b).max, 0) << sampling << " " << rewrite;
    }
  }
  // A grey frame whose one component has 2 x 2 sampling: its blocks come in raster order.
  test_reset();
  std::string grey = cjpeg("grey22", 45, 29, "-grayscale -sample 2x2");
  const ImageRecord* image = load_ok(grey);
  ASSERT_NE(image, nullptr);
  EXPECT_LE(against_djpeg(image, grey).max, 2);
}

TEST_F(Jpeg, ArithmeticAndOtherFrameTypesAreRefusedWithTheirLogLines) {
  const std::string base = cjpeg("for_arith", 40, 24, "");
  auto with_marker = [&](uint8_t marker) {
    JpegParts parts = split(read_file(base));
    find_segment(parts, kSof0)->marker = marker;
    return write_temp_file("refused_" + std::to_string(marker) + ".jpg", join(parts));
  };
  const std::pair<std::string, const char*> refused[] = {
      {corpus("testimgari.jpg"), "JPEG Extended Sequential DCT Arithmetic"},
      {jpegtran("arith_seq", base, "-arithmetic"), "JPEG Extended Sequential DCT Arithmetic"},
      {jpegtran("arith_prog", base, "-arithmetic -progressive"), "JPEG Progressive DCT Arithmetic"},
      // The frame marker changed into other refused types (precision 8).
      {with_marker(0xC3), "JPEG Lossless Huffman"},
      {with_marker(0xC5), "JPEG Differential Sequential DCT Huffman"},
      {with_marker(0xC7), "JPEG Differential lossless Huffman"},
      {with_marker(0xCB), "JPEG Lossless Sequential DCT Arithmetic"},
      {with_marker(0xCF), "JPEG Differential Lossless DCT Arithmetic"}};
  for (const auto& [path, text] : refused) {
    clear_log();
    EXPECT_EQ(load_file(path).error, ERR_UNKNOWN_FORMAT) << path;
    EXPECT_NE(read_log().find("image " + path + " : " + text + " non traite"), std::string::npos) << path;
  }
  // A differential frame needs precision 8: with 12 the file is invalid rather than unknown.
  JpegParts parts = split(read_file(base));
  Segment* sof = find_segment(parts, kSof0);
  sof->marker = 0xC5;
  sof->payload[0] = 12;
  EXPECT_EQ(load_error(join(parts)), ERR_INVALID_FILE);
}

TEST_F(Jpeg, ApplicationHeadersSetDescriptionAndResolution) {
  JpegParts base = split(read_file(cjpeg("headers", 24, 16, "")));
  std::erase_if(base.segments, [](const Segment& s) { return s.marker == 0xE0; });
  auto jfif = [](uint8_t units, uint16_t x, uint16_t y) {
    return segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, units, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8),
                          uint8_t(y), 0, 0});
  };
  const Segment exif = segment(0xE1, {'E', 'x', 'i', 'f', 0, 0}), xmp = segment(0xE1, {'h', 't', 't', 'p', ':', '/'});
  struct Case {
    std::vector<Segment> headers;
    int description, x_resolution, y_resolution;
  };
  const Case cases[] = {
      {{jfif(2, 72, 100)}, DESC_JPEG_JFIF, 182, 254},  // dots per cm: 72 x 2.54, truncated
      {{jfif(1, 300, 150)}, DESC_JPEG_JFIF, 300, 150},
      {{jfif(1, 72, 72), exif}, DESC_JPEG_EXIF, 72, 72},
      {{jfif(1, 72, 72), xmp, segment(0xE0, {'J', 'F', 'X', 'X', 0})}, DESC_JPEG_JFIF, 72, 72},
      {{}, 0, 0, 0},
      // Unknown, damaged or too short headers are passed over: they never decide the load.
      {{segment(0xE0, {'A', 'B', 'C', 'D', 0}), segment(0xE8, {'A', 'B', 'C', 'D', 'E', 0})}, 0, 0, 0},
      {{segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72}), segment(0xE1, {'E', 'x', 'i', 'f'})}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    JpegParts parts = base;
    parts.segments.insert(parts.segments.begin(), c.headers.begin(), c.headers.end());
    LoadResult r = load_file(write_temp_file("header.jpg", join(parts)));
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->description, c.description);
    EXPECT_EQ(r.images[0]->x_resolution, c.x_resolution);
    EXPECT_EQ(r.images[0]->y_resolution, c.y_resolution);
  }
}

TEST_F(Jpeg, StrayBytesBetweenSegmentsArePassedOverAndLogged) {
  const std::string plain = cjpeg("stray", 40, 24, ""), restarts = cjpeg("stray_rst", 40, 24, "-restart 1");
  const std::string progressive = jpegtran("stray_prog", plain, "-progressive");
  struct Case {
    std::string base;
    uint8_t marker;  // the bytes go before this marker's n-th occurrence
    int n;
    std::vector<uint8_t> stray;
    int logged;  // bytes the log line reports (0: no line)
  };
  const Case cases[] = {
      {plain, 0xDB, 0, {'j', 'u', 'n', 'k', '!'}, 5},
      {plain, 0xC4, 1, {0xFF, 0x00}, 2},
      {plain, 0xDA, 0, {0xFF, 0x45, 0x12}, 3},  // FF then a byte that is no marker code
      {plain, 0xDB, 0, {0xFF, 0xFF, 0xFF}, 0},  // fill bytes
      {plain, 0xDB, 0, {0xFF, 0xE1, 0, 8, 'E', 'x', 'i', 'f', 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 9},  // Exif too long
      {restarts, 0xD0, 0, {1, 2, 3, 4}, 4},
      {progressive, 0xDA, 2, {0x20, 0x30}, 2},
  };
  for (const Case& c : cases) {
    test_reset();
    std::vector<uint8_t> file = read_file(c.base);
    const size_t at = marker_at(file, c.marker, c.n);
    file.insert(file.begin() + at, c.stray.begin(), c.stray.end());
    clear_log();
    const std::string path = write_temp_file("with_stray_bytes.jpg", file);
    LoadResult r = load_file(path);
    ASSERT_EQ(r.error, 0) << path << " at " << at;
    EXPECT_EQ(between(r.images[0], load_ok(c.base)).max, 0);
    const std::string line = "image " + path + " : " + std::to_string(c.logged) + " octets ignores entre les segments";
    EXPECT_EQ(read_log().find(c.logged != 0 ? line : "octets") != std::string::npos, c.logged != 0) << read_log();
  }
}

TEST_F(Jpeg, SpiffKeepsThreeUnconvertedPlanes) {
  std::string base = cjpeg("spiff_base", 48, 32, "-sample 1x1 -quality 95");
  const char* lines[3] = {"la resolution est en rapport de pixels",
                          "la resolution est en points par pouce",
                          "la resolution est en points par cm"};
  for (uint8_t units = 0; units < 3; ++units) {
    JpegParts parts = split(read_file(base));
    parts.segments.erase(parts.segments.begin());  // the JFIF header, which would win
    ASSERT_EQ(parts.segments[0].marker, 0xDB);
    // SPIFF header: version, profile, components, height, width, colour space, bits,
    // compression, units, vertical and horizontal resolution.
    Segment spiff = segment(0xE8, {'S', 'P', 'I', 'F', 'F', 0, 1, 0, 0, 3, 0, 0, 0, 32, 0, 0, 0, 48,
                                   3, 8, 5, units, 0, 0, 0, 96, 0, 0, 0, 120});
    parts.segments.insert(parts.segments.begin(), spiff);
    clear_log();
    LoadResult r = load_file(write_temp_file("spiff.jpg", join(parts)));
    ASSERT_EQ(r.error, 0);
    const ImageRecord* image = r.images[0];
    EXPECT_EQ(image->description, DESC_JPEG_SPIFF);
    EXPECT_EQ(image->y_resolution, 96);
    EXPECT_EQ(image->x_resolution, 120);
    EXPECT_NE(read_log().find(lines[units]), std::string::npos);
    // The planes hold luminance and the colour differences as decoded.
    EXPECT_LE(against_pillow(image, base, true).max, 2);
  }
}

TEST_F(Jpeg, AdobeColourTransformsBecomeRgb) {
  const std::string cmyk = cmyk_jpeg("cmyk", 45, 29, true);
  JpegParts plain = split(read_file(cmyk));  // the same file without the Adobe header
  std::erase_if(plain.segments, [](const Segment& s) { return s.marker == 0xEE; });
  const std::pair<std::string, int> cases[] = {  // the file and its Adobe transform (-1: none)
      {cmyk, 0}, {cmyk_jpeg("ycck", 45, 29, false), 2}, {write_temp_file("cmyk_plain.jpg", join(plain)), -1},
      {cjpeg("adobe_rgb", 45, 29, "-rgb"), 0}};
  for (const auto& [path, transform] : cases) {
    SCOPED_TRACE(path);
    test_reset();
    JpegParts parts = split(read_file(path));
    const Segment* adobe = find_segment(parts, 0xEE);
    ASSERT_EQ(adobe == nullptr ? -1 : adobe->payload.at(11), transform);
    const ImageRecord* image = load_ok(path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->planes, parts.tail.empty() ? 0 : find_segment(parts, kSof0)->payload[5]);
    const Difference d = against_pillow(image, path);
    EXPECT_LE(d.max, 2);
    EXPECT_GT(d.within_one, 0.95);
  }
}

TEST_F(Jpeg, TablesInSharedSegmentsAndWideQuantisers) {
  std::string base = cjpeg("tables", 64, 40, "-quality 60");
  const ImageRecord* reference = load_ok(base);
  ASSERT_NE(reference, nullptr);
  JpegParts parts = split(read_file(base));
  // All DHT tables in one segment, all DQT tables in one segment.
  Segment dht{0xC4, {}}, dqt{0xDB, {}};
  std::vector<Segment> others;
  for (Segment& s : parts.segments) {
    if (s.marker == 0xC4) dht.payload.insert(dht.payload.end(), s.payload.begin(), s.payload.end());
    else if (s.marker == 0xDB) dqt.payload.insert(dqt.payload.end(), s.payload.begin(), s.payload.end());
    else others.push_back(s);
  }
  ASSERT_EQ(dqt.payload.size(), 130u);
  // A first DC table 0 that the real one replaces.
  Segment decoy{0xC4, {0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}};
  // The same quantisers written as 16-bit values.
  Segment wide{0xDB, {}};
  for (size_t t = 0; t < 2; ++t) {
    wide.payload.push_back(uint8_t(0x10 | dqt.payload[t * 65]));
    for (int i = 1; i <= 64; ++i) wide.payload.insert(wide.payload.end(), {0, dqt.payload[t * 65 + i]});
  }
  for (const Segment& q : {dqt, wide}) {
    test_reset();
    JpegParts merged = parts;
    merged.segments = {decoy, q, dht};
    merged.segments.insert(merged.segments.end(), others.begin(), others.end());
    LoadResult r = load_file(write_temp_file("merged.jpg", join(merged)));
    ASSERT_EQ(r.error, 0);
    const ImageRecord* again = load_ok(base);
    EXPECT_EQ(between(r.images[0], again).max, 0);
  }
  // cjpeg writes 16-bit tables at very low quality; those frames decode too.
  std::string coarse = cjpeg("coarse", 64, 40, "-quality 2");
  JpegParts coarse_parts = split(read_file(coarse));
  Segment* q = find_segment(coarse_parts, 0xDB);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->payload[0] >> 4, 1);
  test_reset();
  const ImageRecord* image = load_ok(coarse);
  ASSERT_NE(image, nullptr);
  EXPECT_LE(against_djpeg(image, coarse).max, 2);
}

TEST_F(Jpeg, MalformedStructureGetsItsCode) {
  const std::vector<uint8_t> file = read_file(cjpeg("structure", 40, 24, ""));
  // Start and end of image alone: success, an empty record.
  LoadResult empty = load_file(write_temp_file("empty.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xD9}));
  ASSERT_EQ(empty.error, 0);
  ASSERT_EQ(empty.images.size(), 1u);
  EXPECT_EQ((std::vector<int64_t>{empty.images[0]->width, empty.images[0]->bits}), (std::vector<int64_t>{0, 0}));
  EXPECT_EQ(empty.images[0]->pixels, nullptr);
  std::vector<uint8_t> prog = read_file(jpegtran("prog_cut", cjpeg("structure", 40, 24, ""), "-progressive"));
  using Edit = std::function<void(JpegParts&)>;
  auto sof = [](auto edit) -> Edit { return [=](JpegParts& parts) { edit(find_segment(parts, kSof0)->payload); }; };
  const std::pair<std::vector<uint8_t>, int> whole_files[] = {
      {{0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xD9}, ERR_INVALID_FILE},               // a restart before any frame
      {std::vector<uint8_t>(file.begin(), file.end() - 2), ERR_INVALID_FILE},  // baseline data without EOI
      {std::vector<uint8_t>(prog.begin(), prog.end() - 6), ERR_FILE_ACCESS}};  // cut in the last scan
  for (const auto& [bytes, code] : whole_files) EXPECT_EQ(load_error(bytes), code) << bytes.size();
  const std::pair<Edit, int> edits[] = {
      // A scan header before any frame header.
      {[](JpegParts& p) { std::erase_if(p.segments, [](const Segment& s) { return s.marker == kSof0; }); },
       ERR_INVALID_FILE},
      {sof([](std::vector<uint8_t>& p) { p[1] = p[2] = 0; }), ERR_UNHANDLED},  // height left to DNL
      // Chroma factors that do not divide the luminance's (3x1 against 2x1).
      {sof([](std::vector<uint8_t>& p) { p[7] = 0x31, p[10] = 0x21; }), ERR_UNHANDLED},
      {sof([](std::vector<uint8_t>& p) { p[10] = 0x10; }), ERR_INVALID_FILE},  // a sampling factor of 0
      {sof([](std::vector<uint8_t>& p) { p[11] = 7; }), ERR_INVALID_FILE},     // quantisation table 7
      {sof([](std::vector<uint8_t>& p) { p[0] = 12; }), ERR_INVALID_FILE},     // baseline frames are 8-bit
      {[](JpegParts& p) { p.tail[5] = 9; }, ERR_VALUE},       // a scan naming a component the frame lacks
      {[](JpegParts& p) { p.tail[6] = 0x33; }, ERR_LOADING}};  // a Huffman table never defined
  for (size_t i = 0; i < std::size(edits); ++i) {
    JpegParts parts = split(file);
    edits[i].first(parts);
    EXPECT_EQ(load_error(join(parts)), edits[i].second) << "edit " << i;
  }
}

TEST_F(Jpeg, EndlessRestartsAndScansAreRefused) {
  // Restart markers without a restart interval would start the scan over each time.
  std::vector<uint8_t> restarts = read_file(cjpeg("no_dri", 64, 48, "-restart 1B"));
  ASSERT_EQ(load_file(write_temp_file("with_dri.jpg", restarts)).error, 0);
  JpegParts parts = split(restarts);
  std::vector<Segment> kept;
  for (Segment& s : parts.segments)
    if (s.marker != 0xDD) kept.push_back(s);
  ASSERT_LT(kept.size(), parts.segments.size());
  parts.segments = kept;
  EXPECT_EQ(load_error(join(parts)), ERR_INVALID_FILE);

  // A progressive frame may repeat its last refinement scan, but not a thousand times.
  std::vector<uint8_t> prog = read_file(cjpeg("many_scans", 32, 16, "-progressive"));
  const size_t last = marker_at(prog, 0xDA, -1);
  ASSERT_GT(last, 0u);
  std::vector<uint8_t> scan(prog.begin() + last, prog.end() - 2);
  auto with_repeats = [&](int n) {
    std::vector<uint8_t> out(prog.begin(), prog.end() - 2);
    for (int i = 0; i < n; ++i) out.insert(out.end(), scan.begin(), scan.end());
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  };
  EXPECT_EQ(load_error(with_repeats(20)), 0);
  EXPECT_EQ(load_error(with_repeats(1000)), ERR_INVALID_FILE);
}

TEST_F(Jpeg, UndecodableHuffmanCodeIsLogged) {
  std::string base = cjpeg("badcode", 40, 24, "");
  JpegParts parts = split(read_file(base));
  const size_t header = 2 + ((size_t(parts.tail[2]) << 8) | parts.tail[3]);
  // Sixteen 1 bits are never a code.
  parts.tail[header] = 0xFF;
  parts.tail[header + 1] = 0x00;
  parts.tail[header + 2] = 0xFF;
  parts.tail[header + 3] = 0x00;
  std::vector<uint8_t> bytes = join(parts);
  const size_t data_start = bytes.size() - parts.tail.size() + header;
  clear_log();
  EXPECT_EQ(load_error(bytes), ERR_LOADING);
  char expected[64];
  std::snprintf(expected, sizeof expected, "CODE HUFF DC NON TROUV 65535 pos %zx", data_start + 4);
  EXPECT_NE(read_log().find(expected), std::string::npos) << read_log();
}

TEST_F(Jpeg, UndecodableCodeInAProgressiveBandIsAnInvalidFile) {
  std::string base = cjpeg("badband", 40, 24, "-progressive");
  std::vector<uint8_t> bytes = read_file(base);
  // The second scan is the first AC band of a component.
  const size_t second = marker_at(bytes, 0xDA, 1);
  ASSERT_GT(second, marker_at(bytes, 0xDA));
  const size_t data = second + 2 + ((size_t(bytes[second + 2]) << 8) | bytes[second + 3]);
  ASSERT_EQ(bytes[second + 5 + 2 * bytes[second + 4] - 1] >> 4, 0);  // first pass (Ah = 0)
  for (size_t k = 0; k < 4; ++k) bytes[data + k] = k % 2 == 0 ? 0xFF : 0x00;
  clear_log();
  EXPECT_EQ(load_error(bytes), ERR_INVALID_FILE);
  EXPECT_NE(read_log().find("CODE HUFF AC NON TROUV 65535 pos "), std::string::npos) << read_log();
}

TEST_F(Jpeg, ProgressiveFrameWithoutScansIsMidGrey) {
  std::vector<uint8_t> bytes = read_file(cjpeg("noscan", 20, 12, "-progressive"));
  const size_t sos = marker_at(bytes, 0xDA);
  ASSERT_GT(sos, 0u);
  bytes.resize(sos);
  bytes.insert(bytes.end(), {0xFF, 0xD9});
  LoadResult r = load_file(write_temp_file("noscan.jpg", bytes));
  ASSERT_EQ(r.error, 0);
  for (uint32_t p : image_rgb(r.images[0])) ASSERT_EQ(p, 0x808080u);
}

// A file cut anywhere gets one of the codes of a file that ends early; damaged bytes are the
// fuzzers' business.
TEST_F(Jpeg, TruncatedFilesGetTheirCodes) {
  for (const std::string& path : {cjpeg("damage_base", 48, 40, "-restart 2B"),
                                  cjpeg("damage_prog", 48, 40, "-progressive -sample 1x1")}) {
    std::vector<uint8_t> file = read_file(path);
    for (size_t cut = 3; cut < file.size() - 1; cut += 1 + file.size() / 60) {
      test_reset();
      int error = load_error(std::vector<uint8_t>(file.begin(), file.begin() + cut), "cut.jpg");
      EXPECT_TRUE(error == ERR_INVALID_FILE || error == ERR_FILE_ACCESS || error == ERR_LOADING)
          << path << " cut at " << cut << " gave " << error;
    }
  }
}

TEST_F(Jpeg, VectorAndScalarPathsGiveTheSameBits) {
  const std::string files[] = {cjpeg("simd_420", 203, 117, "-quality 97"),
                               cjpeg("simd_grey", 99, 51, "-grayscale -quality 30"),
                               corpus("monkey12.jpg"), corpus("testorig.jpg")};
  for (const std::string& path : files) {
    test_reset();
    jpeg_allow_simd(true);
    const ImageRecord* a = load_ok(path);
    jpeg_allow_simd(false);
    const ImageRecord* b = load_ok(path);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    ASSERT_EQ(a->pixel_size, b->pixel_size);
    EXPECT_EQ(std::memcmp(a->pixels, b->pixels, a->pixel_size), 0) << path;
  }
}
