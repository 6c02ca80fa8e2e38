#include "bench_support.h"

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"

int bench_load(const std::string& path) {
  static bool ready = false;
  if (!ready) {
    obj_registry_init();
    group_types_init();
    file_descriptor_types_init();
    image_types_init();
    ready = true;
  }
  g_error = 0;
  Handle list = 0, descriptor = 0, group = 0;
  file_descriptor_create(path.c_str(), &list, &descriptor);
  file_identify(descriptor);
  image_load(descriptor, &group);
  int error = g_error;
  g_error = 0;
  group_destroy_members(group);
  group_destroy(group);
  group_destroy_members(list);
  group_destroy(list);
  return error;
}
