#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "io/stream.h"

namespace {

const std::string& fuzz_path() {
  static std::string path = "/dev/shm/korvela-fuzz-" + std::to_string(getpid());
  return path;
}

}  // namespace

void fuzz_load(const uint8_t* data, size_t size, int32_t format) {
  FILE* fp = std::fopen(fuzz_path().c_str(), "wb");
  if (fp == nullptr) return;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);

  obj_registry_init();
  group_types_init();
  file_descriptor_types_init();
  image_types_init();
  mem_set_limit(size_t{256} << 20);
  g_error = 0;

  Handle list = 0, descriptor = 0, group = 0;
  file_descriptor_create(fuzz_path().c_str(), &list, &descriptor);
  file_identify(descriptor);
  if (format >= 0 && size > 0) {
    FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor);
    d->status = FILE_SUPPORTED;
    d->format = format;
  }
  g_error = 0;
  image_load(descriptor, &group);
  // Leave nothing behind: the next input starts from an empty registry.
  g_error = 0;
  if (group != 0) group_destroy_members(group);
  group_destroy(group);
  group_destroy_members(list);
  group_destroy(list);
  if (stream_is_open()) stream_close();
}
