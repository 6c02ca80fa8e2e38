// The real window end to end, under a virtual X server: korvela is started on three files,
// its title and its client area are read back with xdotool and ImageMagick's import, and every
// picture is compared pixel for pixel with what the viewer shows on the headless platform
// after the same keys and mouse moves.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
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

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
}

// A virtual X server for the length of one test (xvfb-run around a sleeping shell).
class VirtualDisplay {
 public:
  bool start(const std::string& dir) {
    const std::string name_file = dir + "/display", pid_file = dir + "/sleeper";
    std::remove(name_file.c_str());
    runner_ = fork();
    if (runner_ == 0) {
      setpgid(0, 0);
      int fd = open((dir + "/xvfb.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      const std::string script = "echo $$ > " + quoted(pid_file) + "; echo \"$DISPLAY\" > " +
                                 quoted(name_file + ".tmp") + "; mv " + quoted(name_file + ".tmp") + " " +
                                 quoted(name_file) + "; exec sleep 120";
      execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24 -nolisten tcp -ac", "sh", "-c",
             script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (runner_ < 0) return false;
    if (!wait_for([&] { return !read_file(name_file).empty(); }, 15s)) return false;
    std::vector<uint8_t> name = read_file(name_file), pid = read_file(pid_file);
    display_ = trimmed(std::string(name.begin(), name.end()));
    sleeper_ = std::atoi(std::string(pid.begin(), pid.end()).c_str());
    return !display_.empty();
  }
  ~VirtualDisplay() {
    if (sleeper_ > 0) kill(sleeper_, SIGTERM);  // xvfb-run then stops its server
    if (runner_ > 0) {
      if (!wait_for([&] { return waitpid(runner_, nullptr, WNOHANG) == runner_; }, 5s)) {
        kill(-runner_, SIGKILL);
        waitpid(runner_, nullptr, 0);
      }
    }
  }
  // A shell command run on this display.
  std::string on(const std::string& command) const { return "DISPLAY=" + display_ + " " + command; }
  const std::string& name() const { return display_; }

 private:
  pid_t runner_ = -1;
  pid_t sleeper_ = -1;
  std::string display_;
};

class Program {
 public:
  Program(const VirtualDisplay& display, const std::vector<std::string>& args, const std::string& log) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", display.name().c_str(), 1);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("SDL_VIDEODRIVER");
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      std::vector<char*> argv{const_cast<char*>(KORVELA_BINARY)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KORVELA_BINARY, argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status once the process has ended within `limit`, else -1000.
  int wait_exit(std::chrono::milliseconds limit) {
    int status = 0;
    if (!wait_for([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return -1000;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -100 - WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

size_t differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size()) return std::max(a.size(), b.size());
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
  return n;
}

}  // namespace

TEST(SdlWindowEndToEnd, TheWindowShowsWhatTheHeadlessViewerShows) {
  if (run_command("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  test_reset();
  const std::string dir = test_temp_dir() + "/window";
  ASSERT_EQ(run_command("mkdir -p " + quoted(dir)), 0);
  const std::string one = dir + "/one.png", two = dir + "/two.ppm", three = dir + "/three.bmp";
  ASSERT_EQ(run_command("convert -size 900x700 -seed 5 plasma:fractal " + quoted(one) + " && convert -size 500x700 "
                        "gradient:orange-navy -swirl 120 -depth 8 " + quoted(two) + " && convert -size 300x200 "
                        "gradient:white-green BMP3:" + quoted(three)), 0);
  int status = 0;
  const std::vector<std::string> titles =
      lines_of(command_output(std::string(KORVELA_BINARY) + " --info " + quoted(one) + " " + quoted(two) + " " +
                              quoted(three), &status));
  ASSERT_EQ(titles.size(), 3u);

  VirtualDisplay display;
  ASSERT_TRUE(display.start(dir)) << "the virtual X server did not start";
  Program korvela(display, {one, two, three}, dir + "/korvela.log");

  // The window: found by the process that owns it, titled with the first image's title.
  std::string window;
  ASSERT_TRUE(wait_for([&] {
    window = trimmed(command_output(display.on("xdotool search --onlyvisible --pid " +
                                               std::to_string(korvela.pid()) + " 2>/dev/null | head -1")));
    return !window.empty();
  }, 10s)) << "no window appeared; korvela said: " << [&] {
    std::vector<uint8_t> log = read_file(dir + "/korvela.log");
    return std::string(log.begin(), log.end());
  }();
  auto title = [&] { return trimmed(command_output(display.on("xdotool getwindowname " + window))); };
  EXPECT_TRUE(wait_for([&] { return title() == titles[0]; }, 5s)) << title() << " / " << titles[0];
  const std::vector<std::string> geometry =
      lines_of(command_output(display.on("xdotool getwindowgeometry --shell " + window)));
  int32_t width = 0, height = 0;
  for (const std::string& line : geometry) {
    if (line.rfind("WIDTH=", 0) == 0) width = std::atoi(line.c_str() + 6);
    if (line.rfind("HEIGHT=", 0) == 0) height = std::atoi(line.c_str() + 7);
  }
  ASSERT_EQ(width, 640);  // the whole work area of a desktop without panels
  ASSERT_EQ(height, 480);

  // What the window shows, as soon as it equals `want` (painting may still be under way).
  int shot = 0;
  auto shows = [&](const std::vector<uint32_t>& want, const char* step) {
    std::vector<uint32_t> got;
    const bool same = wait_for([&] {
      const std::string path = dir + "/shot" + std::to_string(++shot) + ".png";
      int w = 0, h = 0;
      if (run_command(display.on("import -window " + window + " " + quoted(path) + " 2>/dev/null")) != 0) return false;
      if (!read_png_rgb(path, &w, &h, &got)) got.clear();
      return got == want;
    }, 5s);
    EXPECT_TRUE(same) << step << ": " << differing(got, want) << " pixels differ";
  };

  // The first picture is the one --screenshot writes at the same size.
  const std::string reference = dir + "/reference.png";
  ASSERT_EQ(run_command(std::string(KORVELA_BINARY) + " --screenshot " + quoted(reference) + " --size 640x480 " +
                        quoted(one) + " " + quoted(two) + " " + quoted(three)), 0);
  int rw = 0, rh = 0;
  std::vector<uint32_t> first;
  ASSERT_TRUE(read_png_rgb(reference, &rw, &rh, &first));
  ASSERT_EQ(first.size(), 640u * 480u);
  shows(first, "start");

  // The same viewer on the headless platform, fed the same keys and mouse moves.
  const std::string cwd = fs_getcwd();
  HeadlessPlatform headless(width, height);
  platform_set_backend(&headless);
  ViewerOptions options;
  options.names = {one, two, three};
  options.start_dir = dir;
  const std::string binary = KORVELA_BINARY;
  options.program_dir = binary.substr(0, binary.rfind('/'));
  ASSERT_TRUE(headless.guard([&] { viewer_start(options); }) && headless.pump());
  auto headless_picture = [&] { return headless.pixels(headless.document_window()); };
  EXPECT_EQ(headless_picture(), first);

  ASSERT_EQ(run_command(display.on("xdotool windowfocus --sync " + window)), 0);
  auto press = [&](const char* key, int32_t code) {
    EXPECT_EQ(run_command(display.on(std::string("xdotool key ") + key)), 0);
    headless.key(code);
    headless.pump();
  };
  press("space", 32);
  EXPECT_TRUE(wait_for([&] { return title() == titles[1]; }, 5s)) << title() << " / " << titles[1];
  shows(headless_picture(), "Space");
  press("F4", 115);
  shows(headless_picture(), "F4");
  press("F1", 112);
  shows(headless_picture(), "F1");
  press("F3", 114);
  shows(headless_picture(), "F3");

  // Dragging with the left button moves the picture with the pointer.
  const std::vector<uint32_t> before_drag = headless_picture();
  EXPECT_EQ(run_command(display.on("xdotool mousemove --window " + window + " 320 240 mousedown 1 mousemove --window " +
                                   window + " 260 150 mouseup 1")), 0);
  headless.mouse(MSG_MOUSE_MOVE, 320, 240, false);
  headless.mouse(MSG_LEFT_DOWN, 320, 240, true);
  headless.mouse(MSG_MOUSE_MOVE, 260, 150, true);
  headless.mouse(MSG_LEFT_UP, 260, 150, false);
  headless.pump();
  shows(headless_picture(), "drag");
  if (load_file(two).error == 0)
    EXPECT_NE(headless_picture(), before_drag) << "the drag did not move the picture";
  else
    std::printf("note: %s does not decode in this build; only the unchanged picture was compared\n", two.c_str());
  platform_set_backend(nullptr);
  fs_chdir(cwd.c_str());

  // Escape ends the program with 0.
  EXPECT_EQ(run_command(display.on("xdotool key Escape")), 0);
  EXPECT_EQ(korvela.wait_exit(5s), 0);
}
