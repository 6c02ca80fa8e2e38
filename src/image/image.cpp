#include "image/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "image/pixels.h"

namespace {

const char* const kDescriptions[DESC_COUNT] = {
    "BMP non compresse",
    "BMP compression RLE",
    "BMP compression Bitfields",
    "JPEG format JFIF",
    "JPEG format SPIFF",
    "GIF version 87a",
    "GIF version 89a",
    "GIF version inconnue",
    "TIFF non compresse",
    "TIFF CCITT-1D",
    "TIFF T4 (Group 3 Fax)",
    "TIFF T6 (Group 4 Fax)",
    "TIFF compression LZW",
    "TIFF-JPEG",
    "TIFF compression PackBits",
    "PNG",
    "XPixmap",
    "XBitmap",
    "PBM (ascii)",
    "PGM (ascii)",
    "PPM (ascii)",
    "PBM (rawbits)",
    "PGM (rawbits)",
    "PPM (rawbits)",
    "MrSID",
    "ECW",
    "PCX",
    "JPEG format Exif",
    "Sun Rasterfile",
    "Truevision Targa",
    " ",
    " ",
    "Fuji S5000 CCD-RAW",
    "",
    "TIFF compression Deflate",
    "BMP OS/2",
    "PNG entrelace",
    "PNG 16 bits",
    "PNG entrelace 16 bits",
    "PGM (ascii) 16 bits",
    "PPM (ascii) 16 bits",
    "PGM (rawbits) 16 bits",
    "PPM (rawbits) 16 bits",
};

}  // namespace

const char* description_text(int32_t description) {
  return description >= 0 && description < DESC_COUNT ? kDescriptions[description] : "";
}

void image_types_init(ExtentHandler measure, DrawHandler draw) {
  obj_register_type(TYPE_IMAGE, sizeof(ImageRecord));
  obj_register_type(TYPE_FRAME_CONTROL, sizeof(FrameControl));
  if (measure != nullptr) g_extent_handlers[TYPE_IMAGE] = measure;
  if (draw != nullptr) g_draw_handlers[TYPE_IMAGE] = draw;
}

ImageRecord* image_create_like(const ImageRecord* first, Handle* handle) {
  ImageRecord* image;
  obj_create(TYPE_IMAGE, handle, &image);
  if (image == nullptr) return nullptr;
  std::memcpy(image->name, first->name, sizeof image->name);
  image->gamma = -1.0;
  image->pixels = nullptr;
  return image;
}

bool image_set_pixel_size(ImageRecord* image, int64_t planes) {
  // Each factor is checked before it is multiplied, so the product never overflows.
  const uint64_t limit = std::min<uint64_t>(UINT32_MAX, mem_limit());
  uint64_t size = 0;
  bool ok = image->height >= 0 && image->row_bytes >= 0 && planes >= 0;
  if (ok) {
    uint64_t plane = uint64_t(image->height) * uint64_t(image->row_bytes);  // below 2^62
    ok = plane <= limit && (plane == 0 || uint64_t(planes) <= limit / plane);
    size = ok ? plane * uint64_t(planes) : 0;
  }
  if (!ok) {
    g_error = ERR_MEMORY;
    return false;
  }
  image->pixel_size = static_cast<uint32_t>(size);
  return true;
}

void image_alloc_pixels(ImageRecord* image, Handle group) {
  Handle block_handle;
  GroupRecord* block;
  obj_create(TYPE_GROUP, &block_handle, &block);
  if (block == nullptr) return;
  block->array.bytes = image->pixel_size;
  if (mem_alloc(&block->array.entries, image->pixel_size) == nullptr) {
    obj_destroy(TYPE_GROUP, block_handle);
    g_error = ERR_MEMORY;
    return;
  }
  image->pixels = block->array.entries;
  if (group != 0) group_add(group, TYPE_GROUP, block_handle, block);
}

void image_pixel_block(const ImageRecord* image, GroupRecord** block, Handle* handle) {
  *block = nullptr;
  if (handle != nullptr) *handle = 0;
  if (image->pixels == nullptr) return;
  Handle h;
  data_object_find(image->pixels, &h, block);
  if (handle != nullptr) *handle = h;
}

void image_destroy(Handle handle) {
  if (handle == 0) return;
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, handle);
  if (image == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (image->pixels != nullptr) {
    GroupRecord* block;
    Handle block_handle;
    image_pixel_block(image, &block, &block_handle);
    if (block != nullptr) obj_destroy(TYPE_GROUP, block_handle);
  }
  if (image->georef != 0) obj_destroy(TYPE_GEOREF, image->georef);
  obj_destroy(TYPE_IMAGE, handle);
}

const char* image_description(Handle handle) {
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, handle);
  if (image == nullptr) {
    g_error = ERR_OBJECT;
    return nullptr;
  }
  return description_text(image->description);
}

void image_own_pixels(Handle handle, Handle group) {
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, handle);
  if (image == nullptr || image->pixels == nullptr) return;
  const uint8_t* shared = image->pixels;
  image->pixels = nullptr;  // never left pointing at the original, even when the copy fails
  image_alloc_pixels(image, group);
  if (image->pixels != nullptr) std::memcpy(image->pixels, shared, image->pixel_size);
}

void image_rotate(Handle handle, int direction) {
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, handle);
  if (image == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  // The picture is turned as the display reads it: only the layouts it knows, their rows at
  // the display's stride (which also proves the pixel data holds every row read).
  const PixelLayout layout = image_pixel_layout(image);
  if (layout == LAYOUT_NONE) {
    g_error = ERR_UNHANDLED;
    return;
  }
  const int64_t pb = layout == LAYOUT_RGB4 ? 4 : 1;
  const int64_t planes = layout == LAYOUT_PLANAR ? 3 : 1;
  const int64_t old_w = image->width, old_h = image->height;
  const int64_t old_row = pb * image_display_stride(image);
  const int64_t new_row = pb * (image->bits <= 8 ? (old_h + 3) & ~int64_t{3} : old_h);
  const int64_t new_size = planes * old_w * new_row;
  if (new_size > int64_t{UINT32_MAX}) {
    g_error = ERR_MEMORY;
    return;
  }
  uint8_t* rotated = nullptr;
  if (mem_alloc(&rotated, static_cast<size_t>(new_size)) == nullptr) return;
  std::memset(rotated, 0, static_cast<size_t>(new_size));
  for (int64_t p = 0; p < planes; ++p) {
    const uint8_t* src = image->pixels + p * old_h * old_row;
    uint8_t* dst = rotated + p * old_w * new_row;
    for (int64_t r = 0; r < old_h; ++r) {
      const uint8_t* row = src + r * old_row;
      for (int64_t c = 0; c < old_w; ++c) {
        int64_t nr = direction == 1 ? old_w - 1 - c : c;
        int64_t nc = direction == 1 ? r : old_h - 1 - r;
        std::memcpy(dst + nr * new_row + nc * pb, row + c * pb, static_cast<size_t>(pb));
      }
    }
  }
  GroupRecord* block;
  image_pixel_block(image, &block);
  image->row_bytes = static_cast<int32_t>(new_row);
  image->width = static_cast<int32_t>(old_h);
  image->height = static_cast<int32_t>(old_w);
  image->pixel_size = static_cast<uint32_t>(new_size);
  if (block != nullptr) {
    mem_free(&block->array.entries);
    block->array.entries = rotated;
    block->array.bytes = image->pixel_size;
  } else {
    mem_free(&image->pixels);
  }
  image->pixels = rotated;
}

void palette_set_identity(ImageRecord* image) {
  for (int i = 0; i < 256; ++i)
    image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] = static_cast<uint8_t>(i);
}

void palette_set_grey(ImageRecord* image, int bits) {
  if (bits > 8 || bits < 1) {
    g_error = ERR_VALUE;
    return;
  }
  int n = 1 << bits;
  int step = 255 / (n - 1);
  for (int i = 0; i < n; ++i)
    image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] =
        static_cast<uint8_t>((i * step) % 256);
}

int palette_find_rgb(Handle handle, uint8_t r, uint8_t g, uint8_t b, int* index) {
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, handle);
  if (image == nullptr) {
    g_error = ERR_OBJECT;
    return 128;
  }
  for (int i = 0; i < 256; ++i) {
    if (image->palette_red[i] == r && image->palette_green[i] == g && image->palette_blue[i] == b) {
      *index = i;
      return 1;
    }
  }
  return 0;
}

void palette_white_index(uint8_t* palette, int* count, int* index) {
  uint8_t* red = palette;
  uint8_t* green = palette + 256;
  uint8_t* blue = palette + 512;
  int best = 0;
  int32_t best_distance = 524288;
  for (int i = 0; i < *count && i < 256; ++i) {
    int32_t dr = 255 - red[i], dg = 255 - green[i], db = 255 - blue[i];
    int32_t distance = dr * dr + dg * dg + db * db;
    if (distance == 0) {
      *index = i;
      return;
    }
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  if (*count >= 256) {
    *index = best;
    return;
  }
  *index = *count;
  red[*count] = green[*count] = blue[*count] = 255;
  ++*count;
}

std::string image_title(const ImageRecord* image, int page, int count) {
  char text[kImageNameSize + 160];
  int n = std::snprintf(text, sizeof text, "%s - %d x %d pixels - %d x %d bits - %s", image->name,
                        image->width, image->height, image->planes, image->bits,
                        description_text(image->description));
  if (count > 1 && n > 0 && static_cast<size_t>(n) < sizeof text)
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), " - page %d/%d", page, count);
  return text;
}
