#include "viewer/batch.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "image/pixels.h"
#include "io/png_writer.h"
#include "platform/fs.h"
#include "viewer/file_list.h"

namespace {

void print_failure(FILE* out, const char* path, const char* text) {
  std::fprintf(out, "%s : %s\n", path, text);
}

// Loads the descriptor into a fresh group; on failure prints the line the viewer's title
// would show and returns 0.
Handle load_or_report(Handle descriptor, FILE* out) {
  Handle group = 0;
  group_create(&group);
  file_list_load(descriptor, &group, fs_available_memory());
  FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor);
  if (d->status == FILE_MISSING) {
    print_failure(out, d->path, "Fichier inconnu");
    group_destroy(group);
    return 0;
  }
  if (g_error != 0) {
    print_failure(out, d->path, error_category_message());
    g_error = 0;
    group_destroy(group);
    return 0;
  }
  return group;
}

void release_group(Handle group) {
  group_destroy_members(group);
  group_destroy(group);
}

std::string numbered_path(const std::string& path, int number) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  return path.substr(0, dot) + "-" + std::to_string(number) + path.substr(dot);
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Writes through a temporary name beside the target, so that a failed write (a full disk)
// leaves nothing half-written behind, nor harms a file that had the name before.
bool write_picture(const std::string& path, int32_t width, int32_t height, const uint32_t* rgb) {
  const std::string partial = path + ".part";
  bool ok = ends_with(path, ".ppm") ? write_ppm_rgb(partial, width, height, rgb)
                                    : write_png_rgb(partial, width, height, rgb);
  std::error_code failed;
  if (ok) std::filesystem::rename(partial, path, failed);
  if (ok && !failed) return true;
  std::filesystem::remove(partial, failed);
  return false;
}

}  // namespace

void batch_types_init() {
  obj_registry_init();
  group_types_init();
  file_descriptor_types_init();
  image_types_init();
}

int run_info(const std::vector<std::string>& names, FILE* out) {
  Handle list = 0;
  group_create(&list);
  for (const std::string& name : names) file_list_add(name.c_str(), &list);
  int failed = 0;
  int shown = 0;
  Handle current = 0;
  for (;;) {
    file_list_next(list, &current);
    if (current == 0) break;
    ++shown;
    Handle group = load_or_report(current, out);
    if (group == 0) {
      failed = 1;
      continue;
    }
    int32_t count = 0;
    group_count(group, TYPE_IMAGE, &count);
    Handle image_handle = 0;
    ImageRecord* image;
    int page = 0;
    for (group_find_next(group, TYPE_IMAGE, &image_handle, &image); image_handle != 0;
         group_find_next(group, TYPE_IMAGE, &image_handle, &image))
      std::fprintf(out, "%s\n", image_title(image, ++page, count).c_str());
    release_group(group);
  }
  if (shown == 0) {
    std::fprintf(out, "Aucune image dans le repertoire\n");
    failed = 1;
  }
  return failed;
}

int run_export(const std::string& out_path, const std::string& name, FILE* out) {
  Handle list = 0;
  Handle descriptor = 0;
  file_descriptor_create(name.c_str(), &list, &descriptor);
  if (g_error != 0) {
    print_failure(out, name.c_str(), error_category_message());
    g_error = 0;
    return 1;
  }
  Handle group = load_or_report(descriptor, out);
  if (group == 0) return 1;
  int32_t count = 0;
  group_count(group, TYPE_IMAGE, &count);
  int status = 0;
  int number = 0;
  Handle image_handle = 0;
  ImageRecord* image;
  std::vector<uint32_t> rgb;
  for (group_find_next(group, TYPE_IMAGE, &image_handle, &image); image_handle != 0;
       group_find_next(group, TYPE_IMAGE, &image_handle, &image)) {
    ++number;
    rgb.assign(size_t(image->width) * image->height, 0xFFFFFF);
    for (int32_t row = 0; row < image->height; ++row)
      image_row_rgb(image, row, rgb.data() + size_t(row) * image->width);
    std::string path = count > 1 ? numbered_path(out_path, number) : out_path;
    if (!write_picture(path, image->width, image->height, rgb.data())) {
      std::fprintf(out, "%s : %s\n", path.c_str(), error_message_for(ERR_FILE_ACCESS));
      status = 1;
    }
  }
  release_group(group);
  return status;
}
