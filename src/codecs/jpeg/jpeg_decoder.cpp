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
#include "io/stream.h"

JpegDecoder g_jpeg;

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

// Frame types of the prefix states 2..14, in state order.
const uint8_t kFrameTypes[13] = {0, 1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15};

enum Action : uint8_t {
  A_NOTHING,
  A_END_OF_IMAGE,
  A_BAD_BYTE,
  A_SKIP,
  A_METADATA,
  A_JUNK,
  A_JUNK_AFTER_FF,
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
  Transition transition[28][34];
};

Tables make_tables() {
  Tables t{};
  for (int b = 0; b < 256; ++b) {
    int c = 33;
    if (b == 0xFF) c = 0;
    else if (b == 0xD8) c = 1;
    else if (b == 0xD9) c = 2;
    else if (b == 0xFE) c = 3;
    else if (b == 0xE0) c = 4;
    else if (b == 0xE1) c = 5;
    else if (b == 0xE8) c = 6;
    else if (b >= 0xE2 && b <= 0xEF) c = 7;
    else if (b == 0xDA) c = 8;
    else if (b == 0xDB) c = 9;
    else if (b == 0xDC) c = 10;
    else if (b == 0xDD) c = 11;
    else if (b == 0xDE) c = 12;
    else if (b == 0xDF) c = 13;
    else if (b == 0xC0) c = 14;
    else if (b == 0xC1) c = 15;
    else if (b == 0xC2) c = 16;
    else if (b == 0xC3) c = 17;
    else if (b == 0xC4) c = 27;
    else if (b == 0xCC) c = 28;
    else if (b >= 0xD0 && b <= 0xD7) c = 29;
    else if (b == 0xC8 || (b >= 0xF0 && b <= 0xFD)) c = 30;
    else if (b == 0x01) c = 31;
    else if (b == 0x00) c = 32;
    else {
      static const uint8_t refused[9] = {0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF};
      for (int i = 0; i < 9; ++i)
        if (b == refused[i]) c = 18 + i;
    }
    t.byte_class[b] = static_cast<uint8_t>(c);
  }
  // Prefix states: 0 before any frame, 2..14 inside a frame of each type. A byte other than
  // the prefix starts no marker: it is passed over (and counted) up to the next prefix.
  for (int c = 0; c < 34; ++c) t.transition[0][c] = {A_JUNK, 0};
  t.transition[0][0] = {A_NOTHING, 1};
  for (int s = 2; s <= 14; ++s) {
    for (int c = 0; c < 34; ++c) t.transition[s][c] = {A_JUNK, static_cast<uint8_t>(s)};
    t.transition[s][0] = {A_NOTHING, static_cast<uint8_t>(s + 13)};
  }
  // Marker code states: 1 before any frame (home 0), 15..27 inside a frame (home 2..14).
  for (int s = 1; s <= 27; ++s) {
    if (s >= 2 && s <= 14) continue;
    const bool in_frame = s >= 15;
    const uint8_t home = in_frame ? static_cast<uint8_t>(s - 13) : 0;
    const int type = in_frame ? kFrameTypes[s - 15] : -1;
    Transition* row = t.transition[s];
    for (int c = 0; c < 34; ++c) row[c] = {A_BAD_BYTE, 0};
    // Further prefixes are fill bytes; a prefix followed by 00 or by a byte that is no marker
    // code is passed over like any other stray byte.
    row[0] = {A_NOTHING, static_cast<uint8_t>(s)};
    row[32] = row[33] = {A_JUNK_AFTER_FF, home};
    row[1] = {A_SOI, 0};
    row[2] = {A_END_OF_IMAGE, 0};
    for (int c : {10, 12, 13, 28, 30, 31}) row[c] = {A_SKIP, home};
    for (int c : {3, 4, 5, 6, 7}) row[c] = {A_METADATA, home};
    row[8] = {A_SOS, home};
    row[9] = {A_DQT, home};
    row[11] = {A_DRI, home};
    row[27] = {type >= 9 ? A_SKIP : A_DHT, home};
    row[14] = {A_SOF_SEQUENTIAL, 2};
    row[15] = {A_SOF_SEQUENTIAL, 3};
    row[16] = {A_SOF_PROGRESSIVE, 4};
    for (int c = 17; c <= 26; ++c) row[c] = {A_SOF_REFUSED, static_cast<uint8_t>(c - 12)};
    if (in_frame) row[29] = {A_RESTART, home};
  }
  return t;
}

const Tables kTables = make_tables();

// Two frame records: the current one and the one being read.
JpegFrame g_frames[2];

// Compares a segment's length with what its fields took: shorter is a broken file, longer
// leaves bytes that are passed over.
void check_length(uint32_t length, uint32_t used) {
  if (g_error != 0) return;
  if (length < used) {
    g_error = ERR_INVALID_FILE;
  } else if (length > used) {
    stream_seek(static_cast<int64_t>(length - used), 1);
  }
}

void act_nothing(int) {}

void act_bad_byte(int) {
  g_jpeg.done = -1;
  g_error = ERR_INVALID_FILE;
}

void act_soi(int) {
  g_jpeg.restart_count = 0;
  g_jpeg.restart_interval = 0;
}

void act_end_of_image(int) {
  if (g_jpeg.frame != nullptr && g_jpeg.layout.ready && g_jpeg.layout.buffered)
    finish_progressive_frame();
  if (g_error == 0) g_jpeg.done = 1;
}

void act_skip(int) {
  uint32_t length = stream_get_u16be();
  if (g_error != 0) return;
  if (length < 2) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  stream_seek(static_cast<int64_t>(length) - 2, 1);
}

void act_dri(int) {
  uint32_t length = stream_get_u16be();
  g_jpeg.restart_interval = static_cast<uint16_t>(stream_get_u16be());
  check_length(length, 4);
}

// Bytes passed over outside any segment; reported once per file.
void act_junk(int) { ++g_jpeg.skipped; }
void act_junk_after_ff(int) { g_jpeg.skipped += 2; }

// The body of a metadata segment (APPn, COM), as far as the file holds it; the parser goes on
// after the segment whatever its contents say. A length below 2 covers no bytes.
struct Metadata {
  const uint8_t* bytes;
  int64_t size;
  bool starts_with(const char* id, int64_t needed) const {
    return size >= needed && std::memcmp(bytes, id, std::strlen(id)) == 0;
  }
};

Metadata read_metadata() {
  const uint32_t length = stream_get_u16be();
  if (g_error != 0) return {nullptr, 0};
  const uint8_t* data = nullptr;
  int64_t size = 0;
  stream_whole_file(&data, &size);
  const int64_t start = stream_tell();
  const int64_t body = length >= 2 ? length - 2 : 0;
  stream_set_position(start + body);
  return {data + std::min(start, size), std::clamp<int64_t>(size - start, 0, body)};
}

void read_jfif(const Metadata& m) {
  ImageRecord* image = g_jpeg.image;
  g_jpeg.jfif = true;
  image->description = DESC_JPEG_JFIF;
  const uint8_t* p = m.bytes + 5;  // after "JFIF" and its zero: version, units, densities
  const uint32_t units = p[2];
  int32_t x = static_cast<int16_t>(load_u16be(p + 3));
  int32_t y = static_cast<int16_t>(load_u16be(p + 5));
  if (units == 2) {
    x = static_cast<int32_t>(x * 2.54);
    y = static_cast<int32_t>(y * 2.54);
  }
  image->x_resolution = x;
  image->y_resolution = y;
}

void read_spiff(const Metadata& m) {
  ImageRecord* image = g_jpeg.image;
  g_jpeg.ycbcr_convert = false;
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
void act_metadata(int marker) {
  const Metadata m = read_metadata();
  if (g_error != 0) return;
  if (marker == 0xE0 && m.starts_with("JFIF", 14)) {
    read_jfif(m);
  } else if (marker == 0xE1 && m.starts_with("Exif", 5)) {
    g_jpeg.image->description = DESC_JPEG_EXIF;
  } else if (marker == 0xE8 && m.starts_with("SPIFF", 30)) {
    read_spiff(m);
  } else if (marker == 0xEE && m.starts_with("Adobe", 12)) {
    g_jpeg.adobe = true;
    g_jpeg.adobe_transform = m.bytes[11];
  }
}

void act_dqt(int) {
  uint32_t length = stream_get_u16be();
  uint32_t position = 2;
  while (g_error == 0 && position + 65 <= length) {
    uint32_t pq_tq = stream_get_u8();
    uint32_t tq = pq_tq & 15, pq = pq_tq >> 4;
    if (g_error != 0) return;
    if (tq > 3 || pq > 1) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    for (int i = 0; i < 64; ++i)
      g_jpeg.quant[tq][i] = static_cast<uint16_t>(pq == 0 ? stream_get_u8() : stream_get_u16be());
    position += 65 + 64 * pq;
  }
  check_length(length, position);
}

void act_dht(int) {
  uint32_t length = stream_get_u16be();
  uint32_t position = 2;
  while (g_error == 0 && position + 17 <= length) {
    uint32_t tc_th = stream_get_u8();
    uint32_t th = tc_th & 15, tc = tc_th >> 4;
    if (g_error != 0) return;
    if (th > 3 || tc > 1) {
      g_error = ERR_INVALID_FILE;
      return;
    }
    JpegHuffman*& slot = g_jpeg.huff[th * 2 + tc];
    if (slot == nullptr) {
      mem_alloc(&slot, sizeof(JpegHuffman));
      if (slot == nullptr) return;
      slot->code_length = nullptr;
      slot->code_symbol = nullptr;
    }
    slot->fast_ready = false;
    mem_alloc(&slot->code_length, 65536);
    mem_alloc(&slot->code_symbol, 65536);
    if (g_error != 0) return;
    std::memset(slot->code_length, 255, 65536);
    std::memset(slot->code_symbol, 0, 65536);
    uint32_t counts[16], total = 0;
    for (int n = 0; n < 16; ++n) {
      counts[n] = stream_get_u8();
      total += counts[n];
    }
    uint32_t code = 0;
    for (int n = 0; n < 16 && g_error == 0; ++n) {
      for (uint32_t i = 0; i < counts[n]; ++i) {
        slot->code_length[code & 0xFFFF] = static_cast<uint8_t>(n);
        slot->code_symbol[code & 0xFFFF] = static_cast<uint8_t>(stream_get_u8());
        ++code;
      }
      code *= 2;
    }
    position += 17 + total;
  }
  check_length(length, position);
}

// Reads the common part of a frame header into the frame being read.
JpegFrame* read_frame_header(uint32_t* length) {
  JpegFrame* frame = g_jpeg.reading;
  *length = stream_get_u16be();
  frame->precision = static_cast<uint8_t>(stream_get_u8());
  frame->lines = static_cast<uint16_t>(stream_get_u16be());
  frame->samples_per_line = static_cast<uint16_t>(stream_get_u16be());
  frame->component_count = static_cast<uint8_t>(stream_get_u8());
  return g_error == 0 ? frame : nullptr;
}

// Sets up the image record from the first frame. Samples of more than 8 bits are reduced to
// one byte each, so rows are `width` bytes and the display reads them like 8-bit planes.
void set_up_image(const JpegFrame* frame) {
  ImageRecord* image = g_jpeg.image;
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
  image_alloc_pixels(image, g_jpeg.group);
  if (g_error != 0) return;
  g_jpeg.cells_per_row = (image->width + 7) / 8;
  const size_t cells = size_t(g_jpeg.cells_per_row) * ((image->height + 7) / 8);
  if (mem_alloc(&g_jpeg.cells, cells == 0 ? 1 : cells) == nullptr) return;
  std::memset(g_jpeg.cells, 0, cells);
  if (image->planes == 1) palette_set_identity(image);
  g_jpeg.plane_size = int64_t{image->height} * image->row_bytes;
}

void frame_components(JpegFrame* frame, uint32_t length) {
  if (frame->lines == 0) {  // height given later by a DNL segment: not supported
    g_error = ERR_UNHANDLED;
    return;
  }
  if (frame->samples_per_line == 0 || frame->component_count == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (g_jpeg.image->bits == 0) {
    set_up_image(frame);
    if (g_error != 0) return;
  }
  for (int i = 0; i < frame->component_count; ++i) {
    JpegFrameComponent& c = frame->components[i];
    c.id = static_cast<uint8_t>(stream_get_u8());
    uint32_t sampling = stream_get_u8();
    c.h = static_cast<uint8_t>(sampling >> 4);
    c.v = static_cast<uint8_t>(sampling & 15);
    c.quant_table = static_cast<uint8_t>(stream_get_u8());
  }
  if (g_error != 0) return;
  // The frame becomes the current one.
  JpegFrame* previous = g_jpeg.frame;
  g_jpeg.frame = frame;
  g_jpeg.reading = previous != nullptr ? previous : (frame == &g_frames[0] ? &g_frames[1] : &g_frames[0]);
  ++g_jpeg.frame_count;
  jpeg_release_layout();
  check_length(length, 3u * frame->component_count + 8);
}

// A frame that holds buffered coefficients is written before another frame starts.
void finish_current_frame() {
  if (g_jpeg.frame != nullptr && g_jpeg.layout.ready && g_jpeg.layout.buffered)
    finish_progressive_frame();
}

void act_sof_sequential(int byte) {
  finish_current_frame();
  if (g_error != 0) return;
  uint32_t length;
  JpegFrame* frame = read_frame_header(&length);
  if (frame == nullptr) return;
  frame->type = static_cast<uint8_t>(byte & 15);
  bool ok = frame->type == 0 ? frame->precision == 8
                             : frame->precision == 8 || frame->precision == 12;
  if (!ok) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  frame_components(frame, length);
}

void act_sof_progressive(int byte) {
  finish_current_frame();
  if (g_error != 0) return;
  uint32_t length;
  JpegFrame* frame = read_frame_header(&length);
  if (frame == nullptr) return;
  frame->type = static_cast<uint8_t>(byte & 15);
  if ((frame->precision != 8 && frame->precision != 12) || frame->component_count > 4) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  frame_components(frame, length);
  if (g_error == 0) setup_progressive_frame();
}

void act_sof_refused(int byte) {
  uint32_t length;
  JpegFrame* frame = read_frame_header(&length);
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
  std::snprintf(text, sizeof text, "image %s : %s non traite", g_jpeg.image->name,
                kNames[type] != nullptr ? kNames[type] : "JPEG");
  log_write(text);
  const int p = frame->precision;
  bool known;
  if (type == 3 || type == 7 || type == 11 || type == 15) known = p >= 2 && p <= 16;
  else if (type == 5 || type == 13) known = p == 8;
  else known = p == 8 || p == 12;
  g_error = known ? ERR_UNKNOWN_FORMAT : ERR_INVALID_FILE;
}

void act_sos(int) {
  g_jpeg.restart_count = 0;
  uint32_t length = stream_get_u16be();
  uint32_t count = stream_get_u8();
  if (g_error != 0) return;
  if (count > 4) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  g_jpeg.scan.component_count = static_cast<uint8_t>(count);
  for (uint32_t i = 0; i < count; ++i) {
    g_jpeg.scan_components[i].selector = static_cast<uint8_t>(stream_get_u8());
    uint32_t tables = stream_get_u8();
    g_jpeg.scan_components[i].dc_table = static_cast<uint8_t>(tables >> 4);
    g_jpeg.scan_components[i].ac_table = static_cast<uint8_t>(tables & 15);
  }
  uint32_t ss = stream_get_u8(), se = stream_get_u8();
  if (g_error != 0) return;
  if (ss > 63 || se > 63) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  g_jpeg.scan.spectral_start = static_cast<uint8_t>(ss);
  g_jpeg.scan.spectral_end = static_cast<uint8_t>(se);
  uint32_t ah_al = stream_get_u8();
  g_jpeg.scan.approx_high = static_cast<uint8_t>(ah_al >> 4);
  g_jpeg.scan.approx_low = static_cast<uint8_t>(ah_al & 15);
  check_length(length, 2 * count + 6);
  if (g_error != 0) return;
  // A scan needs a frame, and at least one component.
  if (g_jpeg.frame == nullptr || count == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (g_jpeg.frame->type == 2) decode_progressive_scan();
  else decode_sequential_scan();
}

void act_restart(int) {
  ++g_jpeg.restart_count;
  // Without a restart interval a restart marker would start the scan over from its first MCU
  // again and again; such a file is broken.
  if (g_jpeg.frame == nullptr || g_jpeg.scan.component_count == 0 || g_jpeg.restart_interval == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (g_jpeg.frame->type == 2) decode_progressive_scan();
  else decode_sequential_scan();
}

using ActionFn = void (*)(int);
const ActionFn kActions[A_COUNT] = {
    act_nothing,        act_end_of_image,   act_bad_byte,        act_skip,
    act_metadata,       act_junk,           act_junk_after_ff,   act_dqt,
    act_sof_refused,    act_sof_sequential, act_sof_progressive, act_dht,
    act_sos,            act_soi,            act_dri,             act_restart};

void reset_context(ImageRecord* image, Handle group) {
  JpegDecoder& d = g_jpeg;
  for (JpegHuffman*& slot : d.huff) {
    if (slot != nullptr) {
      mem_free(&slot->code_length);
      mem_free(&slot->code_symbol);
      mem_free(&slot);
    }
  }
  jpeg_release_layout();
  mem_free(&d.cells);
  d.image = image;
  d.group = group;
  d.frame_count = 0;
  d.frame = nullptr;
  d.reading = &g_frames[0];
  d.scan = JpegScanHeader{};
  d.restart_interval = 0;
  d.restart_count = 0;
  d.ycbcr_convert = true;
  d.as_stored = false;
  d.jfif = false;
  d.adobe = false;
  d.adobe_transform = 0;
  d.skipped = 0;
  d.done = 0;
  d.marker_met = false;
  d.plane_size = 0;
  for (int i = 0; i < 64; ++i) {
    d.quant[0][i] = kDefaultLuminance[kJpegZigzag[i]];
    d.quant[1][i] = kDefaultChrominance[kJpegZigzag[i]];
    d.quant[2][i] = 0;
    d.quant[3][i] = 0;
  }
}

// Pixels that no scan wrote (data cut short, components or restart intervals missing) and the
// row padding are black rather than whatever the memory held.
void clear_unwritten_cells(ImageRecord* image) {
  if (image->pixels == nullptr || g_jpeg.cells == nullptr) return;
  if (image->row_bytes > image->width) {  // the padding at the end of each row
    for (int64_t r = 0; r < int64_t{image->height} * image->planes; ++r)
      std::memset(image->pixels + r * image->row_bytes + image->width, 0,
                  size_t(image->row_bytes - image->width));
  }
  const int rows = (image->height + 7) / 8;
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < g_jpeg.cells_per_row; ++cx) {
      if (g_jpeg.cells[size_t(cy) * g_jpeg.cells_per_row + cx] != 0) continue;
      const int w = std::min(8, image->width - cx * 8), h = std::min(8, image->height - cy * 8);
      for (int p = 0; p < image->planes; ++p)
        for (int y = 0; y < h; ++y)
          std::memset(image->pixels + p * g_jpeg.plane_size + int64_t(cy * 8 + y) * image->row_bytes + cx * 8,
                      0, size_t(w));
    }
  }
}

// Decodes the stream that is open, from the byte after its start-of-image marker.
void decode_open_stream(ImageRecord* image, Handle group, bool ycbcr) {
  stream_seek(2, 0);
  jpeg_init_idct();
  reset_context(image, group);
  g_jpeg.ycbcr_convert = ycbcr;
  g_jpeg.as_stored = !ycbcr;
  image->bits = 0;
  int state = 0;
  while (g_jpeg.done == 0) {
    const uint32_t byte = stream_get_u8();
    if (g_error != 0) {
      // The file ends before its end-of-image marker: inside the scans of a progressive frame
      // the read error stands, elsewhere the structure is broken.
      if (state != 4 && state != 17) act_bad_byte(0);
      break;
    }
    const Transition t = kTables.transition[state][kTables.byte_class[byte]];
    kActions[t.action](static_cast<int>(byte));
    if (g_error != 0) break;
    state = t.next;
  }
  if (g_error == 0) clear_unwritten_cells(image);
  if (g_jpeg.skipped != 0) {
    char text[kImageNameSize + 64];
    std::snprintf(text, sizeof text, "image %s : %lld octets ignores entre les segments", image->name,
                  static_cast<long long>(g_jpeg.skipped));
    log_write(text);
  }
  reset_context(nullptr, 0);
}

}  // namespace

void decode_jpeg(ImageRecord* image, Handle group, ByteReader& /*in*/) {
  if (stream_open(image->name, 0) != 0) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  decode_open_stream(image, group, true);
  stream_close();
}

void decode_jpeg_memory(ImageRecord* image, const uint8_t* data, int64_t size, bool ycbcr) {
  stream_begin_memory(data, size);
  if (g_error == 0) decode_open_stream(image, 0, ycbcr);
  stream_end_memory();
}
