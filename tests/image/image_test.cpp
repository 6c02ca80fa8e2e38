// What neither the decoded files nor the viewer's tests reach of image records: turns of every
// layout, layouts that cannot be shown, codes without text, and the dispatcher's refusals.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "image/pixels.h"
#include "support/test_support.h"

namespace {

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    group_create(&group);
  }
  Handle group = 0;
};

}  // namespace

// Quarter turns of every layout the display shows, with padded rows: one turn moves each pixel
// and lays the rows out anew in a block of their own; four give the picture back.
TEST_F(Images, QuarterTurnsOfEveryLayout) {
  const struct {
    int32_t planes, pixel_bytes;
  } layouts[] = {{3, 4}, {3, 1}, {1, 1}};  // RGB pixels, RGB planes, palette
  for (const auto& layout : layouts) {
    ImageRecord* image = make_image(group, 5, 3, layout.planes, layout.pixel_bytes);
    for (uint32_t i = 0; i < image->pixel_size; ++i) image->pixels[i] = uint8_t(i * 37 + 11);
    for (int i = 0; i < 256; ++i) image->palette_red[i] = image->palette_blue[i] = uint8_t(255 - i);
    const std::vector<uint32_t> before = image_rgb(image);
    image_rotate(image->handle, 0);  // clockwise
    ASSERT_EQ(g_error, 0);
    const int64_t row = 4 * layout.pixel_bytes;  // three pixels padded to four
    EXPECT_EQ((std::vector<int64_t>{image->width, image->height, image->row_bytes, image->pixel_size}),
              (std::vector<int64_t>{3, 5, row, row * 5 * (layout.pixel_bytes == 1 ? layout.planes : 1)}));
    std::vector<uint32_t> expected;
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 3; ++x) expected.push_back(before[(2 - x) * 5 + y]);
    EXPECT_EQ(image_rgb(image), expected) << layout.planes;
    for (int64_t end = row; end <= image->pixel_size; end += row)
      EXPECT_EQ(image->pixels[end - 1], 0) << "padding before " << end;
    GroupRecord* block;
    image_pixel_block(image, &block);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::make_pair(block->array.entries, block->array.bytes), std::make_pair(image->pixels, image->pixel_size));
    for (int direction : {0, 0, 0, 1, 0}) image_rotate(image->handle, direction);  // 1: counter-clockwise
    EXPECT_EQ(image_rgb(image), before) << layout.planes;
  }
}

TEST_F(Images, LayoutsThatCannotBeShownAreRefused) {
  // Every decoded layout is shown through image_row_rgb in the conformance tests; these are
  // the records it must refuse without reading past their data.
  ImageRecord* planar = make_image(group, 2, 2, 3, 1);
  uint32_t row[3];
  planar->bits = 16;  // 16-bit samples in 1-byte pixels paint nothing
  EXPECT_FALSE(image_row_rgb(planar, 0, row));
  ImageRecord* indexed = make_image(group, 3, 1, 1, 1);
  indexed->pixel_size = 1;  // data too short for the rows
  EXPECT_FALSE(image_row_rgb(indexed, 0, row));
  palette_set_grey(indexed, 9);
  EXPECT_EQ(g_error, ERR_VALUE);
}

TEST_F(Images, DescriptionsOfCodesWithoutText) {
  for (const auto& [code, text] : std::vector<std::pair<int, std::string>>{{30, " "}, {33, ""}})
    EXPECT_EQ(description_text(code), text) << code;
  EXPECT_EQ(image_description(9999), nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}

TEST_F(Images, DispatchRefusesWhatItCannotLoad) {
  Handle list = 0, d;
  file_descriptor_create(write_temp_file("v.txt", std::string("version 2")).c_str(), &list, &d);
  file_identify(d);
  Handle none = 0;
  image_load(d, &none);
  EXPECT_EQ(g_error, ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(none, 0u);  // no group is created for a refused descriptor
  g_error = 0;
  image_load(424242, &none);
  EXPECT_EQ(g_error, ERR_OBJECT);
  // Format 15 names no decoder, and a name longer than the record's field is refused, never
  // cut: the record made for them is destroyed again.
  const uint8_t bytes[4] = {'B', 'M', 0, 0};
  const std::pair<std::string, int32_t> refused[] = {{"f15.bin", 15}, {std::string(300, 'n') + ".bmp", FORMAT_BMP}};
  for (const auto& [name, format] : refused) {
    g_error = 0;
    Handle target = 0;
    image_load_memory(name.c_str(), format, bytes, 4, &target);
    EXPECT_EQ(g_error, format == 15 ? ERR_UNKNOWN_FORMAT : ERR_PARAMETERS);
    int32_t members = -1;
    g_error = 0;
    group_count(target, 0, &members);
    EXPECT_EQ(std::make_pair(members, live_objects()), std::make_pair(0, 0));
  }
}
