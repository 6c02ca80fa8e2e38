// Random keys, clicks, drags, drops, resizes and timer firings over a mixed list of good,
// corrupt and missing files and a hostile tree, without root rights. KORVELA_SOAK_EVENTS sets
// the number of events (default 20000).
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "core/errors.h"
#include "display/display.h"
#include "support/test_support.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"

namespace {

class Soak : public ViewerHarness {
 protected:
  // Random events over the listed names; what went wrong, or nothing.
  std::string run(const std::vector<std::string>& names, int events);
};

TEST_F(Soak, RandomUseNeverCrashesOrEnds) {
  const char* env = std::getenv("KORVELA_SOAK_EVENTS");
  const int events = env != nullptr ? std::atoi(env) : 20000;
  std::vector<uint8_t> good = bmp24(37, 23, gradient);
  std::vector<uint8_t> corrupt = good;
  corrupt.resize(70);  // the header promises rows that are not there
  std::vector<uint8_t> absurd = bmp24(2, 2, gradient);
  absurd[18] = 0xFF, absurd[19] = 0xFF, absurd[20] = 0xFF, absurd[21] = 0x7F;  // width 2^31 - 1
  std::vector<std::string> names = {"missing.bmp", "tree"};
  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
           {"good.bmp", good}, {"wide.bmp", bmp24(300, 5, gradient)}, {"corrupt.bmp", corrupt},
           {"absurd.bmp", absurd}, {"empty.bmp", {}}, {"words.txt", {'t', 'e', 'x', 't'}}}) {
    write(name, bytes);
    names.push_back(name);
  }
  // The tree holds what real folders do: a link back up, a folder nobody may enter, a FIFO, an
  // empty file, a file that comes and goes, and corrupt files of every format.
  for (const char* folder : {"tree", "tree/corrupt", "tree/secret"}) mkdir(path(folder).c_str(), 0755);
  write("tree/inner.bmp", bmp24(5, 40, gradient));
  write("tree/secret/hidden.bmp", good);
  write("tree/junk.dat", {'j', 'u', 'n', 'k'});
  symlink("..", path("tree/loop").c_str());
  mkfifo(path("tree/fifo.bmp").c_str(), 0666);
  DIR* samples = opendir(sample("").c_str());
  for (dirent* entry; (entry = readdir(samples)) != nullptr;) {
    const std::string name = entry->d_name;
    if (name[0] == '.') continue;
    std::vector<uint8_t> bytes = read_file(sample(name));
    write("tree/corrupt/cut-" + name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
    for (size_t i = bytes.size() / 8; i < bytes.size(); i += 7) bytes[i] ^= 0x5A;
    write("tree/corrupt/flipped-" + name, bytes);
  }
  closedir(samples);
  write("tree/vanishing.bmp", good);
  chmod(path("tree/secret").c_str(), 0);
  for (const char* open : {"", "/tree"}) chmod((dir() + open).c_str(), 0777);
  use_real_placeholders();
  EXPECT_EQ(as_unprivileged([&] { return run(names, events); }), "");
}

std::string Soak::run(const std::vector<std::string>& names, int events) {
  if (!start(names, 160, 120)) return "ended at start-up";
  std::mt19937 rng(12345);
  auto pick = [&](int n) { return n <= 0 ? 0 : static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const std::vector<int32_t> keys = {32, 32, 32, 33, 34, 35, 36, 37, 38, 39, 40, 46, 107, 109, 112, 113, 114, 115,
                                     118, 119, 123, 0, 65, 200};
  int32_t width = 160, height = 120;
  for (int i = 0; i < events && !hp->exited(); ++i) {
    const int kind = pick(20);
    const int32_t x = pick(width + 40) - 20, y = pick(height + 40) - 20;
    if (kind < 8) {
      hp->key(keys[pick(static_cast<int>(keys.size()))]);
    } else if (kind < 10) {
      hp->mouse(pick(2) ? MSG_LEFT_DOUBLE : MSG_RIGHT_DOUBLE, x, y);
    } else if (kind < 13) {
      hp->mouse(MSG_LEFT_DOWN, x, y);
      for (int m = pick(4); m >= 0; --m) hp->mouse(MSG_MOUSE_MOVE, pick(width), pick(height), true);
      hp->mouse(MSG_LEFT_UP, x, y);
    } else if (kind == 13) {
      std::vector<std::string> dropped;
      for (int n = pick(4); n >= 0; --n) dropped.push_back(path(names[pick(static_cast<int>(names.size()))]));
      hp->drop(dropped);
    } else if (kind == 14) {
      width = pick(4) == 0 ? pick(3) : 20 + pick(300);
      height = pick(4) == 0 ? pick(3) : 20 + pick(200);
      hp->resize(width, height, pick(5) == 0 ? SIZE_MINIMISED : SIZE_RESTORED);
    } else if (kind == 15) {
      hp->set_input_waiting(pick(2) == 0);
      hp->set_clock_step(pick(3) == 0 ? 60 : 0);
    } else if (kind == 16) {
      hp->fire_timer(pick(2) ? kRedrawTimer : kAnimationTimer);
    } else if (kind == 17 && pick(4) == 0) {
      // A decoded-looking file: still pages or an animation, small or larger than the window.
      std::vector<int32_t> delays;
      if (pick(2)) delays.assign(1 + pick(4), 1 + pick(30));
      play_hand_made(delays, static_cast<uint16_t>(pick(3)), delays.empty() ? 1 + pick(3) : 0, 1 + pick(400),
                     1 + pick(300));
    } else if (kind == 17 && pick(2) == 0) {
      // A file that comes and goes while it is listed, and comes back as a picture or a FIFO.
      const std::string vanishing = path("tree/vanishing.bmp");
      if (unlink(vanishing.c_str()) != 0 && (pick(2) == 0 || mkfifo(vanishing.c_str(), 0666) != 0))
        write("tree/vanishing.bmp", bmp24(9, 9, gradient));
    } else if (kind == 17) {
      hp->mouse(MSG_MOUSE_MOVE, x, y, false);
    } else {
      hp->advance(static_cast<uint64_t>(pick(500)));
    }
    hp->pump(10000);
  }
  hp->set_input_waiting(false);
  hp->pump();
  if (hp->exited()) return "ended with " + std::to_string(hp->exit_code());
  if (g_error != 0) return "error " + std::to_string(g_error) + " left";
  key(123);  // still responsive: F12 gives the program's title
  return title() == kProgramTitle ? "" : "title " + title();
}

}  // namespace
