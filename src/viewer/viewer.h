// The viewer: start-up, the two window procedures, error displays, commands, timers, image
// sequencing, zoom and scroll. It runs on whatever platform backend is current.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/platform.h"

constexpr const char* kProgramTitle = "Korvela v" KORVELA_VERSION;
constexpr int32_t kAnimationTimer = 3;
constexpr uint64_t kLoadMemoryMargin = 10000000;  // bytes kept free beyond the file's size

// Viewer state; every handle is 0 until start-up makes it.
extern Handle g_main_window, g_document_window, g_document_members, g_scene, g_view, g_layer;
extern Handle g_layer_objects, g_layer_extents, g_link, g_display_list;
extern Handle g_current_group, g_current_extents, g_next_group, g_next_extents;
extern Handle g_current_file, g_current_image;
extern Handle g_placeholder_group, g_error_image, g_unknown_image;
extern Handle g_placeholders[16];
extern char g_text[1024];

// Sequencing state.
extern int32_t g_page, g_file_count, g_loop_count, g_timer_armed, g_frame_delay;

// Physical memory plus swap that a load may use (tests replace it).
extern uint64_t (*g_memory_probe)();

struct ErrorDisplay {
  Handle handle;
  Handle image;  // the copy of the placeholder it shows
  Handle text;   // text object holding the message
  int32_t code;
};

struct ViewerOptions {
  std::vector<std::string> names;  // command-line names, one per entry
  std::string start_dir;           // relative names are resolved against it
  std::string program_dir;         // becomes the working directory ("" keeps the current one)
  std::string error_placeholder = "erreur.png";
  std::string unknown_placeholder = "inconnu.png";
};

// Start-up up to the message loop: initialisation, placeholders, windows, the names and the
// first image. A failure ends the process through fatal_init_error.
void viewer_start(const ViewerOptions& options);
// Splits a Windows command line into names: quoted names may hold spaces; white space after
// the last name gives one more, empty name.
std::vector<std::string> command_line_names(const char* line);

void app_init(const ViewerOptions& options);
void viewer_state_init();
void placeholders_load(const std::string& error_name, const std::string& unknown_name);
void document_view_create();
void main_window_proc(const Message& message);
void document_window_proc(const Message& message);
void window_resized();
void files_dropped(const std::vector<std::string>& paths);
void error_display(Handle placeholder, const char* text);
[[noreturn]] void fatal_init_error();
[[noreturn]] void system_exit(const char* text);
void named_colour(int32_t index, uint8_t* red, uint8_t* green, uint8_t* blue);
std::string normalise_name(const std::string& name);

// Commands and sequencing.
void sequence_step(int32_t mode);
void load_next_file();
void advance_file();
void show_image(Handle image);
void title_update(Handle image, int32_t page, int32_t count);
void redraw_now();
void rotate_command(int32_t direction);
void delete_command();
void key_command(int32_t key);
void timer_action(int32_t id);

// Zoom and scroll.
struct ZoomState {
  int32_t in_steps;
  int32_t out_steps;
  int32_t out_limit;
  double fit_ratio;
};
struct ScrollState {
  int32_t v, h;
  int32_t v_min, v_max, h_min, h_max;
  int32_t page_v, page_h;
  int32_t drag_x, drag_y;
};
extern ZoomState g_zoom;
extern ScrollState g_scroll;

double zoom_factor(int32_t steps);
void zoom_fit_update(int32_t width, int32_t height);
void zoom_snap(double scale);
void zoom_set(int32_t fit, double scale);
void view_centre_on(double cx, double cy, double scale);
int zoom_step(int32_t delta, double* scale);
void zoom_by(int32_t delta);
void zoom_at(int32_t px, int32_t py, int32_t delta);
void view_place(double origin_x, double origin_y, double scale);
void view_drag(int32_t px, int32_t py, int32_t moving);
void scroll_ranges_update();
void scroll_command(int32_t command);
void view_refresh();
void zoom_reset();
