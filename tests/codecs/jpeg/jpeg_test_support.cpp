#include "codecs/jpeg/jpeg_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <jpeglib.h>  // after <cstdio>, which it needs

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

std::string libjpeg_cmyk(const std::string& name, int width, int height, bool ycck) {
  int w = 0, h = 0;
  std::vector<uint32_t> rgb;
  if (!read_pnm_rgb(source_picture(width, height), &w, &h, &rgb)) return "";
  std::vector<uint8_t> samples;
  for (size_t i = 0; i < rgb.size(); ++i)
    samples.insert(samples.end(), {uint8_t(255 - (rgb[i] >> 16)), uint8_t(255 - (rgb[i] >> 8)),
                                   uint8_t(255 - rgb[i]), uint8_t(i % w * 255 / w)});
  std::string path = test_temp_dir() + "/" + name + ".jpg";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return "";
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = w;
  cinfo.image_height = h;
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);  // both write the Adobe header
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = samples.data() + size_t(cinfo.next_scanline) * w * 4;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
  return path;
}

std::string pillow_cmyk(const std::string& name, int width, int height) {
  std::string path = test_temp_dir() + "/" + name + ".jpg";
  run_command("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + source_picture(width, height) +
              "').convert('CMYK').save('" + path + "', quality=90)\"");
  return path;
}

namespace {

Difference compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  Difference d;
  d.same_size = a.size() == b.size() && !a.empty();
  if (!d.same_size) return d;
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

// libjpeg's float decoding as 0x00RRGGBB: three components as RGB; four as CMYK, each channel
// white less its ink and the black, floored at 0, with the inks inverted when the file has an
// Adobe header.
std::vector<uint32_t> libjpeg_rgb(const std::string& path) {
  std::vector<uint32_t> rgb;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return rgb;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  const bool cmyk = cinfo.num_components == 4;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  cinfo.dct_method = JDCT_FLOAT;
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  const int flip = cinfo.saw_Adobe_marker ? 255 : 0;
  std::vector<uint8_t> row(size_t(cinfo.output_width) * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&cinfo, &p, 1);
    for (size_t x = 0; x < cinfo.output_width; ++x, p += cinfo.output_components) {
      uint32_t pixel = 0;
      for (int c = 0; c < 3; ++c) {
        const int v = cmyk ? std::max(0, 255 - (flip ^ p[c]) - (flip ^ p[3])) : p[c];
        pixel = pixel << 8 | uint32_t(v);
      }
      rgb.push_back(pixel);
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(in);
  return rgb;
}

}  // namespace

Difference against_libjpeg(const ImageRecord* image, const std::string& path) {
  return compare(image_rgb(image), libjpeg_rgb(path));
}

Difference against_djpeg(const ImageRecord* image, const std::string& path) {
  static int counter = 0;
  std::string ref = test_temp_dir() + "/djpeg_" + std::to_string(++counter) + ".pnm";
  run_command("djpeg -dct float -nosmooth " + path + " > " + ref + " 2>/dev/null");
  int w = 0, h = 0;
  std::vector<uint32_t> expected;
  if (!read_pnm_rgb(ref, &w, &h, &expected) || w != image->width || h != image->height)
    return Difference{};
  return compare(image_rgb(image), expected);
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

namespace {

// Points the log at the temporary directory (the log is named after the working directory).
std::string log_in_temp_dir() {
  char cwd[4096];
  const char* old = getcwd(cwd, sizeof cwd);
  if (chdir(test_temp_dir().c_str()) == 0) {
    log_set_path("JPEGTEST");
    if (old != nullptr && chdir(old) != 0) std::perror("chdir");
  }
  return log_path();
}

}  // namespace

void clear_log() { std::remove(log_in_temp_dir().c_str()); }

std::string read_log() {
  std::vector<uint8_t> bytes = read_file(log_in_temp_dir());
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace jpeg_test
