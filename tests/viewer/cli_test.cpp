#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/test_support.h"

namespace {

std::string korvela(const std::string& args, int* status) {
  return command_output(std::string(KORVELA_BINARY) + " " + args + " 2>&1", status);
}

}  // namespace

TEST(CommandLine, InfoReportsEveryKindOfFailure) {
  std::string text = write_temp_file("cli-text.txt", std::string("plain text, no picture"));
  std::string empty = write_temp_file("cli-empty.bin", std::string());
  std::string version = write_temp_file("cli-version.dat", std::string("Version 7\n"));
  std::string missing = test_temp_dir() + "/cli-missing.png";
  int status = 0;
  std::string out = korvela("--info " + text + " " + missing + " " + empty + " " + version, &status);
  EXPECT_EQ(out, text + " : Format inconnu\n" + missing + " : Fichier inconnu\n" + empty +
                     " : Format inconnu\n" + version + " : Format inconnu\n");
  EXPECT_EQ(status, 1);
}

TEST(CommandLine, RelativeNamesAreResolvedFromTheStartDirectory) {
  write_temp_file("cli-rel.txt", std::string("text"));
  int status = 0;
  std::string out = command_output("cd " + test_temp_dir() + " && " + KORVELA_BINARY + " --info cli-rel.txt", &status);
  EXPECT_EQ(out, test_temp_dir() + "/cli-rel.txt : Format inconnu\n");
}

TEST(CommandLine, DirectoryWithoutPictures) {
  std::string dir = test_temp_dir() + "/cli-tree";
  mkdir(dir.c_str(), 0755);
  write_temp_file("cli-tree/readme.txt", std::string("nothing to see"));
  int status = 0;
  EXPECT_EQ(korvela("--info " + dir, &status), "Aucune image dans le repertoire\n");
  EXPECT_EQ(status, 1);
}

TEST(CommandLine, HelpVersionAndBadUsage) {
  int status = 0;
  EXPECT_NE(korvela("--help", &status).find("--export"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(korvela("--version", &status).rfind("korvela ", 0), 0u);
  korvela("--export only-one-argument", &status);
  EXPECT_EQ(status, 2);
  korvela("--no-such-option", &status);
  EXPECT_EQ(status, 2);
}
