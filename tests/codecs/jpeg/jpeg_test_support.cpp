#include "codecs/jpeg/jpeg_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "core/errors.h"
#include "support/test_support.h"

namespace jpeg_test {

std::string source_picture(int width, int height) {
  static std::map<std::pair<int, int>, std::string> made;
  auto key = std::make_pair(width, height);
  auto it = made.find(key);
  if (it != made.end()) return it->second;
  std::string path = test_temp_dir() + "/plasma_" + std::to_string(width) + "x" +
                     std::to_string(height) + ".ppm";
  // Plasma is smooth; the noise gives the high frequencies of a photograph.
  std::string cmd = "convert -seed 11 -size " + std::to_string(width) + "x" + std::to_string(height) +
                    " plasma:fractal -attenuate 0.5 +noise Gaussian -depth 8 ppm:" + path;
  run_command(cmd);
  made[key] = path;
  return path;
}

std::string cjpeg(const std::string& name, int width, int height, const std::string& options) {
  std::string path = test_temp_dir() + "/" + name + ".jpg";
  run_command("cjpeg " + options + " " + source_picture(width, height) + " > " + path +
              " 2>/dev/null");
  return path;
}

std::string jpegtran(const std::string& name, const std::string& input, const std::string& options) {
  std::string path = test_temp_dir() + "/" + name + ".jpg";
  run_command("jpegtran " + options + " " + input + " > " + path + " 2>/dev/null");
  return path;
}

std::string cmyk_jpeg(const std::string& name, int width, int height, bool pillow) {
  const std::string source = source_picture(width, height), path = test_temp_dir() + "/" + name + ".jpg";
  run_command(pillow ? "/usr/bin/python3 -c \"from PIL import Image; b = Image.open('" + source +
                           "').convert('CMYK').split(); k = Image.linear_gradient('L').resize(b[0].size); "
                           "Image.merge('CMYK', b[:3] + (k,)).save('" + path + "', quality=90)\""
                     : "convert " + source + " -colorspace CMYK -quality 90 " + path);
  return path;
}

namespace {

Difference compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  Difference d;
  if (a.size() != b.size() || a.empty()) return d;
  d.max = 0;
  double total = 0;
  size_t close = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      int x = (a[i] >> shift) & 255, y = (b[i] >> shift) & 255;
      int diff = x > y ? x - y : y - x;
      total += diff;
      close += diff <= 1;
      if (diff > d.max) d.max = diff;
    }
  }
  d.mean = total / (3.0 * a.size());
  d.within_one = double(close) / (3.0 * a.size());
  return d;
}

}  // namespace

Difference against_reference(const ImageRecord* image, const std::string& ppm) {
  int w = 0, h = 0;
  std::vector<uint32_t> expected;
  if (!read_pnm_rgb(ppm, &w, &h, &expected) || w != image->width || h != image->height) return Difference{};
  return compare(image_rgb(image), expected);
}

Difference against_pillow(const ImageRecord* image, const std::string& path, bool ycbcr) {
  static int counter = 0;
  std::string ref = test_temp_dir() + "/pillow_" + std::to_string(++counter) + ".ppm";
  run_command("/usr/bin/python3 -c \"from PIL import Image, ImageChops as C\n"
              "im = Image.open('" + path + "')\n" +
              (ycbcr ? "im.draft('YCbCr', im.size); im = Image.frombytes('RGB', im.size, im.tobytes())\n" : "") +
              "if im.mode == 'CMYK':\n"
              "  b = im.split(); im = Image.merge('RGB', [C.subtract(C.invert(v), b[3]) for v in b[:3]])\n"
              "im.convert('RGB').save('" + ref + "')\"");
  return against_reference(image, ref);
}

Difference against_djpeg(const ImageRecord* image, const std::string& path) {
  static int counter = 0;
  std::string ref = test_temp_dir() + "/djpeg_" + std::to_string(++counter) + ".pnm";
  run_command("djpeg -dct float -nosmooth " + path + " > " + ref + " 2>/dev/null");
  return against_reference(image, ref);
}

Difference between(const ImageRecord* a, const ImageRecord* b) {
  if (a->width != b->width || a->height != b->height) return Difference{};
  return compare(image_rgb(a), image_rgb(b));
}

JpegParts split(const std::vector<uint8_t>& file) {
  JpegParts parts;
  size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    uint8_t marker = file[at + 1];
    if (marker == 0xDA) break;
    size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
    if (length < 2 || at + 2 + length > file.size()) break;
    parts.segments.push_back({marker, std::vector<uint8_t>(file.begin() + at + 4, file.begin() + at + 2 + length)});
    at += 2 + length;
  }
  parts.tail.assign(file.begin() + at, file.end());
  return parts;
}

std::vector<uint8_t> join(const JpegParts& parts) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  for (const Segment& s : parts.segments) {
    size_t length = s.payload.size() + 2;
    out.insert(out.end(), {0xFF, s.marker, uint8_t(length >> 8), uint8_t(length & 255)});
    out.insert(out.end(), s.payload.begin(), s.payload.end());
  }
  out.insert(out.end(), parts.tail.begin(), parts.tail.end());
  return out;
}

Segment segment(uint8_t marker, const std::vector<uint8_t>& payload) { return Segment{marker, payload}; }

}  // namespace jpeg_test
