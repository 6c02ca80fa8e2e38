// The ECW decoder read through stand-in libraries built with the tests and loaded by the real
// dynamic loading path: records, planes, palettes, every refusal and bad answer, the loader.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "codecs/decoders.h"
#include "codecs/ecw/ecw_library.h"
#include "codecs/raster_test_support.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/image.h"

extern "C" {
#include "codecs/ecw/ncs_ecw_standin.h"
}

namespace {

struct StandinFile {
  uint32_t width = 1, height = 1;
  uint16_t bands = 1;
  uint8_t fail_call = 0;  // none
  uint32_t fail_row = 0;
  uint8_t seed = 0, flags = 0;
};

std::string write_standin_file(const std::string& name, const StandinFile& f) {
  return write_temp_file(name, Bytes().u8(0x65).u8(0x02).u8(0x01).u8(f.fail_call).u32le(f.width).u32le(f.height).u16le(f.bands)
                                   .u32le(f.fail_row).u8(f.seed).u8(f.flags).data);
}

std::string last_line(const std::string& path) {
  std::string text = read_text(path);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

bool loaded(const char* library) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

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
  }

  // Loads the file and checks what every outcome shares: the view is closed, the stand-in
  // saw only the arguments of a whole-picture read, and a failure leaves nothing behind.
  LoadResult load(const StandinFile& file) {
    reads_ = calls_(STANDIN_CALL_READ);
    closes_ = calls_(STANDIN_CALL_CLOSE);
    const int images_before = live_objects();
    g_error = 0;
    LoadResult r = load_file(write_standin_file("picture.ecw", file));
    EXPECT_EQ(std::make_pair(r.status, r.format), std::make_pair(2, 16));
    EXPECT_EQ(open_views_(), 0) << "a view was left open";
    EXPECT_EQ(calls_(STANDIN_CALL_BAD_ARGUMENTS), 0);
    reads_ = calls_(STANDIN_CALL_READ) - reads_;
    closes_ = calls_(STANDIN_CALL_CLOSE) - closes_;
    if (r.error != 0) {
      int32_t members = -1;
      group_count(r.group, 0, &members);
      EXPECT_EQ(std::make_pair(members, live_objects()), std::make_pair(0, images_before));
    }
    return r;
  }

  void* standin_ = nullptr;
  int (*open_views_)() = nullptr;
  int (*calls_)(int) = nullptr;
  int reads_ = 0, closes_ = 0;  // calls made by the last load
};

// Every band in its own plane, padding clear; the viewer shows one band as grey through the
// identity palette, the first three as red, green and blue.
void expect_picture(const ImageRecord* image, const StandinFile& c) {
  const int32_t row_bytes = int32_t((c.width + 3) / 4 * 4);
  EXPECT_EQ(std::vector<int64_t>({image->description, image->width, image->height, image->planes, image->bits,
                                  image->pixel_bytes, image->row_bytes, image->pixel_size}),
            std::vector<int64_t>({DESC_ECW, c.width, c.height, c.bands, 8, 1, row_bytes,
                                  int64_t{c.bands} * c.height * row_bytes}));
  bool planes_match = true;
  for (uint32_t b = 0; b < c.bands; ++b)
    for (uint32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < row_bytes; ++x)
        planes_match &= image->pixels[(size_t(b) * c.height + y) * row_bytes + x] ==
                        (x < int32_t(c.width) ? standin_sample(b, x, y, c.seed) : 0);
  EXPECT_TRUE(planes_match);
  std::vector<uint32_t> rgb;
  for (uint32_t y = 0; y < c.height; ++y)
    for (uint32_t x = 0; x < c.width; ++x)
      rgb.push_back(c.bands == 1 ? standin_sample(0, x, y, c.seed) * 0x010101u
                                 : uint32_t{standin_sample(0, x, y, c.seed)} << 16 |
                                       standin_sample(1, x, y, c.seed) << 8 | standin_sample(2, x, y, c.seed));
  EXPECT_TRUE(image_rgb(image) == rgb);
}

// Pictures of every shape, the library's refusals at each of its calls, and its answers that
// no picture can have; a failed close after a whole read keeps the picture.
TEST_F(EcwDecoder, EveryAnswerOfTheLibrary) {
  struct Case {
    const char* what;
    StandinFile file;
    int32_t error;
    int reads, closes;  // -1: not counted
  };
  const Case cases[] = {
      {"3 bands", {61, 19, 3, 0, 0, 17}, 0, 19, 1},
      {"1 band", {37, 23, 1, 0, 0, 34}, 0, 23, 1},
      {"1 pixel", {1, 1, 1}, 0, 1, 1},
      {"5 bands", {3, 2, 5, 0, 0, 51}, 0, 2, 1},
      {"256 bands", {3, 2, 256}, 0, 2, 1},
      {"refused open", {11, 13, 3, STANDIN_CALL_OPEN}, ERR_LOADING, 0, 0},
      {"refused information", {11, 13, 3, STANDIN_CALL_INFO}, ERR_LOADING, 0, 1},
      {"refused view", {11, 13, 3, STANDIN_CALL_SET_VIEW}, ERR_LOADING, 0, 1},
      {"refused first line", {11, 13, 3, STANDIN_CALL_READ, 0}, ERR_LOADING, 1, 1},
      {"refused middle line", {11, 13, 3, STANDIN_CALL_READ, 6}, ERR_LOADING, 7, 1},
      {"refused last line", {11, 13, 3, STANDIN_CALL_READ, 12}, ERR_LOADING, 13, 1},
      {"refused close", {11, 13, 3, STANDIN_CALL_CLOSE, 0, 99}, 0, 13, 1},
      {"no band", {5, 5, 0}, ERR_LOADING, -1, -1},
      {"257 bands", {5, 5, 257}, ERR_LOADING, -1, -1},
      {"no column", {0, 5, 1}, ERR_LOADING, -1, -1},
      {"no row", {5, 0, 1}, ERR_LOADING, -1, -1},
      {"no information", {5, 5, 1, 0, 0, 0, STANDIN_NULL_INFO}, ERR_LOADING, -1, -1},
      {"no view", {5, 5, 1, 0, 0, 0, STANDIN_NULL_VIEW}, ERR_LOADING, -1, -1},
      {"height beyond 31 bits", {1, 0xFFFFFFFFu, 1}, ERR_MEMORY, -1, -1},
      {"width next to the 31-bit limit", {0x7FFFFFFEu, 1, 1}, ERR_MEMORY, -1, -1},
      {"product beyond 32 bits", {0x10000, 0x10000, 3}, ERR_MEMORY, -1, -1},
      {"product beyond 64 bits of intermediate", {0x7FFFFFF0u, 0x7FFFFFFFu, 256}, ERR_MEMORY, -1, -1},
      {"beyond the memory limit", {4096, 4096, 200}, ERR_MEMORY, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoadResult r = load(c.file);
    EXPECT_EQ(r.error, c.error);
    if (c.reads >= 0) { EXPECT_EQ(std::make_pair(reads_, closes_), std::make_pair(c.reads, c.closes)); }
    if (c.error == 0 && !r.images.empty()) expect_picture(r.images[0], c.file);
  }
  // A file the library cannot open at all.
  EXPECT_EQ(load_file(write_temp_file("bare.ecw", std::vector<uint8_t>{0x65, 0x02, 0x01, 0x00})).error, ERR_LOADING);
}

TEST_F(EcwDecoder, MemoryFailuresCloseTheViewAndFreeTheWorkingArrays) {
  // The decoder is called directly so that the limit touches only its own allocations:
  // 256 bands need a 1024-byte band list and a 2048-byte line-pointer array; a 4 x 1 picture
  // needs 1024 bytes of pixels, a 4 x 2 one 2048.
  const std::pair<uint32_t, size_t> cases[] = {{1, 512}, {2, 1500}, {1, 1500}};  // height, limit
  for (const auto& [height, limit] : cases) {
    SCOPED_TRACE(limit);
    Handle group = 0, handle = 0;
    group_create(&group);
    ImageRecord* image;
    obj_create(TYPE_IMAGE, &handle, &image);
    ASSERT_NE(image, nullptr);
    std::snprintf(image->name, sizeof image->name, "%s", write_standin_file("memory.ecw", {4, height, 256}).c_str());
    const int closes = calls_(STANDIN_CALL_CLOSE);
    mem_set_limit(limit);
    decode_ecw(image, group);
    mem_set_limit(size_t{1} << 30);
    EXPECT_EQ(g_error, ERR_MEMORY);
    EXPECT_EQ(std::make_pair(open_views_(), calls_(STANDIN_CALL_CLOSE) - closes), std::make_pair(0, 1));
    EXPECT_EQ(calls_(STANDIN_CALL_READ), 0);
    g_error = 0;
  }
}

// The loader: a missing library or entry point fails with 7 and one log line, and nothing
// is kept loaded; the library is loaded by the first ECW file only, and kept.
TEST(EcwLibraryLoading, MissingPiecesThenTheFirstEcwFile) {
  test_reset();
  const std::string log = log_to_temp("ECW");
  const std::string missing = test_temp_dir() + "/nowhere/libNCSEcw.so";
  ecw_library_set_path(missing.c_str());
  EXPECT_EQ(load_file(write_standin_file("nolib.ecw", {4, 4, 1})).error, ERR_LOADING);
  EXPECT_EQ(live_objects(), 0);
  EXPECT_EQ(last_line(log), "Bibliotheque ECW introuvable : " + missing);
  const std::string text = read_text(log);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);  // one entry: header and text

  ecw_library_set_path(KORVELA_ECW_PARTIAL);
  EXPECT_EQ(load_file(write_standin_file("partial.ecw", {4, 4, 1})).error, ERR_LOADING);
  EXPECT_EQ(last_line(log), std::string("Point d'entree ECW introuvable : NCScbmReadViewLineBIL dans ") + KORVELA_ECW_PARTIAL);
  EXPECT_FALSE(loaded(KORVELA_ECW_PARTIAL));

  ecw_library_set_path(KORVELA_ECW_STANDIN);
  const size_t logged = read_text(log).size();
  load_file(write_temp_file("other.bmp", std::string("BM") + std::string(60, '\0')));
  EXPECT_FALSE(loaded(KORVELA_ECW_STANDIN));  // a file of another format does not load it
  g_error = 0;
  EXPECT_EQ(load_file(write_standin_file("first.ecw", {2, 2, 1})).error, 0);
  EXPECT_TRUE(loaded(KORVELA_ECW_STANDIN));
  const EcwLibrary* first = ecw_library();
  EXPECT_EQ(ecw_library(), first);
  EXPECT_EQ(read_text(log).size(), logged);
  ecw_library_set_path(nullptr);
}

// The program itself looks for the library under its own name where the system looks for
// libraries, and so finds the stand-in through LD_LIBRARY_PATH.
TEST(EcwProgram, InfoThroughTheLibraryPath) {
  test_reset();
  const std::string path = write_standin_file("program.ecw", {23, 9, 3});
  const std::string dir = std::string(KORVELA_ECW_STANDIN).substr(0, std::string(KORVELA_ECW_STANDIN).rfind('/'));
  int status = -1;
  EXPECT_EQ(command_output("LD_LIBRARY_PATH='" + dir + "' '" + KORVELA_BINARY + "' --info '" + path + "'", &status),
            path + " - 23 x 9 pixels - 3 x 8 bits - ECW\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
