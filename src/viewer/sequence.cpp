#include "viewer/sequence.h"

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
#include "viewer/error_display.h"
#include "viewer/zoom.h"

namespace {

constexpr double kErrorMargin = 20.0;  // an error's picture stands this far from the corner
constexpr double kSceneMargin = 20.0;  // white border around the shown image
constexpr int32_t kMsPerDelayUnit = 10;  // frame delays are in hundredths of a second
constexpr uint16_t kLoopsForever = 65535;  // (and 0, which counting down turns into it)

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

PlatformWindow main_platform_window(const Viewer& viewer) {
  DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.main_window);
  return w != nullptr ? w->platform_window : 0;
}

// Shows the next frame after `control`'s delay.
void start_animation_timer(Viewer& viewer, const FrameControl& control) {
  platform()->set_timer(main_platform_window(viewer), kAnimationTimer,
                        static_cast<uint32_t>(control.delay * kMsPerDelayUnit));
  viewer.timer_armed = true;
}

// Takes the shown image off the display and empties the current group.
void unload_current(Viewer& viewer) {
  if (viewer.current_image != 0) layer_remove_object(viewer.current_image, viewer.display_list, viewer.layer);
  extent_list_clear(viewer.current_extents);
  group_destroy_members(viewer.current_group);
  viewer.current_image = 0;
}

}  // namespace

void sequence_step(Viewer& viewer, int32_t mode) {
  if (mode == STEP_TIMER && !viewer.timer_armed) return;
  viewer.timer_armed = false;
  const int32_t file_count = count_of(viewer.file_list, TYPE_FILE_DESCRIPTOR);
  if (file_count == 0) return;
  if (file_count == 1 && count_of(viewer.current_group, TYPE_IMAGE) == 1 && viewer.current_image != 0) return;

  if (viewer.current_image != 0) {
    layer_remove_object(viewer.current_image, viewer.display_list, viewer.layer);
    if (g_error != 0) system_exit("Erreur Systeme");
  }
  if (mode == STEP_TIMER || viewer.loop_count == 0) {
    Handle next = viewer.current_image;
    void* ptr;
    group_find_next(viewer.current_group, TYPE_IMAGE, &next, &ptr);
    viewer.current_image = next;
  } else {
    viewer.current_image = 0;
  }
  if (viewer.current_image == 0) advance_file(viewer);

  if (viewer.current_image != 0) {
    ++viewer.page;
    show_image(viewer, viewer.current_image);
    if (g_error != 0) system_exit("Erreur System");
    title_update(viewer, viewer.current_image, viewer.page, count_of(viewer.current_group, TYPE_IMAGE));
    if (mode != STEP_START) redraw_now(viewer);
  }

  FrameControl* control = nullptr;
  Handle h = 0;
  FrameControl* fc;
  for (group_find_next(viewer.current_group, TYPE_FRAME_CONTROL, &h, &fc); h != 0;
       group_find_next(viewer.current_group, TYPE_FRAME_CONTROL, &h, &fc))
    if (fc->image == viewer.current_image && viewer.current_image != 0) {
      control = fc;
      break;
    }

  if (viewer.current_image != 0 && !group_is_last_of_type(viewer.current_group, TYPE_IMAGE, viewer.current_image)) {
    if (control != nullptr) start_animation_timer(viewer, *control);
    return;
  }
  if (control != nullptr) {
    if (control->loops < kLoopsForever) control->loops = static_cast<uint16_t>(control->loops - 1);
    if (control->loops != 0) {
      ++viewer.loop_count;
      if (viewer.current_image != 0) layer_remove_object(viewer.current_image, viewer.display_list, viewer.layer);
      viewer.current_image = 0;
      viewer.page = 0;
      start_animation_timer(viewer, *control);
      return;
    }
  }
  if (file_count < 2) return;
  load_next_file(viewer);
}

void advance_file(Viewer& viewer) {
  // One file in the list: its pages start over from the first without reading it again.
  if (count_of(viewer.file_list, TYPE_FILE_DESCRIPTOR) >= 2 || count_of(viewer.current_group, 0) == 0) {
    extent_list_clear(viewer.current_extents);
    group_destroy_members(viewer.current_group);
    if (count_of(viewer.next_group, TYPE_IMAGE) == 0) load_next_file(viewer);
    std::swap(viewer.current_group, viewer.next_group);
    std::swap(viewer.current_extents, viewer.next_extents);
    viewer.loop_count = 0;
  }
  viewer.page = 0;
  viewer.current_image = first_image(viewer.current_group);
}

void load_next_file(Viewer& viewer) {
  file_list_next(viewer.file_list, &viewer.current_file);
  if (viewer.current_file == 0) file_list_next(viewer.file_list, &viewer.current_file);
  if (viewer.current_file == 0) {
    error_display(viewer, viewer.error_image, "Aucune image dans le repertoire");
    return;
  }
  FileDescriptor* d = obj_require<FileDescriptor>(TYPE_FILE_DESCRIPTOR, viewer.current_file);
  if (d == nullptr) return;
  const std::string path = d->path;
  file_list_load(viewer.current_file, &viewer.next_group, viewer.memory_probe());
  d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, viewer.current_file);
  if (d != nullptr && d->status == FILE_MISSING) {
    std::snprintf(viewer.text, sizeof viewer.text, "%s : %s", path.c_str(), "Fichier inconnu");
    error_display(viewer, viewer.error_image, viewer.text);
    return;
  }
  if (g_error == 0) {
    group_measure_all(viewer.next_extents, viewer.next_group);
    return;
  }
  const int32_t code = g_error;
  std::snprintf(viewer.text, sizeof viewer.text, "%s : %s", path.c_str(), error_category_message());
  error_display(viewer, placeholder_of(viewer, code), viewer.text);
  g_error = 0;
}

void show_image(Viewer& viewer, Handle image_handle) {
  ImageRecord* image = obj_require<ImageRecord>(TYPE_IMAGE, image_handle);
  Scene* scene = obj_require<Scene>(TYPE_SCENE, viewer.scene);
  if (scene == nullptr || image == nullptr) return;
  scene->extent = Rect{-kSceneMargin, -kSceneMargin, image->width + kSceneMargin - 1, image->height + kSceneMargin - 1};
  LayerLink* link = obj_require<LayerLink>(TYPE_LAYER_LINK, viewer.link);
  if (link == nullptr) return;
  link->object = image_handle;
  if (viewer.display_list != 0) {
    dlist_destroy(viewer.display_list, viewer.document_members);
    viewer.display_list = 0;
  }
  if (g_error != 0) return;
  dlist_create(viewer.document_window, viewer.layer, &viewer.display_list);
  if (g_error == 0) layer_add_object(TYPE_IMAGE, image_handle, viewer.current_extents, viewer.display_list, viewer.layer);
}

void title_update(Viewer& viewer, Handle image_handle, int32_t page, int32_t count) {
  DisplayWindow* document = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.document_window);
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, image_handle);
  if (document == nullptr || image == nullptr) system_exit("Erreur System");
  zoom_fit_update(viewer, document->client_width, document->client_height);
  std::string title;
  Handle h = 0;
  ErrorDisplay* shown;
  group_find_next(viewer.current_group, TYPE_ERROR_DISPLAY, &h, &shown);
  if (h != 0) {
    GroupRecord* text = obj_get<GroupRecord>(TYPE_GROUP, shown->text);
    title = text != nullptr ? text_object_text(text) : "";
    view_place(viewer, kErrorMargin, kErrorMargin, 1.0);
  } else {
    title = image_title(image, page, count);
    zoom_set(viewer, true, 0);
  }
  window_set_title(viewer.main_window, title.c_str());
  if (g_error != 0) system_exit("Erreur System");
}

void redraw_now(Viewer& viewer) {
  viewer.display.time_slicing = false;
  view_refresh(viewer);
  viewer.display.time_slicing = true;
}

void rotate_command(Viewer& viewer, int32_t direction) {
  // Nothing is shown: nothing to turn.
  if (viewer.current_image == 0) return;
  image_rotate(viewer.current_image, direction);
  // A refused rotation (an unhandled pixel layout) leaves the image as it was; the error is
  // shown like any other.
  if (g_error != 0) return;
  ImageRecord* image = obj_require<ImageRecord>(TYPE_IMAGE, viewer.current_image);
  if (image == nullptr) return;
  const Handle handle = viewer.current_image;
  layer_remove_object(handle, viewer.display_list, viewer.layer);
  ExtentRecord* old;
  extent_list_get(viewer.current_extents, handle, &old);
  extent_list_remove(viewer.current_extents, viewer.current_group, handle);
  mem_free(&old);
  group_measure_one(viewer.current_extents, viewer.current_group, TYPE_IMAGE, handle, image);
  show_image(viewer, handle);
  if (g_error != 0) system_exit("Erreur System");
  title_update(viewer, handle, viewer.page, count_of(viewer.current_group, TYPE_IMAGE));
  redraw_now(viewer);
}

void delete_command(Viewer& viewer) {
  const int32_t files = count_of(viewer.file_list, TYPE_FILE_DESCRIPTOR);
  if (files == 0) return;
  Handle shown = viewer.current_file;
  if (count_of(viewer.next_group, 0) > 0) {
    Handle before = viewer.current_file;
    void* ptr;
    group_find_prev(viewer.file_list, TYPE_FILE_DESCRIPTOR, &before, &ptr);
    if (before == 0) group_find_last(viewer.file_list, TYPE_FILE_DESCRIPTOR, &before, &ptr);
    shown = before;
  }
  file_list_remove(viewer.file_list, shown);
  // The deleted file's images leave the display at once; the step shows the next file.
  unload_current(viewer);
  sequence_step(viewer, STEP_USER);
  if (viewer.current_image == 0) redraw_now(viewer);  // nothing left to show: clear the picture
}

void key_command(Viewer& viewer, int32_t key) {
  switch (key) {
    case KEY_ESCAPE:
      if (DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.main_window)) platform()->destroy_window(w->platform_window);
      break;
    case KEY_SPACE: sequence_step(viewer, STEP_USER); break;
    case KEY_PAGE_UP: scroll_command(viewer, SCROLL_PAGE_UP); break;
    case KEY_PAGE_DOWN: scroll_command(viewer, SCROLL_PAGE_DOWN); break;
    case KEY_END: scroll_command(viewer, SCROLL_BOTTOM); break;
    case KEY_HOME: scroll_command(viewer, SCROLL_TOP); break;
    case KEY_LEFT: scroll_command(viewer, SCROLL_LINE_LEFT); break;
    case KEY_UP: scroll_command(viewer, SCROLL_LINE_UP); break;
    case KEY_RIGHT: scroll_command(viewer, SCROLL_LINE_RIGHT); break;
    case KEY_DOWN: scroll_command(viewer, SCROLL_LINE_DOWN); break;
    case KEY_DELETE: delete_command(viewer); break;
    case KEY_KEYPAD_PLUS: case KEY_F1: zoom_by(viewer, +1); view_refresh(viewer); break;
    case KEY_KEYPAD_MINUS: case KEY_F2: zoom_by(viewer, -1); view_refresh(viewer); break;
    case KEY_F3: zoom_set(viewer, false, 1.0); view_refresh(viewer); break;
    case KEY_F4: zoom_set(viewer, true, 0); view_refresh(viewer); break;
    case KEY_F7: rotate_command(viewer, TURN_COUNTER_CLOCKWISE); break;
    case KEY_F8: rotate_command(viewer, TURN_CLOCKWISE); break;
    case KEY_F12: window_set_title(viewer.main_window, kProgramTitle); break;
    default: break;
  }
}

void timer_action(Viewer& viewer, int32_t id) {
  if (id == kRedrawTimer) window_redraw(viewer.document_window, viewer.view);
  else if (id == kAnimationTimer) sequence_step(viewer, STEP_TIMER);
}
