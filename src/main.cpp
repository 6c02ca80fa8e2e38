// Korvela: argument handling and the choice of mode.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/fs.h"
#include "platform/platform.h"
#include "viewer/batch.h"
#include "viewer/file_list.h"
#include "viewer/icon.h"
#include "viewer/screenshot.h"
#include "viewer/viewer.h"
#ifdef KORVELA_HAS_SDL
#include "platform/sdl/sdl_platform.h"
#endif
#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#endif

namespace {

using Arguments = std::vector<std::string>;  // without the program's name

void print_usage(FILE* out) {
  std::fprintf(out,
               "Usage:\n"
               "  korvela [NAME...]                 show images (NAME: a file or a directory)\n"
               "  korvela --info [NAME...]          print one line per image, or the failure\n"
               "  korvela --export OUT FILE         write the images of FILE to OUT (.png or .ppm)\n"
               "  korvela --screenshot OUT [--size WxH] [NAME...]\n"
               "                                    write what the viewer would show (PNG)\n"
               "  korvela --help | --version\n");
}

bool is_option(const Arguments& args) { return !args.empty() && args[0].rfind("--", 0) == 0; }

// A name of the command line as the program uses it: made absolute against the directory the
// program was started from (the program's own directory becomes the working directory). Where
// the file system ignores case (Windows), backslashes become slashes and the name is
// lower-cased first, as the viewer does.
std::string command_name(const std::string& start, std::string name) {
  if (fs_names_fold_case())
    for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path_make_absolute(start, name);
}

std::vector<std::string> command_names(const Arguments& args, size_t first, const std::string& start) {
  std::vector<std::string> names;
  for (size_t i = first; i < args.size(); ++i) names.push_back(command_name(start, args[i]));
  return names;
}

void enter_program_dir() {
  fs_chdir(fs_program_dir().c_str());
  log_set_path("KRVL");
}

ViewerOptions viewer_options(const Arguments& args, size_t first, const std::string& start) {
  ViewerOptions options;
  options.names.assign(args.begin() + static_cast<std::ptrdiff_t>(first), args.end());
  options.start_dir = start;
  options.program_dir = fs_program_dir();
  return options;
}

// The no-window modes and the fallback of the viewer mode; -1 when the viewer should run.
int run_without_window(const Arguments& args, const std::string& start, bool have_window) {
  const std::string mode = args.empty() ? std::string() : args[0];
  if (mode == "--help") {
    print_usage(stdout);
    return 0;
  }
  if (mode == "--version") {
    std::printf("korvela %s\n", KORVELA_VERSION);
    return 0;
  }
  if (mode == "--export") {
    if (args.size() != 3) {
      print_usage(stderr);
      return 2;
    }
    const std::string out = command_name(start, args[1]);
    const std::string file = command_name(start, args[2]);
    enter_program_dir();
    batch_types_init();
    return run_export(out, file, stdout);
  }
  if (mode == "--screenshot") {
    if (args.size() < 2) {
      print_usage(stderr);
      return 2;
    }
    int32_t width = 800, height = 600;
    size_t first = 2;
    if (args.size() >= 4 && args[2] == "--size") {
      if (!parse_size(args[3].c_str(), &width, &height)) {
        print_usage(stderr);
        return 2;
      }
      first = 4;
    }
    return run_screenshot(command_name(start, args[1]), width, height, viewer_options(args, first, start),
                          stderr);
  }
  const size_t first = mode == "--info" ? 1 : 0;
  if (first == 0 && is_option(args)) {
    print_usage(stderr);
    return 2;
  }
  if (first == 0 && have_window) return -1;
  std::vector<std::string> names = command_names(args, first, start);
  enter_program_dir();
  batch_types_init();
  return run_info(names, stdout);
}

}  // namespace

#ifdef _WIN32

namespace {

// A program of the windows subsystem has no console of its own: the no-window modes write to
// the console of the command prompt that started them, unless their output is redirected.
void attach_parent_console() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  const std::string start = fs_getcwd();
  const Arguments args = command_line_names(command_line);
  if (is_option(args)) {
    attach_parent_console();
    const int code = run_without_window(args, start, false);
    std::fflush(nullptr);
    return code;
  }
  static Win32Platform win32(instance);
  platform_set_backend(&win32);
  Viewer viewer;
  viewer_start(viewer, viewer_options(args, 0, start));
  return win32.run_message_loop();
}

#else

namespace {

// The windowing backend of this build, or none: the viewer mode then prints what --info
// prints. SDL2 needs a display (DISPLAY or WAYLAND_DISPLAY) that its video starts on.
PlatformBackend* window_backend() {
#ifdef KORVELA_HAS_SDL
  if (sdl_video_start()) {
    static SdlPlatform sdl;
    int32_t width = 0, height = 0;
    std::vector<uint32_t> icon;
    if (icon_load_rgb(fs_program_dir() + "/korvela.png", &width, &height, &icon))
      sdl.set_icon(std::move(icon), width, height);
    return &sdl;
  }
  const char* why = SDL_GetError();
  std::fprintf(stderr,
               "korvela: no display to open a window on (%s); use --screenshot OUT NAME... or "
               "--info NAME... without one\n",
               why[0] != '\0' ? why : "neither DISPLAY nor WAYLAND_DISPLAY is set");
#endif
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string start = fs_getcwd();
  const Arguments args(argv + 1, argv + argc);
  PlatformBackend* backend = is_option(args) ? nullptr : window_backend();
  const int code = run_without_window(args, start, backend != nullptr);
  if (code >= 0) return code;
  platform_set_backend(backend);
  Viewer viewer;
  viewer_start(viewer, viewer_options(args, 0, start));
  return backend->run_message_loop();
}

#endif
