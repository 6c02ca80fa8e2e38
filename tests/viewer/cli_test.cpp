#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/test_support.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"

namespace {

std::string korvela(const std::string& args, int* status, const std::string& start_dir = ".") {
  return command_output("cd '" + start_dir + "' && " + KORVELA_BINARY + " " + args + " 2>&1", status);
}

}  // namespace

// Relative names are resolved from the start directory.
TEST(CommandLine, InfoReportsEveryKindOfFailure) {
  const std::string text = write_temp_file("cli-text.txt", std::string("plain text, no picture"));
  const std::string empty = write_temp_file("cli-empty.bin", std::string());
  const std::string version = write_temp_file("cli-version.dat", std::string("Version 7\n"));
  const std::string missing = test_temp_dir() + "/cli-missing.png";
  int status = 0;
  EXPECT_EQ(korvela("--info cli-text.txt " + missing + " " + empty + " " + version, &status, test_temp_dir()),
            text + " : Format inconnu\n" + missing + " : Fichier inconnu\n" + empty + " : Format inconnu\n" + version +
                " : Format inconnu\n");
  EXPECT_EQ(status, 1);
}

TEST(CommandLine, DirectoryWithoutPictures) {
  std::string dir = test_temp_dir() + "/cli-tree";
  mkdir(dir.c_str(), 0755);
  write_temp_file("cli-tree/readme.txt", std::string("nothing to see"));
  int status = 0;
  EXPECT_EQ(korvela("--info " + dir, &status), "Aucune image dans le repertoire\n");
  EXPECT_EQ(status, 1);
}

// One version number: the program's, its title's and its launcher's.
TEST(CommandLine, HelpOneVersionAndBadUsage) {
  const std::string version = std::string(kProgramTitle).substr(std::strlen("Korvela v"));
  int status = 0;
  EXPECT_NE(korvela("--help", &status).find("--export"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(korvela("--version", &status), "korvela " + version + "\n");
  const std::string binary = KORVELA_BINARY;
  EXPECT_NE(read_text(binary.substr(0, binary.rfind('/')) + "/korvela.desktop").find("\nX-Korvela-Version=" + version + "\n"),
            std::string::npos);
  for (const char* bad : {"--export only-one-argument", "--no-such-option"}) {
    korvela(bad, &status);
    EXPECT_EQ(status, 2) << bad;
  }
}

// Pages and frames are numbered, each the picture our loader gives; a write that fails (a full
// disk, a folder that is not ours) is reported and leaves nothing behind.
TEST(CommandLine, ExportNumbersPagesAndLeavesNothingHalfWritten) {
  const std::string dir = test_temp_dir() + "/cli-export";
  mkdir(dir.c_str(), 0755);
  int status = 0;
  for (const char* file : {"tiff-pages.tif", "gif_spinner.gif"}) {
    test_reset();
    const LoadResult loaded = load_file(sample(file));
    const long images = long(loaded.images.size());
    ASSERT_GT(images, 1) << file;
    const std::string info = korvela("--info " + sample(file), &status);
    EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), images) << info;
    EXPECT_EQ(korvela("--export " + dir + "/" + file + ".ppm " + sample(file), &status), "");
    EXPECT_EQ(status, 0);
    for (long n = 1; n <= images + 1; ++n) {
      const std::string page = dir + "/" + file + "-" + std::to_string(n) + ".ppm";
      int width = 0, height = 0;
      std::vector<uint32_t> exported;
      EXPECT_EQ(read_pnm_rgb(page, &width, &height, &exported), n <= images) << n;
      if (n <= images) { EXPECT_EQ(exported, image_rgb(loaded.images[n - 1])) << n; }
    }
  }
  const std::string full = "trap '' XFSZ; ulimit -f 1; exec " + std::string(KORVELA_BINARY) + " --export " + dir + "/full.png ";
  const std::string not_ours = unprivileged_prefix() + KORVELA_BINARY + " --export " + dir + "/theirs.png ";
  for (const std::string& command : {full, not_ours}) {
    EXPECT_NE(command_output("(" + command + sample("rose.bmp") + ") 2>&1", &status).find(" : Impossible d'acceder au fichier"),
              std::string::npos) << command;
    EXPECT_EQ(status, 1);
  }
  EXPECT_EQ(command_output("ls " + dir + " | grep -c -e full -e theirs"), "0\n");
}

TEST(CommandLine, WithoutADisplayTheViewerSaysSoAndListsWhatInfoLists) {
  const std::string names = " " + sample("rose.bmp") + " " + test_temp_dir() + "/cli-gone.png";
  int status = 0;
  const std::string info = korvela("--info" + names, &status);
  const std::string viewer = command_output("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(KORVELA_BINARY) + names + " 2>&1", &status);
  EXPECT_EQ(viewer.substr(viewer.find('\n') + 1), info);
  EXPECT_EQ(viewer.rfind("korvela: no display", 0), 0u) << viewer;
  EXPECT_EQ(status, 1);
}
