// The viewer: its whole state in one record, start-up, the two window procedures and the
// viewer's end. It runs on whatever platform backend is current.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/registry.h"
#include "display/display_types.h"
#include "platform/platform.h"

constexpr const char* kProgramTitle = "Korvela v" KORVELA_VERSION;
constexpr int32_t kAnimationTimer = 3;
constexpr int32_t kPlaceholderCount = 16;         // one per error code 0 to 15

struct ErrorDisplay {
  Handle handle;
  Handle image;  // the copy of the placeholder it shows
  Handle text;   // text object holding the message
  int32_t code;
};

struct ZoomState {
  int32_t zoom_in_steps = 0;   // 0 to 4: enlargement steps
  int32_t zoom_out_steps = 0;  // 0 to zoom_out_limit: reduction steps
  int32_t zoom_out_limit = 0;  // reduction steps that fit the shown image in the window
  double fit_ratio = 1.0;      // scale at which the shown image fits, at most 1
};

// In window pixels of the scaled world.
struct ScrollState {
  int32_t scroll_v = 0, scroll_h = 0;  // the window's top and left edges
  int32_t scroll_v_min = 0, scroll_v_max = 0, scroll_h_min = 0, scroll_h_max = 0;
  int32_t page_v = 0, page_h = 0;  // page steps
  int32_t drag_x = 0, drag_y = 0;  // last mouse position of a drag
};

// Everything the viewer keeps between messages; every handle is 0 until start-up makes it.
// The objects the handles name live in the registry; ~Viewer releases them.
struct Viewer {
  Viewer() = default;
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;
  ~Viewer();

  // Windows and what the document window shows.
  Handle main_window = 0, document_window = 0, document_members = 0;
  Handle scene = 0, view = 0, layer = 0, layer_objects = 0, layer_extents = 0;
  Handle link = 0;          // the priority-1 layer link naming the shown image
  Handle display_list = 0;  // the document window's current display list
  Display display;          // canvas and redraw state of both windows

  // The file shown and the file loaded in advance, each a group with its extent list.
  Handle current_group = 0, current_extents = 0, next_group = 0, next_extents = 0;
  Handle file_list = 0;     // FileDescriptor objects and their path texts
  Handle current_file = 0;  // the descriptor last taken from the list
  Handle current_image = 0;

  Handle placeholder_group = 0, error_image = 0, unknown_image = 0;
  Handle placeholders[kPlaceholderCount] = {};  // the picture shown for each error code
  char text[1024] = {};                         // messages are formatted here

  // Sequencing.
  int32_t page = 0;         // 1-based number of the shown image in its file
  int32_t loop_count = 0;   // completed passes of the current animation
  bool timer_armed = false;  // the animation timer is running

  ZoomState zoom;
  ScrollState scroll;

  std::string start_dir;                  // relative names are resolved against it
  uint64_t (*memory_probe)() = nullptr;   // memory a load may use (tests replace it)
};

struct ViewerOptions {
  std::vector<std::string> names;  // command-line names, one per entry
  std::string start_dir;           // relative names are resolved against it
  std::string program_dir;         // becomes the working directory ("" keeps the current one)
  std::string error_placeholder = "erreur.png";
  std::string unknown_placeholder = "inconnu.png";
};

// Start-up up to the message loop: initialisation, placeholders, windows, the names and the
// first image. A failure ends the process through fatal_init_error. `viewer` must outlive the
// message loop: the window procedures work on it.
void viewer_start(Viewer& viewer, const ViewerOptions& options);
// Releases what start-up and the session made: display lists, windows' zones and palettes, the
// canvas, the groups and their members. The platform windows stay. Safe to call twice.
void viewer_end(Viewer& viewer);
// Splits a Windows command line into names: quoted names may hold spaces; white space after
// the last name gives one more, empty name.
std::vector<std::string> command_line_names(const char* line);

void app_init(Viewer& viewer, const ViewerOptions& options);
void viewer_state_init(Viewer& viewer);
// The main window (black) and the document window (white) in its client area; failure: 11.
void main_window_create(Viewer& viewer);
void document_window_create(Viewer& viewer);
void document_view_create(Viewer& viewer);
void main_window_proc(Viewer& viewer, const Message& message);
void document_window_proc(Viewer& viewer, const Message& message);
void window_resized(Viewer& viewer);
void files_dropped(Viewer& viewer, const std::vector<std::string>& paths);
[[noreturn]] void fatal_init_error(Viewer& viewer);
void named_colour(int32_t index, uint8_t* red, uint8_t* green, uint8_t* blue);
std::string normalise_name(const Viewer& viewer, const std::string& name);
