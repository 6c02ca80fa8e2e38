#include "image/file_descriptor.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"

namespace {

// Bytes of the start of a file that the magic numbers are compared on.
constexpr int64_t kIdentifyHeader = 64;

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
    {{0x50, 0x31, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PBM_ASCII},
    {{0x50, 0x32, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PGM_ASCII},
    {{0x50, 0x33, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PPM_ASCII},
    {{0x50, 0x34, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PBM_RAW},
    {{0x50, 0x35, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PGM_RAW},
    {{0x50, 0x36, 0, 0, 0}, {1, 1, 0, 0, 0}, FORMAT_PPM_RAW},
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

bool is_white(uint8_t c) { return c == 9 || c == 10 || c == 13 || c == 32; }

// The offset of the first byte at or after `at` that is not white space (the size when none is).
int64_t skip_white(const uint8_t* data, int64_t size, int64_t at) {
  while (at < size && is_white(data[at])) ++at;
  return at;
}

bool text_at(const uint8_t* data, int64_t size, int64_t at, const char* text) {
  const int64_t length = static_cast<int64_t>(std::strlen(text));
  return at <= size - length && std::memcmp(data + at, text, static_cast<size_t>(length)) == 0;
}

// An XPM file opens with the comment "/* XPM */", white space allowed before and inside it.
bool is_xpm(const uint8_t* data, int64_t size) {
  const int64_t opener = skip_white(data, size, 0);
  return text_at(data, size, opener, "/*") && text_at(data, size, skip_white(data, size, opener + 2), "XPM");
}

// "version", in any case, at the start of the file.
bool is_version(const uint8_t* header) {
  constexpr char kWord[] = "version";
  for (size_t i = 0; i + 1 < sizeof kWord; ++i)
    if (std::tolower(header[i]) != kWord[i]) return false;
  return true;
}

constexpr int64_t kTargaHeader = 18;
constexpr char kTargaSignature[] = "TRUEVISION-XFILE.";  // with its zero byte, the last 18 bytes
constexpr uint8_t kTargaInterleave = 0xC0;

// A Targa file ends with the signature, or has a header of a known kind without interleaving.
bool is_targa(const uint8_t* data, int64_t size) {
  if (size < kTargaHeader) return false;
  if (std::memcmp(data + size - kTargaHeader, kTargaSignature, sizeof kTargaSignature) == 0) return true;
  const uint8_t map_type = data[1], image_type = data[2], descriptor = data[17];
  if (map_type > 1) return false;
  switch (image_type) {
    case 1: case 2: case 3: case 9: case 10: case 11:
      return (descriptor & kTargaInterleave) == 0;
    default:
      return false;
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

void identify_bytes(const ByteReader& in, int32_t* status, int32_t* format) {
  *status = FILE_UNKNOWN;
  const uint8_t* data = in.data();
  const int64_t size = in.size();
  if (size == 0) return;
  // The magic numbers and "version" are compared on the first bytes, zeros past the end.
  uint8_t header[kIdentifyHeader] = {};
  std::memcpy(header, data, static_cast<size_t>(size < kIdentifyHeader ? size : kIdentifyHeader));
  if (is_xpm(data, size)) {
    *format = FORMAT_XPM;
    *status = FILE_SUPPORTED;
    return;
  }
  if (is_version(header)) {
    *format = FORMAT_VERSION;
    *status = FILE_UNSUPPORTED;
    return;
  }
  if (is_targa(data, size)) {
    *format = FORMAT_TARGA;
    *status = FILE_SUPPORTED;
  }
  identify_magic(header, status, format);
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
  FileBytes bytes;
  if (!bytes.open(d->path)) {
    g_error = ERR_FILE_ACCESS;
    d->status = FILE_UNKNOWN;
    return;
  }
  identify_bytes(bytes.reader(), &d->status, &d->format);
}
