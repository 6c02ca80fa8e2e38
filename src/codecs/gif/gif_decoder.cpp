// GIF 87a and 89a: a table-driven block parser over the whole file in memory, frames
// composed into full pictures of the logical screen, graphic control extensions kept as
// frame controls for the animation, and the "NETSCAPE2.0" loop count.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/gif/gif_internal.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

// Reads `count` RGB triples into three 256-byte arrays.
void read_palette(ByteReader& in, uint8_t* red, uint8_t* green, uint8_t* blue, int count) {
  uint8_t triples[3 * 256];
  in.read(triples, 3 * count);
  for (int i = 0; i < count; ++i) {
    red[i] = triples[3 * i];
    green[i] = triples[3 * i + 1];
    blue[i] = triples[3 * i + 2];
  }
}

int32_t round_up4(int32_t n) { return (n + 3) & ~3; }

// ---- Block parser: byte classes, states and actions.

enum ByteClass : uint8_t {
  CLASS_INTRODUCER,   // 0x21
  CLASS_ZERO,         // 0x00
  CLASS_APPLICATION,  // 0xFF
  CLASS_COMMENT,      // 0xFE
  CLASS_CONTROL,      // 0xF9
  CLASS_IMAGE,        // 0x2C
  CLASS_PLAIN_TEXT,   // 0x01
  CLASS_TRAILER,      // 0x3B
  CLASS_OTHER,
  CLASS_COUNT,
};

enum State : uint8_t {
  STATE_BETWEEN,     // between blocks
  STATE_EXTENSION,   // after 0x21
  STATE_TERMINATOR,  // a block terminator expected
  STATE_IMAGE_DATA,  // image-data sub-blocks
  STATE_SKIP,        // sub-blocks to skip
  STATE_COUNT,
};

enum Action : uint8_t {
  ACT_NONE,
  ACT_BAD_BYTE,
  ACT_IMAGE,
  ACT_TRAILER,
  ACT_APPLICATION,
  ACT_CONTROL,
  ACT_PLAIN_TEXT,
  ACT_END_OF_DATA,
  ACT_IMAGE_DATA,
  ACT_SKIP,
  ACT_COUNT,
};

struct Transition {
  Action action;
  State next;
};

constexpr ByteClass class_of(int byte) {
  switch (byte) {
    case 0x21: return CLASS_INTRODUCER;
    case 0x00: return CLASS_ZERO;
    case 0xFF: return CLASS_APPLICATION;
    case 0xFE: return CLASS_COMMENT;
    case 0xF9: return CLASS_CONTROL;
    case 0x2C: return CLASS_IMAGE;
    case 0x01: return CLASS_PLAIN_TEXT;
    case 0x3B: return CLASS_TRAILER;
    default: return CLASS_OTHER;
  }
}

struct ClassTable {
  uint8_t of[256];
  constexpr ClassTable() : of() {
    for (int i = 0; i < 256; ++i) of[i] = class_of(i);
  }
};
constexpr ClassTable kClasses;

constexpr Transition B{ACT_BAD_BYTE, STATE_BETWEEN};

// Columns: 0x21, 0x00, 0xFF, 0xFE, 0xF9, 0x2C, 0x01, 0x3B, other.
constexpr Transition kTransitions[STATE_COUNT][CLASS_COUNT] = {
    // between blocks
    {{ACT_NONE, STATE_EXTENSION}, {ACT_NONE, STATE_BETWEEN}, B, B, B,
     {ACT_IMAGE, STATE_IMAGE_DATA}, B, {ACT_TRAILER, STATE_BETWEEN}, B},
    // after 0x21
    {B, B, {ACT_APPLICATION, STATE_SKIP}, {ACT_NONE, STATE_SKIP},
     {ACT_CONTROL, STATE_TERMINATOR}, B, {ACT_PLAIN_TEXT, STATE_SKIP}, B, B},
    // block terminator expected
    {B, {ACT_NONE, STATE_BETWEEN}, B, B, B, B, B, B, B},
    // image data: zero ends it, any other byte is a sub-block length
    {{ACT_IMAGE_DATA, STATE_IMAGE_DATA}, {ACT_END_OF_DATA, STATE_BETWEEN},
     {ACT_IMAGE_DATA, STATE_IMAGE_DATA}, {ACT_IMAGE_DATA, STATE_IMAGE_DATA},
     {ACT_IMAGE_DATA, STATE_IMAGE_DATA}, {ACT_IMAGE_DATA, STATE_IMAGE_DATA},
     {ACT_IMAGE_DATA, STATE_IMAGE_DATA}, {ACT_IMAGE_DATA, STATE_IMAGE_DATA},
     {ACT_IMAGE_DATA, STATE_IMAGE_DATA}},
    // sub-blocks to skip: zero ends them, any other byte is a length
    {{ACT_SKIP, STATE_SKIP}, {ACT_NONE, STATE_BETWEEN}, {ACT_SKIP, STATE_SKIP},
     {ACT_SKIP, STATE_SKIP}, {ACT_SKIP, STATE_SKIP}, {ACT_SKIP, STATE_SKIP},
     {ACT_SKIP, STATE_SKIP}, {ACT_SKIP, STATE_SKIP}, {ACT_SKIP, STATE_SKIP}},
};

void act_none(GifDecoder&, uint32_t) {}

void act_bad_byte(GifDecoder& g, uint32_t) {
  g.done = -1;
  g_error = ERR_INVALID_FILE;
}

void act_trailer(GifDecoder& g, uint32_t) { g.done = 1; }

void act_skip(GifDecoder& g, uint32_t length) { g.in->skip(length); }

void act_plain_text(GifDecoder& g, uint32_t) {
  // The header sub-block (position, grid, colours); the text sub-blocks follow.
  uint32_t n = g.in->u8();
  g.in->skip(n);
}

void act_application(GifDecoder& g, uint32_t) {
  const int32_t size = static_cast<int8_t>(g.in->u8());
  char id[11];
  g.in->read(id, 11);
  if (g_error != 0) return;
  if (size < 11) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  g.in->skip(size - 11);
  if (std::memcmp(id, "NETSCAPE2.0", 11) != 0) return;
  // Find the loop sub-block (identifier with low bits 1); other sub-blocks are passed over.
  for (;;) {
    const uint32_t length = g.in->u8();
    if (g_error != 0) return;
    if (length == 0) {
      g.in->skip(-1);  // the terminator is left for the skipping state
      return;
    }
    const uint32_t id_byte = g.in->u8();
    if ((id_byte & 7) != 1) {
      g.in->skip(int64_t{length} - 1);
      continue;
    }
    const uint32_t count = g.in->u16le();
    if (g_error != 0) return;
    g.loop_count = static_cast<uint16_t>(count == 0 ? 65535 : count);
    if (length < 3) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    g.in->skip(int64_t{length} - 3);
    return;
  }
}

void act_control(GifDecoder& g, uint32_t) {
  const int32_t size = static_cast<int8_t>(g.in->u8());
  Handle handle;
  FrameControl* control;
  obj_create(TYPE_FRAME_CONTROL, &handle, &control);
  if (control == nullptr) return;
  group_add(g.group, TYPE_FRAME_CONTROL, handle, control);
  if (g_error != 0) return;
  g.control = handle;
  const uint32_t packed = g.in->u8();
  control->disposal = static_cast<uint8_t>((packed >> 2) & 7);
  control->user_input = static_cast<uint8_t>((packed >> 1) & 1);
  g.transparent_flag = static_cast<uint8_t>(packed & 1);
  control->loops = g.loop_count;
  control->delay = static_cast<int16_t>(g.in->u16le());
  g.transparent_index = static_cast<uint8_t>(g.in->u8());
  if (g_error != 0) return;
  if (size < 4) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  g.in->skip(size - 4);
}

// Index of a colour in a frame's palette of `*count` entries: the entry that holds it, a
// new entry when the palette has room, or the nearest entry of a full palette.
uint8_t palette_index_of(ImageRecord* image, int* count, uint8_t r, uint8_t g, uint8_t b) {
  int best = 0;
  int32_t best_distance = INT32_MAX;
  for (int i = 0; i < *count; ++i) {
    const int32_t dr = r - image->palette_red[i], dg = g - image->palette_green[i],
                  db = b - image->palette_blue[i];
    const int32_t distance = dr * dr + dg * dg + db * db;
    if (distance == 0) return static_cast<uint8_t>(i);
    if (distance < best_distance) best_distance = distance, best = i;
  }
  if (*count < 256) {
    const int i = (*count)++;
    image->palette_red[i] = r;
    image->palette_green[i] = g;
    image->palette_blue[i] = b;
    return static_cast<uint8_t>(i);
  }
  return static_cast<uint8_t>(best);
}

bool same_palette(const ImageRecord* a, const ImageRecord* b) {
  return std::memcmp(a->palette_red, b->palette_red, 256) == 0 &&
         std::memcmp(a->palette_green, b->palette_green, 256) == 0 &&
         std::memcmp(a->palette_blue, b->palette_blue, 256) == 0;
}

// The picture a frame is drawn over: the previous picture, unless that one was disposed of
// or is smaller, else the background. Each picture is shown with its own frame's palette,
// so when the palettes differ the previous picture's indexes are turned into indexes of
// the same colours in the new palette.
void start_picture(GifDecoder& g, ImageRecord* image, const ImageRecord* previous, int colours, bool local) {
  const bool from_previous = previous->pixels != nullptr && image->width <= previous->width &&
                             image->height <= previous->height && g.disposal_state != 2;
  if (from_previous && same_palette(image, previous)) {
    std::memcpy(image->pixels, previous->pixels, image->pixel_size);
    return;
  }
  // The background is the global palette's white entry, wherever the frame's palette
  // keeps that colour.
  uint8_t background = g.background;
  if (local) {
    background = palette_index_of(image, &colours, g.global_palette[g.background],
                                  g.global_palette[256 + g.background],
                                  g.global_palette[512 + g.background]);
  }
  if (!from_previous) {
    std::memset(image->pixels, background, image->pixel_size);
    return;
  }
  bool used[256] = {};
  const uint8_t* src = previous->pixels;
  for (uint32_t i = 0; i < image->pixel_size; ++i) used[src[i]] = true;
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) {
    map[i] = static_cast<uint8_t>(i);
    if (used[i] && (i >= colours || previous->palette_red[i] != image->palette_red[i] ||
                    previous->palette_green[i] != image->palette_green[i] ||
                    previous->palette_blue[i] != image->palette_blue[i]))
      map[i] = palette_index_of(image, &colours, previous->palette_red[i],
                                previous->palette_green[i], previous->palette_blue[i]);
  }
  uint8_t* dst = image->pixels;
  for (uint32_t i = 0; i < image->pixel_size; ++i) dst[i] = map[src[i]];
}

void act_image(GifDecoder& g, uint32_t) {
  // The frame before this one, or the screen at the first frame.
  const ImageRecord* previous = g.current != nullptr ? g.current : g.screen;
  Handle handle;
  ImageRecord* image;
  obj_create(TYPE_IMAGE, &handle, &image);
  if (image == nullptr) return;
  obj_copy(TYPE_IMAGE, previous->handle, handle);
  image->pixels = nullptr;
  g.current = image;
  if (g.control != 0) {
    if (FrameControl* control = obj_get<FrameControl>(TYPE_FRAME_CONTROL, g.control))
      control->image = handle;
  }
  image->has_transparent = g.transparent_flag;
  if (g.transparent_flag) image->transparent[0] = g.transparent_index;
  group_add(g.group, TYPE_IMAGE, handle, image);
  if (g_error != 0) return;

  g.frame_left = static_cast<int32_t>(g.in->u16le());
  g.frame_top = static_cast<int32_t>(g.in->u16le());
  g.frame_width = static_cast<int32_t>(g.in->u16le());
  g.frame_height = static_cast<int32_t>(g.in->u16le());
  if (g_error != 0) return;
  // A frame larger than the picture enlarges it, for this frame and the ones after it.
  if (g.frame_width > image->width || g.frame_height > image->height) {
    if (g.frame_width > image->width) image->width = g.frame_width;
    if (g.frame_height > image->height) image->height = g.frame_height;
    image->row_bytes = round_up4(image->width);
  }
  if (!image_set_pixel_size(image, 1)) return;
  // Every frame is a whole picture with its records: all of them together may not hold
  // more than one block of the largest size we accept.
  g.bytes_held += image->pixel_size + sizeof(ImageRecord) + sizeof(GroupRecord);
  if (g.bytes_held > mem_limit()) {
    g_error = ERR_MEMORY;
    return;
  }
  const int64_t frame_bytes = int64_t{g.frame_width} * g.frame_height;
  if (static_cast<uint64_t>(frame_bytes) > mem_limit()) {
    g_error = ERR_MEMORY;
    return;
  }
  image_alloc_pixels(image, g.group);
  if (g_error != 0) return;

  const uint32_t packed = g.in->u8();
  g.interlaced = static_cast<uint8_t>((packed >> 6) & 1);
  int colours;
  if (packed & 0x80) {
    std::memset(image->palette_red, 0, 256);
    std::memset(image->palette_green, 0, 256);
    std::memset(image->palette_blue, 0, 256);
    colours = 1 << ((packed & 7) + 1);
    read_palette(*g.in, image->palette_red, image->palette_green, image->palette_blue, colours);
  } else {
    std::memcpy(image->palette_red, g.global_palette, 256);
    std::memcpy(image->palette_green, g.global_palette + 256, 256);
    std::memcpy(image->palette_blue, g.global_palette + 512, 256);
    colours = g.global_count;
  }
  start_picture(g, image, previous, colours, (packed & 0x80) != 0);

  // A frame that covers the whole picture, rows in order, without transparency, whose rows
  // need no padding, is decoded straight into the picture.
  g.output_capacity = frame_bytes;
  g.output_in_place = !g.interlaced && !image->has_transparent && g.frame_left == 0 &&
                      g.frame_top == 0 && g.frame_width == image->width &&
                      g.frame_height == image->height && image->row_bytes == g.frame_width;
  if (g.output_in_place) {
    g.output = image->pixels;
  } else {
    g.output = g.decode_buffer.reserve(frame_bytes);
    if (g.output == nullptr) return;
  }

  const uint32_t minimum_code_size = g.in->u8();
  if (g_error != 0) return;
  gif_lzw_reset(g.lzw, static_cast<int>(minimum_code_size));
}

void act_image_data(GifDecoder& g, uint32_t length) { gif_image_data(g, length); }

void act_end_of_data(GifDecoder& g, uint32_t) { gif_end_of_image(g); }

using ActionFunction = void (*)(GifDecoder& g, uint32_t byte);
constexpr ActionFunction kActions[ACT_COUNT] = {
    act_none,       act_bad_byte, act_image,      act_trailer,     act_application,
    act_control,    act_plain_text, act_end_of_data, act_image_data, act_skip,
};

// Row of the frame that the i-th stored row belongs to: straight, or in the four passes
// of an interlaced image (every 8th row from 0, every 8th from 4, every 4th from 2,
// every 2nd from 1).
int32_t interlaced_row(int32_t i, int32_t height) {
  const int32_t pass1 = (height + 7) / 8;
  if (i < pass1) return i * 8;
  i -= pass1;
  const int32_t pass2 = (height + 3) / 8;
  if (i < pass2) return 4 + i * 8;
  i -= pass2;
  const int32_t pass3 = (height + 1) / 4;
  if (i < pass3) return 2 + i * 4;
  i -= pass3;
  return 1 + i * 2;
}

}  // namespace

void gif_end_of_image(GifDecoder& g) {
  ImageRecord* image = g.current;
  if (image == nullptr) return;
  // Only what was decoded is placed; a frame whose data ends early leaves the rest of its
  // area as it started.
  const int64_t frame_bytes = int64_t{g.frame_width} * g.frame_height;
  const int64_t decoded = g.lzw.out < frame_bytes ? g.lzw.out : frame_bytes;
  const int32_t width = g.frame_width;
  // The frame is clipped to the picture.
  int32_t columns = image->width - g.frame_left;
  if (columns > width) columns = width;
  const bool keyed = image->has_transparent != 0;
  const uint8_t key = image->transparent[0];
  if (columns > 0 && width > 0 && !g.output_in_place) {
    const int64_t rows = (decoded + width - 1) / width;
    for (int64_t i = 0; i < rows; ++i) {
      const int32_t frame_row =
          g.interlaced ? interlaced_row(static_cast<int32_t>(i), g.frame_height)
                       : static_cast<int32_t>(i);
      const int64_t row = int64_t{g.frame_top} + frame_row;
      if (row >= image->height) continue;
      int64_t n = decoded - i * width;
      if (n > columns) n = columns;
      const uint8_t* src = g.output + i * width;
      uint8_t* dst = image->pixels + row * image->row_bytes + g.frame_left;
      if (keyed) {
        // Transparent pixels keep what the frame started from.
        for (int64_t c = 0; c < n; ++c) dst[c] = src[c] == key ? dst[c] : src[c];
      } else {
        std::memcpy(dst, src, static_cast<size_t>(n));
      }
    }
  }
  if (g.control != 0) {
    if (FrameControl* control = obj_get<FrameControl>(TYPE_FRAME_CONTROL, g.control))
      g.disposal_state = control->disposal;
  }
}

void decode_gif(ImageRecord** image_slot, Handle group, ByteReader& in) {
  ImageRecord* screen = *image_slot;
  GifDecoder g{};
  g.in = &in;
  g.screen = screen;
  g.group = group;
  g.loop_count = 1;

  // The version is the word in the three bytes after "GIF"; none there is a read failure.
  char field[4] = {0, 0, 0, 0};
  char version[4] = {0, 0, 0, 0};
  in.seek(3);
  in.read(field, 3);
  if (g_error == 0 && std::sscanf(field, "%3s", version) != 1) g_error = ERR_FILE_ACCESS;
  if (g_error != 0) return;
  in.seek(6);
  if (std::strcmp(version, "87a") == 0) screen->description = DESC_GIF87A;
  else if (std::strcmp(version, "89a") == 0) screen->description = DESC_GIF89A;
  else screen->description = DESC_GIF_OTHER;

  screen->width = static_cast<int32_t>(g.in->u16le());
  screen->height = static_cast<int32_t>(g.in->u16le());
  const uint32_t packed = g.in->u8();
  screen->bits = static_cast<int32_t>((packed & 7) + 1);
  screen->pixel_bytes = 1;
  screen->planes = 1;
  screen->row_bytes = round_up4(screen->width);
  if (g_error == 0) image_set_pixel_size(screen, 1);
  g.background = static_cast<uint8_t>(g.in->u8());
  g.in->u8();  // aspect ratio, not used
  int colours = 1 << screen->bits;
  if ((packed & 0x80) && g_error == 0)
    read_palette(in, g.global_palette, g.global_palette + 256, g.global_palette + 512, colours);
  int white;
  palette_white_index(g.global_palette, &colours, &white);
  g.background = static_cast<uint8_t>(white);
  g.global_count = colours;

  State state = STATE_BETWEEN;
  while (g.done == 0 && g_error == 0) {
    const uint32_t byte = g.in->u8();
    if (g_error != 0) break;
    const Transition t = kTransitions[state][kClasses.of[byte]];
    kActions[t.action](g, byte);
    if (g_error != 0) break;
    state = t.next;
  }
  // A file that holds no image at all has nothing to show.
  if (g_error == 0 && g.current == nullptr) g_error = ERR_INVALID_FILE;

  *image_slot = nullptr;
  // The screen record served only as the first frame's template; the frames are the
  // group's images. On failure the dispatcher destroys it with everything else.
  if (g_error == 0) obj_destroy(TYPE_IMAGE, screen->handle);
}
