#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "platform/fs.h"
#include "support/test_support.h"
#include "viewer/file_list.h"

namespace {

const std::string kJpegHead = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(20, 'j');
const std::string kPngHead = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(20, 'p');
const std::string kGifHead = "GIF89a" + std::string(20, 'g');

class FileList : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    cwd = fs_getcwd();
    g_file_list = 0;
    root = test_temp_dir() + "/walk-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(root.c_str(), 0755);
  }
  void TearDown() override { fs_chdir(cwd.c_str()); }
  void file(const std::string& relative, const std::string& bytes) {
    write_temp_file(root.substr(test_temp_dir().size() + 1) + "/" + relative, bytes);
  }
  void dir(const std::string& relative) { mkdir((root + "/" + relative).c_str(), 0755); }
  std::vector<std::string> listed(int32_t type) {
    std::vector<std::string> paths;
    Handle h = 0;
    FileDescriptor* d;
    for (group_find_next(g_file_list, type, &h, &d); h != 0; group_find_next(g_file_list, type, &h, &d))
      paths.push_back(d->path);
    return paths;
  }
  std::vector<std::string> shown() {
    std::vector<std::string> paths;
    Handle h = 0;
    for (file_list_next(&h); h != 0; file_list_next(&h))
      paths.push_back(obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, h)->path);
    return paths;
  }
  std::string cwd, root;
};

}  // namespace

TEST_F(FileList, WalkIsDepthFirstAndDropsWhatCannotBeShown) {
  file("b.jpg", kJpegHead);
  dir("sub");
  file("sub/c.png", kPngHead);
  file("d.gif", kGifHead);
  file("notes.txt", "just text");
  dir("empty");
  file_list_add(root.c_str(), &g_file_list);
  ASSERT_EQ(g_error, 0);
  EXPECT_EQ(listed(TYPE_FILE_DESCRIPTOR),
            (std::vector<std::string>{root + "/", root + "/b.jpg", root + "/d.gif", root + "/empty/",
                                      root + "/notes.txt", root + "/sub/", root + "/sub/c.png"}));
  EXPECT_EQ(shown(), (std::vector<std::string>{root + "/b.jpg", root + "/d.gif", root + "/sub/c.png"}));
  // The directories and the text file are gone from the list.
  EXPECT_EQ(listed(TYPE_FILE_DESCRIPTOR).size(), 3u);
  FileDescriptor* sub_file = nullptr;
  Handle h = 0;
  group_find_last(g_file_list, TYPE_FILE_DESCRIPTOR, &h, &sub_file);
  EXPECT_EQ(sub_file->depth, 2u);
}

TEST_F(FileList, NamedFilesStayAndAreReportedWhenTheirTurnComes) {
  file("notes.txt", "just text");
  file("a.gif", kGifHead);
  file_list_add((root + "/notes.txt").c_str(), &g_file_list);
  file_list_add((root + "/missing.png").c_str(), &g_file_list);
  file_list_add((root + "/a.gif").c_str(), &g_file_list);
  std::vector<std::string> order = shown();
  EXPECT_EQ(order, (std::vector<std::string>{root + "/notes.txt", root + "/missing.png", root + "/a.gif"}));
  Handle h = 0;
  file_list_next(&h);
  EXPECT_EQ(obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, h)->status, FILE_UNKNOWN);
  file_list_next(&h);
  EXPECT_EQ(obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, h)->status, FILE_MISSING);
}

TEST_F(FileList, EmptyTreeAndUnenterableDirectory) {
  dir("nothing");
  dir("nothing/deeper");
  file_list_add((root + "/nothing").c_str(), &g_file_list);
  EXPECT_EQ(g_error, 0);
  EXPECT_TRUE(shown().empty());
  // A folder that cannot be entered is left out with a log line; the list goes on.
  g_error = 0;
  fs_chdir(root.c_str());
  log_set_path("KRVL");
  dir_walk((root + "/no-such-directory").c_str());
  EXPECT_EQ(g_error, 0);
  const std::vector<uint8_t> log = read_file(log_path());
  EXPECT_NE(std::string(log.begin(), log.end()).find("Ignore : " + root + "/no-such-directory/ ("), std::string::npos);
}

TEST(Paths, RelativeNamesAreResolvedAgainstTheStartDirectory) {
  EXPECT_EQ(path_make_absolute("/home/u", "a.png"), "/home/u/a.png");
  EXPECT_EQ(path_make_absolute("/home/u/", "d/b.png"), "/home/u/d/b.png");
  EXPECT_EQ(path_make_absolute("/home/u", "/abs.png"), "/abs.png");
}
