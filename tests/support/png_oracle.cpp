// The libpng reader the conformance tests compare with (kept apart: the Windows test build has
// no libpng).
#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "support/test_support.h"

bool read_png_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb,
                  std::vector<bool>* clear) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, fp);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_read_info(png, info);
    // The stored samples, reduced to 8 bits by rounding, without any gamma or background
    // handling; four channels, the alpha made opaque where the file has none.
    png_set_scale_16(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *width = static_cast<int>(png_get_image_width(png, info));
    *height = static_cast<int>(png_get_image_height(png, info));
    std::vector<uint8_t> bytes(size_t(*width) * *height * 4);
    std::vector<png_bytep> rows(*height);
    for (int y = 0; y < *height; ++y) rows[y] = bytes.data() + size_t(y) * *width * 4;
    png_read_image(png, rows.data());
    rgb->resize(size_t(*width) * *height);
    if (clear != nullptr) clear->resize(rgb->size());
    for (size_t i = 0; i < rgb->size(); ++i) {
      const uint8_t* p = &bytes[4 * i];
      (*rgb)[i] = (uint32_t{p[0]} << 16) | (p[1] << 8) | p[2];
      if (clear != nullptr) (*clear)[i] = p[3] == 0;
    }
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(fp);
  return ok;
}
