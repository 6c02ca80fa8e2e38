#include "viewer/screenshot.h"

#include <cstdlib>

#include "io/png_writer.h"
#include "platform/headless/headless.h"

bool parse_size(const char* text, int32_t* width, int32_t* height) {
  char* end;
  long w = std::strtol(text, &end, 10);
  if (end == text || (*end != 'x' && *end != 'X')) return false;
  const char* rest = end + 1;
  long h = std::strtol(rest, &end, 10);
  if (end == rest || *end != '\0') return false;
  if (w < 1 || h < 1 || w > 16384 || h > 16384) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}

int run_screenshot(const std::string& out_path, int32_t width, int32_t height, const ViewerOptions& options,
                   FILE* err) {
  HeadlessPlatform headless(width, height);
  PlatformBackend* previous = platform();
  platform_set_backend(&headless);
  Viewer viewer;
  bool running = headless.guard([&] { viewer_start(viewer, options); }) && headless.pump();
  platform_set_backend(previous);
  if (!running) {
    for (const std::string& box : headless.message_boxes()) std::fprintf(err, "%s\n", box.c_str());
    return headless.exit_code();
  }
  PlatformWindow document = headless.document_window();
  if (!write_png_rgb(out_path, headless.width(document), headless.height(document), headless.pixels(document).data())) {
    std::fprintf(err, "%s : Impossible d'acceder au fichier\n", out_path.c_str());
    return 1;
  }
  return 0;
}
