// Helpers for the JPEG tests: pictures made with ImageMagick and cjpeg/jpegtran, comparison
// against djpeg's float decoding, and byte-level editing of marker segments.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"

namespace jpeg_test {

// A deterministic plasma picture of the given size (PPM), made once per size.
std::string source_picture(int width, int height);
// cjpeg of the picture with the given options; the path of the JPEG file.
std::string cjpeg(const std::string& name, int width, int height, const std::string& options);
// jpegtran of a JPEG file with the given options.
std::string jpegtran(const std::string& name, const std::string& input, const std::string& options);

struct Difference {
  int max = 0;
  double mean = 0.0;
  double within_one = 0.0;  // share of samples that differ by at most 1
  bool same_size = false;
};
// Four-component files of the plasma picture (cyan, magenta, yellow = 255 - red, green, blue,
// black a ramp across), written by libjpeg as CMYK or YCCK with its Adobe header.
std::string libjpeg_cmyk(const std::string& name, int width, int height, bool ycck);
// The same picture saved as CMYK by Pillow, as photo-editing programs write it.
std::string pillow_cmyk(const std::string& name, int width, int height);
// Our decoding of `path` (already loaded as `image`) against `djpeg -dct float -nosmooth`.
Difference against_djpeg(const ImageRecord* image, const std::string& path);
// The same against libjpeg's float decoding without smoothing, made RGB: four components as CMYK,
// each channel white less its ink and the black (floored at 0), the inks inverted when the file
// has an Adobe header.
Difference against_libjpeg(const ImageRecord* image, const std::string& path);
// Pixel values of two decoded images, channel by channel.
Difference between(const ImageRecord* a, const ImageRecord* b);

// A JPEG file cut into its marker segments up to the first SOS; `tail` holds the SOS segment,
// the entropy-coded data and everything after.
struct Segment {
  uint8_t marker;
  std::vector<uint8_t> payload;  // without the length field
};
struct JpegParts {
  std::vector<Segment> segments;
  std::vector<uint8_t> tail;
};
JpegParts split(const std::vector<uint8_t>& file);
std::vector<uint8_t> join(const JpegParts& parts);
Segment segment(uint8_t marker, const std::vector<uint8_t>& payload);

// The log file of the test process, emptied.
void clear_log();
std::string read_log();

}  // namespace jpeg_test
