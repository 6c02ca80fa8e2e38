// JPEG decoding: cjpeg files of every common layout and the corpus against djpeg's float
// decoding, lossless rewrites that must decode identically, headers, refusals, and damaged
// files.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "codecs/jpeg/jpeg_simd.h"
#include "core/errors.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A deterministic plasma picture of the given size (PPM), made once per size. Plasma is
// smooth; the noise gives the high frequencies of a photograph.
std::string source_picture(int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  return generated_dir("plasma_" + size, [&](const std::string& out) {
           return run_command("mkdir -p " + out + " && convert -seed 11 -size " + size +
                              " plasma:fractal -attenuate 0.5 +noise Gaussian -depth 8 ppm:" + out + "/source.ppm");
         }) + "/source.ppm";
}

// Runs a command whose standard output becomes the file `name`; its path.
std::string tool_output(const std::string& name, const std::string& command) {
  const std::string path = test_temp_dir() + "/" + name;
  run_command(command + " > " + path + " 2>/dev/null");
  return path;
}

std::string cjpeg(const std::string& name, int width, int height, const std::string& options) {
  return tool_output(name + ".jpg", "cjpeg " + options + " " + source_picture(width, height));
}

std::string jpegtran(const std::string& name, const std::string& input, const std::string& options) {
  return tool_output(name + ".jpg", "jpegtran " + options + " " + input);
}

// Our decoding against the binary PNM that `command` prints, channel by channel; a picture
// without a readable reference of its size differs more than any that has one.
ChannelDifference against(const ImageRecord* image, const std::string& command) {
  static int counter = 0;
  const std::string ref = tool_output("reference_" + std::to_string(++counter) + ".pnm", command);
  int w = 0, h = 0;
  std::vector<uint32_t> expected;
  if (!read_pnm_rgb(ref, &w, &h, &expected) || w != image->width || h != image->height || expected.empty()) return {};
  return channel_difference(image_rgb(image), expected);
}

// Against Pillow's reading of `path`; four components (CMYK to Pillow) become white less each
// ink and the black, floored at 0. With `ycbcr`, Y, Cb, Cr as decoded stand for R, G, B.
ChannelDifference against_pillow(const ImageRecord* image, const std::string& path, bool ycbcr = false) {
  return against(image, "/usr/bin/python3 -c \"import sys; from PIL import Image, ImageChops as C\n"
                        "im = Image.open('" + path + "')\n" +
                        (ycbcr ? "im.draft('YCbCr', im.size); im = Image.frombytes('RGB', im.size, im.tobytes())\n" : "") +
                        "if im.mode == 'CMYK':\n"
                        "  b = im.split(); im = Image.merge('RGB', [C.subtract(C.invert(v), b[3]) for v in b[:3]])\n"
                        "im.convert('RGB').save(sys.stdout.buffer, 'PPM')\"");
}

// A JPEG file cut into its marker segments up to the first SOS; `tail` holds the SOS segment,
// the entropy-coded data and everything after.
struct Segment {
  uint8_t marker;
  Bytes payload;  // without the length field
};
struct JpegParts {
  std::vector<Segment> segments;
  Bytes tail;
  Segment* find(uint8_t marker) {
    for (Segment& s : segments)
      if (s.marker == marker) return &s;
    return nullptr;
  }
  void erase(uint8_t marker) {
    std::erase_if(segments, [=](const Segment& s) { return s.marker == marker; });
  }
};

JpegParts split(const Bytes& file) {
  JpegParts parts;
  size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
    const size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
    if (length < 2 || at + 2 + length > file.size()) break;
    parts.segments.push_back({file[at + 1], Bytes(file.begin() + at + 4, file.begin() + at + 2 + length)});
    at += 2 + length;
  }
  parts.tail.assign(file.begin() + at, file.end());
  return parts;
}

Bytes join(const JpegParts& parts) {
  Bytes out = {0xFF, 0xD8};
  for (const Segment& s : parts.segments) {
    const size_t length = s.payload.size() + 2;
    out.insert(out.end(), {0xFF, s.marker, uint8_t(length >> 8), uint8_t(length & 255)});
    out.insert(out.end(), s.payload.begin(), s.payload.end());
  }
  out.insert(out.end(), parts.tail.begin(), parts.tail.end());
  return out;
}

class Jpeg : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    clear_log();
  }
  void TearDown() override { jpeg_allow_simd(true); }

  // Loads a file that must decode to one image.
  const ImageRecord* load_ok(const std::string& path) {
    LoadResult r = load_file(path);
    EXPECT_EQ(r.error, 0) << path;
    EXPECT_EQ(r.images.size(), 1u) << path;
    return r.images.empty() ? nullptr : r.images[0];
  }
  // Decodes a file with the vector path and with the scalar one, which must give the same bits.
  const ImageRecord* load_both_ways(const std::string& path) {
    jpeg_allow_simd(false);
    const ImageRecord* scalar = load_ok(path);
    jpeg_allow_simd(true);
    const ImageRecord* image = load_ok(path);
    if (image == nullptr || scalar == nullptr) return nullptr;
    EXPECT_TRUE(image->pixel_size == scalar->pixel_size &&
                std::memcmp(image->pixels, scalar->pixels, image->pixel_size) == 0)
        << path;
    return image;
  }
  LoadResult load(const Bytes& bytes) { return load_bytes("case.jpg", bytes, FORMAT_JPEG); }

  void clear_log() { log_ = log_to_temp("JPEGTEST"); }
  bool logged(const std::string& text) const { return read_text(log_).find(text) != std::string::npos; }
  std::string log_;
};

std::string corpus(const std::string& name) { return corpus_path("jpeg-testimages/" + name); }

const uint8_t kSof0 = 0xC0, kSos = 0xDA;

// Offset of the n-th `marker` (from 0) after the start of image, of the last one for n < 0.
size_t marker_at(const Bytes& file, uint8_t marker, int n = 0) {
  size_t found = 0;
  for (size_t i = 2; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == marker && (found = i, n-- == 0)) break;
  return found;
}

// Offset of the entropy-coded data of the scan whose header is at `sos`.
size_t scan_data(const Bytes& file, size_t sos) { return sos + 2 + ((size_t(file[sos + 2]) << 8) | file[sos + 3]); }

}  // namespace

TEST_F(Jpeg, LayoutsMatchTheFloatReference) {
  std::vector<std::string> paths = {corpus("testorig.jpg"), corpus("testimgint.jpg")};
  for (const char* options : {"-quality 90", "-quality 5", "-quality 100 -sample 1x1", "-sample 2x1", "-sample 1x2",
                              "-sample 4x1", "-grayscale -quality 30", "-progressive", "-optimize -quality 75"})
    paths.push_back(cjpeg("layout" + std::to_string(paths.size()), 203, 117, options));
  // Partial MCUs at the edges, restart intervals, one component's 2x2 blocks in raster order;
  // rows of several reconstruction chunks with restart intervals ending inside them, and
  // whole-frame coefficients large enough to be given back while the picture is written.
  const std::tuple<int, int, const char*> small[] = {
      {1, 1, ""}, {1, 1, "-grayscale"}, {17, 9, ""}, {17, 9, "-grayscale"}, {33, 20, "-sample 4x1"}, {64, 48, "-restart 2B"},
      {64, 48, "-restart 1 -sample 1x1"}, {61, 35, "-progressive -sample 1x1"}, {61, 35, "-progressive -grayscale"},
      {61, 35, "-progressive -restart 3B"}, {12, 100, "-quality 50 -sample 2x2"}, {45, 29, "-grayscale -sample 2x2"},
      {600, 40, "-restart 5B"}, {1024, 400, "-progressive"}};
  for (const auto& [width, height, options] : small)
    paths.push_back(cjpeg("layout" + std::to_string(paths.size()), width, height, options));
  int worst = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    test_reset();
    const ImageRecord* image = load_both_ways(paths[i]);
    ASSERT_NE(image, nullptr) << paths[i];
    // djpeg clamps luminance before the colour conversion and rounds in integers: the two
    // differ by one in places, and a little more on the corpus' saturated colours.
    const ChannelDifference d = against(image, "djpeg -dct float -nosmooth " + paths[i]);
    EXPECT_LE(d.max, i < 2 ? 16 : 6) << paths[i];
    EXPECT_LT(d.mean, 0.6) << paths[i];
    EXPECT_GT(d.within_one, 0.97) << paths[i];
    worst = std::max(worst, d.max);
  }
  EXPECT_GT(worst, 0);  // the comparison really compares two decoders
}

TEST_F(Jpeg, TwelveBitFileLoadsAsOneBytePerSample) {
  const ImageRecord* image = load_both_ways(corpus("monkey12.jpg"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ((std::vector<int>{image->bits, image->planes, image->pixel_bytes, image->row_bytes}),
            (std::vector<int>{12, 3, 1, image->width}));
  // No oracle reads 12 bits: a grey face, neither flat nor saturated, with orange-brown eyes
  // (around (35, 53) and (99, 63)) clearly redder than blue.
  const std::vector<uint32_t> rgb = image_rgb(image);
  int dark = 0, bright = 0;
  for (uint32_t p : rgb) {
    const int grey = (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3;
    dark += grey < 40;
    bright += grey > 180;
  }
  EXPECT_GT(std::min(dark, bright), 100);
  EXPECT_LT(std::max(dark, bright), 149 * 227 / 2);
  for (int at : {53 * 149 + 35, 63 * 149 + 99}) EXPECT_GT(int((rgb[at] >> 16) & 255), int(rgb[at] & 255) + 30);
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
      EXPECT_TRUE(image_rgb(a) == image_rgb(b)) << sampling << " " << rewrite;
    }
  }
}

TEST_F(Jpeg, ApplicationHeadersSetDescriptionAndResolution) {
  const std::string path = cjpeg("headers", 48, 32, "-sample 1x1 -quality 95");
  JpegParts base = split(read_file(path));
  base.erase(0xE0);
  auto jfif = [](uint8_t units, uint16_t x, uint16_t y) {
    return Segment{0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, units, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y), 0, 0}};
  };
  // Version, profile, components, height, width, colour space, bits, compression, units,
  // vertical and horizontal resolution.
  auto spiff = [](uint8_t units) {
    return Segment{0xE8, {'S', 'P', 'I', 'F', 'F', 0, 1, 0, 0, 3, 0, 0, 0, 32, 0, 0, 0, 48, 3, 8, 5, units, 0, 0, 0, 96, 0, 0, 0, 120}};
  };
  const Segment exif{0xE1, {'E', 'x', 'i', 'f', 0, 0}}, xmp{0xE1, {'h', 't', 't', 'p', ':', '/'}};
  struct Case {
    std::vector<Segment> headers;
    int description, x_resolution, y_resolution;
    std::string line;  // logged
  };
  const Case cases[] = {
      {{jfif(2, 72, 100)}, DESC_JPEG_JFIF, 182, 254, ""},  // dots per cm: 72 x 2.54, truncated
      {{jfif(1, 300, 150)}, DESC_JPEG_JFIF, 300, 150, ""},
      {{jfif(1, 72, 72), exif}, DESC_JPEG_EXIF, 72, 72, ""},
      {{jfif(1, 72, 72), xmp, Segment{0xE0, {'J', 'F', 'X', 'X', 0}}}, DESC_JPEG_JFIF, 72, 72, ""},
      // Unknown, damaged or too short headers are passed over: they never decide the load.
      {{Segment{0xE0, {'A', 'B', 'C', 'D', 0}}, Segment{0xE8, {'A', 'B', 'C', 'D', 'E', 0}}}, 0, 0, 0, ""},
      {{Segment{0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72}}, Segment{0xE1, {'E', 'x', 'i', 'f'}}}, 0, 0, 0, ""},
      {{spiff(0)}, DESC_JPEG_SPIFF, 120, 96, "la resolution est en rapport de pixels"},
      {{spiff(1)}, DESC_JPEG_SPIFF, 120, 96, "la resolution est en points par pouce"},
      {{spiff(2)}, DESC_JPEG_SPIFF, 120, 96, "la resolution est en points par cm"},
  };
  for (const Case& c : cases) {
    JpegParts parts = base;
    parts.segments.insert(parts.segments.begin(), c.headers.begin(), c.headers.end());
    clear_log();
    LoadResult r = load(join(parts));
    ASSERT_EQ(r.error, 0);
    const ImageRecord* image = r.images[0];
    EXPECT_EQ((std::vector<int>{image->description, image->x_resolution, image->y_resolution}),
              (std::vector<int>{c.description, c.x_resolution, c.y_resolution}));
    EXPECT_TRUE(logged(c.line)) << c.line;
    // A SPIFF file's three planes hold luminance and the colour differences as decoded.
    if (c.description == DESC_JPEG_SPIFF) { EXPECT_LE(against_pillow(image, path, true).max, 2); }
  }
}

TEST_F(Jpeg, AdobeColourTransformsBecomeRgb) {
  // The plasma picture saved with an Adobe header and inverted inks by Pillow (as CMYK, black a
  // ramp from top to bottom) and by ImageMagick (as YCCK).
  const std::string source = source_picture(45, 29);
  const std::string cmyk = tool_output("cmyk.jpg", "/usr/bin/python3 -c \"import sys; from PIL import Image; b = Image.open('" +
                                                       source + "').convert('CMYK').split(); k = Image.linear_gradient("
                                                       "'L').resize(b[0].size); Image.merge('CMYK', b[:3] + (k,)).save("
                                                       "sys.stdout.buffer, 'JPEG', quality=90)\"");
  JpegParts plain = split(read_file(cmyk));  // the same file without the Adobe header
  plain.erase(0xEE);
  const std::pair<std::string, int> cases[] = {  // the file and its Adobe transform (-1: none)
      {cmyk, 0},
      {tool_output("ycck.jpg", "convert " + source + " -colorspace CMYK -quality 90 jpeg:-"), 2},
      {write_temp_file("cmyk_plain.jpg", join(plain)), -1},
      {cjpeg("adobe_rgb", 45, 29, "-rgb"), 0}};
  for (const auto& [path, transform] : cases) {
    SCOPED_TRACE(path);
    test_reset();
    JpegParts parts = split(read_file(path));
    const Segment* adobe = parts.find(0xEE);
    ASSERT_EQ(adobe == nullptr ? -1 : adobe->payload.at(11), transform);
    const ImageRecord* image = load_ok(path);
    ASSERT_NE(image, nullptr);
    ASSERT_NE(parts.find(kSof0), nullptr);
    EXPECT_EQ(image->planes, parts.find(kSof0)->payload[5]);
    const ChannelDifference d = against_pillow(image, path);
    EXPECT_LE(d.max, 2);
    EXPECT_GT(d.within_one, 0.95);
  }
}

TEST_F(Jpeg, TablesInSharedSegmentsAndWideQuantisers) {
  const std::string base = cjpeg("tables", 64, 40, "-quality 60");
  const std::vector<uint32_t> reference = image_rgb(load_ok(base));
  JpegParts parts = split(read_file(base));
  // All DHT tables in one segment, all DQT tables in one segment, after a first DC table 0
  // that the real one replaces.
  Segment dht{0xC4, {}}, dqt{0xDB, {}}, decoy{0xC4, {0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}};
  for (Segment& s : parts.segments) {
    Segment* merged = s.marker == 0xC4 ? &dht : s.marker == 0xDB ? &dqt : nullptr;
    if (merged != nullptr) merged->payload.insert(merged->payload.end(), s.payload.begin(), s.payload.end());
  }
  ASSERT_EQ(dqt.payload.size(), 130u);
  parts.erase(0xC4);
  parts.erase(0xDB);
  Segment wide{0xDB, {}};  // the same quantisers written as 16-bit values
  for (size_t t = 0; t < 2; ++t) {
    wide.payload.push_back(uint8_t(0x10 | dqt.payload[t * 65]));
    for (int i = 1; i <= 64; ++i) wide.payload.insert(wide.payload.end(), {0, dqt.payload[t * 65 + i]});
  }
  for (const Segment& q : {dqt, wide}) {
    JpegParts merged = parts;
    merged.segments.insert(merged.segments.begin(), {decoy, q, dht});
    LoadResult r = load(join(merged));
    ASSERT_EQ(r.error, 0);
    EXPECT_TRUE(image_rgb(r.images[0]) == reference);
  }
}

TEST_F(Jpeg, StrayBytesBetweenSegmentsArePassedOverAndLogged) {
  const std::string plain = cjpeg("stray", 40, 24, ""), restarts = cjpeg("stray_rst", 40, 24, "-restart 1");
  const std::string progressive = jpegtran("stray_prog", plain, "-progressive");
  struct Case {
    std::string base;
    uint8_t marker;  // the bytes go before this marker's n-th occurrence
    int n;
    Bytes stray;
    int logged;  // bytes the log line reports (0: no line)
  };
  const Case cases[] = {
      {plain, 0xDB, 0, {'j', 'u', 'n', 'k', '!'}, 5},
      {plain, 0xC4, 1, {0xFF, 0x00}, 2},
      {plain, kSos, 0, {0xFF, 0x45, 0x12}, 3},  // FF then a byte that is no marker code
      {plain, 0xDB, 0, {0xFF, 0xFF, 0xFF}, 0},  // fill bytes
      {plain, 0xDB, 0, {0xFF, 0xE1, 0, 8, 'E', 'x', 'i', 'f', 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 9},  // Exif too long
      {restarts, 0xD0, 0, {1, 2, 3, 4}, 4},
      {progressive, kSos, 2, {0x20, 0x30}, 2},
  };
  for (const Case& c : cases) {
    test_reset();
    Bytes file = read_file(c.base);
    file.insert(file.begin() + marker_at(file, c.marker, c.n), c.stray.begin(), c.stray.end());
    clear_log();
    LoadResult r = load(file);
    ASSERT_EQ(r.error, 0) << c.base;
    EXPECT_TRUE(image_rgb(r.images[0]) == image_rgb(load_ok(c.base)));
    const std::string line = "image case.jpg : " + std::to_string(c.logged) + " octets ignores entre les segments";
    EXPECT_EQ(logged(c.logged != 0 ? line : "octets"), c.logged != 0) << read_text(log_);
  }
}

TEST_F(Jpeg, FramesWithoutDataDecode) {
  // Start and end of image alone: an empty record.
  LoadResult empty = load({0xFF, 0xD8, 0xFF, 0xD9});
  ASSERT_EQ(empty.error, 0);
  EXPECT_EQ((std::vector<int64_t>{empty.images[0]->width, empty.images[0]->bits}), (std::vector<int64_t>{0, 0}));
  EXPECT_EQ(empty.images[0]->pixels, nullptr);
  // A progressive frame without scans: every coefficient zero, mid-grey.
  Bytes bytes = read_file(cjpeg("noscan", 20, 12, "-progressive"));
  bytes.resize(marker_at(bytes, kSos));
  bytes.insert(bytes.end(), {0xFF, 0xD9});
  LoadResult r = load(bytes);
  ASSERT_EQ(r.error, 0);
  for (uint32_t p : image_rgb(r.images[0])) ASSERT_EQ(p, 0x808080u);
}

TEST_F(Jpeg, RefusedAndBrokenFilesGetTheirCodeAndLogLine) {
  const std::string structure = cjpeg("structure", 40, 24, "");
  const Bytes file = read_file(structure);
  const Bytes prog = read_file(jpegtran("prog_cut", structure, "-progressive"));
  using Edit = std::function<void(JpegParts&)>;
  auto edited = [&](Edit edit) {
    JpegParts parts = split(file);
    edit(parts);
    return join(parts);
  };
  auto frame = [&](std::function<void(Bytes&)> edit) { return edited([=](JpegParts& p) { edit(p.find(kSof0)->payload); }); };
  auto with_frame = [&](uint8_t marker, uint8_t precision) {  // another frame type
    return edited([=](JpegParts& p) {
      p.find(kSof0)->marker = marker;
      p.find(marker)->payload[0] = precision;
    });
  };
  auto refused = [](const char* type) { return std::string("image case.jpg : ") + type + " non traite"; };
  // Sixteen 1 bits, never a code, at the start of a scan's data.
  auto bad_code = [](Bytes bytes, size_t data) {
    for (size_t k = 0; k < 4; ++k) bytes[data + k] = k % 2 == 0 ? 0xFF : 0x00;
    return bytes;
  };
  const size_t data = scan_data(file, marker_at(file, kSos));
  const size_t band = scan_data(prog, marker_at(prog, kSos, 1));  // the first AC band (Ah = 0)
  char dc_line[64];
  std::snprintf(dc_line, sizeof dc_line, "CODE HUFF DC NON TROUV 65535 pos %zx", data + 4);
  // Restart markers without a restart interval would start the scan over each time.
  JpegParts no_dri = split(read_file(cjpeg("no_dri", 64, 48, "-restart 1B")));
  no_dri.erase(0xDD);
  // A progressive frame may repeat its last refinement scan, but not a thousand times.
  const Bytes small = read_file(cjpeg("many_scans", 32, 16, "-progressive"));
  auto with_repeats = [&](int n) {
    Bytes out(small.begin(), small.end() - 2);
    for (int i = 0; i < n; ++i) out.insert(out.end(), small.begin() + marker_at(small, kSos, -1), small.end() - 2);
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  };
  struct Case {
    Bytes bytes;
    int error;
    std::string log;
  };
  const Case cases[] = {
      {{0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xD9}, ERR_INVALID_FILE, ""},  // a restart before any frame
      {Bytes(file.begin(), file.end() - 2), ERR_INVALID_FILE, ""},   // baseline data without EOI
      {Bytes(prog.begin(), prog.end() - 6), ERR_FILE_ACCESS, ""},    // cut in the last scan
      {edited([](JpegParts& p) { p.erase(kSof0); }), ERR_INVALID_FILE, ""},  // a scan before any frame
      {frame([](Bytes& p) { p[1] = p[2] = 0; }), ERR_UNHANDLED, ""},      // height left to DNL
      {frame([](Bytes& p) { p[7] = 0x31, p[10] = 0x21; }), ERR_UNHANDLED, ""},  // factors 3x1 against 2x1
      {frame([](Bytes& p) { p[10] = 0x10; }), ERR_INVALID_FILE, ""},            // a sampling factor of 0
      {frame([](Bytes& p) { p[11] = 7; }), ERR_INVALID_FILE, ""},               // quantisation table 7
      {frame([](Bytes& p) { p[0] = 12; }), ERR_INVALID_FILE, ""},               // baseline frames are 8-bit
      {edited([](JpegParts& p) { p.tail[5] = 9; }), ERR_VALUE, ""},        // a component the frame lacks
      {edited([](JpegParts& p) { p.tail[6] = 0x33; }), ERR_LOADING, ""},   // a Huffman table never defined
      {bad_code(file, data), ERR_LOADING, dc_line},
      {bad_code(prog, band), ERR_INVALID_FILE, "CODE HUFF AC NON TROUV 65535 pos "},
      {read_file(corpus("testimgari.jpg")), ERR_UNKNOWN_FORMAT, refused("JPEG Extended Sequential DCT Arithmetic")},
      {read_file(jpegtran("arith_prog", structure, "-arithmetic -progressive")), ERR_UNKNOWN_FORMAT,
       refused("JPEG Progressive DCT Arithmetic")},
      {with_frame(0xC3, 8), ERR_UNKNOWN_FORMAT, refused("JPEG Lossless Huffman")},
      {with_frame(0xC5, 8), ERR_UNKNOWN_FORMAT, refused("JPEG Differential Sequential DCT Huffman")},
      {with_frame(0xC7, 8), ERR_UNKNOWN_FORMAT, refused("JPEG Differential lossless Huffman")},
      {with_frame(0xCB, 8), ERR_UNKNOWN_FORMAT, refused("JPEG Lossless Sequential DCT Arithmetic")},
      {with_frame(0xCF, 8), ERR_UNKNOWN_FORMAT, refused("JPEG Differential Lossless DCT Arithmetic")},
      // A differential frame needs precision 8: with 12 the file is invalid rather than unknown.
      {with_frame(0xC5, 12), ERR_INVALID_FILE, ""},
      {join(no_dri), ERR_INVALID_FILE, ""},
      {with_repeats(20), 0, ""},
      {with_repeats(1000), ERR_INVALID_FILE, ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    clear_log();
    EXPECT_EQ(load(cases[i].bytes).error, cases[i].error) << "case " << i;
    EXPECT_TRUE(logged(cases[i].log)) << "case " << i << ": " << read_text(log_);
  }
}

// A file cut anywhere gets one of the codes of a file that ends early; damaged bytes are the
// fuzzers' business.
TEST_F(Jpeg, TruncatedFilesGetTheirCodes) {
  for (const std::string& path :
       {cjpeg("damage_base", 48, 40, "-restart 2B"), cjpeg("damage_prog", 48, 40, "-progressive -sample 1x1")}) {
    const Bytes file = read_file(path);
    for (size_t cut = 3; cut < file.size() - 1; cut += 1 + file.size() / 60) {
      test_reset();
      const int error = load(Bytes(file.begin(), file.begin() + cut)).error;
      EXPECT_TRUE(error == ERR_INVALID_FILE || error == ERR_FILE_ACCESS || error == ERR_LOADING)
          << path << " cut at " << cut << " gave " << error;
    }
  }
}
