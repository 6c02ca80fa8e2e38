#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "image/load.h"
#include "image/pixels.h"
#include "support/test_support.h"

namespace {

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    group_create(&group);
  }
  ImageRecord* make(int32_t width, int32_t height, int32_t pixel_bytes, int32_t planes = 1) {
    Handle h;
    ImageRecord* image;
    obj_create(TYPE_IMAGE, &h, &image);
    image->width = width;
    image->height = height;
    image->pixel_bytes = pixel_bytes;
    image->planes = planes;
    image->bits = pixel_bytes == 1 ? 8 : 24;
    image->row_bytes = pixel_bytes == 1 ? (width + 3) & ~3 : width * 4;
    image_set_pixel_size(image, planes);
    image_alloc_pixels(image, group);
    std::memset(image->pixels, 0, image->pixel_size);
    return image;
  }
  Handle group = 0;
};

}  // namespace

TEST_F(Images, QuarterTurnsBothWaysRestoreThePicture) {
  ImageRecord* image = make(3, 2, 1);
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

TEST_F(Images, TrueColourTurnsAndOddLayoutsAreRefused) {
  ImageRecord* image = make(2, 1, 4);
  const uint8_t px[8] = {10, 20, 30, 0, 40, 50, 60, 0};
  std::memcpy(image->pixels, px, 8);
  image_rotate(image->handle, 1);  // counter-clockwise: the right pixel goes on top
  EXPECT_EQ(std::make_pair(image->width, image->height), std::make_pair(1, 2));
  EXPECT_EQ(std::make_pair(image->pixels[0], image->pixels[4]), std::make_pair(uint8_t{40}, uint8_t{10}));
  ImageRecord* wide = make(2, 2, 1);
  wide->pixel_bytes = 2;
  image_rotate(wide->handle, 0);
  EXPECT_EQ(g_error, ERR_UNHANDLED);
  EXPECT_EQ(wide->width, 2);
}

TEST_F(Images, Palettes) {
  ImageRecord* image = make(1, 1, 1);
  palette_set_grey(image, 2);
  EXPECT_EQ(std::make_pair(palette_rgb(image, 1), palette_rgb(image, 3)), std::make_pair(0x555555u, 0xFFFFFFu));
  palette_set_grey(image, 4);
  EXPECT_EQ(palette_rgb(image, 2), 0x222222u);
  palette_set_grey(image, 9);
  EXPECT_EQ(g_error, ERR_VALUE);
  g_error = 0;
  palette_set_identity(image);
  int index = -1;
  EXPECT_EQ(palette_find_rgb(image->handle, 77, 77, 77, &index), 1);
  EXPECT_EQ(index, 77);
  EXPECT_EQ(palette_find_rgb(image->handle, 1, 2, 3, &index), 0);

  uint8_t palette[768] = {};
  int count = 2;  // black and dark grey
  palette[1] = palette[257] = palette[513] = 40;
  palette_white_index(palette, &count, &index);
  EXPECT_EQ(std::make_tuple(index, count, palette[2]), std::make_tuple(2, 3, uint8_t{255}));  // appended
  count = 256;
  std::memset(palette, 0, sizeof palette);
  palette[7] = palette[256 + 7] = palette[512 + 7] = 200;
  palette_white_index(palette, &count, &index);
  EXPECT_EQ(std::make_pair(index, count), std::make_pair(7, 256));  // nearest, nothing appended
}

TEST_F(Images, TransparentPixelsTakeThePreviousFrame) {
  ImageRecord* previous = make(4, 2, 1);
  ImageRecord* frame = make(4, 2, 1);
  ImageRecord* target = make(4, 2, 1);
  std::memset(previous->pixels, 9, previous->pixel_size);
  const uint8_t f[4] = {1, 0, 2, 0};
  std::memcpy(frame->pixels, f, 4);
  std::memcpy(target->pixels, f, 4);
  frame->transparent[0] = 0;
  image_fill_transparent(previous, frame, target);
  EXPECT_EQ(stored_row(target, 0, 4), (std::vector<uint8_t>{1, 9, 2, 9}));
  ImageRecord* small = make(2, 2, 1);
  std::memset(target->pixels, 0, 4);
  image_fill_transparent(small, frame, target);  // previous smaller than the target: nothing
  EXPECT_EQ(target->pixels[1], 0);
}

TEST_F(Images, DisplayRowsFollowTheLayout) {
  ImageRecord* indexed = make(3, 1, 1);
  indexed->pixels[2] = 5;
  indexed->palette_red[5] = 0x12;
  indexed->palette_blue[5] = 0x34;
  uint32_t row[3];
  ASSERT_TRUE(image_row_rgb(indexed, 0, row));
  EXPECT_EQ(row[2], 0x120034u);
  ImageRecord* planar = make(2, 2, 1, 3);
  planar->pixels[4] = 7;        // red plane, second row
  planar->pixels[8 + 4] = 8;    // green plane
  planar->pixels[16 + 4] = 9;   // blue plane
  ASSERT_TRUE(image_row_rgb(planar, 1, row));
  EXPECT_EQ(row[0], 0x070809u);
  planar->bits = 16;  // 16-bit samples in 1-byte pixels paint nothing
  EXPECT_FALSE(image_row_rgb(planar, 0, row));
  indexed->pixel_size = 1;  // a record whose data is too short is never read past its end
  EXPECT_FALSE(image_row_rgb(indexed, 0, row));
}

TEST_F(Images, TitlesAndDescriptions) {
  ImageRecord* image = make(4, 2, 1);
  std::strcpy(image->name, "/x/a.bmp");
  image->description = DESC_BMP_RLE;
  image->planes = 1;
  image->bits = 8;
  EXPECT_EQ(image_title(image, 1, 1), "/x/a.bmp - 4 x 2 pixels - 1 x 8 bits - BMP compression RLE");
  EXPECT_EQ(image_title(image, 2, 3),
            "/x/a.bmp - 4 x 2 pixels - 1 x 8 bits - BMP compression RLE - page 2/3");
  for (const auto& [code, text] : std::vector<std::pair<int, std::string>>{
           {DESC_PPM_RAW, "PPM (rawbits)"}, {30, " "}, {33, ""}})
    EXPECT_EQ(description_text(code), text) << code;
  EXPECT_STREQ(image_description(image->handle), "BMP compression RLE");
  EXPECT_EQ(image_description(9999), nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}

TEST_F(Images, AbsurdSizesAreRefusedBeforeAllocation) {
  Handle h;
  ImageRecord* image;
  obj_create(TYPE_IMAGE, &h, &image);
  image->height = 1 << 30;
  image->row_bytes = 1 << 30;
  EXPECT_FALSE(image_set_pixel_size(image, 1));
  EXPECT_EQ(g_error, ERR_MEMORY);
  g_error = 0;
  image->height = INT32_MAX;
  image->row_bytes = INT32_MAX;
  EXPECT_FALSE(image_set_pixel_size(image, INT64_MAX));  // no overflow on the way
  EXPECT_EQ(g_error, ERR_MEMORY);
  g_error = 0;
  image->height = 0;
  EXPECT_TRUE(image_set_pixel_size(image, INT64_MAX));
  EXPECT_EQ(image->pixel_size, 0u);
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
  g_error = 0;
  // Format 15 names no decoder: the record made for it is destroyed again.
  file_descriptor_create(write_temp_file("f15.bin", std::string("zzzz")).c_str(), &list, &d);
  FileDescriptor* fd = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, d);
  fd->status = FILE_SUPPORTED;
  fd->format = 15;
  Handle target = 0;
  image_load(d, &target);
  EXPECT_EQ(g_error, ERR_UNKNOWN_FORMAT);
  Handle h = 0;
  ImageRecord* image;
  obj_next(TYPE_IMAGE, &h, &image);
  EXPECT_EQ(h, 0u);
  int32_t members = -1;
  g_error = 0;
  group_count(target, 0, &members);
  EXPECT_EQ(members, 0);
}

TEST_F(Images, PathsLongerThanTheRecordAreRefused) {
  Handle list = 0, d;
  std::string name = std::string(300, 'n') + ".bmp";
  file_descriptor_create(name.c_str(), &list, &d);
  FileDescriptor* fd = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, d);
  fd->status = FILE_SUPPORTED;
  fd->format = FORMAT_BMP;
  Handle target = 0;
  image_load(d, &target);
  EXPECT_EQ(g_error, ERR_PARAMETERS);
}
