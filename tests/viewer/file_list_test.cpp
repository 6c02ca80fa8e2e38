#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
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
    root = test_temp_dir() + "/walk-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(root.c_str(), 0755);
  }
  void file(const std::string& relative, const std::string& bytes) {
    write_temp_file(root.substr(test_temp_dir().size() + 1) + "/" + relative, bytes);
  }
  void dir(const std::string& relative) { mkdir((root + "/" + relative).c_str(), 0755); }
  std::vector<std::string> listed(int32_t type) {
    std::vector<std::string> paths;
    for (const FileDescriptor* d : group_members<FileDescriptor>(list, type)) paths.push_back(d->path);
    return paths;
  }
  std::vector<std::string> shown() {
    std::vector<std::string> paths;
    Handle h = 0;
    for (file_list_next(list, &h); h != 0; file_list_next(list, &h))
      paths.push_back(obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, h)->path);
    return paths;
  }
  std::string root;
  Handle list = 0;
};

}  // namespace

TEST_F(FileList, WalkIsDepthFirstAndDropsWhatCannotBeShown) {
  file("b.jpg", kJpegHead);
  dir("sub");
  file("sub/c.png", kPngHead);
  file("d.gif", kGifHead);
  file("notes.txt", "just text");
  dir("empty");
  file_list_add(root.c_str(), &list);
  ASSERT_EQ(g_error, 0);
  EXPECT_EQ(listed(TYPE_FILE_DESCRIPTOR),
            (std::vector<std::string>{root + "/", root + "/b.jpg", root + "/d.gif", root + "/empty/",
                                      root + "/notes.txt", root + "/sub/", root + "/sub/c.png"}));
  EXPECT_EQ(shown(), (std::vector<std::string>{root + "/b.jpg", root + "/d.gif", root + "/sub/c.png"}));
  EXPECT_EQ(listed(TYPE_FILE_DESCRIPTOR).size(), 3u);  // the folders and the text file are gone
  FileDescriptor* sub_file = nullptr;
  Handle h = 0;
  group_find_last(list, TYPE_FILE_DESCRIPTOR, &h, &sub_file);
  EXPECT_EQ(sub_file->depth, 2u);
}

TEST(Paths, RelativeNamesAreResolvedAgainstTheStartDirectory) {
  EXPECT_EQ(path_make_absolute("/home/u", "a.png"), "/home/u/a.png");
  EXPECT_EQ(path_make_absolute("/home/u/", "d/b.png"), "/home/u/d/b.png");
  EXPECT_EQ(path_make_absolute("/home/u", "/abs.png"), "/abs.png");
}
