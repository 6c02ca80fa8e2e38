// Shared state of the JPEG decoder: the decoder context, the frame layout used by the scan
// decoders and the reconstruction, and the entry points between the decoder's files.
#pragma once
#include <cstdint>

#include "core/registry.h"
#include "io/byte_reader.h"

struct ImageRecord;

struct JpegFrameComponent {
  uint8_t id;
  uint8_t h;
  uint8_t v;
  uint8_t quant_table;
};

// Frame types decoded (the low nibble of the SOF marker); the others are refused.
enum JpegFrameType : uint8_t { JPEG_BASELINE = 0, JPEG_EXTENDED = 1, JPEG_PROGRESSIVE = 2 };

struct JpegFrame {
  uint8_t type;  // low nibble of the SOF marker
  uint8_t precision;
  uint16_t lines;
  uint16_t samples_per_line;
  uint8_t component_count;
  JpegFrameComponent components[256];
};

struct JpegScanHeader {
  uint8_t component_count;
  uint8_t spectral_start;
  uint8_t spectral_end;
  uint8_t approx_high;
  uint8_t approx_low;
};

struct JpegScanComponent {
  uint8_t selector;
  uint8_t dc_table;
  uint8_t ac_table;
};

constexpr int kHuffFastBits = 10;

// One Huffman slot, as the DHT segment lists its codes: for each length n (index n - 1),
// `count` codes with consecutive 16-bit values from `first` (wrapping past 0xFFFF) and their
// symbols from `symbols + offset`. `fast` is made from them before a scan uses the slot: for
// every kHuffFastBits-bit prefix, the code it starts with as (length << 8 | symbol), or 0 when
// the code is longer.
struct JpegAcFast {
  int16_t value;   // the coefficient, when length + (rs & 15) <= kHuffFastBits
  uint8_t length;  // code length, 0 when the code is longer than kHuffFastBits
  uint8_t rs;
};

struct JpegHuffman {
  bool fast_ready;
  uint16_t fast[1 << kHuffFastBits];
  JpegAcFast ac_fast[1 << kHuffFastBits];
  uint16_t first[16];
  uint16_t count[16];
  uint16_t offset[16];
  uint8_t symbols[16 * 255];  // a valid table uses at most 256 of them
};

// Geometry of the current frame, made when its first scan (or its progressive header) is
// met. Coefficient blocks are 64 signed 16-bit values in natural (row-major) order; a block's
// row index is the vertical frequency.
struct JpegLayout {
  bool ready;
  int components;  // frame components taken into account (at most 4)
  int h[4], v[4], quant[4], blocks[4], coef_offset[4];
  int hf[4], vf[4];  // upsampling factors: max_h / h, max_v / v
  int max_h, max_v, mcu_width, mcu_height;
  int coefs_per_mcu;  // 64 x blocks of one MCU
  int mcus_per_row, mcu_rows;
  int64_t mcu_total;
  int level;
  int precision;
  // Whole-frame coefficient storage (progressive frames and sequential frames whose scans do
  // not carry all components at once); null while the frame streams MCU rows to the image.
  bool buffered;
  int16_t* coefs;
  // MCUs reconstructed together: the strips below hold the samples of this many columns.
  int chunk_mcus;
  // Streaming: the coefficients of up to chunk_mcus MCUs of one row, decoded but not yet
  // written (columns pending_first .. pending_last, the first at row_coefs).
  int16_t* row_coefs;
  int64_t pending_row;
  int pending_first, pending_last;
  const int16_t* last_block;  // coefficient block most recently decoded
  // Reconstruction scratch: float sample strips of one chunk of an MCU row, per component.
  float* strips[4];
  int strip_stride[4];
  float* line[4];  // one upsampled output row of a chunk per component
  double* products;  // chroma products of one chroma row (4 arrays), for 2:1 horizontal chroma
  int scans;             // progressive scans met in the frame
};

// The whole state of one decode, made on the decode's stack and released when it ends.
struct JpegDecoder {
  JpegDecoder(ImageRecord* image, Handle group, ByteReader& in, bool ycbcr);
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  ImageRecord* image;
  Handle group;
  ByteReader& in;  // the file's bytes, from the one after the start-of-image marker
  // Frame records kept: the current frame and the one whose header is being read.
  static constexpr int frame_capacity = 2;
  JpegFrame frames[frame_capacity] = {};
  JpegFrame* frame = nullptr;  // the current (last counted) frame, null before the first
  JpegFrame* reading = &frames[0];
  JpegScanHeader scan = {};
  JpegScanComponent scan_components[4] = {};
  uint16_t quant[4][64];  // zig-zag order, as stored in the file
  JpegHuffman* huff[8] = {};
  uint16_t restart_interval = 0;
  uint16_t restart_count = 0;
  bool ycbcr_convert;    // cleared by a SPIFF header
  bool as_stored;        // components kept as stored (TIFF strips say what they hold)
  bool jfif = false;     // a JFIF header was read
  bool adobe = false;    // an Adobe header was read, with its colour transform:
  uint8_t adobe_transform = 0;  // 0 none (RGB, CMYK), 1 YCbCr, 2 YCCK
  int64_t skipped = 0;   // bytes passed over between segments
  int64_t released = 0;  // the file's pages before this offset went back to the system
  int done = 0;          // 1 after the end-of-image marker, -1 after a rejected byte
  int64_t plane_size = 0;
  // One bit per 8x8 cell of the image, set when the cell's pixels were written; cells that no
  // scan reached are cleared at the end instead of the whole picture at the start.
  uint8_t* cells = nullptr;
  int cells_per_row = 0;
  int cell_row_bytes = 0;
  void mark_cell(int64_t cy, int64_t cx) { cells[cy * cell_row_bytes + (cx >> 3)] |= uint8_t(1u << (cx & 7)); }
  bool cell_written(int64_t cy, int64_t cx) const { return (cells[cy * cell_row_bytes + (cx >> 3)] >> (cx & 7)) & 1; }
  JpegLayout layout = {};
};

extern const uint8_t kJpegZigzag[64];  // zig-zag index -> natural index

// Frame layout from the current frame; false with g_error set when it cannot be decoded.
bool jpeg_layout_frame(JpegDecoder& d, bool buffered);
void jpeg_release_layout(JpegDecoder& d);

void decode_sequential_scan(JpegDecoder& d);
void setup_progressive_frame(JpegDecoder& d);
void decode_progressive_scan(JpegDecoder& d);
void finish_progressive_frame(JpegDecoder& d);  // also writes buffered sequential frames

// Reconstruction: the writing of the MCU columns first..last of one MCU row into the image
// (their coefficients one MCU after the other from `coefs`).
void write_mcus(JpegDecoder& d, const int16_t* coefs, int64_t mcu_row, int first, int last);
