// Korvela: argument handling and the choice of mode.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/fs.h"
#include "platform/platform.h"
#include "viewer/batch.h"
#include "viewer/file_list.h"
#include "viewer/screenshot.h"
#include "viewer/viewer.h"
#ifdef KORVELA_HAS_SDL
#include "platform/sdl/sdl_platform.h"
#endif

namespace {

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

// Names are resolved against the directory the program was started from, then the program's
// own directory becomes the working directory (its log lives there).
std::vector<std::string> absolute_names(int argc, char** argv, int first, const std::string& start) {
  std::vector<std::string> names;
  for (int i = first; i < argc; ++i) names.push_back(path_make_absolute(start, argv[i]));
  return names;
}

void enter_program_dir() {
  fs_chdir(fs_program_dir().c_str());
  log_set_path("KRVL");
}

// The windowing backend of this build, or none: the viewer mode then prints what --info
// prints. SDL2 needs a display (DISPLAY or WAYLAND_DISPLAY) that its video starts on.
PlatformBackend* window_backend() {
#ifdef KORVELA_HAS_SDL
  if (sdl_video_start()) {
    static SdlPlatform sdl;
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

ViewerOptions viewer_options(int argc, char** argv, int first, const std::string& start) {
  ViewerOptions options;
  for (int i = first; i < argc; ++i) options.names.push_back(argv[i]);
  options.start_dir = start;
  options.program_dir = fs_program_dir();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string start = fs_getcwd();
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    print_usage(stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("korvela %s\n", KORVELA_VERSION);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--export") == 0) {
    if (argc != 4) {
      print_usage(stderr);
      return 2;
    }
    std::string out = path_make_absolute(start, argv[2]);
    std::string file = path_make_absolute(start, argv[3]);
    enter_program_dir();
    batch_types_init();
    return run_export(out, file, stdout);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--screenshot") == 0) {
    if (argc < 3) {
      print_usage(stderr);
      return 2;
    }
    int32_t width = 800, height = 600;
    int first = 3;
    if (argc >= 5 && std::strcmp(argv[3], "--size") == 0) {
      if (!parse_size(argv[4], &width, &height)) {
        print_usage(stderr);
        return 2;
      }
      first = 5;
    }
    std::string out = path_make_absolute(start, argv[2]);
    return run_screenshot(out, width, height, viewer_options(argc, argv, first, start), stderr);
  }
  if (argc < 2 || std::strcmp(argv[1], "--info") != 0) {
    if (PlatformBackend* backend = window_backend()) {
      if (argc >= 2 && argv[1][0] == '-' && argv[1][1] == '-') {
        print_usage(stderr);
        return 2;
      }
      platform_set_backend(backend);
      viewer_start(viewer_options(argc, argv, 1, start));
      return backend->run_message_loop();
    }
  }
  int first = (argc >= 2 && std::strcmp(argv[1], "--info") == 0) ? 2 : 1;
  if (first == 1 && argc >= 2 && argv[1][0] == '-' && argv[1][1] == '-') {
    print_usage(stderr);
    return 2;
  }
  std::vector<std::string> names = absolute_names(argc, argv, first, start);
  enter_program_dir();
  batch_types_init();
  return run_info(names, stdout);
}
