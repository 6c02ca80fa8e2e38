// The state of one TIFF decode, shared by the parts of the decoder: the directory reader fills
// it, the image decoding turns it into pixels. It lives on decode_tiff's stack and owns every
// buffer the decode uses, so nothing outlives the decode.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/memory.h"
#include "core/registry.h"
#include "io/byte_reader.h"

struct ImageRecord;

// PhotometricInterpretation values.
enum TiffPhotometric : uint32_t {
  kWhiteIsZero = 0, kBlackIsZero = 1, kRgb = 2, kPalette = 3, kTransparencyMask = 4,
  kSeparated = 5, kYcbcr = 6, kCieLab = 8
};

// Colour models of `TiffState::colour_model`.
enum TiffColourModel : int {
  kPaletteOrGrey = 0,
  kRgbModel = 1,
  kYcbcrModel = 2,
  kCmykModel = 3,
  kLabModel = 4,
};

// Scratch buffers of the decoder, one per use, released with the state.
enum TiffBufferSlot {
  kRowBuffer,      // one converted row on its way to the image
  kChunkBuffer,    // a strip or tile with its bits reversed (FillOrder 2)
  kCodedRowBuffer, // one coded row (PackBits, the end of a short raw strip)
  kTileBuffer,     // the decoded strip or tile (LZW, Deflate, joined JPEG stream)
  kNarrowBuffer,   // a row of 16-bit samples reduced to 8 bits
  kExpandBuffer,   // subsampled YCbCr spread to one sample triple per pixel
  kBufferSlots
};

// Where file pixel (x, y) of a plane lands: origin + x * pixel_step + y * row_jump, in bytes
// from the start of the pixel block. Steps are multiples of the stored pixel size and may be
// negative (mirrored rows, rows that land as columns).
struct TiffGeometry {
  int64_t origin;
  int64_t pixel_step;
  int64_t row_jump;
};

// Row landing of the current page and of its current strip or tile.
struct TiffLanding {
  uint8_t* pixels;       // start of the pixel block
  TiffGeometry plane;    // geometry of the current plane
  int32_t bits;          // stored bits per pixel: 1, 2, 4, 8, 24 or 32
  int32_t pixel_bytes;
  bool rgba;             // 32-bit pixels are RGB plus an extra sample, not CMYK
  bool predictor;
  bool wide;             // coded samples are 16 bits, reduced to 8 before landing
  bool big_endian;       // byte order of 16-bit samples
  int32_t samples;       // samples of one coded pixel (1 for a plane)
  int32_t sub_h, sub_v;  // YCbCr subsampling: one coded row holds sub_v image rows
  // The current strip or tile.
  int32_t x0, y0;        // its first pixel in file coordinates
  int32_t pixels_shown;  // pixels of each row that fall inside the image
  int32_t rows;          // rows that fall inside the image
  int32_t row_pixels;    // coded pixels per row
  int32_t landed;        // rows of the current strip or tile landed so far (always from 0)
  bool cleared;          // the whole block was cleared before decoding

  // Where the first shown pixel of row `row` of the current strip or tile lands.
  uint8_t* land_ptr(int32_t row) const {
    return pixels + plane.origin + int64_t{x0} * plane.pixel_step + int64_t{y0 + row} * plane.row_jump;
  }
};

// One entry of the LZW string table: where its string stands in the decoded output.
struct LzwEntry {
  uint32_t position;
  uint32_t length;
};

struct TiffState {
  TiffState(ByteReader& reader, ImageRecord* first, Handle caller_group);
  ~TiffState();
  TiffState(const TiffState&) = delete;
  TiffState& operator=(const TiffState&) = delete;

  ByteReader& in;          // the file's bytes
  ImageRecord* image;      // record being filled
  Handle group;            // the caller's group
  ByteOrder byte_order = BIG_ENDIAN_ORDER;
  bool big = false;        // BigTIFF: 64-bit counts and offsets, 20-byte entries

  int reduced_resolution = 0;  // NewSubfileType bit 0: the directory is a thumbnail
  int fill_order = 1;          // 1 most significant bit first, 2 least significant first
  int orientation = 1;         // 1 to 8
  int planar_config = 1;       // 1 chunky, 2 planar
  uint32_t rows_per_strip = 0xFFFFFFFFu;  // rows of a strip; for tiles the tile length
  uint32_t strip_count = 0;    // 0: the image is tiled
  uint32_t offset_count = 0;   // entries in `offsets`
  uint32_t byte_count_count = 0;  // entries in `byte_counts`
  uint32_t* offsets = nullptr;
  uint32_t* byte_counts = nullptr;
  int colour_model = kPaletteOrGrey;
  int photometric = 0;         // PhotometricInterpretation as the file gives it
  int predictor = 0;           // 0 none, 1 horizontal differencing, 2 floating point
  bool old_jpeg = false;       // Compression 6, the JPEG of the first TIFF revisions
  uint64_t jpeg_tables_offset = 0;  // JPEGTables: quantisation and Huffman tables shared by
  uint32_t jpeg_tables_size = 0;    // every strip or tile (0: none)
  int signed_or_float = 0;     // SampleFormat other than unsigned integer
  uint32_t t4_options = 0;     // Group 3: bit 0 two-dimensional coding, bit 1 uncompressed mode
  int subsample_h = 2;         // YCbCr chroma subsampling, 1, 2 or 4 each way
  int subsample_v = 2;
  float luma[3] = {};          // YCbCr coefficients of red, green and blue
  float reference[6] = {};     // ReferenceBlackWhite: black and white codes of Y, Cb, Cr
  uint32_t tile_width = 0;
  uint32_t tiles_across = 0;
  uint32_t tiles_down = 0;

  // As the file declares them; the record's `bits` and `planes` become the stored layout
  // when a page is decoded, so the next directory starts from these.
  int32_t sample_bits = 1;
  int32_t samples = 1;
  uint32_t file_width = 0;     // ImageWidth
  uint32_t file_height = 0;    // ImageLength
  uint64_t pixel_total = 0;    // pixel bytes of the pages decoded so far
  uint64_t work = 0;           // directory entries and values read so far

  TiffLanding land{};
  // Group 4 lines as changing positions: the line above and the line being decoded.
  std::vector<int32_t> reference_changes;
  std::vector<int32_t> coding_changes;
  std::vector<LzwEntry> lzw_table;

  // Scratch buffer `slot` of at least `size` bytes (contents kept while it does not grow);
  // null with ERR_MEMORY past what one block may take.
  uint8_t* buffer(int slot, int64_t size) { return scratch_[slot].reserve(size); }
  // The decoded strip or tile.
  uint8_t* tile_buffer(int64_t size) { return buffer(kTileBuffer, size); }
  void free_tables();  // the strip or tile tables of the current directory

 private:
  ScratchBlock scratch_[kBufferSlots];
};

// Walks the directory chain from the directory at `offset`, one page per full image.
void tiff_read_directory(TiffState& tiff, uint64_t offset);

// Decodes the directory just read into the current record's pixels.
void tiff_decode_image(TiffState& tiff);

// The bytes of one strip or tile inside the file (or a buffer of the state).
struct TiffChunk {
  const uint8_t* data;
  int64_t size;
};
// True when `length` bytes at `offset` lie inside the file.
bool tiff_in_file(const TiffState& tiff, uint64_t offset, uint64_t length);
// The `count` bytes at `offset`; false with code 14 when they lie past the end of the file.
bool tiff_file_block(const TiffState& tiff, uint64_t offset, uint64_t count, TiffChunk* block);

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
void tiff_land_row(TiffState& tiff, const uint8_t* src, int32_t row, bool predicted);
// Where coded row `row` of `bytes` bytes can be decoded in place because it needs no
// conversion (8-bit samples, rows landing left to right), or null. The row counts as landed.
uint8_t* tiff_direct_row(TiffState& tiff, int32_t row, int64_t bytes);
// Same for a row of one byte per pixel (0 or 1) as Group 4 produces it.
void tiff_land_bytes(TiffState& tiff, const uint8_t* src, int32_t row);
// Where row `row` of one byte per pixel can be written directly, or null when the
// orientation needs tiff_land_bytes. The row counts as landed.
uint8_t* tiff_row_target(TiffState& tiff, int32_t row);
// Horizontal differencing undone in place on a coded row of 8 bits per sample or more.
void tiff_undo_predictor(const TiffLanding& land, uint8_t* row, int32_t pixels);

// Lands the rows that `produced` bytes of decoded output at `out` reach (LZW, Deflate),
// undoing the predictor first; a row cut short reads as 0 after the cut.
void tiff_land_output(TiffState& tiff, uint8_t* out, int64_t produced, const TiffRows& rows);

// Compression handlers: decode `chunk` into the rows described by `rows`.
using TiffStripHandler = void (*)(TiffState&, const TiffChunk&, const TiffRows&);
void tiff_strip_raw(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_packbits(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_lzw(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_deflate(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_jpeg(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
// CCITT: modified Huffman (one-dimensional, rows byte-aligned), Group 3 (rows after an
// end-of-line code, one- or two-dimensional by T4Options) and Group 4.
void tiff_strip_mh(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_g3(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);
void tiff_strip_g4(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows);

// Group 4: on a reference line given as its changing positions (even entries start black,
// odd ones white), b1 is the first change after a0 to the colour opposite `colour` and b2
// the change after it; a0 is -1 before the first pixel; positions not found are L. `cursor`
// carries the search position from one call to the next along a line.
void g4_find_b1_b2(const int32_t* reference, size_t count, int colour, int32_t a0, int32_t L,
                   size_t* cursor, int32_t* b1, int32_t* b2);
