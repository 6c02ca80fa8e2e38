#include "codecs/load.h"

#include <cstring>

#include "codecs/decoders.h"
#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "io/stream.h"

namespace {

void dispatch(int32_t format, ImageRecord** image, Handle group) {
  switch (format) {
    case FORMAT_BMP: decode_bmp(*image, group); break;
    case FORMAT_JPEG: decode_jpeg(*image, group); break;
    case FORMAT_GIF: decode_gif(image, group); break;
    case FORMAT_TIFF: decode_tiff(*image, group); break;
    case FORMAT_PNG: decode_png(*image, group); break;
    case FORMAT_XPM: decode_xpm(*image, group); break;
    case 6: case 7: case 8: case 9: case 10: case 11:
      decode_pnm(*image, format + 12, group);
      break;
    case FORMAT_PCX: decode_pcx(*image, group); break;
    case FORMAT_SUN: decode_sun(*image, group); break;
    case FORMAT_TARGA: decode_targa(*image, group); break;
    case FORMAT_ECW: decode_ecw(*image, group); break;
    default: g_error = ERR_UNKNOWN_FORMAT; break;
  }
}

}  // namespace

void image_load(Handle descriptor_handle, Handle* group) {
  FileDescriptor* descriptor = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor_handle);
  if (descriptor == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (descriptor->status != FILE_SUPPORTED) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  // The record keeps the path in a fixed field: a longer path is refused, never cut.
  if (std::strlen(descriptor->path) >= static_cast<size_t>(kImageNameSize)) {
    g_error = ERR_PARAMETERS;
    return;
  }
  if (*group == 0) group_create(group);
  if (g_error != 0) return;
  Handle handle;
  ImageRecord* image;
  obj_create(TYPE_IMAGE, &handle, &image);
  if (image == nullptr) return;
  image->gamma = -1.0;
  image->pixels = nullptr;
  std::strcpy(image->name, descriptor->path);
  const int32_t format = descriptor->format;

  dispatch(format, &image, *group);

  // A decoder that stopped early may have left its stream open.
  if (stream_is_open()) stream_close();
  if (g_error != 0) {
    int32_t code = g_error;
    image_destroy(handle);
    group_destroy_members(*group);
    g_error = code;
    return;
  }
  if (image != nullptr) group_add(*group, TYPE_IMAGE, image->handle, image);
}
