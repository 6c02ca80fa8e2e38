// Identification at its edges: the corpus files already identify every format, so these are
// the near misses, the unsupported kinds, Targa and XPM found without a magic number, and
// files that are no files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "support/test_support.h"

namespace {

class Identify : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
  FileDescriptor* identify(const std::string& path) {
    Handle d;
    file_descriptor_create(path.c_str(), &list, &d);
    file_identify(d);
    return obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, d);
  }
  Handle list = 0;
};

std::string bytes(std::initializer_list<int> values) { return std::string(values.begin(), values.end()); }

}  // namespace

TEST_F(Identify, FirstBytesGiveStatusAndFormat) {
  std::string targa(18, '\0');
  targa[2] = 2;  // true colour, no interleaving
  std::string interleaved = targa;
  interleaved[17] = 0x40;
  std::string bm = targa;  // a Targa-looking header that starts with a magic of the table
  bm[0] = 'B', bm[1] = 'M';
  const struct {
    std::string head;
    int32_t status, format;
  } cases[] = {
      {"BM", FILE_SUPPORTED, FORMAT_BMP},  // shorter than five bytes: the rest compares as zeros
      {"MMx*zz", FILE_SUPPORTED, FORMAT_TIFF},  // byte 2 is not compared
      {bytes({0x0A, 5, 1, 8}), FILE_SUPPORTED, FORMAT_PCX},
      {"P7 1 1", FILE_UNKNOWN, 0},
      {"P0 1 1", FILE_UNKNOWN, 0},
      {bytes({0x0A, 5, 2, 8, 1, 1}), FILE_UNKNOWN, 0},
      {"#define x_width 8", FILE_UNKNOWN, 0},
      {"", FILE_UNKNOWN, 0},
      {"VeRsIoN 3\n", FILE_UNSUPPORTED, FORMAT_VERSION},
      {bytes({0, 0, 0x27, 0x0A, 1, 2}), FILE_UNSUPPORTED, FORMAT_27_0A},
      {"\n\n  /* XPM */\nstatic char *x[] = {};", FILE_SUPPORTED, FORMAT_XPM},
      {"/*XPM*/", FILE_SUPPORTED, FORMAT_XPM},
      {"/* xpm */", FILE_UNKNOWN, 0},
      {"   \n  ", FILE_UNKNOWN, 0},  // nothing but white space
      {targa + std::string(12, '\x7f'), FILE_SUPPORTED, FORMAT_TARGA},
      {interleaved + std::string(12, '\x7f'), FILE_UNKNOWN, 0},
      {std::string(30, 'q') + "TRUEVISION-XFILE." + std::string(1, '\0'), FILE_SUPPORTED, FORMAT_TARGA},
      {std::string(30, 'q') + "TRUEVISION-XFILE.x", FILE_UNKNOWN, 0},  // the signature's zero byte counts
      {bm + "xxxx", FILE_SUPPORTED, FORMAT_BMP},
  };
  int n = 0;
  for (const auto& c : cases) {
    FileDescriptor* d = identify(write_temp_file("id-" + std::to_string(++n), c.head));
    EXPECT_EQ(std::make_pair(d->status, d->format), std::make_pair(c.status, c.format)) << n;
  }
  EXPECT_EQ(identify(test_temp_dir() + "/does-not-exist.jpg")->status, FILE_MISSING);
  std::string dir = test_temp_dir() + "/a-directory";
  mkdir(dir.c_str(), 0755);
  EXPECT_EQ(identify(dir)->status, FILE_DIRECTORY);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Identify, DescriptorsOwnTheirPathText) {
  Handle d;
  file_descriptor_create("/some/where/x.png", &list, &d);
  EXPECT_STREQ(file_descriptor_path(d), "/some/where/x.png");
  int32_t texts = 0, descriptors = 0;
  group_count(list, TYPE_GROUP, &texts);
  group_count(list, TYPE_FILE_DESCRIPTOR, &descriptors);
  EXPECT_EQ(std::make_pair(texts, descriptors), std::make_pair(1, 1));
  const int objects = live_objects(TYPE_GROUP);
  file_descriptor_destroy(d);
  EXPECT_EQ(live_objects(TYPE_GROUP), objects - 1);  // the path text goes with it
  EXPECT_EQ(file_descriptor_path(d), nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}
