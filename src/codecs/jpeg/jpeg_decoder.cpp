// JPEG marker parser: a state machine driven by a byte-class table, a transition table and a
// table of actions, reading the headers into the decoder context and handing each scan to the
// sequential or progressive scan decoder.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/jpeg/jpeg_internal.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"
#include "io/byte_reader.h"

const uint8_t kJpegZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

// The usual luminance and chrominance tables, in natural order; a file that sends no DQT for
// tables 0 and 1 uses them.
const uint8_t kDefaultLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint8_t kDefaultChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Classes of the byte read where a marker may begin or where its code stands.
enum ByteClass : uint8_t {
  CLASS_PREFIX,  // FF
  CLASS_SOI,
  CLASS_EOI,
  CLASS_COM,
  CLASS_APP0,
  CLASS_APP1,
  CLASS_APP8,
  CLASS_APP_OTHER,  // E2-E7, E9-EF
  CLASS_SOS,
  CLASS_DQT,
  CLASS_DNL,
  CLASS_DRI,
  CLASS_DHP,
  CLASS_EXP,
  // The frame headers, one class each, in the order of the frame prefix states.
  CLASS_SOF0,
  CLASS_SOF1,
  CLASS_SOF2,
  CLASS_SOF3,
  CLASS_SOF5,
  CLASS_SOF6,
  CLASS_SOF7,
  CLASS_SOF9,
  CLASS_SOF10,
  CLASS_SOF11,
  CLASS_SOF13,
  CLASS_SOF14,
  CLASS_SOF15,
  CLASS_DHT,
  CLASS_DAC,
  CLASS_RST,    // D0-D7
  CLASS_JPG,    // C8, F0-FD
  CLASS_TEM,    // 01
  CLASS_ZERO,   // 00
  CLASS_OTHER,  // 02-BF
  CLASS_COUNT
};

// Parser states. A prefix state waits for the FF of a marker, the marker state after it for
// its code: one pair before any frame, and one pair for each frame type, in the order of the
// frame classes (the marker state of a frame type lies kMarkerOffset above its prefix state).
enum ParserState : uint8_t {
  STATE_PREFIX = 0,
  STATE_MARKER = 1,
  STATE_FIRST_FRAME_PREFIX = 2,
};
constexpr int kFrameTypeCount = CLASS_SOF15 - CLASS_SOF0 + 1;
constexpr int kMarkerOffset = kFrameTypeCount;
constexpr int kStateCount = STATE_FIRST_FRAME_PREFIX + 2 * kFrameTypeCount;
constexpr uint8_t kProgressivePrefix = STATE_FIRST_FRAME_PREFIX + (CLASS_SOF2 - CLASS_SOF0);
constexpr uint8_t kProgressiveMarker = kProgressivePrefix + kMarkerOffset;
// SOF markers of the refused frame types past SOF3, in class order.
constexpr uint8_t kLaterFrameMarkers[] = {0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF};
constexpr uint8_t kFirstArithmeticType = 9;  // frame types from 9 on code with arithmetic

enum Action : uint8_t {
  A_NOTHING,
  A_END_OF_IMAGE,
  A_BAD_BYTE,
  A_SKIP_SEGMENT,
  A_METADATA,
  A_JUNK,
  A_JUNK_AFTER_PREFIX,
  A_DQT,
  A_SOF_REFUSED,
  A_SOF_SEQUENTIAL,
  A_SOF_PROGRESSIVE,
  A_DHT,
  A_SOS,
  A_SOI,
  A_DRI,
  A_RESTART,
  A_COUNT
};

struct Transition {
  uint8_t action;
  uint8_t next;
};

struct Tables {
  uint8_t byte_class[256];
  Transition transition[kStateCount][CLASS_COUNT];
};

constexpr ByteClass class_of(int b) {
  switch (b) {
    case 0xFF: return CLASS_PREFIX;
    case 0xD8: return CLASS_SOI;
    case 0xD9: return CLASS_EOI;
    case 0xFE: return CLASS_COM;
    case 0xE0: return CLASS_APP0;
    case 0xE1: return CLASS_APP1;
    case 0xE8: return CLASS_APP8;
    case 0xDA: return CLASS_SOS;
    case 0xDB: return CLASS_DQT;
    case 0xDC: return CLASS_DNL;
    case 0xDD: return CLASS_DRI;
    case 0xDE: return CLASS_DHP;
    case 0xDF: return CLASS_EXP;
    case 0xC0: return CLASS_SOF0;
    case 0xC1: return CLASS_SOF1;
    case 0xC2: return CLASS_SOF2;
    case 0xC3: return CLASS_SOF3;
    case 0xC4: return CLASS_DHT;
    case 0xCC: return CLASS_DAC;
    case 0xC8: return CLASS_JPG;
    case 0x01: return CLASS_TEM;
    case 0x00: return CLASS_ZERO;
    default: break;
  }
  if (b >= 0xE2 && b <= 0xEF) return CLASS_APP_OTHER;
  if (b >= 0xD0 && b <= 0xD7) return CLASS_RST;
  if (b >= 0xF0 && b <= 0xFD) return CLASS_JPG;
  for (int i = 0; i < int(sizeof kLaterFrameMarkers); ++i)
    if (b == kLaterFrameMarkers[i]) return static_cast<ByteClass>(CLASS_SOF5 + i);
  return CLASS_OTHER;
}

// The frame type (the SOF marker's low nibble) of a frame class.
constexpr int frame_type(int frame_class) {
  return frame_class <= CLASS_SOF3 ? frame_class - CLASS_SOF0 : kLaterFrameMarkers[frame_class - CLASS_SOF5] & 15;
}

constexpr Tables make_tables() {
  Tables t{};
  for (int b = 0; b < 256; ++b) t.byte_class[b] = class_of(b);
  // Prefix states. A byte other than the prefix starts no marker: it is passed over (and
  // counted) up to the next prefix.
  for (int s = 0; s < kStateCount; ++s) {
    const bool prefix = s == STATE_PREFIX || (s >= STATE_FIRST_FRAME_PREFIX && s < STATE_FIRST_FRAME_PREFIX + kFrameTypeCount);
    if (!prefix) continue;
    const uint8_t marker = s == STATE_PREFIX ? uint8_t{STATE_MARKER} : static_cast<uint8_t>(s + kMarkerOffset);
    for (int c = 0; c < CLASS_COUNT; ++c) t.transition[s][c] = {A_JUNK, static_cast<uint8_t>(s)};
    t.transition[s][CLASS_PREFIX] = {A_NOTHING, marker};
  }
  // Marker code states, each returning to its prefix state (its home).
  for (int s = STATE_MARKER; s < kStateCount; ++s) {
    const bool in_frame = s >= STATE_FIRST_FRAME_PREFIX + kMarkerOffset;
    if (s != STATE_MARKER && !in_frame) continue;
    const uint8_t home = in_frame ? static_cast<uint8_t>(s - kMarkerOffset) : uint8_t{STATE_PREFIX};
    const int type = in_frame ? frame_type(CLASS_SOF0 + home - STATE_FIRST_FRAME_PREFIX) : -1;
    Transition* row = t.transition[s];
    for (int c = 0; c < CLASS_COUNT; ++c) row[c] = {A_BAD_BYTE, STATE_PREFIX};
    // Further prefixes are fill bytes; a prefix followed by 00 or by a byte that is no marker
    // code is passed over like any other stray byte.
    row[CLASS_PREFIX] = {A_NOTHING, static_cast<uint8_t>(s)};
    row[CLASS_ZERO] = row[CLASS_OTHER] = {A_JUNK_AFTER_PREFIX, home};
    row[CLASS_SOI] = {A_SOI, STATE_PREFIX};
    row[CLASS_EOI] = {A_END_OF_IMAGE, STATE_PREFIX};
    for (int c : {CLASS_DNL, CLASS_DHP, CLASS_EXP, CLASS_DAC, CLASS_JPG, CLASS_TEM}) row[c] = {A_SKIP_SEGMENT, home};
    for (int c : {CLASS_COM, CLASS_APP0, CLASS_APP1, CLASS_APP8, CLASS_APP_OTHER}) row[c] = {A_METADATA, home};
    row[CLASS_SOS] = {A_SOS, home};
    row[CLASS_DQT] = {A_DQT, home};
    row[CLASS_DRI] = {A_DRI, home};
    row[CLASS_DHT] = {type >= kFirstArithmeticType ? A_SKIP_SEGMENT : A_DHT, home};
    for (int c = CLASS_SOF0; c <= CLASS_SOF15; ++c) {
      const Action action = c <= CLASS_SOF1 ? A_SOF_SEQUENTIAL : c == CLASS_SOF2 ? A_SOF_PROGRESSIVE : A_SOF_REFUSED;
      row[c] = {action, static_cast<uint8_t>(STATE_FIRST_FRAME_PREFIX + c - CLASS_SOF0)};
    }
    if (in_frame) row[CLASS_RST] = {A_RESTART, home};
  }
  return t;
}

constexpr Tables kTables = make_tables();

// Compares a segment's length with what its fields took: shorter is a broken file, longer
// leaves bytes that are passed over.
void check_length(JpegDecoder& d, uint32_t length, uint32_t used) {
  if (g_error != 0) return;
  if (length < used) {
    g_error = ERR_INVALID_FILE;
  } else if (length > used) {
    d.in.skip(static_cast<int64_t>(length - used));
  }
}

void nothing(JpegDecoder&, int) {}

void bad_byte(JpegDecoder& d, int) {
  d.done = -1;
  g_error = ERR_INVALID_FILE;
}

void soi(JpegDecoder& d, int) {
  d.restart_count = 0;
  d.restart_interval = 0;
}

// A frame that holds buffered coefficients is written before another frame starts, and at
// the end of the image.
void finish_current_frame(JpegDecoder& d) {
  if (d.frame != nullptr && d.layout.ready && d.layout.buffered) finish_progressive_frame(d);
}

void end_of_image(JpegDecoder& d, int) {
  finish_current_frame(d);
  if (g_error == 0) d.done = 1;
}

void skip_segment(JpegDecoder& d, int) {
  uint32_t length = d.in.u16be();
  if (g_error != 0) return;
  if (length < 2) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  d.in.skip(static_cast<int64_t>(length) - 2);
}

void dri(JpegDecoder& d, int) {
  uint32_t length = d.in.u16be();
  d.restart_interval = static_cast<uint16_t>(d.in.u16be());
  check_length(d, length, 4);
}

// Bytes passed over outside any segment; reported once per file.
void junk(JpegDecoder& d, int) { ++d.skipped; }
void junk_after_prefix(JpegDecoder& d, int) { d.skipped += 2; }

// The body of a metadata segment (APPn, COM), as far as the file holds it; the parser goes on
// after the segment whatever its contents say. A length below 2 covers no bytes.
struct Metadata {
  const uint8_t* bytes;
  int64_t size;
  bool starts_with(const char* id, int64_t needed) const {
    return size >= needed && std::memcmp(bytes, id, std::strlen(id)) == 0;
  }
};

Metadata read_metadata(ByteReader& in) {
  const uint32_t length = in.u16be();
  if (g_error != 0) return {nullptr, 0};
  const int64_t start = in.tell(), size = in.size();
  const int64_t body = length >= 2 ? length - 2 : 0;
  in.seek(start + body);
  return {in.data() + std::min(start, size), std::clamp<int64_t>(size - start, 0, body)};
}

void read_jfif(JpegDecoder& d, const Metadata& m) {
  ImageRecord* image = d.image;
  d.jfif = true;
  image->description = DESC_JPEG_JFIF;
  const uint8_t* p = m.bytes + 5;  // after "JFIF" and its zero: version, units, densities
  const uint32_t units = p[2];
  int32_t x = static_cast<int16_t>(load_u16be(p + 3));
  int32_t y = static_cast<int16_t>(load_u16be(p + 5));
  if (units == 2) {  // dots per centimetre become dots per inch
    x = static_cast<int32_t>(x * 2.54);
    y = static_cast<int32_t>(y * 2.54);
  }
  image->x_resolution = x;
  image->y_resolution = y;
}

void read_spiff(JpegDecoder& d, const Metadata& m) {
  ImageRecord* image = d.image;
  d.ycbcr_convert = false;
  image->description = DESC_JPEG_SPIFF;
  // After the identifier: version, profile, component count, height, width, colour space, bits
  // per sample and compression, which the frame header says again; then the resolution.
  const uint8_t* p = m.bytes + 6 + 15;
  const uint32_t units = p[0];
  if (units == 0) log_write("la resolution est en rapport de pixels");
  else if (units == 1) log_write("la resolution est en points par pouce");
  else if (units == 2) log_write("la resolution est en points par cm");
  image->y_resolution = static_cast<int32_t>(load_u32be(p + 1));
  image->x_resolution = static_cast<int32_t>(load_u32be(p + 5));
}

// Metadata segments: JFIF (APP0), Exif (APP1), SPIFF (APP8) and Adobe (APP14) headers are
// read when whole; anything else, a comment included, is passed over.
void metadata(JpegDecoder& d, int marker) {
  const Metadata m = read_metadata(d.in);
  if (g_error != 0) return;
  if (marker == 0xE0 && m.starts_with("JFIF", 14)) {
    read_jfif(d, m);
  } else if (marker == 0xE1 && m.starts_with("Exif", 5)) {
    d.image->description = DESC_JPEG_EXIF;
  } else if (marker == 0xE8 && m.starts_with("SPIFF", 30)) {
    read_spiff(d, m);
  } else if (marker == 0xEE && m.starts_with("Adobe", 12)) {
    d.adobe = true;
    d.adobe_transform = m.bytes[11];
  }
}

void dqt(JpegDecoder& d, int) {
  ByteReader& in = d.in;
  uint32_t length = in.u16be();
  uint32_t position = 2;
  while (g_error == 0 && position + 65 <= length) {
    uint32_t pq_tq = in.u8();
    uint32_t tq = pq_tq & 15, pq = pq_tq >> 4;
    if (g_error != 0) return;
    if (tq > 3 || pq > 1) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    for (int i = 0; i < 64; ++i) d.quant[tq][i] = static_cast<uint16_t>(pq == 0 ? in.u8() : in.u16be());
    position += 65 + 64 * pq;
  }
  check_length(d, length, position);
}

void dht(JpegDecoder& d, int) {
  ByteReader& in = d.in;
  uint32_t length = in.u16be();
  uint32_t position = 2;
  while (g_error == 0 && position + 17 <= length) {
    uint32_t tc_th = in.u8();
    uint32_t th = tc_th & 15, tc = tc_th >> 4;
    if (g_error != 0) return;
    if (th > 3 || tc > 1) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    JpegHuffman*& slot = d.huff[th * 2 + tc];
    if (slot == nullptr && mem_alloc(&slot, sizeof(JpegHuffman)) == nullptr) return;
    slot->fast_ready = false;
    uint32_t code = 0, total = 0;
    for (int n = 0; n < 16; ++n) {
      const uint32_t count = in.u8();
      slot->first[n] = static_cast<uint16_t>(code & 0xFFFF);
      slot->count[n] = static_cast<uint16_t>(count);
      slot->offset[n] = static_cast<uint16_t>(total);
      total += count;
      code = (code + count) * 2;
    }
    for (uint32_t i = 0; i < total && g_error == 0; ++i) slot->symbols[i] = static_cast<uint8_t>(in.u8());
    position += 17 + total;
  }
  check_length(d, length, position);
}

// Reads the common part of a frame header into the frame being read.
JpegFrame* read_frame_header(JpegDecoder& d, uint32_t* length) {
  JpegFrame* frame = d.reading;
  ByteReader& in = d.in;
  *length = in.u16be();
  frame->precision = static_cast<uint8_t>(in.u8());
  frame->lines = static_cast<uint16_t>(in.u16be());
  frame->samples_per_line = static_cast<uint16_t>(in.u16be());
  frame->component_count = static_cast<uint8_t>(in.u8());
  return g_error == 0 ? frame : nullptr;
}

// Sets up the image record from the first frame. Samples of more than 8 bits are reduced to
// one byte each, so rows are `width` bytes and the display reads them like 8-bit planes.
void set_up_image(JpegDecoder& d, const JpegFrame* frame) {
  ImageRecord* image = d.image;
  image->bits = frame->precision;
  image->height = frame->lines;
  image->width = frame->samples_per_line;
  image->planes = frame->component_count;
  if (image->bits < 2 || image->bits > 16) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  image->pixel_bytes = 1;
  image->row_bytes = image->bits < 9 ? (image->width + 3) & ~3 : image->width;
  if (!image_set_pixel_size(image, image->planes)) return;
  image_alloc_pixels(image, d.group);
  if (g_error != 0) return;
  d.cells_per_row = (image->width + 7) / 8;
  d.cell_row_bytes = (d.cells_per_row + 7) / 8;
  const size_t cell_bytes = size_t(d.cell_row_bytes) * ((image->height + 7) / 8);
  if (mem_alloc(&d.cells, cell_bytes == 0 ? 1 : cell_bytes) == nullptr) return;
  std::memset(d.cells, 0, cell_bytes);
  if (image->planes == 1) palette_set_identity(image);
  d.plane_size = int64_t{image->height} * image->row_bytes;
}

void frame_components(JpegDecoder& d, JpegFrame* frame, uint32_t length) {
  if (frame->lines == 0) {  // height given later by a DNL segment: not supported
    g_error = ERR_UNHANDLED;
    return;
  }
  if (frame->samples_per_line == 0 || frame->component_count == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (d.image->bits == 0) {
    set_up_image(d, frame);
    if (g_error != 0) return;
  }
  for (int i = 0; i < frame->component_count; ++i) {
    JpegFrameComponent& c = frame->components[i];
    c.id = static_cast<uint8_t>(d.in.u8());
    uint32_t sampling = d.in.u8();
    c.h = static_cast<uint8_t>(sampling >> 4);
    c.v = static_cast<uint8_t>(sampling & 15);
    c.quant_table = static_cast<uint8_t>(d.in.u8());
  }
  if (g_error != 0) return;
  // The frame becomes the current one; the other record takes the next header.
  d.reading = frame == &d.frames[0] ? &d.frames[1] : &d.frames[0];
  d.frame = frame;
  jpeg_release_layout(d);
  check_length(d, length, 3u * frame->component_count + 8);
}

void sof_sequential(JpegDecoder& d, int byte) {
  finish_current_frame(d);
  if (g_error != 0) return;
  uint32_t length;
  JpegFrame* frame = read_frame_header(d, &length);
  if (frame == nullptr) return;
  frame->type = static_cast<uint8_t>(byte & 15);
  bool ok = frame->type == JPEG_BASELINE ? frame->precision == 8 : frame->precision == 8 || frame->precision == 12;
  if (!ok) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  frame_components(d, frame, length);
}

void sof_progressive(JpegDecoder& d, int byte) {
  finish_current_frame(d);
  if (g_error != 0) return;
  uint32_t length;
  JpegFrame* frame = read_frame_header(d, &length);
  if (frame == nullptr) return;
  frame->type = static_cast<uint8_t>(byte & 15);
  if ((frame->precision != 8 && frame->precision != 12) || frame->component_count > 4) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  frame_components(d, frame, length);
  if (g_error == 0) setup_progressive_frame(d);
}

void sof_refused(JpegDecoder& d, int byte) {
  uint32_t length;
  JpegFrame* frame = read_frame_header(d, &length);
  if (frame == nullptr) return;
  const int type = byte & 15;
  frame->type = static_cast<uint8_t>(type);
  static const char* const kNames[16] = {
      nullptr, nullptr, nullptr, "JPEG Lossless Huffman", nullptr,
      "JPEG Differential Sequential DCT Huffman", "JPEG Differential Progressive DCT Huffman",
      "JPEG Differential lossless Huffman", nullptr, "JPEG Extended Sequential DCT Arithmetic",
      "JPEG Progressive DCT Arithmetic", "JPEG Lossless Sequential DCT Arithmetic", nullptr,
      "JPEG Differential Sequential DCT Arithmetic", "JPEG Differential Progressive DCT Arithmetic",
      "JPEG Differential Lossless DCT Arithmetic"};
  char text[kImageNameSize + 96];
  std::snprintf(text, sizeof text, "image %s : %s non traite", d.image->name,
                kNames[type] != nullptr ? kNames[type] : "JPEG");
  log_write(text);
  // A precision the frame type allows makes the file one we do not handle, any other a broken one.
  const int p = frame->precision;
  bool known;
  if (type == 3 || type == 7 || type == 11 || type == 15) known = p >= 2 && p <= 16;  // lossless
  else if (type == 5 || type == 13) known = p == 8;
  else known = p == 8 || p == 12;
  g_error = known ? ERR_UNKNOWN_FORMAT : ERR_INVALID_FILE;
}

// Runs the scan decoder of the current frame's type over the data that follows.
void decode_scan(JpegDecoder& d) {
  if (d.frame->type == JPEG_PROGRESSIVE) decode_progressive_scan(d);
  else decode_sequential_scan(d);
}

void sos(JpegDecoder& d, int) {
  ByteReader& in = d.in;
  d.restart_count = 0;
  uint32_t length = in.u16be();
  uint32_t count = in.u8();
  if (g_error != 0) return;
  if (count > 4) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  d.scan.component_count = static_cast<uint8_t>(count);
  for (uint32_t i = 0; i < count; ++i) {
    d.scan_components[i].selector = static_cast<uint8_t>(in.u8());
    uint32_t tables = in.u8();
    d.scan_components[i].dc_table = static_cast<uint8_t>(tables >> 4);
    d.scan_components[i].ac_table = static_cast<uint8_t>(tables & 15);
  }
  uint32_t ss = in.u8(), se = in.u8();
  if (g_error != 0) return;
  if (ss > 63 || se > 63) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  d.scan.spectral_start = static_cast<uint8_t>(ss);
  d.scan.spectral_end = static_cast<uint8_t>(se);
  uint32_t ah_al = in.u8();
  d.scan.approx_high = static_cast<uint8_t>(ah_al >> 4);
  d.scan.approx_low = static_cast<uint8_t>(ah_al & 15);
  check_length(d, length, 2 * count + 6);
  if (g_error != 0) return;
  // A scan needs a frame, and at least one component.
  if (d.frame == nullptr || count == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  decode_scan(d);
}

void restart(JpegDecoder& d, int) {
  ++d.restart_count;
  // Without a restart interval a restart marker would start the scan over from its first MCU
  // again and again; such a file is broken.
  if (d.frame == nullptr || d.scan.component_count == 0 || d.restart_interval == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  decode_scan(d);
}

using ActionFn = void (*)(JpegDecoder&, int);
const ActionFn kActions[A_COUNT] = {
    nothing,     end_of_image,   bad_byte,        skip_segment, metadata, junk, junk_after_prefix, dqt,
    sof_refused, sof_sequential, sof_progressive, dht,          sos,      soi,  dri,               restart};

// Pixels that no scan wrote (data cut short, components or restart intervals missing) and the
// row padding are black rather than whatever the memory held.
void clear_unwritten_cells(const JpegDecoder& d) {
  ImageRecord* image = d.image;
  if (image->pixels == nullptr || d.cells == nullptr) return;
  if (image->row_bytes > image->width) {  // the padding at the end of each row
    for (int64_t r = 0; r < int64_t{image->height} * image->planes; ++r)
      std::memset(image->pixels + r * image->row_bytes + image->width, 0,
                  size_t(image->row_bytes - image->width));
  }
  const int rows = (image->height + 7) / 8;
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < d.cells_per_row; ++cx) {
      if (d.cell_written(cy, cx)) continue;
      const int w = std::min(8, image->width - cx * 8), h = std::min(8, image->height - cy * 8);
      for (int p = 0; p < image->planes; ++p)
        for (int y = 0; y < h; ++y)
          std::memset(image->pixels + p * d.plane_size + int64_t(cy * 8 + y) * image->row_bytes + cx * 8, 0,
                      size_t(w));
    }
  }
}

// Decodes the bytes of `in` from the one after their start-of-image marker.
void decode(ImageRecord* image, Handle group, ByteReader& in, bool ycbcr) {
  in.seek(2);
  JpegDecoder d(image, group, in, ycbcr);
  image->bits = 0;
  uint8_t state = STATE_PREFIX;
  while (d.done == 0) {
    const uint32_t byte = in.u8();
    if (g_error != 0) {
      // The file ends before its end-of-image marker: inside the scans of a progressive frame
      // the read error stands, elsewhere the structure is broken.
      if (state != kProgressivePrefix && state != kProgressiveMarker) bad_byte(d, 0);
      break;
    }
    const Transition t = kTables.transition[state][kTables.byte_class[byte]];
    kActions[t.action](d, static_cast<int>(byte));
    if (g_error != 0) break;
    state = t.next;
  }
  if (g_error == 0) clear_unwritten_cells(d);
  if (d.skipped != 0) {
    char text[kImageNameSize + 64];
    std::snprintf(text, sizeof text, "image %s : %lld octets ignores entre les segments", image->name,
                  static_cast<long long>(d.skipped));
    log_write(text);
  }
}

}  // namespace

JpegDecoder::JpegDecoder(ImageRecord* image_, Handle group_, ByteReader& in_, bool ycbcr)
    : image(image_), group(group_), in(in_), ycbcr_convert(ycbcr), as_stored(!ycbcr) {
  for (int i = 0; i < 64; ++i) {
    quant[0][i] = kDefaultLuminance[kJpegZigzag[i]];
    quant[1][i] = kDefaultChrominance[kJpegZigzag[i]];
    quant[2][i] = 0;
    quant[3][i] = 0;
  }
  layout.pending_row = -1;
}

JpegDecoder::~JpegDecoder() {
  for (JpegHuffman*& slot : huff) mem_free(&slot);
  jpeg_release_layout(*this);
  mem_free(&cells);
}

void decode_jpeg(ImageRecord* image, Handle group, ByteReader& in) { decode(image, group, in, true); }

void decode_jpeg_memory(ImageRecord* image, const uint8_t* data, int64_t size, bool ycbcr) {
  PaddedBytes bytes(data, size);
  if (!bytes.ok()) return;
  ByteReader in = bytes.reader();
  decode(image, 0, in, ycbcr);
}
