#include "codecs/raster_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "codecs/load.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/file_descriptor.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// One manifest line: "load FILE REFERENCE TOLERANCE [transparent]" or "refuse FILE CODE".
void check_case(const std::string& dir, const std::string& kind, const std::string& name,
                std::istringstream& fields) {
  test_reset();
  LoadResult result = load_file(dir + "/" + name);
  if (kind == "refuse") {
    int code = 0;
    fields >> code;
    EXPECT_EQ(result.error, code);
    return;
  }
  std::string reference, flag;
  int tolerance = 0;
  fields >> reference >> tolerance >> flag;
  ASSERT_EQ(result.error, 0);
  ASSERT_EQ(result.images.size(), 1u);
  const ImageRecord* image = result.images[0];
  int width = 0, height = 0;
  std::vector<uint32_t> expected;
  ASSERT_TRUE(read_pnm_rgb(dir + "/" + reference, &width, &height, &expected));
  ASSERT_EQ(image->width, width);
  ASSERT_EQ(image->height, height);
  std::vector<bool> skip;
  if (flag == "transparent") {
    EXPECT_EQ(image->has_transparent, 1);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) skip.push_back(pixel_at(image, y, x) == image->transparent[0]);
  }
  EXPECT_LE(channel_difference(image_rgb(image), expected, skip).max, tolerance);
}

}  // namespace

int check_generated_cases(const std::string& prefix) {
  const std::string& dir = generated_dir("raster_cases_" + prefix, [&](const std::string& out) {
    return run_tool_script("make_raster_cases.py " + out + " " + prefix);
  });
  std::ifstream manifest(dir + "/manifest.txt");
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string kind, name;
    fields >> kind >> name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    SCOPED_TRACE(name);
    check_case(dir, kind, name, fields);
    ++checked;
  }
  return checked;
}

std::vector<uint8_t> pack_codes(int minimum_size, const std::vector<int>& codes, bool tiff) {
  const int clear = 1 << minimum_size, end = clear + 1;
  int size = minimum_size + 1, last = end;
  bool fresh = true;
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int held = 0;
  for (int code : codes) {
    const uint64_t bits = uint32_t(code) & ((1u << size) - 1);
    acc = tiff ? acc << size | bits : acc | bits << held;
    for (held += size; held >= 8; held -= 8) {
      out.push_back(uint8_t(tiff ? acc >> (held - 8) : acc));
      if (!tiff) acc >>= 8;
    }
    if (code == clear) {
      size = minimum_size + 1;
      last = end;
      fresh = true;
      continue;
    }
    if (code == end) continue;
    if (!fresh && last < 4095) ++last;
    fresh = false;
    if (last >= (1 << size) - (tiff ? 2 : 1) && size < 12) ++size;
  }
  if (held > 0) out.push_back(uint8_t(tiff ? acc << (8 - held) : acc));
  return out;
}

std::vector<uint8_t> zlib_deflate(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy);
  std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<uint8_t*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void expect_refusals(int32_t format, const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    mem_set_limit(size_t{64} << 20);
    EXPECT_EQ(load_bytes(c.name, c.bytes.data, format).error, c.code);
  }
}

std::vector<double> record_fields(const ImageRecord* image) {
  return {double(image->has_transparent), double(image->transparent[0]), double(image->transparent[1]),
          double(image->transparent[2]), image->gamma, double(image->x_resolution), double(image->y_resolution)};
}

void expect_decoded(int32_t format, const std::vector<Decoded>& cases) {
  for (const Decoded& c : cases) {
    SCOPED_TRACE(c.name);
    test_reset();
    LoadResult r = load_bytes(c.name, c.bytes.data, format);
    ASSERT_EQ(r.error, 0);
    const ImageRecord* image = r.images.at(0);
    if (!c.rgb.empty()) { EXPECT_EQ(image_rgb(image), c.rgb); }
    if (!c.stored.empty()) { EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + c.stored.size()), c.stored); }
    if (!c.title.empty()) { EXPECT_EQ(image_title(image, 1, 1), image->name + c.title); }
    if (!c.fields.empty()) { EXPECT_EQ(record_fields(image), c.fields); }
  }
}
