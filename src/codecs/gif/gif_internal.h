// Working state shared by the GIF block parser and the LZW decoder: one context per decode,
// on the decode's stack, that frees its buffers when the decode ends.
#pragma once
#include <cstdint>

#include "core/memory.h"
#include "core/registry.h"
#include "io/byte_reader.h"

struct ImageRecord;

// Codes are at most 12 bits wide: the table holds codes 0 to 4095.
constexpr int kGifMaxCodes = 4096;
// Image data is joined from its sub-blocks this many bytes at a time.
constexpr int64_t kGifWindowBytes = 16 * 1024;

struct GifLzw {
  int32_t clear_code;
  int32_t end_code;
  int32_t initial_code_size;
  int32_t code_size;
  int32_t last_code;     // highest code assigned so far
  int32_t previous_length;  // length of the string of the code read before the current one
  bool fresh;            // the next code is the first after a clear code (or the start)
  int64_t out;           // bytes produced so far (may pass the buffer: those are not stored)
  // For codes above the end code: where the string was written, and its length. Literal
  // codes need neither: their string is their own value.
  uint32_t string_start[kGifMaxCodes];
  uint16_t string_length[kGifMaxCodes];
};

struct GifDecoder {
  ImageRecord* screen;    // the dispatcher's record: the logical screen, never given pixels
  ImageRecord* current;   // the frame being built
  Handle group;

  ByteReader* in;  // the whole file; its cursor is the parser's read position

  uint8_t global_palette[3 * 256];  // red, green, blue arrays
  uint8_t background;     // the global palette's white entry
  int32_t global_count;   // entries of the global palette in use, white included
  uint16_t loop_count;
  uint8_t transparent_flag;
  uint8_t transparent_index;
  Handle control;         // latest frame control, 0 before the first one
  uint8_t disposal_state;  // disposal that governs the start of the next frame
  int32_t frame_left, frame_top, frame_width, frame_height;
  uint8_t interlaced;
  int done;               // 0 parsing, 1 after the trailer, -1 after a rejected byte
  uint64_t bytes_held;    // pixel memory given to frames so far

  // Where the frame's indexes go in decode order, frame_width per row: the decode buffer,
  // or straight the picture's pixels when the frame covers the picture row for row.
  uint8_t* output;
  int64_t output_capacity;  // bytes the frame needs (frame_width x frame_height)
  bool output_in_place;
  ScratchBlock decode_buffer;

  // A window of an image's data with the sub-block length bytes taken out.
  ScratchBlock window;

  GifLzw lzw;
};

// Starts the LZW decoder of one image with the minimum code size m (error 14 above 11).
void gif_lzw_reset(GifLzw& lzw, int m);
// Decodes the image data that starts with the sub-block length byte just read, and the
// sub-blocks after it; leaves the read position at the length byte that ends the data.
void gif_image_data(GifDecoder& g, uint32_t length_byte);
// Places the decoded frame into its picture (the end of an image's data).
void gif_end_of_image(GifDecoder& g);
