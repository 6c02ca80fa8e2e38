// Commands, timers and image sequencing: which image the document window shows next, with
// the next file loaded in advance into a second group.
#include <cstdio>
#include <utility>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "display/display.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "viewer/file_list.h"
#include "viewer/viewer.h"

int32_t g_page, g_file_count, g_loop_count, g_timer_armed, g_frame_delay;

namespace {

int32_t count_of(Handle group, int32_t type) {
  int32_t n = 0;
  group_count(group, type, &n);
  return n;
}

Handle first_image(Handle group) {
  Handle h = 0;
  void* ptr;
  group_find_next(group, TYPE_IMAGE, &h, &ptr);
  return h;
}

PlatformWindow main_platform_window() {
  DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, g_main_window);
  return w != nullptr ? w->platform_window : 0;
}

void start_animation_timer() {
  platform()->set_timer(main_platform_window(), kAnimationTimer, static_cast<uint32_t>(g_frame_delay));
  g_timer_armed = 1;
}

// Takes the shown image off the display and empties the current group.
void unload_current() {
  if (g_current_image != 0) layer_remove_object(g_current_image, g_display_list, g_layer);
  extent_list_clear(g_current_extents);
  group_destroy_members(g_current_group);
  g_current_image = 0;
}

}  // namespace

void sequence_step(int32_t mode) {
  if (mode == 2 && g_timer_armed == 0) return;
  g_timer_armed = 0;
  g_file_count = count_of(g_file_list, TYPE_FILE_DESCRIPTOR);
  if (g_file_count == 0) return;
  if (g_file_count == 1 && count_of(g_current_group, TYPE_IMAGE) == 1 && g_current_image != 0) return;

  if (g_current_image != 0) {
    layer_remove_object(g_current_image, g_display_list, g_layer);
    if (g_error != 0) system_exit("Erreur Systeme");
  }
  if (mode == 2 || g_loop_count == 0) {
    Handle next = g_current_image;
    void* ptr;
    group_find_next(g_current_group, TYPE_IMAGE, &next, &ptr);
    g_current_image = next;
  } else {
    g_current_image = 0;
  }
  if (g_current_image == 0) advance_file();

  if (g_current_image != 0) {
    ++g_page;
    show_image(g_current_image);
    if (g_error != 0) system_exit("Erreur System");
    title_update(g_current_image, g_page, count_of(g_current_group, TYPE_IMAGE));
    if (mode != 3) redraw_now();
  }

  FrameControl* control = nullptr;
  Handle h = 0;
  FrameControl* fc;
  for (group_find_next(g_current_group, TYPE_FRAME_CONTROL, &h, &fc); h != 0;
       group_find_next(g_current_group, TYPE_FRAME_CONTROL, &h, &fc))
    if (fc->image == g_current_image && g_current_image != 0) {
      control = fc;
      break;
    }
  if (control != nullptr) g_frame_delay = control->delay * 10;

  if (g_current_image != 0 && !group_is_last_of_type(g_current_group, TYPE_IMAGE, g_current_image)) {
    if (control != nullptr) start_animation_timer();
    return;
  }
  if (control != nullptr) {
    if (control->loops < 65535) control->loops = static_cast<uint16_t>(control->loops - 1);
    if (control->loops != 0) {
      ++g_loop_count;
      if (g_current_image != 0) layer_remove_object(g_current_image, g_display_list, g_layer);
      g_current_image = 0;
      g_page = 0;
      start_animation_timer();
      return;
    }
  }
  if (g_file_count < 2) return;
  load_next_file();
}

void advance_file() {
  // One file in the list: its pages start over from the first without reading it again.
  if (count_of(g_file_list, TYPE_FILE_DESCRIPTOR) < 2 && count_of(g_current_group, 0) > 0) {
    g_current_image = 0;
    g_frame_delay = 0;
    g_page = 0;
    g_current_image = first_image(g_current_group);
    return;
  }
  extent_list_clear(g_current_extents);
  group_destroy_members(g_current_group);
  if (count_of(g_next_group, TYPE_IMAGE) == 0) load_next_file();
  std::swap(g_current_group, g_next_group);
  std::swap(g_current_extents, g_next_extents);
  g_current_image = 0;
  g_frame_delay = 0;
  g_page = 0;
  g_loop_count = 0;
  g_current_image = first_image(g_current_group);
}

void load_next_file() {
  file_list_next(&g_current_file);
  if (g_current_file == 0) file_list_next(&g_current_file);
  if (g_current_file == 0) {
    error_display(g_error_image, "Aucune image dans le repertoire");
    return;
  }
  FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, g_current_file);
  if (d == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  const std::string path = d->path;
  file_list_load(g_current_file, &g_next_group);
  d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, g_current_file);
  if (d != nullptr && d->status == FILE_MISSING) {
    std::snprintf(g_text, sizeof g_text, "%s : %s", path.c_str(), "Fichier inconnu");
    error_display(g_error_image, g_text);
    return;
  }
  if (g_error == 0) {
    group_measure_all(g_next_extents, g_next_group);
    return;
  }
  const int32_t code = g_error;
  std::snprintf(g_text, sizeof g_text, "%s : %s", path.c_str(), error_category_message());
  error_display(g_placeholders[code >= 0 && code < 16 ? code : 1], g_text);
  g_error = 0;
}

void show_image(Handle image_handle) {
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, image_handle);
  Scene* scene = obj_get<Scene>(TYPE_SCENE, g_scene);
  if (scene == nullptr || image == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  scene->extent = Rect{-20.0, -20.0, image->width + 19.0, image->height + 19.0};
  LayerLink* link = obj_get<LayerLink>(TYPE_LAYER_LINK, g_link);
  if (link == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  link->object = image_handle;
  if (g_display_list != 0) {
    dlist_destroy(g_display_list, g_document_members);
    g_display_list = 0;
  }
  if (g_error != 0) return;
  dlist_create(g_document_window, g_layer, &g_display_list);
  if (g_error == 0) layer_add_object(TYPE_IMAGE, image_handle, g_current_extents, g_display_list, g_layer);
}

void title_update(Handle image_handle, int32_t page, int32_t count) {
  DisplayWindow* document = obj_get<DisplayWindow>(TYPE_WINDOW, g_document_window);
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, image_handle);
  if (document == nullptr || image == nullptr) system_exit("Erreur System");
  zoom_fit_update(document->client_width, document->client_height);
  std::string title;
  Handle h = 0;
  ErrorDisplay* shown;
  group_find_next(g_current_group, TYPE_ERROR_DISPLAY, &h, &shown);
  if (h != 0) {
    GroupRecord* text = obj_get<GroupRecord>(TYPE_GROUP, shown->text);
    title = text != nullptr ? text_object_text(text) : "";
    view_place(20.0, 20.0, 1.0);
  } else {
    title = image_title(image, page, count);
    zoom_set(1, 0);
  }
  window_set_title(g_main_window, title.c_str());
  if (g_error != 0) system_exit("Erreur System");
}

void redraw_now() {
  g_time_slicing = 0;
  view_refresh();
  g_time_slicing = 1;
}

void rotate_command(int32_t direction) {
  // Nothing is shown: nothing to turn.
  if (g_current_image == 0) return;
  image_rotate(g_current_image, direction);
  // A refused rotation (an unhandled pixel layout) leaves the image as it was; the error is
  // shown like any other.
  if (g_error != 0) return;
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, g_current_image);
  if (image == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  const Handle handle = g_current_image;
  layer_remove_object(handle, g_display_list, g_layer);
  ExtentRecord* old;
  extent_list_get(g_current_extents, handle, &old);
  extent_list_remove(g_current_extents, g_current_group, handle);
  mem_free(&old);
  group_measure_one(g_current_extents, g_current_group, TYPE_IMAGE, handle, image);
  show_image(handle);
  if (g_error != 0) system_exit("Erreur System");
  title_update(handle, g_page, count_of(g_current_group, TYPE_IMAGE));
  redraw_now();
}

void delete_command() {
  const int32_t files = count_of(g_file_list, TYPE_FILE_DESCRIPTOR);
  if (files == 0) return;
  Handle shown = g_current_file;
  if (count_of(g_next_group, 0) > 0) {
    Handle before = g_current_file;
    void* ptr;
    group_find_prev(g_file_list, TYPE_FILE_DESCRIPTOR, &before, &ptr);
    if (before == 0) group_find_last(g_file_list, TYPE_FILE_DESCRIPTOR, &before, &ptr);
    shown = before;
  }
  if (FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, shown)) {
    Handle h = 0;
    GroupRecord* text;
    for (group_find_next(g_file_list, TYPE_GROUP, &h, &text); h != 0; group_find_next(g_file_list, TYPE_GROUP, &h, &text))
      if (reinterpret_cast<const char*>(text->array.entries) == d->path) {
        group_remove(g_file_list, h);
        break;
      }
    group_remove(g_file_list, shown);
    file_descriptor_destroy(shown);
  }
  // The deleted file's images leave the display at once; the step shows the next file.
  unload_current();
  sequence_step(1);
  if (g_current_image == 0) redraw_now();  // nothing left to show: clear the picture
}

void key_command(int32_t key) {
  switch (key) {
    case 27:
      if (DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, g_main_window)) platform()->destroy_window(w->platform_window);
      break;
    case 32: sequence_step(1); break;
    case 33: scroll_command(2); break;
    case 34: scroll_command(3); break;
    case 35: scroll_command(5); break;
    case 36: scroll_command(4); break;
    case 37: scroll_command(7); break;
    case 38: scroll_command(0); break;
    case 39: scroll_command(8); break;
    case 40: scroll_command(1); break;
    case 46: delete_command(); break;
    case 107: case 112: zoom_by(+1); view_refresh(); break;
    case 109: case 113: zoom_by(-1); view_refresh(); break;
    case 114: zoom_set(0, 1.0); view_refresh(); break;
    case 115: zoom_set(1, 0); view_refresh(); break;
    case 118: rotate_command(1); break;
    case 119: rotate_command(2); break;
    case 123: window_set_title(g_main_window, kProgramTitle); break;
    default: break;
  }
}

void timer_action(int32_t id) {
  if (id == kRedrawTimer) window_redraw(g_document_window, g_view);
  else if (id == kAnimationTimer) sequence_step(2);
}
