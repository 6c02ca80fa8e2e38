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
  bool big;                // BigTIFF: 64-bit counts and offsets, 20-byte entries
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
  int photometric;         // PhotometricInterpretation as the file gives it
  int predictor;           // 0 none, 1 horizontal differencing, 2 floating point
  bool old_jpeg;           // Compression 6, the JPEG of the first TIFF revisions
  uint64_t jpeg_tables_offset;  // JPEGTables: quantisation and Huffman tables shared by
  uint32_t jpeg_tables_size;    // every strip or tile (0: none)
  int signed_or_float;     // SampleFormat other than unsigned integer
  uint32_t t4_options;     // Group 3: bit 0 two-dimensional coding, bit 1 uncompressed mode
  int subsample_h;         // YCbCr chroma subsampling, 1, 2 or 4 each way
  int subsample_v;
  float luma[3];           // YCbCr coefficients of red, green and blue
  float reference[6];      // ReferenceBlackWhite: black and white codes of Y, Cb, Cr
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
void tiff_read_directory(uint64_t offset);

// Decodes the directory just read into the current record's pixels.
void tiff_decode_image();

// The bytes of one strip or tile, clipped to the file; `data` stays valid until the next call.
struct TiffChunk {
  const uint8_t* data;
  int64_t size;
};
// Reads `count` bytes at `offset` (through buffer `slot` when the file is not held whole);
// false with code 14 when they lie past the end of the file.
bool tiff_read_block(uint64_t offset, uint64_t count, int slot, TiffChunk* block);

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

// Lands the rows that `produced` bytes of decoded output at `out` reach (LZW, Deflate),
// undoing the predictor first; a row cut short reads as 0 after the cut.
void tiff_land_output(uint8_t* out, int64_t produced, const TiffRows& rows);

// Compression handlers: decode `chunk` into the rows described by `rows`.
void tiff_strip_raw(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_packbits(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_lzw(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_deflate(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_jpeg(const TiffChunk& chunk, const TiffRows& rows);
// CCITT: modified Huffman (one-dimensional, rows byte-aligned), Group 3 (rows after an
// end-of-line code, one- or two-dimensional by T4Options) and Group 4.
void tiff_strip_mh(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_g3(const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_g4(const TiffChunk& chunk, const TiffRows& rows);

// Group 4: on a reference line given as its changing positions (even entries start black,
// odd ones white), b1 is the first change after a0 to the colour opposite `colour` and b2
// the change after it; a0 is -1 before the first pixel; positions not found are L. `cursor`
// carries the search position from one call to the next along a line.
void g4_find_b1_b2(const int32_t* reference, size_t count, int colour, int32_t a0, int32_t L,
                   size_t* cursor, int32_t* b1, int32_t* b2);

// Scratch buffers of the decoder, one per use, released at the end of each file.
enum TiffBufferSlot {
  kRowBuffer,      // one converted row on its way to the image
  kChunkBuffer,    // a strip or tile read through the window, or bit-reversed
  kCodedRowBuffer, // one coded row (PackBits, the end of a short raw strip)
  kOutputBuffer,   // the decoded strip or tile (LZW, Deflate)
  kNarrowBuffer,   // a row of 16-bit samples reduced to 8 bits
  kExpandBuffer,   // subsampled YCbCr spread to one sample triple per pixel
  kTablesBuffer,   // JPEG tables read through the window
  kBufferSlots
};
uint8_t* tiff_buffer(int slot, int64_t size);
void tiff_free_buffers();
