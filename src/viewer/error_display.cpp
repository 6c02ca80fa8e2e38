#include "viewer/error_display.h"

#include <cstdio>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "viewer/file_list.h"

namespace {

Handle load_placeholder(Viewer& viewer, const std::string& name, Handle after) {
  Handle d = 0;
  file_descriptor_create(name.c_str(), &viewer.placeholder_group, &d);
  if (g_error == 0) file_identify(d);
  if (g_error == 0) image_load(d, &viewer.placeholder_group);
  Handle image = after;
  void* ptr;
  group_find_next(viewer.placeholder_group, TYPE_IMAGE, &image, &ptr);
  if (g_error != 0) {
    if (image != 0) image_destroy(image);
    image = 0;
    std::snprintf(viewer.text, sizeof viewer.text, "Impossible de charger l'image %s", name.c_str());
    log_write(viewer.text);
    g_error = 0;
  }
  file_list_remove(viewer.placeholder_group, d);
  return image;
}

}  // namespace

void placeholders_load(Viewer& viewer, const std::string& error_name, const std::string& unknown_name) {
  viewer.error_image = load_placeholder(viewer, error_name, 0);
  viewer.unknown_image = load_placeholder(viewer, unknown_name, viewer.error_image);
  for (Handle& placeholder : viewer.placeholders) placeholder = viewer.error_image;
  viewer.placeholders[0] = 0;
  viewer.placeholders[ERR_UNKNOWN_FORMAT] = viewer.unknown_image;
  obj_register_type(TYPE_ERROR_DISPLAY, sizeof(ErrorDisplay));
}

Handle placeholder_of(const Viewer& viewer, int32_t code) {
  return code >= 0 && code < kPlaceholderCount ? viewer.placeholders[code] : viewer.error_image;
}

void error_display(Viewer& viewer, Handle placeholder, const char* text_in) {
  const std::string text = text_in;  // the message may live in a buffer reused below
  const int32_t code = g_error;
  g_error = 0;
  Handle handle;
  ErrorDisplay* record;
  obj_create(TYPE_ERROR_DISPLAY, &handle, &record);
  if (record == nullptr) {
    g_error = 0;
    return;
  }
  record->code = code;
  group_add(viewer.next_group, TYPE_ERROR_DISPLAY, handle, record);
  Handle text_handle;
  void* text_ptr;
  text_object_create(text.c_str(), &text_handle, &text_ptr);
  if (g_error != 0) return;
  if ((record = obj_get<ErrorDisplay>(TYPE_ERROR_DISPLAY, handle)) != nullptr) record->text = text_handle;
  Handle copy;
  ImageRecord* image;
  obj_create(TYPE_IMAGE, &copy, &image);
  if (image == nullptr) return;
  // The copy gets pixels of its own, so that turning it never touches the placeholder that
  // every failure shows; without a placeholder it is an empty image.
  if (placeholder != 0) {
    obj_copy(TYPE_IMAGE, placeholder, copy);
    image_own_pixels(copy, viewer.next_group);
    g_error = 0;  // short of memory: the message is shown without its picture
  }
  image = obj_get<ImageRecord>(TYPE_IMAGE, copy);
  image->gamma = placeholder != 0 ? image->gamma : -1.0;
  group_measure_one(viewer.next_extents, viewer.next_group, TYPE_IMAGE, copy, image);
  if ((record = obj_get<ErrorDisplay>(TYPE_ERROR_DISPLAY, handle)) != nullptr) record->image = copy;
  group_add(viewer.next_group, TYPE_GROUP, text_handle, text_ptr);
  group_add(viewer.next_group, TYPE_IMAGE, copy, image);
}

void error_display_pending(Viewer& viewer) {
  if (g_error == 0) return;
  const int32_t code = g_error;
  error_display(viewer, placeholder_of(viewer, code), error_category_message());
  g_error = 0;
}

void system_exit(const char* text) {
  log_write(text);
  platform_exit(-1);
}
