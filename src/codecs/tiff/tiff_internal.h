// Working state shared by the parts of the TIFF decoder: the directory reader fills it, the
// image decoding turns it into pixels. One TIFF file is decoded at a time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/registry.h"

struct ImageRecord;

struct TiffState {
  ImageRecord* image;      // record being filled
  Handle group;            // the caller's group
  int byte_order;          // 0 "II" little-endian, 1 big-endian
  int64_t file_size;

  int reduced_resolution;  // NewSubfileType bit 0: the directory is a thumbnail
  int fill_order;          // 1 most significant bit first, 2 least significant first
  int orientation;         // 1 to 8
  int planar_config;       // 1 chunky, 2 planar
  uint32_t rows_per_strip; // rows of a strip; for tiles the tile length
  uint32_t strip_count;    // 0: the image is tiled
  uint32_t offset_count;   // entries in `offsets`
  uint32_t byte_count_count;  // entries in `byte_counts`
  uint32_t* offsets;
  uint32_t* byte_counts;
  int colour_model;        // 0 palette or grey, 1 RGB, 2 YCbCr, 3 CMYK, 4 CIELab
  int predictor;           // 0 none, 1 horizontal differencing
  uint32_t tile_width;
  uint32_t tiles_across;
  uint32_t tiles_down;

  // As the file declares them; the record's `bits` and `planes` become the stored layout
  // when a page is decoded, so the next directory starts from these.
  int32_t sample_bits;
  int32_t samples;
  uint32_t file_width;     // ImageWidth
  uint32_t file_height;    // ImageLength
  uint64_t pixel_total;    // pixel bytes of the pages decoded so far
};

extern TiffState g_tiff;

// Walks the directory chain from the directory at `offset`, one page per full image.
void tiff_read_directory(uint32_t offset);

// Decodes the directory just read into the current record's pixels.
void tiff_decode_image();

// The bytes of one strip or tile, clipped to the file; `data` stays valid until the next call.
struct TiffChunk {
  const uint8_t* data;
  int64_t size;
};

// Row landing for the current strip or tile. A handler produces rows in the file's format
// (or, for Group 4, one byte per pixel) and hands them over one by one.
struct TiffRows {
  int32_t row_pixels;     // pixels of one coded row
  int64_t bytes_per_row;  // bytes of one coded row in the file's format
  int32_t rows;           // rows this strip or tile holds (clipped to the image)
  int32_t coded_rows;     // rows coded in the data (a tile always codes all its rows)
  int32_t shown_pixels;   // pixels of each row that fall inside the image
};

// Lands coded row `row` (0 = first of the current strip or tile) from `src`, which holds
// `bytes_per_row` bytes in the file's format. With `predicted`, values of fewer than 8 bits
// still carry horizontal differences, undone after unpacking. Rows past those that fall
// inside the image are ignored.
void tiff_land_row(const uint8_t* src, int32_t row, bool predicted);
// Where coded row `row` of `bytes` bytes can be decoded in place because it needs no
// conversion (8-bit samples, rows landing left to right), or null. The row counts as landed.
uint8_t* tiff_direct_row(int32_t row, int64_t bytes);
// Same for a row of one byte per pixel (0 or 1) as Group 4 produces it.
void tiff_land_bytes(const uint8_t* src, int32_t row);
// Where row `row` of one byte per pixel can be written directly, or null when the
// orientation needs tiff_land_bytes. The row counts as landed.
uint8_t* tiff_row_target(int32_t row);
// Horizontal differencing undone in place on a coded row of 8 bits per sample or more.
void tiff_undo_predictor(uint8_t* row, int32_t pixels);
bool tiff_predictor_active();

// Compression handlers: decode `chunk` into the rows described by `rows`.
void tiff_strip_raw(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_packbits(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_lzw(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_g4(const TiffChunk& chunk, const TiffRows& rows);

// Group 4: on a reference line given as its changing positions (even entries start black,
// odd ones white), b1 is the first change after a0 to the colour opposite `colour` and b2
// the change after it; a0 is -1 before the first pixel; positions not found are L. `cursor`
// carries the search position from one call to the next along a line.
void g4_find_b1_b2(const int32_t* reference, size_t count, int colour, int32_t a0, int32_t L,
                   size_t* cursor, int32_t* b1, int32_t* b2);

// Scratch buffers of the decoder, released at the end of each file.
uint8_t* tiff_buffer(int slot, int64_t size);
void tiff_free_buffers();
