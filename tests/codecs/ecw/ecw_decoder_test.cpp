// The ECW decoder read through stand-in libraries built with the tests and loaded by the real
// dynamic loading path: records, planes, palettes, and every refusal and bad answer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/decoders.h"
#include "codecs/ecw/ecw_library.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/image.h"
#include "support/test_support.h"

extern "C" {
#include "codecs/ecw/ncs_ecw_standin.h"
}

namespace {

struct StandinFile {
  uint32_t width = 1;
  uint32_t height = 1;
  uint16_t bands = 1;
  uint8_t fail_call = STANDIN_FAIL_NONE;
  uint32_t fail_row = 0;
  uint8_t seed = 0;
  uint8_t flags = 0;
};

std::string write_standin_file(const std::string& name, const StandinFile& f) {
  std::vector<uint8_t> bytes = {0x65, 0x02, 0x01, f.fail_call};
  const auto put = [&bytes](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
  };
  put(f.width, 4), put(f.height, 4), put(f.bands, 2), put(f.fail_row, 4), put(f.seed, 1), put(f.flags, 1);
  bytes.resize(STANDIN_HEADER_SIZE + 12);
  return write_temp_file(name, bytes);
}

std::string last_line(const std::string& path) {
  std::string text = read_text(path);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  size_t nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

// The picture the viewer shows of a stand-in file: grey for one band, the first three bands
// as red, green and blue otherwise.
std::vector<uint32_t> standin_rgb(uint32_t width, uint32_t height, uint16_t bands, uint8_t seed) {
  std::vector<uint32_t> rgb;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t red = standin_sample(0, x, y, seed);
      rgb.push_back(bands == 1 ? red * 0x010101u
                               : red << 16 | standin_sample(1, x, y, seed) << 8 | standin_sample(2, x, y, seed));
    }
  return rgb;
}

std::string directory_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

class EcwDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    ecw_library_set_path(KORVELA_ECW_STANDIN);
    // Our own reference keeps the stand-in's counters alive across the decoder's unloads.
    standin_ = dlopen(KORVELA_ECW_STANDIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(standin_, nullptr) << dlerror();
    open_views_ = reinterpret_cast<int (*)()>(dlsym(standin_, "ncs_standin_open_views"));
    calls_ = reinterpret_cast<int (*)(int)>(dlsym(standin_, "ncs_standin_calls"));
    auto reset = reinterpret_cast<void (*)()>(dlsym(standin_, "ncs_standin_reset"));
    ASSERT_TRUE(open_views_ && calls_ && reset);
    reset();
  }
  void TearDown() override {
    ecw_library_set_path(nullptr);
    if (standin_ != nullptr) dlclose(standin_);
    mem_set_limit(size_t{1} << 30);
  }

  // Loads the file and checks what every outcome shares: the view is closed, the stand-in
  // saw only the arguments of a whole-picture read, and a failure leaves nothing behind.
  LoadResult load(const std::string& path) {
    const int images_before = live_images();
    LoadResult r = load_file(path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.format, 16);
    EXPECT_EQ(open_views_(), 0) << "a view was left open";
    EXPECT_EQ(calls_(STANDIN_CALL_BAD_ARGUMENTS), 0);
    if (r.error != 0) {
      int32_t members = -1;
      group_count(r.group, 0, &members);
      EXPECT_EQ(members, 0);
      EXPECT_EQ(live_images(), images_before);
    }
    return r;
  }

  void *standin_ = nullptr;
  int (*open_views_)() = nullptr;
  int (*calls_)(int) = nullptr;
};

TEST_F(EcwDecoder, ReadsEveryBandIntoItsOwnPlane) {
  struct Case {
    uint32_t width, height;
    uint16_t bands;
  };
  const Case cases[] = {{61, 19, 3}, {37, 23, 1}, {1, 1, 1}, {3, 2, 5}};
  uint8_t seed = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bands));
    g_error = 0;
    seed += 17;
    int reads = calls_(STANDIN_CALL_READ), closes = calls_(STANDIN_CALL_CLOSE);
    LoadResult r = load(write_standin_file("picture.ecw", {c.width, c.height, c.bands, 0, 0, seed}));
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.images.size(), 1u);
    const ImageRecord* image = r.images[0];
    const int32_t row_bytes = int32_t((c.width + 3) / 4 * 4);
    EXPECT_EQ(std::vector<int64_t>({image->description, image->width, image->height, image->planes, image->bits,
                                    image->pixel_bytes, image->row_bytes, image->pixel_size}),
              std::vector<int64_t>({DESC_ECW, c.width, c.height, c.bands, 8, 1, row_bytes,
                                    int64_t{c.bands} * c.height * row_bytes}));
    EXPECT_EQ(calls_(STANDIN_CALL_READ) - reads, int(c.height));
    EXPECT_EQ(calls_(STANDIN_CALL_CLOSE) - closes, 1);
    // Every band in its own plane, padding clear; what the viewer shows is grey through the
    // identity palette for one band, the first three bands as red, green and blue otherwise.
    bool planes_match = true;
    for (uint32_t b = 0; b < c.bands; ++b)
      for (uint32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < row_bytes; ++x)
          planes_match &= image->pixels[(size_t(b) * c.height + y) * row_bytes + x] ==
                          (x < int32_t(c.width) ? standin_sample(b, x, y, seed) : 0);
    EXPECT_TRUE(planes_match);
    EXPECT_TRUE(image_rgb(image) == standin_rgb(c.width, c.height, c.bands, seed));
  }
}

TEST_F(EcwDecoder, EveryRefusalOfTheLibraryFailsWithSevenAndClosesTheView) {
  struct Case {
    const char* what;
    uint8_t fail_call;
    uint32_t fail_row;
    int closes, reads;
    int32_t error;
  };
  const uint32_t height = 13;
  const Case cases[] = {
      {"open", STANDIN_FAIL_OPEN, 0, 0, 0, ERR_LOADING},
      {"information", STANDIN_FAIL_INFO, 0, 1, 0, ERR_LOADING},
      {"set view", STANDIN_FAIL_SET_VIEW, 0, 1, 0, ERR_LOADING},
      {"first line", STANDIN_FAIL_READ, 0, 1, 1, ERR_LOADING},
      {"middle line", STANDIN_FAIL_READ, 6, 1, 7, ERR_LOADING},
      {"last line", STANDIN_FAIL_READ, height - 1, 1, int(height), ERR_LOADING},
      {"close after a whole read: the picture stays", STANDIN_FAIL_CLOSE, 0, 1, int(height), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_error = 0;
    int reads = calls_(STANDIN_CALL_READ), closes = calls_(STANDIN_CALL_CLOSE);
    LoadResult r = load(write_standin_file("refused.ecw", {11, height, 3, c.fail_call, c.fail_row, 99}));
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(calls_(STANDIN_CALL_READ) - reads, c.reads);
    EXPECT_EQ(calls_(STANDIN_CALL_CLOSE) - closes, c.closes);
    if (c.error == 0) {
      EXPECT_EQ(r.images.at(0)->pixels[(2 * height + 3) * 12 + 8], standin_sample(2, 8, 3, 99));
    }
  }
  // A file the library cannot open at all.
  EXPECT_EQ(load(write_temp_file("bare.ecw", std::vector<uint8_t>{0x65, 0x02, 0x01, 0x00})).error, ERR_LOADING);
}

TEST_F(EcwDecoder, BadAnswersOfTheLibraryAreRefused) {
  struct Case {
    const char* what;
    StandinFile file;
    int32_t error;
  };
  const Case cases[] = {
      {"no band", {5, 5, 0}, ERR_LOADING},
      {"257 bands", {5, 5, 257}, ERR_LOADING},
      {"no column", {0, 5, 1}, ERR_LOADING},
      {"no row", {5, 0, 1}, ERR_LOADING},
      {"no information", {5, 5, 1, 0, 0, 0, STANDIN_NULL_INFO}, ERR_LOADING},
      {"no view", {5, 5, 1, 0, 0, 0, STANDIN_NULL_VIEW}, ERR_LOADING},
      {"width beyond 31 bits", {0x80000000u, 1, 1}, ERR_MEMORY},
      {"height beyond 31 bits", {1, 0xFFFFFFFFu, 1}, ERR_MEMORY},
      {"width next to the 31-bit limit", {0x7FFFFFFEu, 1, 1}, ERR_MEMORY},
      {"product beyond 32 bits", {0x10000, 0x10000, 3}, ERR_MEMORY},
      {"product beyond 64 bits of intermediate", {0x7FFFFFF0u, 0x7FFFFFFFu, 256}, ERR_MEMORY},
      {"beyond the memory limit", {4096, 4096, 200}, ERR_MEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_error = 0;
    LoadResult r = load(write_standin_file("bad.ecw", c.file));
    EXPECT_EQ(r.error, c.error);
  }
  // The largest band count is still a picture.
  g_error = 0;
  LoadResult r = load(write_standin_file("many.ecw", {3, 2, 256}));
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images.at(0)->planes, 256);
  EXPECT_EQ(r.images[0]->pixels[255 * 2 * 4 + 4 + 2], standin_sample(255, 2, 1, 0));
}

TEST_F(EcwDecoder, MemoryFailuresCloseTheViewAndFreeTheWorkingArrays) {
  // The decoder is called directly so that the limit touches only its own allocations:
  // 256 bands need a 1024-byte band list and a 2048-byte line-pointer array; a 4 x 1 picture
  // needs 1024 bytes of pixels, a 4 x 2 one 2048.
  struct Case {
    const char* what;
    uint32_t height;
    size_t limit;
  };
  const Case cases[] = {
      {"band list", 1, 512}, {"pixels", 2, 1500}, {"line pointers", 1, 1500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_error = 0;
    std::string path = write_standin_file("memory.ecw", {4, c.height, 256});
    Handle group = 0, handle = 0;
    group_create(&group);
    ImageRecord* image;
    obj_create(TYPE_IMAGE, &handle, &image);
    ASSERT_NE(image, nullptr);
    std::snprintf(image->name, sizeof image->name, "%s", path.c_str());
    int closes = calls_(STANDIN_CALL_CLOSE);
    mem_set_limit(c.limit);
    decode_ecw(image, group);
    mem_set_limit(size_t{1} << 30);
    EXPECT_EQ(g_error, ERR_MEMORY);
    EXPECT_EQ(open_views_(), 0);
    EXPECT_EQ(calls_(STANDIN_CALL_CLOSE) - closes, 1);
    EXPECT_EQ(calls_(STANDIN_CALL_READ), 0);
    g_error = 0;
  }
}

// The loader on its own: missing libraries and entry points, and when it loads.
class EcwLibraryLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    log_ = log_to_temp("ECW");
    ASSERT_FALSE(log_.empty());
  }
  void TearDown() override { ecw_library_set_path(nullptr); }
  std::string log_;
};

TEST_F(EcwLibraryLoading, MissingLibraryFailsWithSevenAndOneLogLine) {
  const std::string missing = test_temp_dir() + "/nowhere/libNCSEcw.so";
  ecw_library_set_path(missing.c_str());
  LoadResult r = load_file(write_standin_file("nolib.ecw", {4, 4, 1}));
  EXPECT_EQ(r.error, ERR_LOADING);
  EXPECT_EQ(live_images(), 0);
  int32_t members = -1;
  group_count(r.group, 0, &members);
  EXPECT_EQ(members, 0);
  EXPECT_EQ(last_line(log_), "Bibliotheque ECW introuvable : " + missing);
  const std::string log = read_text(log_);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);  // one entry: header and text

  // Under its own name the library is looked for where the system looks for libraries.
  ecw_library_set_path(nullptr);
  EXPECT_STREQ(ecw_library_name(), "libNCSEcw.so");
  if (void* installed = dlopen("libNCSEcw.so", RTLD_NOW | RTLD_LOCAL)) {
    dlclose(installed);
    GTEST_SKIP() << "an ECW library is installed on this machine";
  }
  g_error = 0;
  EXPECT_EQ(ecw_library(), nullptr);
  EXPECT_EQ(g_error, ERR_LOADING);
  EXPECT_EQ(last_line(log_), "Bibliotheque ECW introuvable : libNCSEcw.so");
}

TEST_F(EcwLibraryLoading, MissingEntryPointFailsWithSevenThenALaterLibraryIsUsed) {
  ecw_library_set_path(KORVELA_ECW_PARTIAL);
  LoadResult r = load_file(write_standin_file("partial.ecw", {4, 4, 1}));
  EXPECT_EQ(r.error, ERR_LOADING);
  EXPECT_EQ(last_line(log_),
            std::string("Point d'entree ECW introuvable : NCScbmReadViewLineBIL dans ") +
                KORVELA_ECW_PARTIAL);
  // The incomplete library is not kept loaded.
  EXPECT_EQ(dlopen(KORVELA_ECW_PARTIAL, RTLD_NOW | RTLD_NOLOAD), nullptr);

  // The program goes on: once a complete library is there, the next ECW file loads.
  ecw_library_set_path(KORVELA_ECW_STANDIN);
  g_error = 0;
  r = load_file(write_standin_file("partial.ecw", {4, 4, 1}));
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.images.size(), 1u);
}

TEST_F(EcwLibraryLoading, TheLibraryIsLoadedByTheFirstEcwFileOnly) {
  ecw_library_set_path(KORVELA_ECW_STANDIN);
  EXPECT_EQ(dlopen(KORVELA_ECW_STANDIN, RTLD_NOW | RTLD_NOLOAD), nullptr);
  // A file of another format does not load it.
  load_file(write_temp_file("other.bmp", std::string("BM") + std::string(60, '\0')));
  EXPECT_EQ(dlopen(KORVELA_ECW_STANDIN, RTLD_NOW | RTLD_NOLOAD), nullptr);
  g_error = 0;
  ASSERT_EQ(load_file(write_standin_file("first.ecw", {2, 2, 1})).error, 0);
  void* loaded = dlopen(KORVELA_ECW_STANDIN, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(loaded, nullptr);
  if (loaded != nullptr) dlclose(loaded);
  // Loaded once, the same entry points serve every later file.
  const EcwLibrary* first = ecw_library();
  EXPECT_EQ(ecw_library(), first);
  EXPECT_EQ(read_file(log_).size(), 0u);
}

// The program itself finds the stand-in under the library's own name through LD_LIBRARY_PATH.
TEST(EcwProgram, InfoThroughTheLibraryPath) {
  test_reset();
  const std::string path = write_standin_file("program.ecw", {23, 9, 3});
  int status = -1;
  EXPECT_EQ(command_output("LD_LIBRARY_PATH='" + directory_of(KORVELA_ECW_STANDIN) + "' '" + KORVELA_BINARY +
                               "' --info '" + path + "'", &status),
            path + " - 23 x 9 pixels - 3 x 8 bits - ECW\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
