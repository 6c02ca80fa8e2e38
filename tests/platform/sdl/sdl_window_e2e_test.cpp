// The real window end to end, under a virtual X server: korvela is started on three files,
// its title and its client area are read back with xdotool and ImageMagick's import, and each
// is compared (the picture pixel for pixel) with what the viewer shows on the headless platform
// after the same keys and mouse moves.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/fs.h"
#include "platform/headless/headless.h"
#include "support/test_support.h"
#include "viewer/viewer.h"

namespace {

using namespace std::chrono_literals;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
}

// Background processes started by the shell (a virtual X server, the program), killed with the
// test whatever way it ends. Each leaves `name`.pid and its output in `name`.log in `dir`.
class Background {
 public:
  explicit Background(std::string dir) : dir_(std::move(dir)) {}
  ~Background() {
    for (pid_t pid : pids_) kill(pid, SIGTERM);
  }
  // Starts `command`; when `status` is set, the process's exit status is written to `name`.status.
  pid_t start(const std::string& name, const std::string& command, bool status = false) {
    const std::string pid_file = dir_ + "/" + name + ".pid";
    std::remove(pid_file.c_str());
    run_command("(" + command + " > " + quoted(dir_ + "/" + name + ".log") + " 2>&1 & echo $! > " + quoted(pid_file) +
                (status ? "; wait $!; echo $? > " + quoted(dir_ + "/" + name + ".status") : "") + ") < /dev/null &");
    pid_t pid = 0;
    wait_for([&] { return (pid = std::atoi(read_text(pid_file).c_str())) > 0; }, 5s);
    if (pid > 0) pids_.push_back(pid);
    return pid;
  }

 private:
  std::string dir_;
  std::vector<pid_t> pids_;
};

}  // namespace

TEST(SdlWindowEndToEnd, TheWindowShowsWhatTheHeadlessViewerShows) {
  if (run_command("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  test_reset();
  const std::string dir = test_temp_dir() + "/window";
  ASSERT_EQ(run_command("mkdir -p " + quoted(dir)), 0);
  const std::string one = dir + "/one.png", two = dir + "/two.ppm", three = dir + "/three.bmp";
  ASSERT_EQ(run_command("convert -size 900x700 -seed 5 plasma:fractal " + quoted(one) + " && convert -size 500x700 "
                        "gradient:orange-navy -swirl 120 -depth 8 " + quoted(two) + " && convert -size 300x200 "
                        "gradient:white-green BMP3:" + quoted(three)), 0);

  // The same viewer on the headless platform, fed the same keys and mouse moves: 640 x 480,
  // the whole work area of a desktop without panels.
  const std::string cwd = fs_getcwd();
  HeadlessPlatform headless(640, 480);
  platform_set_backend(&headless);
  ViewerOptions options;
  options.names = {one, two, three};
  options.start_dir = dir;
  const std::string binary = KORVELA_BINARY;
  options.program_dir = binary.substr(0, binary.rfind('/'));
  Viewer viewer;
  ASSERT_TRUE(headless.guard([&] { viewer_start(viewer, options); }) && headless.pump());
  auto headless_picture = [&] { return headless.pixels(headless.document_window()); };
  auto headless_title = [&] { return headless.title(headless.main_window()); };

  // A virtual X server of its own, 640 x 480, then the program on it.
  Background background(dir);
  std::remove((dir + "/display").c_str());
  ASSERT_GT(background.start("xvfb", "Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -ac 3> " + quoted(dir + "/display")), 0);
  std::string display;
  ASSERT_TRUE(wait_for([&] { return !(display = trimmed(read_text(dir + "/display"))).empty(); }, 15s))
      << "the virtual X server did not start: " << read_text(dir + "/xvfb.log");
  auto on = [&](const std::string& command) { return "DISPLAY=:" + display + " " + command; };
  const pid_t korvela = background.start(
      "korvela", on("env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " + binary + " " + quoted(one) + " " + quoted(two) +
                    " " + quoted(three)), true);
  ASSERT_GT(korvela, 0);

  // The window: found by the process that owns it.
  std::string window;
  ASSERT_TRUE(wait_for([&] {
    window = trimmed(command_output(on("xdotool search --onlyvisible --pid " + std::to_string(korvela) +
                                       " 2>/dev/null | head -1")));
    return !window.empty();
  }, 10s)) << "no window appeared; korvela said: " << read_text(dir + "/korvela.log");

  // The window's title and picture, as soon as they equal the headless viewer's (painting may
  // still be under way).
  int shot = 0;
  auto shows = [&](const char* step) {
    std::string title;
    EXPECT_TRUE(wait_for([&] { return (title = trimmed(command_output(on("xdotool getwindowname " + window)))) == headless_title(); }, 5s))
        << step << ": " << title << " / " << headless_title();
    std::vector<uint32_t> got;
    const bool same = wait_for([&] {
      const std::string path = dir + "/shot" + std::to_string(++shot) + ".png";
      int w = 0, h = 0;
      if (run_command(on("import -window " + window + " " + quoted(path) + " 2>/dev/null")) != 0) return false;
      if (!read_png_rgb(path, &w, &h, &got)) got.clear();
      return got == headless_picture();
    }, 5s);
    EXPECT_TRUE(same) << step << ": the window's picture differs; its last shot is " << dir << "/shot" << shot << ".png";
  };
  ASSERT_EQ(headless_picture().size(), 640u * 480u);
  shows("start");

  ASSERT_EQ(run_command(on("xdotool windowfocus --sync " + window)), 0);
  for (const auto& [key, code] : {std::pair<const char*, int32_t>{"space", 32}, {"F4", 115}, {"F1", 112}, {"F3", 114}}) {
    EXPECT_EQ(run_command(on(std::string("xdotool key ") + key)), 0);
    headless.key(code);
    headless.pump();
    shows(key);
  }

  // Dragging with the left button moves the picture with the pointer.
  const std::vector<uint32_t> before_drag = headless_picture();
  EXPECT_EQ(run_command(on("xdotool mousemove --window " + window + " 320 240 mousedown 1 mousemove --window " +
                                   window + " 260 150 mouseup 1")), 0);
  headless.mouse(MSG_MOUSE_MOVE, 320, 240, false);
  headless.mouse(MSG_LEFT_DOWN, 320, 240, true);
  headless.mouse(MSG_MOUSE_MOVE, 260, 150, true);
  headless.mouse(MSG_LEFT_UP, 260, 150, false);
  headless.pump();
  shows("drag");
  EXPECT_NE(headless_picture(), before_drag) << "the drag did not move the picture";
  platform_set_backend(nullptr);
  fs_chdir(cwd.c_str());

  // Escape ends the program with 0.
  EXPECT_EQ(run_command(on("xdotool key Escape")), 0);
  EXPECT_TRUE(wait_for([&] { return !read_text(dir + "/korvela.status").empty(); }, 5s)) << "korvela did not end";
  EXPECT_EQ(trimmed(read_text(dir + "/korvela.status")), "0");
}
