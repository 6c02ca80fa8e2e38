// The GIF decoder as a whole: files made by ImageMagick, gifsicle and Pillow compared frame
// by frame with giflib's decoding composed into full pictures; the records a decode leaves
// in the group; composition, timing and loop counts; and refusals of broken files.
#include <gtest/gtest.h>

#include <cstdio>

#include "codecs/gif/gif_test_util.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "support/test_support.h"

using namespace gif_test;

namespace {

// The files of tools/make_gif_cases.py, made once per process.
std::string tool_file(const std::string& name) {
  static const std::string dir = [] {
    const std::string out = test_temp_dir() + "/gif_cases";
    EXPECT_EQ(run_tool_script("make_gif_cases.py " + out), 0) << "the GIF case generator failed";
    return out;
  }();
  return dir + "/" + name;
}

class GifDecoder : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
  void TearDown() override { fresh(); }

  // Releases every load of the test so far (a second registry reset would lose them).
  void fresh() {
    for (const LoadResult& r : loaded_) release(r);
    loaded_.clear();
    g_error = 0;
  }

  LoadResult load_path(const std::string& path) {
    LoadResult r = load_file(path);
    loaded_.push_back(r);
    return r;
  }

  std::vector<LoadResult> loaded_;

  // Member types of the group in order: C frame control, I image, P pixel block.
  static std::string layout(Handle group) {
    GroupRecord* record = obj_get<GroupRecord>(TYPE_GROUP, group);
    std::string text;
    for (uint32_t i = 0; record != nullptr && i < sarray_count(&record->array, kMemberStride); ++i) {
      auto* m = reinterpret_cast<GroupMember*>(sarray_entry(&record->array, kMemberStride, i));
      text += m->type == TYPE_FRAME_CONTROL ? 'C' : m->type == TYPE_IMAGE ? 'I' : m->type == TYPE_GROUP ? 'P' : '?';
    }
    return text;
  }

  LoadResult load(const std::vector<uint8_t>& bytes) {
    return load_path(write_temp_file("built.gif", bytes));
  }

  // The stored index at column x, row y.
  static uint8_t at(const ImageRecord* image, int x, int y) { return pixel_at(image, y, x); }
};

TEST_F(GifDecoder, StillImagesFromToolsMatchGiflib) {
  std::vector<std::string> files = {"rose.gif", "rose_il.gif", "grad2.gif", "grad16.gif", "plasma.gif", "sicle_il.gif"};
  for (int bits = 1; bits <= 8; ++bits)
    for (int white = 0; white <= 1; ++white) files.push_back("pal" + std::to_string(bits) + "_" + std::to_string(white) + ".gif");
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const std::string path = tool_file(name);
    EXPECT_EQ(compare_with_giflib(path), "");
    fresh();
    LoadResult r = load_path(path);
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.images.size(), 1u);
    const ImageRecord* image = r.images[0];
    const std::vector<uint8_t> file = read_file(path);
    // gifsicle and Pillow write 87a where nothing needs 89a.
    EXPECT_EQ(image->description, file[4] == '7' ? DESC_GIF87A : DESC_GIF89A);
    EXPECT_EQ(std::make_pair(image->pixel_bytes, image->row_bytes % 4), std::make_pair(1, 0));
    // The dispatcher's record served as template only: one image lives, the frame.
    EXPECT_EQ(live_images(), 1);
    if (name.rfind("pal", 0) != 0) continue;
    EXPECT_EQ(layout(r.group), "IP");
    // Pillow writes at least 4 entries; without white, white is appended after the entries
    // in use (not to a full table).
    const int stored_bits = (file[10] & 7) + 1, bits = name[3] - '0';
    EXPECT_EQ(std::make_pair(image->bits, stored_bits), std::make_pair(stored_bits, bits < 2 ? 2 : bits));
    if (name[5] == '0' && stored_bits < 8) {
      EXPECT_EQ(palette_rgb(image, 1 << stored_bits), 0xFFFFFFu);
    }
  }
}

TEST_F(GifDecoder, BackgroundIsThePalettesWhiteEntry) {
  // A small frame on a larger screen leaves background around it.
  struct Case {
    std::vector<uint8_t> palette;
    int bits;
    uint8_t background;
  };
  std::vector<uint8_t> with_white = test_palette(4);
  with_white[6] = with_white[7] = with_white[8] = 255;  // entry 2
  std::vector<uint8_t> full = test_palette(256);
  full[3 * 77] = 254, full[3 * 77 + 1] = 255, full[3 * 77 + 2] = 255;  // nearest to white
  const std::vector<Case> cases = {{test_palette(4), 2, 4}, {with_white, 2, 2}, {full, 8, 77}};
  for (const Case& c : cases) {
    fresh();
    Builder b;
    b.screen(10, 6, c.bits, c.palette).pixels(3, 2, 4, 2, std::vector<uint8_t>(8, 1), 2).trailer();
    LoadResult r = load(b.bytes);
    ASSERT_EQ(r.error, 0);
    const ImageRecord* image = r.images[0];
    // Corners, the frame's corners, and right of it.
    EXPECT_EQ((std::vector<int>{at(image, 0, 0), at(image, 9, 5), at(image, 3, 2), at(image, 6, 3), at(image, 7, 3)}),
              (std::vector<int>{c.background, c.background, 1, 1, c.background}));
  }
}

TEST_F(GifDecoder, AnimationsFromToolsMatchGiflib) {
  const std::vector<std::string> files = {tool_file("pil.gif"), tool_file("pil_loop0.gif"), tool_file("pil_local.gif"),
                                          tool_file("im.gif"),  tool_file("opt.gif"),       tool_file("opt_il.gif"),
                                          tool_file("layers.gif")};
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    fresh();
    EXPECT_EQ(compare_with_giflib(path), "");
  }
  fresh();
  LoadResult r = load_path(tool_file("pil.gif"));
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 5u);
  std::vector<FrameControl*> list = frame_controls(r.group);
  ASSERT_EQ(list.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ((std::vector<int64_t>{list[i]->image, list[i]->delay, list[i]->loops, r.images[i]->has_transparent,
                                    r.images[i]->transparent[0]}),
              (std::vector<int64_t>{r.images[i]->handle, i + 1, 3, 1, 5}));
  }
  EXPECT_EQ(layout(r.group), "CIPCIPCIPCIPCIP");

  // The animation's count is the one of the last frame's control. ImageMagick stores
  // "-loop 3" as 2 repeats, after the first frame's extension: that one keeps 1.
  for (const auto& [name, loops] : std::vector<std::pair<std::string, int>>{
           {"pil_loop0.gif", 65535}, {"im.gif", 1}, {"layers.gif", 2}, {"opt.gif", 65535}}) {
    fresh();
    LoadResult a = load_path(tool_file(name));
    ASSERT_EQ(a.error, 0) << name;
    ASSERT_FALSE(frame_controls(a.group).empty()) << name;
    EXPECT_EQ(frame_controls(a.group).back()->loops, loops) << name;
  }
}

TEST_F(GifDecoder, LoopCountBeforeFirstControlAppliesToAll) {
  // Stored counts 0 (for ever), 1 and 3.
  for (const auto& [stored, loops] : std::vector<std::pair<int, int>>{{0, 65535}, {1, 1}, {3, 3}}) {
    SCOPED_TRACE(stored);
    fresh();
    Builder b;
    b.screen(4, 4, 2, test_palette(4)).loops(stored);
    for (int i = 0; i < 3; ++i)
      b.control(1, false, 0, 10 * (i + 1), i == 1).pixels(0, 0, 4, 4, std::vector<uint8_t>(16, uint8_t(i)), 2);
    b.trailer();
    LoadResult r = load(b.bytes);
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.images.size(), 3u);
    EXPECT_EQ(layout(r.group), "CIPCIPCIP");
    std::vector<FrameControl*> list = frame_controls(r.group);
    ASSERT_EQ(list.size(), 3u);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ((std::vector<int64_t>{list[i]->loops, list[i]->image, list[i]->delay, list[i]->disposal,
                                      list[i]->user_input, at(r.images[i], 3, 3)}),
                (std::vector<int64_t>{loops, r.images[i]->handle, 10 * (i + 1), 1, i == 1, i}));
  }
}

TEST_F(GifDecoder, ControlNamesTheLastImageThatFollowedIt) {
  // An image without its own extension re-points the latest control; a loop count read
  // after a control does not change it; extensions after the last image name nothing.
  Builder b;
  b.screen(2, 2, 2, test_palette(4))
      .control(0, false, 0, 7)
      .pixels(0, 0, 2, 2, {0, 0, 0, 0}, 2)
      .loops(5)
      .pixels(0, 0, 2, 2, {1, 1, 1, 1}, 2)
      .control(0, false, 0, 9)
      .trailer();
  LoadResult r = load(b.bytes);
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 2u);
  EXPECT_EQ(layout(r.group), "CIPIPC");
  std::vector<FrameControl*> list = frame_controls(r.group);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ((std::vector<int64_t>{list[0]->image, list[0]->loops, list[1]->image, list[1]->loops}),
            (std::vector<int64_t>{r.images[1]->handle, 1, 0, 5}));
}

TEST_F(GifDecoder, TransparencyAndDisposal) {
  // Frame 1 fills the picture with 1; frame 2 (transparent 3) draws 2 over half of it.
  auto frame2 = [] {
    std::vector<uint8_t> v(16, 3);
    for (int i = 0; i < 8; ++i) v[i] = 2;
    return v;
  };
  const uint8_t bg = 4;  // white appended to the 4 colours
  for (int disposal = 0; disposal <= 3; ++disposal) {
    SCOPED_TRACE(disposal);
    fresh();
    Builder b;
    b.screen(4, 4, 2, test_palette(4))
        .control(disposal, false, 0, 0)
        .pixels(0, 0, 4, 4, std::vector<uint8_t>(16, 1), 2)
        .control(disposal, true, 3, 0)
        .pixels(0, 0, 4, 4, frame2(), 2)
        .control(0, true, 3, 0)
        .pixels(1, 1, 2, 2, {3, 0, 3, 3}, 2)
        .trailer();
    LoadResult r = load(b.bytes);
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.images.size(), 3u);
    const ImageRecord* second = r.images[1];
    const ImageRecord* third = r.images[2];
    // Disposal 2 of frame 1: frame 2 starts from background, and its transparent pixels
    // are background; otherwise they show frame 1. Frame 3 over frame 2 the same way;
    // outside its 2 x 2 area the start picture shows.
    const int beneath2 = disposal == 2 ? bg : 2, beneath1 = disposal == 2 ? bg : 1;
    EXPECT_EQ((std::vector<int>{at(second, 0, 0), at(second, 0, 3), at(third, 2, 1), at(third, 1, 1),
                                at(third, 0, 0), at(third, 3, 3)}),
              (std::vector<int>{2, beneath1, 0, beneath2, beneath2, beneath1}));
    EXPECT_EQ(compare_with_giflib(test_temp_dir() + "/built.gif"), "");
  }
}

TEST_F(GifDecoder, FramesLargerThanOrPastThePicture) {
  Builder b;
  std::vector<uint8_t> big(6 * 5);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i % 3);
  b.screen(4, 3, 2, test_palette(4))
      .pixels(0, 0, 4, 3, std::vector<uint8_t>(12, 1), 2)
      .pixels(0, 0, 6, 5, big, 2)                               // enlarges to 6 x 5
      .pixels(4, 3, 3, 3, std::vector<uint8_t>(9, 2), 2)        // passes the edge: clipped
      .pixels(0, 0, 2, 2, {0, 0, 0, 0}, 2)
      .trailer();
  LoadResult r = load(b.bytes);
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 4u);
  EXPECT_EQ(r.images[0]->width, 4);
  for (int i = 1; i < 4; ++i)
    EXPECT_EQ((std::vector<int>{r.images[i]->width, r.images[i]->height, r.images[i]->row_bytes}),
              (std::vector<int>{6, 5, 8}));
  EXPECT_EQ((std::vector<int>{at(r.images[2], 5, 4), at(r.images[2], 3, 4), at(r.images[3], 5, 4), at(r.images[3], 1, 1)}),
            (std::vector<int>{2, big[4 * 6 + 3], 2, 0}));
  EXPECT_EQ(compare_with_giflib(test_temp_dir() + "/built.gif"), "");
}

TEST_F(GifDecoder, InterlacedFramesSmallerThanThePicture) {
  for (int h : {1, 2, 3, 5, 8, 13, 29}) {
    SCOPED_TRACE(h);
    fresh();
    std::vector<uint8_t> rows(7 * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 7; ++x) rows[y * 7 + x] = uint8_t((y * 7 + x) % 200);
    // Stored in interlace order: rows 0, 8, ..., then 4, 12, ..., then 2, 6, ..., then odd.
    std::vector<uint8_t> stored;
    for (int start : {0, 4, 2, 1})
      for (int y = start; y < h; y += start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2)
        stored.insert(stored.end(), rows.begin() + y * 7, rows.begin() + y * 7 + 7);
    Builder b;
    b.screen(11, 40, 8, test_palette(256)).pixels(2, 3, 7, h, stored, 8, true).trailer();
    LoadResult r = load(b.bytes);
    ASSERT_EQ(r.error, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(at(r.images[0], 2 + x, 3 + y), rows[y * 7 + x]);
    EXPECT_EQ(compare_with_giflib(test_temp_dir() + "/built.gif"), "");
  }
}

TEST_F(GifDecoder, SmallFilesComposeToTheirColours) {
  // Palette entry i of test_palette is (3i, 5i, 7i); a background is the white entry.
  const uint32_t white = 0xFFFFFF, c1 = 0x030507, c2 = 0x060A0E;
  struct Case {
    const char* what;
    Builder file;
    std::vector<std::vector<uint32_t>> frames;
  };
  const Case cases[] = {
      {"transparent pixels of a first frame are background",
       Builder().screen(3, 1, 2, test_palette(4)).control(0, true, 0, 0).pixels(0, 0, 3, 1, {0, 1, 0}, 2).trailer(),
       {{white, c1, white}}},
      {"disposal 2 without a transparent index keeps every index, 0 included",
       Builder().screen(3, 1, 2, test_palette(4)).control(2, false, 0, 0).pixels(0, 0, 3, 1, {0, 1, 0}, 2)
           .control(2, false, 0, 0).pixels(0, 0, 3, 1, {1, 0, 0}, 2).trailer(),
       {{0, c1, 0}, {c1, 0, 0}}},
      {"background of a frame with only a local palette is white",
       Builder().screen(3, 1, 1, {}).pixels(1, 0, 1, 1, {1}, 2, false, test_palette(4), 2).trailer(),
       {{white, c1, white}}},
      // Frame 2 has its own palette and covers one pixel of two: the other keeps frame 1's
      // colour. Frame 3 (a local palette on a 3 x 1 picture) starts from background: white.
      {"local palettes keep the colours beneath",
       Builder().screen(2, 1, 1, {10, 20, 30, 40, 50, 60}).pixels(0, 0, 2, 1, {0, 1}, 2)
           .pixels(0, 0, 1, 1, {1}, 2, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 2)
           .pixels(0, 0, 3, 1, {2, 2, 2}, 2, false, test_palette(4), 2)
           .control(0, true, 0, 0).pixels(0, 0, 3, 1, {0, 0, 1}, 2, false, test_palette(4), 2).trailer(),
       {{0x0A141E, 0x28323C}, {0x040506, 0x28323C}, {c2, c2, c2}, {c2, c2, c1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    LoadResult r = load(c.file.bytes);
    ASSERT_EQ(r.error, 0);
    std::vector<std::vector<uint32_t>> frames;
    for (const ImageRecord* image : r.images) frames.push_back(image_rgb(image));
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(compare_with_giflib(test_temp_dir() + "/built.gif"), "");
  }
}

TEST_F(GifDecoder, ExtensionsThatAreSkipped) {
  // A comment, a plain text extension whose text holds 0x2C and 0x3B, an unknown
  // application extension, and a "NETSCAPE2.0" extension whose first sub-block is a
  // buffering sub-block before the loop sub-block.
  Builder b;
  b.screen(2, 1, 1, {0, 0, 0, 9, 9, 9}, "89a").comment("made ; by , hand").plain_text();
  b.raw({0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 3, 1, 2, 3, 0});
  b.raw({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
         5, 2, 0, 0, 1, 0, 3, 1, 7, 0, 0});
  b.control(0, false, 0, 3).pixels(0, 0, 2, 1, {1, 0}, 2).trailer();
  LoadResult r = load(b.bytes);
  ASSERT_EQ(r.error, 0);
  ASSERT_EQ(r.images.size(), 1u);
  EXPECT_EQ(at(r.images[0], 0, 0), 1);
  std::vector<FrameControl*> list = frame_controls(r.group);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(std::make_pair(int(list[0]->loops), list[0]->delay), std::make_pair(7, 3));
}

TEST_F(GifDecoder, VersionsAndDescriptions) {
  for (const auto& [version, description] : std::vector<std::pair<const char*, int>>{
           {"87a", DESC_GIF87A}, {"89a", DESC_GIF89A}, {"90z", DESC_GIF_OTHER}}) {
    fresh();
    Builder b;
    b.screen(2, 1, 1, test_palette(2), version).pixels(0, 0, 2, 1, {1, 0}, 2).trailer();
    LoadResult r = load(b.bytes);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.images[0]->description, description);
    EXPECT_EQ(layout(r.group), "IP");
  }
}

std::vector<uint8_t> small_animation() {
  Builder b;
  b.screen(5, 4, 2, test_palette(4)).loops(2).comment("hi");
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> px(20);
    for (int k = 0; k < 20; ++k) px[k] = uint8_t((k + i) % 4);
    b.control(i, i == 1, 2, 5).pixels(0, 0, 5, 4, px, 2);
  }
  b.trailer();
  return b.bytes;
}

TEST_F(GifDecoder, TruncatedFilesFailAndLeaveNothing) {
  const std::vector<uint8_t> whole = small_animation();
  for (size_t n = 1; n < whole.size(); ++n) {
    fresh();
    std::vector<uint8_t> part(whole.begin(), whole.begin() + long(n));
    LoadResult r = load(part);
    if (n < 4) continue;  // too short to be identified as GIF
    SCOPED_TRACE(n);
    EXPECT_TRUE(r.error == ERR_FILE_ACCESS || r.error == ERR_INVALID_FILE) << r.error;
    EXPECT_EQ(layout(r.group), "");
    EXPECT_EQ(live_images(), 0);
  }
}

TEST_F(GifDecoder, CorruptStructureIsRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int error;
  };
  auto base = [] {
    Builder b;
    b.screen(2, 1, 1, test_palette(2));
    return b;
  };
  std::vector<uint8_t> image = Builder().pixels(0, 0, 2, 1, {0, 1}, 2).bytes;
  std::vector<Case> cases;
  cases.push_back({"stray byte between blocks", base().raw(image).raw({0x42}).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"unknown extension label", base().raw({0x21, 0x02, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"control without terminator", base().raw({0x21, 0xF9, 4, 0, 0, 0, 0, 7}).raw(image).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"control block size 3", base().raw({0x21, 0xF9, 3, 0, 0, 0, 0, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"application block size 10", base().raw({0x21, 0xFF, 10, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0}).raw(image).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"loop sub-block of 2 bytes", base().raw({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 0, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"no image at all", base().loops(0).trailer().bytes, ERR_INVALID_FILE});
  cases.push_back({"no trailer", base().raw(image).bytes, ERR_FILE_ACCESS});
  cases.push_back({"bad version", {'G', 'I', 'F', ' ', ' ', ' ', 1, 0, 1, 0, 0, 0, 0, 0x3B}, ERR_FILE_ACCESS});
  for (const Case& c : cases) {
    fresh();
    LoadResult r = load(c.bytes);
    EXPECT_EQ(r.error, c.error) << c.what;
    EXPECT_EQ(layout(r.group), "") << c.what;
    EXPECT_EQ(live_images(), 0) << c.what;
  }
}

TEST_F(GifDecoder, HugeSizesAreRefusedWithMemoryError) {
  Builder many;  // a picture that fits once but not twenty times under an 8 MiB limit
  many.screen(1000, 1000, 1, test_palette(2));
  for (int i = 0; i < 20; ++i) many.pixels(0, 0, 1, 1, {1}, 2);
  const std::pair<Builder, size_t> cases[] = {
      {Builder().screen(65535, 65535, 1, test_palette(2)).pixels(0, 0, 2, 1, {0, 1}, 2).trailer(), size_t{1} << 30},
      // A frame that enlarges a small screen to 60000 x 60000.
      {Builder().screen(2, 1, 1, test_palette(2)).pixels(0, 0, 60000, 60000, {0, 1}, 2).trailer(), size_t{1} << 30},
      {many.trailer(), size_t{8} << 20},
  };
  for (const auto& [file, limit] : cases) {
    fresh();
    mem_set_limit(limit);
    LoadResult r = load(file.bytes);
    EXPECT_EQ(r.error, ERR_MEMORY);
    EXPECT_EQ(layout(r.group), "");
    EXPECT_EQ(live_images(), 0);
  }
}

TEST_F(GifDecoder, SamplesMatchGiflib) {
  for (const char* name : {"gif_rose.gif", "gif_spinner.gif"}) {
    std::string path = std::string(KORVELA_SOURCE_DIR) + "/samples/" + name;
    EXPECT_EQ(compare_with_giflib(path), "") << name;
  }
  LoadResult r = load_path(std::string(KORVELA_SOURCE_DIR) + "/samples/gif_spinner.gif");
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.images.size(), 8u);
  std::vector<FrameControl*> list = frame_controls(r.group);
  ASSERT_EQ(list.size(), 8u);
  EXPECT_EQ(std::make_pair(int(list.back()->loops), list.back()->delay), std::make_pair(65535, 12));
}

TEST_F(GifDecoder, RandomAnimationsMatchGiflib) {
  // Frames of random places and sizes (some passing the edge or enlarging the picture),
  // palettes global or local, transparency, disposal 0 to 3, interlacing, and sub-blocks
  // of random lengths. Palettes stay small enough that every colour a frame keeps from the
  // picture beneath finds room in the frame's palette.
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (int file = 0; file < 120; ++file) {
    SCOPED_TRACE(file);
    const int sw = next(2) ? 4 * (1 + int(next(10))) : 1 + int(next(40)), sh = 1 + int(next(40));
    const int bits = 1 + int(next(5));
    Builder b;
    b.screen(sw, sh, bits, next(4) == 0 ? std::vector<uint8_t>{} : test_palette(1 << bits));
    if (next(2)) b.loops(int(next(4)));
    const int frames = 1 + int(next(5));
    for (int f = 0; f < frames; ++f) {
      if (next(4) != 0) b.control(int(next(4)), next(2) == 1, int(next(1 << bits)), int(next(100)));
      int w = 1 + int(next(sw + 8)), h = 1 + int(next(sh + 8));
      int left = int(next(sw)), top = int(next(sh));
      if (next(3) == 0) w = sw, h = sh, left = top = 0;  // the whole picture
      const bool local = next(3) == 0;
      const int local_bits = 1 + int(next(5));
      const int colours = 1 << (local ? local_bits : bits);
      std::vector<uint8_t> px(size_t(w) * h);
      int run = 0;
      uint8_t value = 0;
      for (auto& p : px) {
        if (run-- <= 0) run = int(next(12)), value = uint8_t(next(colours));
        p = value;
      }
      const int m = std::max(2, local ? local_bits : bits);
      std::vector<int> blocks;
      if (next(2)) blocks = {1 + int(next(254)), 1 + int(next(3))};
      std::vector<uint8_t> palette;
      if (local) {
        palette = test_palette(colours);
        for (auto& c : palette) c = uint8_t(c + 11 * f);
      }
      b.image(left, top, w, h, pack_codes(m, lzw_encode(px, m, next(2) == 1)), m, blocks,
              next(3) == 0, palette, local_bits);
    }
    b.trailer();
    write_temp_file("random.gif", b.bytes);
    ASSERT_EQ(compare_with_giflib(test_temp_dir() + "/random.gif"), "");
  }
}

}  // namespace
