// What neither the decoded files nor the viewer's tests reach of image records: turns of padded
// indexed rows, layouts that cannot be shown, codes without text, and the dispatcher's refusals.
#include <gtest/gtest.h>

#include <cstring>

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

// Turns of an indexed picture with padded rows (the viewer's tests turn true colour ones).
TEST_F(Images, QuarterTurnsBothWaysRestoreThePicture) {
  ImageRecord* image = make_image(group, 3, 2, 1, 1);
  const uint8_t rows[2][3] = {{1, 2, 3}, {4, 5, 6}};
  for (int r = 0; r < 2; ++r) std::memcpy(image->pixels + r * image->row_bytes, rows[r], 3);
  image_rotate(image->handle, 0);  // clockwise
  ASSERT_EQ(g_error, 0);
  EXPECT_EQ((std::vector<int64_t>{image->width, image->height, image->row_bytes, image->pixel_size}),
            (std::vector<int64_t>{2, 3, 4, 12}));
  EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + 12),
            (std::vector<uint8_t>{4, 1, 0, 0, 5, 2, 0, 0, 6, 3, 0, 0}));
  // The pixel block follows the new memory.
  GroupRecord* block;
  image_pixel_block(image, &block);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->array.bytes, 12u);
  image_rotate(image->handle, 1);
  for (int r = 0; r < 2; ++r) EXPECT_EQ(std::memcmp(image->pixels + r * 4, rows[r], 3), 0);
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
