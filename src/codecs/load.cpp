#include "codecs/load.h"

#include <cstring>

#include "codecs/decoders.h"
#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"

namespace {

// P1 .. P6 in identification order become their record descriptions, in the same order.
int32_t pnm_description(int32_t format) {
  static_assert(FORMAT_PPM_RAW - FORMAT_PBM_ASCII == DESC_PPM_RAW - DESC_PBM_ASCII);
  return DESC_PBM_ASCII + (format - FORMAT_PBM_ASCII);
}

void dispatch(int32_t format, ImageRecord** image, Handle group, ByteReader& in) {
  switch (format) {
    case FORMAT_BMP: decode_bmp(*image, group, in); break;
    case FORMAT_JPEG: decode_jpeg(*image, group, in); break;
    case FORMAT_GIF: decode_gif(image, group, in); break;
    case FORMAT_TIFF: decode_tiff(*image, group, in); break;
    case FORMAT_PNG: decode_png(*image, group, in); break;
    case FORMAT_XPM: decode_xpm(*image, group, in); break;
    case FORMAT_PCX: decode_pcx(*image, group, in); break;
    case FORMAT_SUN: decode_sun(*image, group, in); break;
    case FORMAT_TARGA: decode_targa(*image, group, in); break;
    default:
      if (format >= FORMAT_PBM_ASCII && format <= FORMAT_PPM_RAW)
        decode_pnm(*image, pnm_description(format), group, in);
      else
        g_error = ERR_UNKNOWN_FORMAT;
      break;
  }
}

// Makes the record, decodes into it (from `in`, or from the named file when `in` is null) and
// adds it to the group; on failure destroys what the decode made and keeps its error.
void load_record(const char* name, int32_t format, Handle* group, ByteReader* in) {
  // The record keeps the path in a fixed field: a longer path is refused, never cut.
  if (std::strlen(name) >= static_cast<size_t>(kImageNameSize)) {
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
  std::strcpy(image->name, name);

  if (format == FORMAT_ECW) {
    // The vendor library reads the file itself.
    if (in == nullptr) decode_ecw(image, *group);
    else g_error = ERR_UNKNOWN_FORMAT;
  } else if (in != nullptr) {
    dispatch(format, &image, *group, *in);
  } else {
    // The file is opened once; its bytes last exactly as long as the decode.
    FileBytes bytes;
    if (bytes.open(name)) {
      ByteReader file = bytes.reader();
      dispatch(format, &image, *group, file);
    } else {
      g_error = ERR_FILE_ACCESS;
    }
  }

  if (g_error != 0) {
    int32_t code = g_error;
    image_destroy(handle);
    group_destroy_members(*group);
    g_error = code;
    return;
  }
  if (image != nullptr) group_add(*group, TYPE_IMAGE, image->handle, image);
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
  load_record(descriptor->path, descriptor->format, group, nullptr);
}

void image_load_memory(const char* name, int32_t format, const uint8_t* data, int64_t size, Handle* group) {
  PaddedBytes bytes(data, size);
  if (!bytes.ok()) return;
  ByteReader in = bytes.reader();
  load_record(name, format, group, &in);
}
