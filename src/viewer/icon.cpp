#include "viewer/icon.h"

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "image/pixels.h"

bool icon_load_rgb(const std::string& path, int32_t* width, int32_t* height,
                   std::vector<uint32_t>* rgb) {
  const int32_t saved = g_error;
  g_error = 0;
  Handle names = 0;
  Handle images = 0;
  Handle descriptor = 0;
  bool ok = false;
  file_descriptor_create(path.c_str(), &names, &descriptor);
  if (g_error == 0) file_identify(descriptor);
  if (g_error == 0) image_load(descriptor, &images);
  if (g_error == 0) {
    Handle handle = 0;
    ImageRecord* image = nullptr;
    group_find_next(images, TYPE_IMAGE, &handle, &image);
    // An icon is small: anything past 1024 pixels a side is not one.
    if (handle != 0 && image->width > 0 && image->height > 0 && image->width <= 1024 &&
        image->height <= 1024) {
      rgb->assign(static_cast<size_t>(image->width) * image->height, 0);
      ok = true;
      for (int32_t row = 0; row < image->height && ok; ++row)
        ok = image_row_rgb(image, row, rgb->data() + static_cast<size_t>(row) * image->width);
      *width = image->width;
      *height = image->height;
    }
  }
  g_error = 0;
  for (Handle group : {images, names}) {
    if (group == 0) continue;
    group_destroy_members(group);
    group_destroy(group);
  }
  g_error = saved;
  return ok;
}
