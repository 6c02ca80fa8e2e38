#include "viewer/viewer_harness.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>

#include "codecs/raster_test_support.h"
#include "core/errors.h"
#include "core/group.h"
#include "display/display.h"
#include "support/test_support.h"

namespace {
int g_counter = 0;
}

void ViewerHarness::SetUp() {
  test_reset();
  dir_ = test_temp_dir() + "/viewer" + std::to_string(++g_counter);
  mkdir(dir_.c_str(), 0755);
}

void ViewerHarness::TearDown() {
  viewer_end(viewer);
  platform_set_backend(nullptr);
}

void ViewerHarness::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  write_temp_file(dir_.substr(test_temp_dir().size() + 1) + "/" + name, bytes);
}

void ViewerHarness::use_real_placeholders() {
  error_placeholder = std::string(KORVELA_SOURCE_DIR) + "/assets/erreur.png";
  unknown_placeholder = std::string(KORVELA_SOURCE_DIR) + "/assets/inconnu.png";
}

bool ViewerHarness::start(const std::vector<std::string>& names, int32_t width, int32_t height) {
  if (!hp) hp = std::make_unique<HeadlessPlatform>(width, height);
  platform_set_backend(hp.get());
  ViewerOptions options;
  options.names = names;
  options.start_dir = dir_;
  options.program_dir = dir_;
  options.error_placeholder = error_placeholder;
  options.unknown_placeholder = unknown_placeholder;
  bool running = hp->guard([&] { viewer_start(viewer, options); });
  return running && hp->pump();
}

void ViewerHarness::key(int32_t code) {
  hp->key(code);
  hp->pump();
}

std::string ViewerHarness::title() const { return hp->title(hp->main_window()); }

const std::vector<uint32_t>& ViewerHarness::frame() const { return hp->pixels(hp->document_window()); }

uint32_t ViewerHarness::at(int32_t x, int32_t y) const {
  return frame()[size_t(y) * hp->width(hp->document_window()) + x];
}

std::string ViewerHarness::log_text() const { return read_text(dir_ + "/zz_KRVL.log"); }

ImageRecord* ViewerHarness::make_rgb_image(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t),
                                           Handle group) {
  ImageRecord* image = make_image(group, width, height, 3, 4);
  std::snprintf(image->name, sizeof image->name, "%s/hand-made", dir_.c_str());
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = image->pixels + size_t(y) * image->row_bytes + x * 4;
      const uint32_t c = colour(x, y);
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
    }
  return image;
}

ImageRecord* ViewerHarness::show_made(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t)) {
  const Handle h = make_rgb_image(width, height, colour, viewer.current_group)->handle;
  hp->guard([&] {
    group_measure_one(viewer.current_extents, viewer.current_group, TYPE_IMAGE, h, obj_get<ImageRecord>(TYPE_IMAGE, h));
    viewer.current_image = h;
    viewer.page = 1;
    show_image(viewer, h);
    title_update(viewer, h, 1, 1);
    redraw_now(viewer);
  });
  return obj_get<ImageRecord>(TYPE_IMAGE, h);  // showing may have moved the record
}

View* ViewerHarness::view() const { return obj_get<View>(TYPE_VIEW, viewer.view); }

std::string ViewerHarness::page() const {
  const size_t at = title().find(" - page ");
  return at == std::string::npos ? "" : title().substr(at + 8);
}

uint32_t gradient(int32_t x, int32_t y) { return (uint32_t(x & 255) << 16) | (uint32_t(y & 255) << 8) | 0x40; }

void ViewerHarness::play_hand_made(const std::vector<int32_t>& delays, uint16_t loops, int32_t still, int32_t width,
                                   int32_t height) {
  hp->guard([&] {
    if (viewer.current_image != 0) layer_remove_object(viewer.current_image, viewer.display_list, viewer.layer);
    extent_list_clear(viewer.current_extents);
    group_destroy_members(viewer.current_group);
    viewer.current_image = 0;
    viewer.page = 0;
    viewer.loop_count = 0;
    for (int32_t i = 0; i < still; ++i) make_rgb_image(width, height, gradient, viewer.current_group);
    for (int32_t delay : delays) {
      ImageRecord* frame = make_rgb_image(width, height, gradient, viewer.current_group);
      Handle h;
      FrameControl* control;
      obj_create(TYPE_FRAME_CONTROL, &h, &control);
      control->image = frame->handle;
      control->delay = delay;
      control->loops = loops;
      group_add(viewer.current_group, TYPE_FRAME_CONTROL, h, control);
    }
    group_measure_all(viewer.current_extents, viewer.current_group);
    sequence_step(viewer, 1);
  });
}

std::vector<uint8_t> bmp24(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t)) {
  const uint32_t row = (uint32_t(width) * 3 + 3) & ~3u, pixels = row * uint32_t(height);
  Bytes b;
  b.text("BM").u32le(54 + pixels).u32le(0).u32le(54).u32le(40).u32le(width).u32le(height).u16le(1).u16le(24);
  b.u32le(0).u32le(pixels).fill(16, 0);  // no compression, resolution or colour counts
  for (int32_t y = height - 1; y >= 0; --y) {  // bottom row first
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t c = colour(x, y);
      b.u8(c).u8(c >> 8).u8(c >> 16);  // B, G, R
    }
    b.fill(row - uint32_t(width) * 3, 0);
  }
  return b.data;
}

#ifndef _WIN32
std::string as_unprivileged(const std::function<std::string()>& body) {
  chmod(test_temp_dir().c_str(), 0711);  // its folders keep their own modes
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "no pipe";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const std::string said = body();
    for (size_t done = 0; done < said.size();) {
      ssize_t n = ::write(pipe_ends[1], said.data() + done, said.size() - done);
      if (n <= 0) _exit(4);
      done += size_t(n);
    }
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, size_t(n));
  close(pipe_ends[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return "no child";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    said += "\n(child ended with " + std::to_string(WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status)) + ")";
  return said;
}

std::string unprivileged_prefix() {
  return geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

#endif

std::string sample(const std::string& name) { return std::string(KORVELA_SOURCE_DIR) + "/samples/" + name; }
