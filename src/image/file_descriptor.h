// File descriptors and format identification: what a file is, and which decoder reads it.
// Identification reads the first bytes (and the Targa footer, and the XPM comment) and never
// decodes anything.
#pragma once
#include <cstdint>

#include "core/registry.h"

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
  FORMAT_PBM_ASCII = 6,  // P1; P2 .. P6 follow as 7 .. 11
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
void file_identify(Handle handle);

int identify_xpm(const char* path, uint64_t size);
int identify_version(const uint8_t* header);
int identify_targa(const char* path);
void identify_magic(const uint8_t* header, int32_t* status, int32_t* format);
