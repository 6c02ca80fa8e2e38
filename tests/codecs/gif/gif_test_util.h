// GIF files built byte by byte for the decoder tests, an LZW encoder to fill them, and a
// reference composition of the frames that giflib decodes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/test_support.h"

namespace gif_test {

// Plain LZW encoding of palette indexes: a clear code first, the end code last. With
// `clear_when_full` false, a full table is kept and no clear code is sent.
std::vector<int> lzw_encode(const std::vector<uint8_t>& pixels, int minimum_size,
                            bool clear_when_full = true);

// `data` cut into sub-blocks of the given sizes in turn (255 when none), no terminator.
std::vector<uint8_t> sub_blocks(const std::vector<uint8_t>& data, const std::vector<int>& sizes = {});

struct Builder {
  std::vector<uint8_t> bytes;

  // Header and logical screen; `palette` holds RGB triples (2^bits of them when given).
  Builder& screen(int width, int height, int bits, const std::vector<uint8_t>& palette,
                  const char* version = "89a");
  Builder& control(int disposal, bool transparent, int index, int delay, bool user = false);
  Builder& loops(int count);
  Builder& comment(const std::string& text);
  // Image descriptor, optional local palette, minimum code size and data cut into
  // sub-blocks of the given sizes in turn (255 when empty), then the terminator.
  Builder& image(int left, int top, int width, int height, const std::vector<uint8_t>& data,
                 int minimum_size, const std::vector<int>& block_sizes = {},
                 bool interlaced = false, const std::vector<uint8_t>& local_palette = {},
                 int local_bits = 0, bool terminator = true);
  // An image whose pixels are encoded here with lzw_encode.
  Builder& pixels(int left, int top, int width, int height, const std::vector<uint8_t>& indexes,
                  int minimum_size, bool interlaced = false,
                  const std::vector<uint8_t>& local_palette = {}, int local_bits = 0);
  Builder& raw(const std::vector<uint8_t>& more);
  Builder& trailer();
};

// A palette of `count` entries: entry i = (i * 3, i * 5, i * 7) modulo 256, never white.
std::vector<uint8_t> test_palette(int count);

// Loads a file's bytes and checks every frame against the giflib reference; returns a
// description of the first difference, or "" when all agree.
std::string compare_with_giflib(const std::vector<uint8_t>& file);

// The frame controls of a group, in group order.
inline std::vector<FrameControl*> frame_controls(Handle group) {
  return group_members<FrameControl>(group, TYPE_FRAME_CONTROL);
}

}  // namespace gif_test
