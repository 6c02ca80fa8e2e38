// File descriptors and format identification: what a file is, and which decoder reads it.
// Identification reads the first bytes (and the Targa footer, and the XPM comment) and never
// decodes anything.
#pragma once
#include <cstdint>

#include "core/registry.h"
#include "io/byte_reader.h"

enum FileStatus : int32_t {
  FILE_UNIDENTIFIED = 0,
  FILE_DIRECTORY = 1,
  FILE_SUPPORTED = 2,
  FILE_UNSUPPORTED = 3,
  FILE_UNKNOWN = 200,
  FILE_OTHER = 255,
  FILE_MISSING = 256,
};

enum FormatCode : int32_t {
  FORMAT_BMP = 0,
  FORMAT_JPEG = 1,
  FORMAT_GIF = 2,
  FORMAT_TIFF = 3,
  FORMAT_PNG = 4,
  FORMAT_XPM = 5,
  FORMAT_PBM_ASCII = 6,  // P1 .. P6, in their order
  FORMAT_PGM_ASCII = 7,
  FORMAT_PPM_ASCII = 8,
  FORMAT_PBM_RAW = 9,
  FORMAT_PGM_RAW = 10,
  FORMAT_PPM_RAW = 11,
  FORMAT_PCX = 12,
  FORMAT_SUN = 13,
  FORMAT_TARGA = 14,
  FORMAT_ECW = 16,
  FORMAT_27_0A = 21,   // recognised, unsupported
  FORMAT_VERSION = 22,  // recognised, unsupported
};

struct FileDescriptor {
  Handle handle;
  char* path;  // text of a type-35 text object, member of the same group
  int32_t status;
  int32_t format;
  uint64_t size;  // as the file system reports it; 0 when it cannot be examined
  uint32_t depth;  // directory depth at which the walk found it; 0 for named files
};
static_assert(kRegistryRecord<FileDescriptor>);

void file_descriptor_types_init();
void file_descriptor_create(const char* path, Handle* group, Handle* handle);
void file_descriptor_destroy(Handle handle);
const char* file_descriptor_path(Handle handle);
void file_stat(const char* path, int32_t* status, uint64_t* size);
int32_t file_status(const char* path);
// Identifies the descriptor's file from its bytes, the file being opened once.
void file_identify(Handle handle);

// Identification of bytes, wherever they come from: `status` becomes FILE_SUPPORTED,
// FILE_UNSUPPORTED or FILE_UNKNOWN and `format` the format found (left as it is when none).
void identify_bytes(const ByteReader& in, int32_t* status, int32_t* format);
