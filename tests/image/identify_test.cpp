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
  FileDescriptor* identify_bytes(const std::string& bytes) {
    return identify(write_temp_file("id-" + std::to_string(++counter), bytes));
  }
  Handle list = 0;
  int counter = 0;
};

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace

TEST_F(Identify, MagicBytesGiveTheFormat) {
  struct Case {
    std::string head;
    int32_t format;
  } cases[] = {
      {"BM", FORMAT_BMP},  // shorter than five bytes: the rest compares as zeros
      {bytes({0xFF, 0xD8, 0xFF, 0xE0}), FORMAT_JPEG},
      {"II*\0", FORMAT_TIFF},
      {"MMx*", FORMAT_TIFF},  // byte 2 is not compared
      {"GIF89a", FORMAT_GIF},
      {bytes({0x89, 'P', 'N', 'G', 13, 10}), FORMAT_PNG},
      {bytes({0x59, 0xA6, 0x6A, 0x95, 0}), FORMAT_SUN},
      {"P1\n", 6}, {"P2\n", 7}, {"P3\n", 8}, {"P4\n", 9}, {"P5\n", 10}, {"P6\n", 11},
      {bytes({0x0A, 5, 0, 8}), FORMAT_PCX},
      {bytes({0x0A, 5, 1, 8}), FORMAT_PCX},
      {bytes({0x65, 0x02, 0x01, 0x00}), FORMAT_ECW},
  };
  for (const Case& c : cases) {
    FileDescriptor* d = identify_bytes(c.head + std::string(30, 'z'));
    EXPECT_EQ(std::make_pair(d->status, d->format), std::make_pair(int32_t{FILE_SUPPORTED}, c.format)) << c.head;
  }
  FileDescriptor* two = identify_bytes("BM");
  EXPECT_EQ(two->format, FORMAT_BMP);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Identify, NearMissesStayUnknown) {
  for (const std::string& head : {std::string("P7 1 1"), std::string("P0 1 1"),
                                  bytes({0x0A, 5, 2, 8, 1, 1}), std::string("hello world"),
                                  std::string("/* xpm */"), std::string("#define x_width 8")}) {
    FileDescriptor* d = identify_bytes(head);
    EXPECT_EQ(std::make_pair(d->status, d->format), std::make_pair(int32_t{FILE_UNKNOWN}, 0)) << head;
  }
}

TEST_F(Identify, RecognisedButUnsupported) {
  FileDescriptor* v = identify_bytes("VeRsIoN 3\n");
  EXPECT_EQ(std::make_pair(v->status, v->format), std::make_pair(int32_t{FILE_UNSUPPORTED}, int32_t{FORMAT_VERSION}));
  FileDescriptor* w = identify_bytes(bytes({0, 0, 0x27, 0x0A, 1, 2}));
  EXPECT_EQ(std::make_pair(w->status, w->format), std::make_pair(int32_t{FILE_UNSUPPORTED}, int32_t{FORMAT_27_0A}));
}

TEST_F(Identify, XpmByItsComment) {
  EXPECT_EQ(identify_bytes("\n\n  /* XPM */\nstatic char *x[] = {};")->format, FORMAT_XPM);
  EXPECT_EQ(identify_bytes("/*XPM*/")->format, FORMAT_XPM);
  EXPECT_EQ(identify_bytes("/* xpm */")->status, FILE_UNKNOWN);
  EXPECT_EQ(identify_bytes("   \n  ")->status, FILE_UNKNOWN);  // nothing but white space
}

TEST_F(Identify, TargaByFooterOrHeader) {
  std::string header(18, '\0');
  header[2] = 2;  // true colour, no interleaving
  EXPECT_EQ(identify_bytes(header + std::string(12, '\x7f'))->format, FORMAT_TARGA);
  header[17] = static_cast<char>(0x40);  // interleaved: not Targa
  EXPECT_EQ(identify_bytes(header + std::string(12, '\x7f'))->status, FILE_UNKNOWN);
  std::string footer = std::string(30, 'q') + "TRUEVISION-XFILE." + std::string(1, '\0');
  EXPECT_EQ(identify_bytes(footer)->format, FORMAT_TARGA);
  // A Targa-looking header that starts with a magic of the table takes that format.
  std::string bm = header;
  bm[0] = 'B';
  bm[1] = 'M';
  bm[17] = 0;
  bm[2] = 2;
  EXPECT_EQ(identify_bytes(bm + "xxxx")->format, FORMAT_BMP);
}

TEST_F(Identify, EmptyMissingAndDirectories) {
  FileDescriptor* empty = identify_bytes("");
  EXPECT_EQ(std::make_pair(empty->status, empty->format), std::make_pair(int32_t{FILE_UNKNOWN}, 0));
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
  file_descriptor_destroy(d);
  EXPECT_EQ(file_descriptor_path(d), nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}
