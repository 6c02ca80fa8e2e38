#include "fuzz_support.h"

#include "codecs/load.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "image/image.h"

void fuzz_begin() {
  obj_registry_init();
  group_types_init();
  image_types_init();
  mem_set_limit(size_t{256} << 20);
  g_error = 0;
}

void fuzz_end(Handle group) {
  g_error = 0;
  if (group != 0) group_destroy_members(group);
  group_destroy(group);
}

void fuzz_decode(const uint8_t* data, size_t size, int32_t format) {
  fuzz_begin();
  int32_t status = FILE_SUPPORTED;
  if (format < 0) identify_bytes(PaddedBytes(data, static_cast<int64_t>(size)).reader(), &status, &format);
  if (status != FILE_SUPPORTED || size == 0) return;
  Handle group = 0;
  image_load_memory("fuzz-input", format, data, static_cast<int64_t>(size), &group);
  fuzz_end(group);
}
