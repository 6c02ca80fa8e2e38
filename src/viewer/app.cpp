// Start-up, the two window procedures, dropped files and the viewer's end.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "display/canvas.h"
#include "display/display.h"
#include "image/file_descriptor.h"
#include "image/image.h"
#include "io/text.h"
#include "platform/fs.h"
#include "viewer/error_display.h"
#include "viewer/file_list.h"
#include "viewer/sequence.h"
#include "viewer/viewer.h"
#include "viewer/zoom.h"

namespace {

constexpr int32_t kColourBlack = 0;
constexpr int32_t kColourWhite = 1;
constexpr int32_t kNamedColourCount = 16;
constexpr uint8_t kNamedColours[kNamedColourCount][3] = {
    {0, 0, 0},     {255, 255, 255}, {255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {255, 0, 255},
    {255, 192, 255}, {255, 128, 0}, {128, 64, 0},  {128, 128, 128}, {128, 0, 128}, {0, 128, 0},
    {0, 0, 128},   {128, 0, 48},    {255, 255, 0}, {0, 255, 255},
};

uint32_t colour_bgr(int32_t index) {
  uint8_t r, g, b;
  named_colour(index, &r, &g, &b);
  return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

}  // namespace

void named_colour(int32_t index, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (index < 0 || index >= kNamedColourCount) index = 0;
  *red = kNamedColours[index][0];
  *green = kNamedColours[index][1];
  *blue = kNamedColours[index][2];
}

std::string normalise_name(const Viewer& viewer, const std::string& name) {
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  if (fs_names_fold_case())
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path_make_absolute(viewer.start_dir, n);
}

std::vector<std::string> command_line_names(const char* line) {
  std::vector<std::string> names;
  if (line == nullptr || *line == '\0') return names;
  constexpr int kNameBuffer = 256;  // a name keeps at most 255 characters
  char buffer[kNameBuffer];
  const char* cursor = line;
  while (*cursor != '\0') {
    const char* next = cursor;
    while (*next != '\0' && std::strchr(" \t\r\n", *next) != nullptr) ++next;
    if (*next == '"') {
      cursor = next;
      str_read_quoted(kNameBuffer - 1, &cursor, buffer);
    } else {
      const char* before = cursor;
      str_read_word(kNameBuffer, &cursor, buffer);
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

void viewer_state_init(Viewer& viewer) {
  scene_create(&viewer.scene);
  if (g_error == 0) group_create(&viewer.current_group);
  if (g_error == 0) extent_list_create(viewer.current_group, &viewer.current_extents);
  if (g_error == 0) group_create(&viewer.next_group);
  if (g_error == 0) extent_list_create(viewer.next_group, &viewer.next_extents);
  if (g_error == 0) group_create(&viewer.layer_objects);
  if (g_error == 0) extent_list_create(viewer.layer_objects, &viewer.layer_extents);
  if (g_error == 0) group_create(&viewer.file_list);
  if (g_error == 0) link_create(1, 0, viewer.layer_objects, &viewer.link);
}

void app_init(Viewer& viewer, const ViewerOptions& options) {
  viewer_end(viewer);  // a viewer started before leaves nothing behind
  g_error = 0;
  log_set_path("KRVL");
  obj_registry_init();
  group_types_init();
  display_types_init();
  file_descriptor_types_init();
  image_types_init(image_measure, image_draw);
  viewer.start_dir = options.start_dir;
  if (viewer.memory_probe == nullptr) viewer.memory_probe = fs_available_memory;
  viewer_state_init(viewer);
  if (g_error == 0) placeholders_load(viewer, options.error_placeholder, options.unknown_placeholder);
}

void document_view_create(Viewer& viewer) {
  group_create(&viewer.document_members);
  if (g_error != 0) return;
  DisplayWindow* window = obj_require<DisplayWindow>(TYPE_WINDOW, viewer.document_window);
  if (window == nullptr) return;
  window->members = viewer.document_members;
  view_create(viewer.document_window, viewer.scene, viewer.document_members, &viewer.view);
  if (viewer.view == 0 || obj_get<View>(TYPE_VIEW, viewer.view) == nullptr) {
    group_destroy(viewer.document_members);
    viewer.document_members = 0;
    return;
  }
  layer_create(viewer.layer_objects, viewer.layer_extents, viewer.scene, viewer.document_window, 0, &viewer.layer);
}

void main_window_create(Viewer& viewer) {
  PlatformWindow main =
      platform()->create_main_window(kProgramTitle, [&viewer](const Message& m) { main_window_proc(viewer, m); });
  DisplayWindow* ptr;
  if (main == 0) g_error = ERR_SYSTEM;
  else window_create(viewer.display, main, colour_bgr(kColourBlack), &viewer.main_window, &ptr);
}

void document_window_create(Viewer& viewer) {
  const DisplayWindow* main = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.main_window);
  const PlatformWindow parent = main != nullptr ? main->platform_window : 0;
  PlatformBackend* p = platform();
  const WindowProc proc = [&viewer](const Message& m) { document_window_proc(viewer, m); };
  PlatformWindow document = parent != 0 ? p->create_document_window(parent, proc) : 0;
  DisplayWindow* ptr;
  if (document == 0) g_error = ERR_SYSTEM;
  else window_create(viewer.display, document, colour_bgr(kColourWhite), &viewer.document_window, &ptr);
  if (g_error == 0) p->set_focus(parent);  // the main window keeps the keyboard
}

void viewer_start(Viewer& viewer, const ViewerOptions& options) {
  if (!options.program_dir.empty()) fs_chdir(options.program_dir.c_str());
  app_init(viewer, options);
  if (g_error != 0) fatal_init_error(viewer);

  main_window_create(viewer);
  if (g_error != 0) fatal_init_error(viewer);
  document_window_create(viewer);
  if (g_error != 0) fatal_init_error(viewer);

  document_view_create(viewer);
  canvas_create_palette(viewer.document_window);
  if (g_error != 0) fatal_init_error(viewer);

  for (const std::string& name : options.names)
    file_list_add(normalise_name(viewer, name).c_str(), &viewer.file_list);
  sequence_step(viewer, STEP_START);
  error_display_pending(viewer);  // shown like any error of a main-window message
}

void viewer_end(Viewer& viewer) {
  // Handles that a later registry reset left stale name nothing: the lookups fail quietly.
  const int32_t error = g_error;
  if (viewer.display_list != 0) dlist_destroy(viewer.display_list, viewer.document_members);
  for (Handle extents : {viewer.current_extents, viewer.next_extents, viewer.layer_extents}) {
    extent_list_clear(extents);
    group_destroy(extents);
  }
  for (Handle group : {viewer.current_group, viewer.next_group, viewer.file_list, viewer.placeholder_group}) {
    group_destroy_members(group);
    group_destroy(group);
  }
  group_destroy(viewer.layer_objects);  // its images belong to the current group
  group_destroy(viewer.document_members);
  obj_destroy(TYPE_VIEW, viewer.view);
  obj_destroy(TYPE_LAYER, viewer.layer);
  obj_destroy(TYPE_LAYER_LINK, viewer.link);
  obj_destroy(TYPE_SCENE, viewer.scene);
  window_release(viewer.main_window);
  window_release(viewer.document_window);
  canvas_release(viewer.display.canvas);
  g_error = error;

  viewer.main_window = viewer.document_window = viewer.document_members = 0;
  viewer.scene = viewer.view = viewer.layer = viewer.layer_objects = viewer.layer_extents = 0;
  viewer.link = viewer.display_list = 0;
  viewer.current_group = viewer.current_extents = viewer.next_group = viewer.next_extents = 0;
  viewer.file_list = viewer.current_file = viewer.current_image = 0;
  viewer.placeholder_group = viewer.error_image = viewer.unknown_image = 0;
  std::fill(std::begin(viewer.placeholders), std::end(viewer.placeholders), 0);
  viewer.page = viewer.loop_count = 0;
  viewer.timer_armed = false;
  viewer.display = Display{};
  zoom_reset(viewer);
}

Viewer::~Viewer() { viewer_end(*this); }

void main_window_proc(Viewer& viewer, const Message& m) {
  PlatformBackend* p = platform();
  switch (m.kind) {
    case MSG_DESTROY:
    case MSG_CLOSE:
      platform_exit(0);
    case MSG_SIZE:
      if (m.code == SIZE_RESTORED || m.code == SIZE_MAXIMISED) window_resized(viewer);
      break;
    case MSG_KILL_FOCUS:
      p->set_focus(m.window);
      break;
    case MSG_KEY_DOWN:
      key_command(viewer, m.code);
      break;
    case MSG_TIMER:
      p->kill_timer(m.window, m.code);
      timer_action(viewer, m.code);
      break;
    default:
      return;
  }
  error_display_pending(viewer);
}

void document_window_proc(Viewer& viewer, const Message& m) {
  PlatformBackend* p = platform();
  switch (m.kind) {
    case MSG_PAINT:
      if (!m.rects.empty()) {
        window_invalidate_region(viewer.document_window, viewer.view, m.rects);
        window_redraw(viewer.document_window, viewer.view);
      }
      break;
    case MSG_SET_FOCUS:
      if (DisplayWindow* w = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.main_window)) p->set_focus(w->platform_window);
      break;
    case MSG_MOUSE_MOVE:
      if (!p->mouse_move_waiting(m.window) && m.left_button) view_drag(viewer, m.x, m.y, true);
      break;
    case MSG_LEFT_DOWN:
      view_drag(viewer, m.x, m.y, false);
      break;
    case MSG_LEFT_UP:
      scroll_ranges_update(viewer);
      break;
    case MSG_LEFT_DOUBLE:
      zoom_at(viewer, m.x, m.y, +1);
      break;
    case MSG_RIGHT_DOUBLE:
      zoom_at(viewer, m.x, m.y, -1);
      break;
    case MSG_DROP_FILES:
      files_dropped(viewer, m.paths);
      break;
    default:
      break;
  }
}

void window_resized(Viewer& viewer) {
  DisplayWindow* main = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.main_window);
  if (main == nullptr) return;
  int32_t width, height;
  platform()->client_size(main->platform_window, &width, &height);
  main->client_width = width;
  main->client_height = height;
  if (DisplayWindow* document = obj_get<DisplayWindow>(TYPE_WINDOW, viewer.document_window)) {
    document->client_width = width;
    document->client_height = height;
  }
  zoom_fit_update(viewer, width, height);
  scroll_ranges_update(viewer);
}

void files_dropped(Viewer& viewer, const std::vector<std::string>& paths) {
  file_list_prepare_drop(viewer);
  for (size_t i = paths.size(); i-- > 0;)
    file_list_add(normalise_name(viewer, paths[i]).c_str(), &viewer.file_list);
  sequence_step(viewer, STEP_USER);
}

void fatal_init_error(Viewer& viewer) {
  platform()->message_box("Erreur lors de l'initialisation\nFin de l'application", "Erreur lors de l'initialisation");
  std::snprintf(viewer.text, sizeof viewer.text, "Erreur d'init : %d", g_error);
  log_write(viewer.text);
  platform_exit(1);
}
