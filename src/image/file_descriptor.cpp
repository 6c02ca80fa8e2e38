#include "image/file_descriptor.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "io/file_map.h"

namespace {

struct Magic {
  uint8_t pattern[5];
  uint8_t mask[5];
  int32_t format;
};

const Magic kSupported[18] = {
    {{0x42, 0x4D, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_BMP},
    {{0xFF, 0xD8, 0xFF, 0, 0}, {1, 1, 1, 0, 0}, FORMAT_JPEG},
    {{0x49, 0x49, 0x2A, 0, 0}, {1, 1, 1, 0, 0}, FORMAT_TIFF},
    {{0x4D, 0x4D, 0, 0x2A, 0}, {1, 1, 0, 1, 0}, FORMAT_TIFF},
    {{0x49, 0x49, 0x2B, 0, 0}, {1, 1, 1, 0, 0}, FORMAT_TIFF},  // BigTIFF
    {{0x4D, 0x4D, 0, 0x2B, 0}, {1, 1, 0, 1, 0}, FORMAT_TIFF},
    {{0x47, 0x49, 0x46, 0, 0}, {1, 1, 1, 0, 0}, FORMAT_GIF},
    {{0x89, 0x50, 0x4E, 0x47, 0}, {1, 1, 1, 1, 0}, FORMAT_PNG},
    {{0x59, 0xA6, 0x6A, 0x95, 0}, {1, 1, 1, 1, 0}, FORMAT_SUN},
    {{0x50, 0x31, 0, 0, 0}, {1, 1, 0, 0, 0}, 6},
    {{0x50, 0x32, 0, 0, 0}, {1, 1, 0, 0, 0}, 7},
    {{0x50, 0x33, 0, 0, 0}, {1, 1, 0, 0, 0}, 8},
    {{0x50, 0x34, 0, 0, 0}, {1, 1, 0, 0, 0}, 9},
    {{0x50, 0x35, 0, 0, 0}, {1, 1, 0, 0, 0}, 10},
    {{0x50, 0x36, 0, 0, 0}, {1, 1, 0, 0, 0}, 11},
    {{0x0A, 0, 0x00, 0, 0}, {1, 0, 1, 0, 0}, FORMAT_PCX},
    {{0x0A, 0, 0x01, 0, 0}, {1, 0, 1, 0, 0}, FORMAT_PCX},
    {{0x65, 0x02, 0x01, 0, 0}, {1, 1, 1, 0, 0}, FORMAT_ECW},
};
const Magic kUnsupported[1] = {
    {{0x00, 0x00, 0x27, 0x0A, 0}, {1, 1, 1, 1, 0}, FORMAT_27_0A},
};

bool magic_matches(const Magic& magic, const uint8_t* header) {
  for (int i = 4; i >= 0; --i)
    if (magic.mask[i] != 0 && header[i] != magic.pattern[i]) return false;
  return true;
}

bool is_white(int c) { return c == 9 || c == 10 || c == 13 || c == 32; }

// Reads white space, at most `budget` characters; false when the budget ran out on it.
bool skip_white(FILE* fp, uint64_t budget) {
  for (uint64_t i = 0; i < budget; ++i) {
    int c = std::fgetc(fp);
    if (!is_white(c)) {
      if (c != EOF) std::ungetc(c, fp);
      return true;
    }
  }
  return false;
}

}  // namespace

void file_descriptor_types_init() {
  obj_register_type(TYPE_FILE_DESCRIPTOR, sizeof(FileDescriptor));
}

void file_stat(const char* path, int32_t* status, uint64_t* size) {
  *size = 0;
  *status = FILE_OTHER;
  struct stat info;
  if (::stat(path, &info) != 0) {
    *status = FILE_MISSING;
    return;
  }
  *size = static_cast<uint64_t>(info.st_size);
  if (S_ISDIR(info.st_mode)) *status = FILE_DIRECTORY;
  else if (S_ISREG(info.st_mode)) *status = FILE_UNIDENTIFIED;
}

int32_t file_status(const char* path) {
  int32_t status;
  uint64_t size;
  file_stat(path, &status, &size);
  return status;
}

void file_descriptor_create(const char* path, Handle* group, Handle* handle) {
  *handle = 0;
  if (*group == 0) group_create(group);
  if (g_error != 0) return;
  FileDescriptor* descriptor;
  obj_create(TYPE_FILE_DESCRIPTOR, handle, &descriptor);
  if (descriptor == nullptr) return;
  descriptor->status = file_status(path);
  descriptor->depth = 0;
  Handle text;
  void* text_ptr;
  text_object_create(path, &text, &text_ptr);
  if (g_error != 0) {
    obj_destroy(TYPE_GROUP, text);
    obj_destroy(TYPE_FILE_DESCRIPTOR, *handle);
    *handle = 0;
    return;
  }
  descriptor->path = reinterpret_cast<char*>(static_cast<GroupRecord*>(text_ptr)->array.entries);
  group_add(*group, TYPE_GROUP, text, text_ptr);
  group_add(*group, TYPE_FILE_DESCRIPTOR, *handle, descriptor);
}

void file_descriptor_destroy(Handle handle) {
  if (handle == 0) return;
  FileDescriptor* descriptor = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, handle);
  if (descriptor == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  Handle text;
  GroupRecord* record;
  data_object_find(descriptor->path, &text, &record);
  if (text != 0) obj_destroy(TYPE_GROUP, text);
  obj_destroy(TYPE_FILE_DESCRIPTOR, handle);
}

const char* file_descriptor_path(Handle handle) {
  FileDescriptor* descriptor = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, handle);
  if (descriptor == nullptr) {
    g_error = ERR_OBJECT;
    return nullptr;
  }
  return descriptor->path;
}

int identify_xpm(const char* path, uint64_t size) {
  FILE* fp = file_open(path, "rb");
  if (fp == nullptr) {
    g_error = ERR_FILE_ACCESS;
    return 128;
  }
  int result = 1;
  char opener[3] = {0}, word[4] = {0};
  if (skip_white(fp, size) && std::fread(opener, 1, 2, fp) == 2 && std::strcmp(opener, "/*") == 0) {
    skip_white(fp, size);
    if (std::fread(word, 1, 3, fp) == 3 && std::strcmp(word, "XPM") == 0) result = 0;
  }
  std::fclose(fp);
  return result;
}

int identify_version(const uint8_t* header) {
  char text[8];
  for (int i = 0; i < 7; ++i) text[i] = static_cast<char>(std::tolower(header[i]));
  text[7] = '\0';
  return std::strcmp(text, "version") == 0 ? 0 : 1;
}

int identify_targa(const char* path) {
  FILE* fp = file_open(path, "rb");
  if (fp == nullptr) {
    g_error = ERR_FILE_ACCESS;
    return 128;
  }
  char footer[20] = {0};
  if (std::fseek(fp, -18, SEEK_END) == 0 && std::fread(footer, 1, 18, fp) == 18 &&
      std::strcmp(footer, "TRUEVISION-XFILE.") == 0) {
    std::fclose(fp);
    return 0;
  }
  uint8_t header[18] = {0};
  std::fseek(fp, 0, SEEK_SET);
  size_t got = std::fread(header, 1, 18, fp);
  std::fclose(fp);
  if (got < 18) return 1;
  if (header[1] > 1) return 1;
  switch (header[2]) {
    case 1: case 2: case 3: case 9: case 10: case 11:
      return (header[17] & 0xC0) != 0 ? 1 : 0;
    default:
      return 1;
  }
}

void identify_magic(const uint8_t* header, int32_t* status, int32_t* format) {
  for (const Magic& magic : kSupported) {
    if (magic_matches(magic, header)) {
      *format = magic.format;
      *status = FILE_SUPPORTED;
      return;
    }
  }
  for (const Magic& magic : kUnsupported) {
    if (magic_matches(magic, header)) {
      *format = magic.format;
      *status = FILE_UNSUPPORTED;
      return;
    }
  }
}

void file_identify(Handle handle) {
  FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, handle);
  if (d == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (d->format != 0) return;
  d->status = FILE_UNKNOWN;
  file_stat(d->path, &d->status, &d->size);
  if (d->status != FILE_UNIDENTIFIED) return;

  FILE* fp = file_open(d->path, "rb");
  if (fp == nullptr) {
    g_error = ERR_FILE_ACCESS;
    d->status = FILE_UNKNOWN;
    return;
  }
  uint8_t header[68] = {0};
  size_t got = std::fread(header, 1, 64, fp);
  (void)got;
  if (std::fclose(fp) != 0) {
    g_error = ERR_FILE_ACCESS;
    d->status = FILE_UNKNOWN;
    return;
  }
  d->status = FILE_UNKNOWN;
  if (d->size == 0) return;
  if (identify_xpm(d->path, d->size) == 0) {
    d->format = FORMAT_XPM;
    d->status = FILE_SUPPORTED;
    return;
  }
  if (identify_version(header) == 0) {
    d->format = FORMAT_VERSION;
    d->status = FILE_UNSUPPORTED;
    return;
  }
  if (identify_targa(d->path) == 0) {
    d->format = FORMAT_TARGA;
    d->status = FILE_SUPPORTED;
  }
  identify_magic(header, &d->status, &d->format);
}
