// The image record, the rules decoders follow to fill it, and the small image operations
// shared by several modules: pixel blocks, palettes, descriptions, rotation, transparency.
#pragma once
#include <cstdint>
#include <string>

#include "core/group.h"
#include "core/registry.h"

constexpr int kImageNameSize = 256;

// Pixel data: `planes` planes one after the other, each of `height` rows of `row_bytes`
// bytes, top row first. A 1-byte pixel is a palette index; a 4-byte pixel is red, green,
// blue and a byte nothing interprets.
struct ImageRecord {
  Handle handle;
  char name[kImageNameSize];
  int32_t description;
  int32_t width;
  int32_t height;
  int32_t row_bytes;
  int32_t bits;
  int32_t planes;
  int32_t pixel_bytes;
  int32_t x_resolution;
  int32_t y_resolution;
  uint8_t transparent[3];
  uint8_t has_transparent;
  double gamma;  // -1.0 when the file states none
  Handle georef;
  uint32_t pixel_size;
  uint8_t palette_red[256];
  uint8_t palette_green[256];
  uint8_t palette_blue[256];
  uint8_t* pixels;
};
static_assert(kRegistryRecord<ImageRecord>);

// One graphic control extension of an animation; `loops` 65535 and above means forever.
struct FrameControl {
  Handle handle;
  Handle image;
  uint8_t user_input;
  uint8_t disposal;
  uint16_t loops;
  int32_t delay;  // hundredths of a second
};
static_assert(kRegistryRecord<FrameControl>);

enum Description : int32_t {
  DESC_BMP = 0,
  DESC_BMP_RLE = 1,
  DESC_BMP_BITFIELDS = 2,
  DESC_JPEG_JFIF = 3,
  DESC_JPEG_SPIFF = 4,
  DESC_GIF87A = 5,
  DESC_GIF89A = 6,
  DESC_GIF_OTHER = 7,
  DESC_TIFF_NONE = 8,
  DESC_TIFF_CCITT1D = 9,
  DESC_TIFF_G3 = 10,
  DESC_TIFF_G4 = 11,
  DESC_TIFF_LZW = 12,
  DESC_TIFF_JPEG = 13,
  DESC_TIFF_PACKBITS = 14,
  DESC_PNG = 15,
  DESC_XPM = 16,
  DESC_XBM = 17,
  DESC_PBM_ASCII = 18,
  DESC_PGM_ASCII = 19,
  DESC_PPM_ASCII = 20,
  DESC_PBM_RAW = 21,
  DESC_PGM_RAW = 22,
  DESC_PPM_RAW = 23,
  DESC_MRSID = 24,
  DESC_ECW = 25,
  DESC_PCX = 26,
  DESC_JPEG_EXIF = 27,
  DESC_SUN = 28,
  DESC_TARGA = 29,
  DESC_TIFF_DEFLATE = 34,
  DESC_BMP_OS2 = 35,
  DESC_PNG_INTERLACED = 36,
  DESC_PNG_16 = 37,
  DESC_PNG_INTERLACED_16 = 38,
  DESC_PGM_ASCII_16 = 39,
  DESC_PPM_ASCII_16 = 40,
  DESC_PGM_RAW_16 = 41,
  DESC_PPM_RAW_16 = 42,
  DESC_COUNT = 43,
};
const char* description_text(int32_t description);  // "" outside the table

// Registers types 1 and 39 and, when given, the display's handlers for images.
void image_types_init(ExtentHandler measure = nullptr, DrawHandler draw = nullptr);

// Creates an image record of its own (further pages and frames) with the defaults the
// dispatcher gives: name copied, gamma -1.
ImageRecord* image_create_like(const ImageRecord* first, Handle* handle);

// Sets pixel_size = planes x height x row_bytes after checking that it fits in 32 bits and
// under the memory limit; error 1 otherwise. Returns false on error.
bool image_set_pixel_size(ImageRecord* image, int64_t planes);
void image_alloc_pixels(ImageRecord* image, Handle group);
void image_pixel_block(const ImageRecord* image, GroupRecord** block, Handle* handle = nullptr);
void image_destroy(Handle handle);
const char* image_description(Handle handle);
// Gives a copy that shares another record's pixels a block of its own, made a member of
// `group` (no pixels and error 1 when memory runs out): changing it leaves the original alone.
void image_own_pixels(Handle handle, Handle group);
// A quarter turn, counter-clockwise for direction 1, clockwise otherwise; error 16 for a
// pixel layout the display cannot show.
void image_rotate(Handle handle, int direction);

void palette_set_identity(ImageRecord* image);
void palette_set_grey(ImageRecord* image, int bits);
int palette_find_rgb(Handle handle, uint8_t r, uint8_t g, uint8_t b, int* index);
void palette_white_index(uint8_t* palette, int* count, int* index);  // red, green, blue arrays

// The window title for an image: "NAME - W x H pixels - P x B bits - DESCRIPTION", followed
// by " - page N/COUNT" when its file holds more than one image.
std::string image_title(const ImageRecord* image, int page, int count);
