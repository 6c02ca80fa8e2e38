// Start-up, the two window procedures, dropped files and error displays.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "display/canvas.h"
#include "display/display.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "codecs/load.h"
#include "io/text.h"
#include "platform/fs.h"
#include "viewer/file_list.h"
#include "viewer/viewer.h"

Handle g_main_window, g_document_window, g_document_members, g_scene, g_view, g_layer;
Handle g_layer_objects, g_layer_extents, g_link, g_display_list;
Handle g_current_group, g_current_extents, g_next_group, g_next_extents;
Handle g_current_file, g_current_image;
Handle g_placeholder_group, g_error_image, g_unknown_image;
Handle g_placeholders[16];
char g_text[1024];
uint64_t (*g_memory_probe)() = fs_available_memory;

namespace {

std::string g_start_dir;

constexpr uint8_t kNamedColours[16][3] = {
    {0, 0, 0},     {255, 255, 255}, {255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {255, 0, 255},
    {255, 192, 255}, {255, 128, 0}, {128, 64, 0},  {128, 128, 128}, {128, 0, 128}, {0, 128, 0},
    {0, 0, 128},   {128, 0, 48},    {255, 255, 0}, {0, 255, 255},
};

uint32_t colour_bgr(int32_t index) {
  uint8_t r, g, b;
  named_colour(index, &r, &g, &b);
  return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

// Removes a descriptor's path text from a group (the text object itself goes with the
// descriptor).
void remove_path_text(Handle group, const char* path) {
  Handle h = 0;
  GroupRecord* text;
  for (group_find_next(group, TYPE_GROUP, &h, &text); h != 0; group_find_next(group, TYPE_GROUP, &h, &text))
    if (reinterpret_cast<const char*>(text->array.entries) == path) {
      group_remove(group, h);
      return;
    }
}

Handle load_placeholder(const std::string& name, Handle after) {
  Handle d = 0;
  file_descriptor_create(name.c_str(), &g_placeholder_group, &d);
  if (g_error == 0) file_identify(d);
  if (g_error == 0) image_load(d, &g_placeholder_group);
  Handle image = after;
  void* ptr;
  group_find_next(g_placeholder_group, TYPE_IMAGE, &image, &ptr);
  if (g_error != 0) {
    if (image != 0) image_destroy(image);
    image = 0;
    std::snprintf(g_text, sizeof g_text, "Impossible de charger l'image %s", name.c_str());
    log_write(g_text);
    g_error = 0;
  }
  if (FileDescriptor* descriptor = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, d)) {
    remove_path_text(g_placeholder_group, descriptor->path);
    group_remove(g_placeholder_group, d);
    file_descriptor_destroy(d);
  }
  return image;
}

}  // namespace

void named_colour(int32_t index, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (index < 0 || index > 15) index = 0;
  *red = kNamedColours[index][0];
  *green = kNamedColours[index][1];
  *blue = kNamedColours[index][2];
}

std::string normalise_name(const std::string& name) {
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  if (fs_names_fold_case())
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path_make_absolute(g_start_dir, n);
}

std::vector<std::string> command_line_names(const char* line) {
  std::vector<std::string> names;
  if (line == nullptr || *line == '\0') return names;
  char buffer[256];
  const char* cursor = line;
  while (*cursor != '\0') {
    const char* next = cursor;
    while (*next != '\0' && std::strchr(" \t\r\n", *next) != nullptr) ++next;
    if (*next == '"') {
      cursor = next;
      str_read_quoted(255, &cursor, buffer);
    } else {
      const char* before = cursor;
      str_read_word(256, &cursor, buffer);
      if (cursor == before || (buffer[0] == '\0' && *cursor != '\0')) {
        // A word too long for the buffer is skipped whole.
        while (*cursor != '\0' && std::strchr(" \t\r\n", *cursor) == nullptr) ++cursor;
        if (cursor == before) ++cursor;
        continue;
      }
    }
    names.emplace_back(buffer);
  }
  return names;
}

void viewer_state_init() {
  Scene* scene;
  obj_create(TYPE_SCENE, &g_scene, &scene);
  if (g_error == 0) group_create(&g_current_group);
  if (g_error == 0) extent_list_create(g_current_group, &g_current_extents);
  if (g_error == 0) group_create(&g_next_group);
  if (g_error == 0) extent_list_create(g_next_group, &g_next_extents);
  if (g_error == 0) group_create(&g_layer_objects);
  if (g_error == 0) extent_list_create(g_layer_objects, &g_layer_extents);
  if (g_error == 0) group_create(&g_file_list);
  if (g_error == 0) link_create(1, 0, g_layer_objects, &g_link);
}

void placeholders_load(const std::string& error_name, const std::string& unknown_name) {
  g_error_image = load_placeholder(error_name, 0);
  g_unknown_image = load_placeholder(unknown_name, g_error_image);
  for (int i = 0; i < 16; ++i) g_placeholders[i] = g_error_image;
  g_placeholders[0] = 0;
  g_placeholders[ERR_UNKNOWN_FORMAT] = g_unknown_image;
  obj_register_type(TYPE_ERROR_DISPLAY, sizeof(ErrorDisplay));
}

void app_init(const ViewerOptions& options) {
  g_error = 0;
  log_set_path("KRVL");
  obj_registry_init();
  group_types_init();
  display_types_init();
  file_descriptor_types_init();
  handler_tables_clear();
  image_types_init(image_measure, image_draw);
  g_main_window = g_document_window = g_document_members = g_scene = g_view = g_layer = 0;
  g_layer_objects = g_layer_extents = g_link = g_display_list = 0;
  g_current_group = g_current_extents = g_next_group = g_next_extents = 0;
  g_current_file = g_current_image = 0;
  g_placeholder_group = g_error_image = g_unknown_image = 0;
  std::fill(std::begin(g_placeholders), std::end(g_placeholders), 0);
  g_file_list = 0;
  g_page = g_file_count = g_loop_count = g_timer_armed = g_frame_delay = 0;
  zoom_reset();
  viewer_state_init();
  if (g_error == 0) placeholders_load(options.error_placeholder, options.unknown_placeholder);
  g_current_file = 0;
  g_current_image = 0;
}

void document_view_create() {
  group_create(&g_document_members);
  if (g_error != 0) return;
  DisplayWindow* window = obj_get<DisplayWindow>(TYPE_WINDOW, g_document_window);
  if (window == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  window->members = g_document_members;
  view_create(g_document_window, g_scene, g_document_members, &g_view);
  if (g_view == 0 || obj_get<View>(TYPE_VIEW, g_view) == nullptr) {
    group_destroy(g_document_members);
    g_document_members = 0;
    return;
  }
  layer_create(g_layer_objects, g_layer_extents, g_scene, g_document_window, 0, &g_layer);
}

void viewer_start(const ViewerOptions& options) {
  PlatformBackend* p = platform();
  g_start_dir = options.start_dir;
  if (!options.program_dir.empty()) fs_chdir(options.program_dir.c_str());
  app_init(options);
  if (g_error != 0) fatal_init_error();

  PlatformWindow main = p->create_main_window(kProgramTitle, main_window_proc);
  DisplayWindow* ptr;
  if (main == 0) g_error = ERR_SYSTEM;
  else window_create(main, colour_bgr(0), &g_main_window, &ptr);
  if (g_error != 0) fatal_init_error();

  PlatformWindow document = p->create_document_window(main, document_window_proc);
  if (document == 0) g_error = ERR_SYSTEM;
  else window_create(document, colour_bgr(1), &g_document_window, &ptr);
  if (g_error != 0) fatal_init_error();
  p->set_focus(main);  // the main window keeps the keyboard

  document_view_create();
  canvas_create_palette(g_document_window);
  if (g_error != 0) fatal_init_error();

  for (const std::string& name : options.names) file_list_add(normalise_name(name).c_str(), &g_file_list);
  sequence_step(3);
  if (g_error != 0) {  // shown like any error of a main-window message
    int32_t code = g_error;
    const char* text = error_category_message();
    error_display(g_placeholders[code >= 0 && code < 16 ? code : 1], text);
    g_error = 0;
  }
}

void main_window_proc(const Message& m) {
  PlatformBackend* p = platform();
  switch (m.kind) {
    case MSG_DESTROY:
    case MSG_CLOSE:
      platform_exit(0);
    case MSG_SIZE:
      if (m.code == SIZE_RESTORED || m.code == SIZE_MAXIMISED) window_resized();
      break;
    case MSG_KILL_FOCUS:
      p->set_focus(m.window);
      break;
    case MSG_KEY_DOWN:
      key_command(m.code);
      break;
    case MSG_TIMER:
      p->kill_timer(m.window, m.code);
      timer_action(m.code);
      break;
    default:
      return;
  }
  if (g_error != 0) {
    int32_t code = g_error;
    const char* text = error_category_message();
    error_display(g_placeholders[code >= 0 && code < 16 ? code : 1], text);
    g_error = 0;
  }
}

void document_window_proc(const Message& m) {
  PlatformBackend* p = platform();
  switch (m.kind) {
    case MSG_PAINT:
      if (!m.rects.empty()) {
        window_invalidate_region(g_document_window, g_view, m.rects);
        window_redraw(g_document_window, g_view);
      }
      break;
    case MSG_SET_FOCUS:
      if (DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, g_main_window)) p->set_focus(w->platform_window);
      break;
    case MSG_MOUSE_MOVE:
      if (!p->mouse_move_waiting(m.window) && m.left_button) view_drag(m.x, m.y, 1);
      break;
    case MSG_LEFT_DOWN:
      view_drag(m.x, m.y, 0);
      break;
    case MSG_LEFT_UP:
      scroll_ranges_update();
      break;
    case MSG_LEFT_DOUBLE:
      zoom_at(m.x, m.y, +1);
      break;
    case MSG_RIGHT_DOUBLE:
      zoom_at(m.x, m.y, -1);
      break;
    case MSG_DROP_FILES:
      files_dropped(m.paths);
      break;
    default:
      break;
  }
}

void window_resized() {
  DisplayWindow* main = obj_get<DisplayWindow>(TYPE_WINDOW, g_main_window);
  if (main == nullptr) return;
  int32_t width, height;
  platform()->client_size(main->platform_window, &width, &height);
  main->client_width = width;
  main->client_height = height;
  if (DisplayWindow* document = obj_get<DisplayWindow>(TYPE_WINDOW, g_document_window)) {
    document->client_width = width;
    document->client_height = height;
  }
  zoom_fit_update(width, height);
  scroll_ranges_update();
}

void files_dropped(const std::vector<std::string>& paths) {
  file_list_prepare_drop();
  for (size_t i = paths.size(); i-- > 0;) file_list_add(normalise_name(paths[i]).c_str(), &g_file_list);
  sequence_step(1);
}

void error_display(Handle placeholder, const char* text_in) {
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
  group_add(g_next_group, TYPE_ERROR_DISPLAY, handle, record);
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
    image_own_pixels(copy, g_next_group);
    g_error = 0;  // short of memory: the message is shown without its picture
  }
  image = obj_get<ImageRecord>(TYPE_IMAGE, copy);
  image->gamma = placeholder != 0 ? image->gamma : -1.0;
  group_measure_one(g_next_extents, g_next_group, TYPE_IMAGE, copy, image);
  if ((record = obj_get<ErrorDisplay>(TYPE_ERROR_DISPLAY, handle)) != nullptr) record->image = copy;
  group_add(g_next_group, TYPE_GROUP, text_handle, text_ptr);
  group_add(g_next_group, TYPE_IMAGE, copy, image);
}

void fatal_init_error() {
  platform()->message_box("Erreur lors de l'initialisation\nFin de l'application", "Erreur lors de l'initialisation");
  std::snprintf(g_text, sizeof g_text, "Erreur d'init : %d", g_error);
  log_write(g_text);
  platform_exit(1);
}

void system_exit(const char* text) {
  log_write(text);
  platform_exit(-1);
}
