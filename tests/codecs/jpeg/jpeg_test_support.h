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

// Pictures that cannot be compared (sizes differ, no reference) differ more than any two that can.
struct Difference {
  int max = 256;
  double mean = 256.0;
  double within_one = 0.0;  // share of samples that differ by at most 1
};
// The plasma picture saved with an Adobe header and inverted inks by Pillow (as CMYK, black a
// ramp from top to bottom) or by ImageMagick (as YCCK).
std::string cmyk_jpeg(const std::string& name, int width, int height, bool pillow);

// Our decoding of `path` (already loaded as `image`) against `djpeg -dct float -nosmooth`.
Difference against_djpeg(const ImageRecord* image, const std::string& path);
// Our decoding against a binary PNM file.
Difference against_reference(const ImageRecord* image, const std::string& ppm);
// Against Pillow's reading of `path`; four components (CMYK to Pillow) become white less each
// ink and the black, floored at 0. With `ycbcr`, Y, Cb, Cr as decoded stand for R, G, B.
Difference against_pillow(const ImageRecord* image, const std::string& path, bool ycbcr = false);
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

}  // namespace jpeg_test
