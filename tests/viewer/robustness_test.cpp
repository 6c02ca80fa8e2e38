// What real folders, files and keys do to the viewer: bad entries, unreadable names, the shared
// placeholder, and where the log goes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/errors.h"
#include "core/group.h"
#include "support/test_support.h"
#include "viewer/viewer_harness.h"

namespace {

class Robustness : public ViewerHarness {};

std::string lines(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += text + "\n";
  return all;
}

// A walked folder holding a good picture, an unreadable picture, a link back up the tree and a
// folder nobody may enter, among named files: good, unreadable, corrupt, missing. The viewer,
// --info and --export agree on every file; nothing ends the session.
TEST_F(Robustness, BadEntriesAreSkippedOrReportedAndEveryModeAgrees) {
  const std::vector<uint8_t> good = read_file(sample("rose.bmp"));
  for (const char* folder : {"top", "top/tree", "top/tree/secret"}) mkdir(path(folder).c_str(), 0755);
  for (const char* name : {"first.bmp", "locked.bmp", "last.bmp", "top/tree/a.bmp", "top/tree/locked.bmp",
                           "top/tree/secret/s.bmp", "top/tree/z.bmp"})
    write(name, good);
  write("corrupt.bmp", std::vector<uint8_t>(good.begin(), good.begin() + 80));
  symlink("..", path("top/tree/loop").c_str());
  for (const char* name : {"locked.bmp", "top/tree/locked.bmp", "top/tree/secret"}) chmod(path(name).c_str(), 0);
  chmod(dir().c_str(), 0777);
  const std::vector<std::string> names = {"first.bmp", "locked.bmp", "top/tree", "corrupt.bmp", "missing.bmp", "last.bmp"};
  const std::string viewer = as_unprivileged([&] {
    std::vector<std::string> titles;
    if (!start(names)) return std::string("ended at start-up");
    for (int i = 0; i < 8; ++i, key(32)) titles.push_back(title());
    hp->drop({path("top"), path("locked.bmp")});
    hp->pump();
    titles.push_back(hp->exited() ? "ended by a drop" : title());
    return lines(titles);
  });
  std::string args;
  for (const std::string& name : names) args += " " + path(name);
  const std::string cli = unprivileged_prefix() + "env XDG_STATE_HOME=" + dir() + " " + KORVELA_BINARY;
  int status = 0;
  const std::string info = command_output(cli + " --info" + args, &status);
  EXPECT_EQ(status, 1);
  const std::string locked = path("locked.bmp") + " : Fichier invalide\n";
  ASSERT_NE(info.find(locked + path("top/tree/a.bmp") + " - "), std::string::npos) << info;
  EXPECT_NE(info.find(path("missing.bmp") + " : Fichier inconnu\n"), std::string::npos) << info;
  EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 7) << info;
  EXPECT_EQ(viewer, info + info.substr(0, info.find('\n') + 1) + locked);
  for (const char* name : {"first.bmp", "locked.bmp", "corrupt.bmp", "missing.bmp"}) {
    const std::string out = command_output(cli + " --export " + path("out.png") + " " + path(name), &status);
    const bool failed = info.find(path(name) + " : ") != std::string::npos;
    EXPECT_EQ(status, failed ? 1 : 0) << name;
    EXPECT_NE(info.find(failed ? out : path(name) + " - "), std::string::npos) << out;
  }
  const std::string log = log_text();
  for (const std::string& skipped :
       {path("top/tree/locked.bmp ("), path("top/tree/secret/ ("), path("top/tree/loop/tree/ (deja parcouru)")})
    EXPECT_NE(log.find("Ignore : " + skipped), std::string::npos) << skipped << "\n" << log;
}

TEST_F(Robustness, TurningAPlaceholderLeavesTheOneEveryFailureSharesAlone) {
  use_real_placeholders();
  ASSERT_TRUE(start({"a.bmp", "b.bmp"}));
  const ImageRecord* original = obj_get<ImageRecord>(TYPE_IMAGE, viewer.error_image);
  const ImageRecord kept = *original;
  const std::vector<uint32_t> upright = image_rgb(original);
  key(118);  // F7
  EXPECT_EQ(obj_get<ImageRecord>(TYPE_IMAGE, viewer.current_image)->width, kept.height);
  key(32);
  original = obj_get<ImageRecord>(TYPE_IMAGE, viewer.error_image);
  GroupRecord* block;
  image_pixel_block(original, &block);
  ASSERT_NE(block, nullptr) << "the placeholder's pixels were freed";
  EXPECT_EQ(std::make_pair(original->width, original->pixels), std::make_pair(kept.width, kept.pixels));
  EXPECT_EQ(image_rgb(original), upright);
  EXPECT_EQ(image_rgb(obj_get<ImageRecord>(TYPE_IMAGE, viewer.current_image)), upright);
}

// Where the working folder cannot be written, the log goes to the state folder, made when
// needed; where nothing can be written, entries are dropped and the program goes on.
TEST(Log, GoesToTheStateFolderWhereTheProgramFolderIsNotWritable) {
  const std::string base = test_temp_dir() + "/log";
  mkdir(base.c_str(), 0755);
  for (const char* home : {"/home1", "/home2", "/state"}) {
    mkdir((base + home).c_str(), 0755);
    chmod((base + home).c_str(), 0777);
  }
  const struct {
    const char *cwd, *state, *home, *expected;  // below `base`; no home: one nothing can be written in
  } rows[] = {
      {"", "/state", "/home1", "/state/korvela/zz_KRVL.log"},
      {"", nullptr, "/home2", "/home2/.local/state/korvela/zz_KRVL.log"},
      {"", "relative", "/home1", "/home1/.local/state/korvela/zz_KRVL.log"},
      {"/home2", "/state", "/home1", "/home2/zz_KRVL.log"},
      {"", nullptr, nullptr, ""},
  };
  const std::string said = as_unprivileged([&] {
    std::string out;
    for (const auto& row : rows) {
      if (chdir((base + row.cwd).c_str()) != 0) return std::string("no folder");
      row.state != nullptr ? setenv("XDG_STATE_HOME", row.state[0] == '/' ? (base + row.state).c_str() : row.state, 1)
                           : unsetenv("XDG_STATE_HOME");
      setenv("HOME", row.home != nullptr ? (base + row.home).c_str() : "/proc/none", 1);
      log_set_path("KRVL");
      log_write("entree");
      out += (access(log_path(), R_OK) == 0 ? std::string(log_path()).substr(base.size()) : "") + "\n";
    }
    return out + std::to_string(g_error);
  });
  std::vector<std::string> expected;
  for (const auto& row : rows) expected.push_back(row.expected);
  EXPECT_EQ(said, lines(expected) + "0");
  EXPECT_NE(read_file(base + "/state/korvela/zz_KRVL.log").size(), 0u);
}

}  // namespace
