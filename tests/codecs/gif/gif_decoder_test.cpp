// The GIF decoder: files made by ImageMagick, gifsicle and Pillow compared frame by frame
// with giflib's decoding composed into full pictures; the records a decode leaves in the
// group; composition, timing and loop counts; refusals of broken files; and the image data:
// code widths, sub-block boundaries, the table's corner cases and corrupt code streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "codecs/gif/gif_internal.h"
#include "codecs/gif/gif_test_util.h"
#include "codecs/raster_test_support.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "support/test_support.h"

using namespace gif_test;

namespace {

// The files of tools/make_gif_cases.py, made once per process.
std::string tool_file(const std::string& name) {
  return generated_dir("gif_cases", [](const std::string& out) { return run_tool_script("make_gif_cases.py " + out); }) +
         "/" + name;
}

// Long runs and repeats: long strings, K-w-K codes and a table that fills up.
std::vector<uint8_t> patterned(size_t n, int colours) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(((i / 37) * (i % 11 == 0 ? 3 : 1)) % colours);
  return v;
}

class GifDecoder : public RasterTest {
 protected:
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

  static LoadResult load(const std::vector<uint8_t>& bytes) { return load_bytes("built.gif", bytes); }

  // Loads a picture and returns the first `height` rows of `width` stored indexes, nothing
  // when it is refused; sets `error`.
  std::vector<uint8_t> decode_bytes(const std::vector<uint8_t>& bytes, int width, int height, int* error) {
    LoadResult r = load(bytes);
    *error = r.error;
    std::vector<uint8_t> out;
    for (int y = 0; r.error == 0 && y < height; ++y) {
      std::vector<uint8_t> row = stored_row(r.images[0], y, width);
      out.insert(out.end(), row.begin(), row.end());
    }
    return out;
  }
};

TEST_F(GifDecoder, FilesOfOtherToolsMatchGiflib) {
  std::vector<std::string> files = {"rose.gif", "rose_il.gif", "grad2.gif", "grad16.gif", "plasma.gif", "sicle_il.gif",
                                    "pil.gif", "pil_loop0.gif", "pil_local.gif", "im.gif", "opt.gif", "opt_il.gif",
                                    "layers.gif"};
  for (int bits = 1; bits <= 8; ++bits)
    for (int white = 0; white <= 1; ++white) files.push_back("pal" + std::to_string(bits) + "_" + std::to_string(white) + ".gif");
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(compare_with_giflib(read_file(tool_file(name))), "");
    // The dispatcher's record served as template only: no image is left over.
    EXPECT_EQ(live_objects(), 0);
  }
  for (const char* name : {"gif_rose.gif", "gif_spinner.gif"})
    EXPECT_EQ(compare_with_giflib(read_file(std::string(KORVELA_SOURCE_DIR) + "/samples/" + name)), "") << name;
  // With m = 8, runs of one colour make every code new: the width passes 9, 10, 11 and 12
  // bits, and the table stays full without a clear code (a clear after a full table: plasma.gif).
  EXPECT_EQ(compare_with_giflib(Builder().screen(640, 200, 8, test_palette(256))
      .image(0, 0, 640, 200, pack_codes(8, lzw_encode(patterned(640 * 200, 256), 8, false)), 8).trailer().bytes), "");
  // The animation's count is the one of the last frame's control. ImageMagick stores
  // "-loop 3" as 2 repeats, after the first frame's extension: that one keeps 1.
  for (const auto& [name, loops] : std::vector<std::pair<std::string, int>>{
           {"pil.gif", 3}, {"pil_loop0.gif", 65535}, {"im.gif", 1}, {"layers.gif", 2}, {"opt.gif", 65535}}) {
    test_reset();
    LoadResult a = load(read_file(tool_file(name)));
    ASSERT_EQ(a.error, 0) << name;
    ASSERT_FALSE(frame_controls(a.group).empty()) << name;
    EXPECT_EQ(frame_controls(a.group).back()->loops, loops) << name;
  }
}

TEST_F(GifDecoder, BackgroundIsThePalettesWhiteEntry) {
  // A small frame on a larger screen leaves background around it: a white entry added after
  // the palette, the palette's own white entry, or in a full palette the entry nearest white.
  std::vector<uint8_t> with_white = test_palette(4);
  with_white[6] = with_white[7] = with_white[8] = 255;  // entry 2
  std::vector<uint8_t> full = test_palette(256);
  full[3 * 77] = 254, full[3 * 77 + 1] = 255, full[3 * 77 + 2] = 255;
  for (const auto& [palette, bits, background] :
       std::vector<std::tuple<std::vector<uint8_t>, int, int>>{{test_palette(4), 2, 4}, {with_white, 2, 2}, {full, 8, 77}}) {
    test_reset();
    const std::vector<uint8_t> file = Builder().screen(10, 6, bits, palette).pixels(3, 2, 4, 2, std::vector<uint8_t>(8, 1), 2).trailer().bytes;
    EXPECT_EQ(compare_with_giflib(file), "") << background;
    LoadResult r = load(file);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(pixel_at(r.images[0], 5, 9), background);
  }
}

TEST_F(GifDecoder, ControlsLoopsAndVersions) {
  // A loop count before the first control applies to all; stored 0 means for ever.
  const auto looped = [](int stored) {
    Builder b;
    b.screen(4, 4, 2, test_palette(4)).loops(stored);
    for (int i = 0; i < 3; ++i)
      b.control(1, false, 0, 10 * (i + 1), i == 1).pixels(0, 0, 4, 4, std::vector<uint8_t>(16, uint8_t(i)), 2);
    return b.trailer().bytes;
  };
  // An image without its own extension re-points the latest control; a loop count read after
  // a control does not change it; extensions after the last image name nothing.
  const std::vector<uint8_t> renamed = Builder().screen(2, 2, 2, test_palette(4)).control(0, false, 0, 7)
      .pixels(0, 0, 2, 2, {0, 0, 0, 0}, 2).loops(5).pixels(0, 0, 2, 2, {1, 1, 1, 1}, 2).control(0, false, 0, 9).trailer().bytes;
  // Skipped: a comment, a plain text extension whose text holds 0x2C and 0x3B, an unknown
  // application extension, and a buffering sub-block before the loop sub-block.
  const std::vector<uint8_t> skipped = Builder().screen(2, 1, 1, {0, 0, 0, 9, 9, 9}).comment("made ; by , hand")
      .raw({0x21, 0x01, 12, 0, 0, 0, 0, 40, 0, 8, 0, 8, 8, 1, 0, 5, 'h', 'e', 'l', 'l', 'o', 3, 0x2C, 0x3B, 0x21, 0})
      .raw({0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 3, 1, 2, 3, 0})
      .raw({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 5, 2, 0, 0, 1, 0, 3, 1, 7, 0, 0})
      .control(0, false, 0, 3).pixels(0, 0, 2, 1, {1, 0}, 2).trailer().bytes;
  const auto still = [](const char* version) {
    return Builder().screen(2, 1, 1, test_palette(2), version).pixels(0, 0, 2, 1, {1, 0}, 2).trailer().bytes;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    std::string layout;
    std::vector<std::vector<int64_t>> controls;  // image index (-1: none), loops, delay
    int32_t description;
  } cases[] = {
      {"for ever", looped(0), "CIPCIPCIP", {{0, 65535, 10}, {1, 65535, 20}, {2, 65535, 30}}, DESC_GIF89A},
      {"three", looped(3), "CIPCIPCIP", {{0, 3, 10}, {1, 3, 20}, {2, 3, 30}}, DESC_GIF89A},
      {"re-pointed", renamed, "CIPIPC", {{1, 1, 7}, {-1, 5, 9}}, DESC_GIF89A},
      {"skipped extensions", skipped, "CIP", {{0, 7, 3}}, DESC_GIF89A},
      {"87a", still("87a"), "IP", {}, DESC_GIF87A},
      {"other version", still("90z"), "IP", {}, DESC_GIF_OTHER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test_reset();
    LoadResult r = load(c.file);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(layout(r.group), c.layout);
    EXPECT_EQ(r.images.at(0)->description, c.description);
    std::vector<std::vector<int64_t>> controls;
    for (const FrameControl* f : frame_controls(r.group)) {
      int64_t index = -1;
      for (size_t i = 0; i < r.images.size(); ++i)
        if (r.images[i]->handle == f->image) index = int64_t(i);
      controls.push_back({index, f->loops, f->delay});
    }
    EXPECT_EQ(controls, c.controls);
    EXPECT_EQ(compare_with_giflib(c.file), "");
  }
}

TEST_F(GifDecoder, BrokenOrHugeFilesAreRefusedAndLeaveNothing) {
  const auto base = [] { return Builder().screen(2, 1, 1, test_palette(2)); };
  const std::vector<uint8_t> image = Builder().pixels(0, 0, 2, 1, {0, 1}, 2).bytes;
  const std::vector<uint8_t> netscape = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  Builder many;  // a picture that fits once but not twenty times under an 8 MiB limit
  many.screen(1000, 1000, 1, test_palette(2));
  for (int i = 0; i < 20; ++i) many.pixels(0, 0, 1, 1, {1}, 2);
  const size_t big = size_t{1} << 30;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int error;
    size_t limit;
  } cases[] = {
      {"stray byte between blocks", base().raw(image).raw({0x42}).trailer().bytes, ERR_INVALID_FILE, big},
      {"unknown extension label", base().raw({0x21, 0x02, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE, big},
      {"control without terminator", base().raw({0x21, 0xF9, 4, 0, 0, 0, 0, 7}).raw(image).trailer().bytes, ERR_INVALID_FILE, big},
      {"control block size 3", base().raw({0x21, 0xF9, 3, 0, 0, 0, 0, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE, big},
      {"application block size 10", base().raw({0x21, 0xFF, 10}).raw(std::vector<uint8_t>(netscape.begin() + 3, netscape.end())).raw({0}).raw(image).trailer().bytes, ERR_INVALID_FILE, big},
      {"loop sub-block of 2 bytes", base().raw(netscape).raw({2, 1, 0, 0}).raw(image).trailer().bytes, ERR_INVALID_FILE, big},
      {"no image at all", base().loops(0).trailer().bytes, ERR_INVALID_FILE, big},
      {"no trailer", base().raw(image).bytes, ERR_FILE_ACCESS, big},
      {"bad version", {'G', 'I', 'F', ' ', ' ', ' ', 1, 0, 1, 0, 0, 0, 0, 0x3B}, ERR_FILE_ACCESS, big},
      {"a 65535 x 65535 screen", Builder().screen(65535, 65535, 1, test_palette(2)).raw(image).trailer().bytes, ERR_MEMORY, big},
      {"a frame that enlarges the screen to 60000 x 60000",
       base().pixels(0, 0, 60000, 60000, {0, 1}, 2).trailer().bytes, ERR_MEMORY, big},
      {"frames beyond the memory limit", many.trailer().bytes, ERR_MEMORY, size_t{8} << 20},
  };
  for (const auto& c : cases) {
    test_reset();
    mem_set_limit(c.limit);
    LoadResult r = load(c.bytes);
    EXPECT_EQ(r.error, c.error) << c.what;
    EXPECT_EQ(layout(r.group), "") << c.what;
    EXPECT_EQ(live_objects(), 0) << c.what;
  }
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
    ASSERT_EQ(compare_with_giflib(b.bytes), "");
  }
}

TEST_F(GifDecoder, CodeSequencesDecodeOrAreRefused) {
  // With m = 2: clear 4, end 5, first table entry 6.
  struct Case {
    const char* what;
    int m;
    std::vector<int> codes;
    int width;
    std::vector<uint8_t> pixels;  // empty when the file is refused
  };
  const Case cases[] = {
      {"a code two above the last one", 2, {4, 1, 7, 5}, 6, {}},
      {"data without a first clear code", 2, {3, 2, 6, 5}, 4, {3, 2, 3, 2}},
      {"a table code first", 2, {6, 5}, 4, {}},
      {"two clears in a row write nothing", 2, {4, 1, 2, 4, 4, 3, 0, 6, 5}, 6, {1, 2, 3, 0, 3, 0}},
      {"a table code right after a clear", 2, {4, 1, 2, 6, 4, 6, 5}, 8, {}},
      {"minimum code size 12", 12, {4096, 1, 4097}, 2, {}},
      {"size 11: literals above 255 keep their low byte", 11, {2048, 0x105, 7, 2050, 2049}, 4, {5, 7, 5, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Builder b;
    b.screen(c.width, 1, 8, test_palette(256)).image(0, 0, c.width, 1, pack_codes(c.m, c.codes), c.m).trailer();
    int error = -1;
    EXPECT_EQ(decode_bytes(b.bytes, c.width, 1, &error), c.pixels);
    EXPECT_EQ(error, c.pixels.empty() ? ERR_INVALID_FILE : 0);
  }
}

TEST_F(GifDecoder, WhereTheImageDataEnds) {
  // Image descriptors of 8 x 1 and 4 x 1 pictures with minimum code size 2, data to follow.
  auto start = [](int width) { return Builder().screen(width, 1, 2, test_palette(4)).raw({0x2C, 0, 0, 0, 0, uint8_t(width), 0, 1, 0, 0, 2}); };
  const std::vector<uint8_t> ones = pack_codes(2, {4, 1, 1, 1, 1, 1, 1, 1, 1});  // 4 bytes
  std::vector<uint8_t> then_junk = pack_codes(2, {4, 1, 1, 5});
  then_junk.insert(then_junk.end(), 5, 0xFF);
  const std::vector<uint8_t> second = pack_codes(2, {4, 2, 5});
  std::vector<uint8_t> long_data = pack_codes(2, lzw_encode(patterned(5000, 4), 2));
  std::vector<int> bad_late = lzw_encode(patterned(5000, 4), 2);
  bad_late.insert(bad_late.end() - 1, {4, 6});  // a table code right after a clear code
  const auto three_by_two = [](const std::vector<uint8_t>& data) {
    return Builder().screen(3, 2, 2, test_palette(4)).image(0, 0, 3, 2, data, 2).trailer().bytes;
  };
  // A 4 x 1 frame whose data is not followed by its terminator.
  const Builder unterminated =
      Builder().screen(4, 1, 2, test_palette(4)).image(0, 0, 4, 1, pack_codes(2, {4, 3, 2, 6, 5}), 2, {}, false, {}, 0, false);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    int error;
    std::vector<uint8_t> pixels;  // checked when the file loads
  };
  const Case cases[] = {
      // Clear and literal 1, then 2 bits: the rest of the frame stays background (white, 4).
      {"data ending inside a code", start(8).raw({1, 0x4C, 0}).trailer().bytes, 0, {1, 4, 4, 4, 4, 4, 4, 4}},
      {"the rest of an end code's sub-block is skipped",
       start(4).raw({uint8_t(then_junk.size())}).raw(then_junk).raw({uint8_t(second.size())}).raw(second).raw({0}).trailer().bytes,
       0, {1, 1, 2, 4}},
      {"a trailer in place of the terminator", Builder(unterminated).trailer().bytes, 0, {3, 2, 3, 2}},
      {"a length byte past the end of the file", Builder(unterminated).raw({0x3A}).bytes, ERR_INVALID_FILE, {}},
      {"a sub-block past the end of the file", start(8).raw({10}).raw(ones).bytes, ERR_INVALID_FILE, {}},
      {"a code that runs into such a sub-block", start(8).raw({1, ones[0], 10, ones[1], ones[2]}).bytes, ERR_FILE_ACCESS, {}},
      {"whole sub-blocks, then nothing", start(8).raw({4}).raw(ones).bytes, ERR_FILE_ACCESS, {}},
      {"more pixels than the frame: dropped", three_by_two(long_data), 0, {0, 0, 0, 0, 0, 0}},
      {"a bad code far past the frame's end", three_by_two(pack_codes(2, bad_late)), ERR_INVALID_FILE, {}},
  };
  // Each file again with clear codes (which write nothing) in whole sub-blocks before its
  // data, ending a few bytes short of the end of the decoder's first or second window of
  // joined bytes: the file's own sub-blocks then cross that end.
  const auto with_lead = [](std::vector<uint8_t> file, int windows) {
    const int64_t bytes = (windows * kGifWindowBytes - 4) / 3 * 3;
    const std::vector<uint8_t> lead = sub_blocks(pack_codes(2, std::vector<int>(bytes / 3 * 8, 4)));
    file.insert(file.begin() + 13 + 3 * 4 + 10 + 1, lead.begin(), lead.end());  // after the code size
    return file;
  };
  for (const Case& c : cases)
    for (int windows = 0; windows <= 2; ++windows) {
      SCOPED_TRACE(std::string(c.what) + ", lead of windows " + std::to_string(windows));
      const int width = c.file[6];
      int error = -1;
      std::vector<uint8_t> got =
          decode_bytes(windows ? with_lead(c.file, windows) : c.file, width, int(c.pixels.size()) / std::max(width, 1), &error);
      EXPECT_EQ(error, c.error);
      if (c.error == 0) { EXPECT_EQ(got, c.pixels); }
    }
}

}  // namespace
