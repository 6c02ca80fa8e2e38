// TIFF header, the chain of image file directories and the tag table. Each directory that
// describes a full image becomes one image record; later pages start as a copy of the page
// before them, so a tag a directory does not repeat keeps its earlier value.
#include <array>
#include <cstring>
#include <set>

#include "codecs/decoders.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/image.h"
#include "io/stream.h"

TiffState g_tiff;

namespace {

constexpr int kTagCount = 533;
constexpr uint32_t kShort = 3;
constexpr uint32_t kLong = 4;
constexpr uint32_t kAscii = 2;
constexpr uint32_t kRational = 5;
constexpr uint32_t kLong8 = 16;

uint32_t get16() { return stream_get_u16[g_tiff.byte_order](); }
uint32_t get32() { return stream_get_u32[g_tiff.byte_order](); }
uint64_t get64() {
  const uint64_t first = get32();
  const uint64_t second = get32();
  return g_tiff.byte_order == 0 ? first | second << 32 : first << 32 | second;
}
// A count or an offset: 64 bits in BigTIFF, 32 otherwise.
uint64_t get_offset() { return g_tiff.big ? get64() : get32(); }
// One value of an integer type: SHORT, LONG8, or LONG for any other type.
uint64_t get_value(uint32_t type) { return type == kShort ? get16() : type == kLong8 ? get64() : get32(); }
uint32_t value_size(uint32_t type) { return type == kShort ? 2 : type == kLong8 ? 8 : 4; }

void fail(int32_t code) {
  if (g_error == 0) g_error = code;
}

// True when `length` bytes at `offset` lie inside the file.
bool in_file(uint64_t offset, uint64_t length) {
  return offset <= static_cast<uint64_t>(g_tiff.file_size) &&
         length <= static_cast<uint64_t>(g_tiff.file_size) - offset;
}

// Directories and value blocks may overlap in a hostile file, so the chain could read the
// same bytes over and over. Entries and values read are counted; a file that needs more than
// twice its size of them (valid files need at most a fraction) is refused.
uint64_t g_work = 0;
bool spend(uint64_t units) {
  g_work += units;
  if (g_work > 2 * static_cast<uint64_t>(g_tiff.file_size) + (uint64_t{1} << 20)) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  return true;
}

// Reads the field type and count; with `type`/`count` non-zero they must match. Counts that
// do not fit 32 bits are more than any file holds.
bool read_header(uint32_t* type, uint32_t* count, uint32_t want_type, uint32_t want_count) {
  *type = get16();
  const uint64_t wide_count = get_offset();
  *count = static_cast<uint32_t>(wide_count);
  if ((want_type != 0 && *type != want_type) || (want_count != 0 && *count != want_count) ||
      wide_count > UINT32_MAX) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  return true;
}

// A single SHORT value (type 3, count 1).
bool read_short1(uint32_t* value) {
  uint32_t type, count;
  if (!read_header(&type, &count, kShort, 1)) return false;
  *value = get16();
  return true;
}

bool read_long1(uint32_t* value) {
  uint32_t type, count;
  if (!read_header(&type, &count, kLong, 1)) return false;
  *value = get32();
  return true;
}

// Count 1, 16 bits for SHORT and 32 bits for any other type (64 for LONG8).
bool read_size1(uint32_t* value) {
  uint32_t type, count;
  if (!read_header(&type, &count, 0, 1)) return false;
  const uint64_t wide = get_value(type);
  *value = wide > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(wide);
  return true;
}

// Moves to the value block of `bytes` bytes when it does not fit in the entry itself.
bool seek_values(uint64_t bytes) {
  if (bytes <= (g_tiff.big ? 8u : 4u)) return true;
  const uint64_t offset = get_offset();
  if (!in_file(offset, bytes)) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  stream_seek(static_cast<int64_t>(offset), 0);
  return true;
}

void tag_invalid(int) { fail(ERR_INVALID_FILE); }
void tag_ignored(int) {}

void tag_new_subfile(int) {
  uint32_t value;
  if (read_long1(&value) && (value & 1) != 0) g_tiff.reduced_resolution = 1;
}

void tag_dimension(int tag) {
  uint32_t type, count;
  if (!read_header(&type, &count, 0, 1)) return;
  if (type != kShort && type != kLong && type != kLong8) {
    fail(ERR_INVALID_FILE);
    return;
  }
  const uint64_t value = get_value(type);
  (tag == 256 ? g_tiff.file_width : g_tiff.file_height) =
      value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

void tag_bits(int) {
  uint32_t type, count;
  if (!read_header(&type, &count, kShort, 0)) return;
  if (!spend(count) || !seek_values(uint64_t{count} * 2)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value = get16();
    if (i == 0) {
      g_tiff.sample_bits = static_cast<int32_t>(value);
    } else if (static_cast<int32_t>(value) != g_tiff.sample_bits) {
      fail(ERR_UNKNOWN_FORMAT);
      return;
    }
  }
}

void tag_compression(int) {
  uint32_t value;
  if (!read_short1(&value)) return;
  ImageRecord* image = g_tiff.image;
  switch (value) {
    case 1: image->description = DESC_TIFF_NONE; break;
    case 2: image->description = DESC_TIFF_CCITT1D; break;
    case 3: image->description = DESC_TIFF_G3; break;
    case 4: image->description = DESC_TIFF_G4; break;
    case 5: image->description = DESC_TIFF_LZW; break;
    case 6: case 7: image->description = DESC_TIFF_JPEG; break;
    case 32773: image->description = DESC_TIFF_PACKBITS; break;
    case 8: case 32946: image->description = DESC_TIFF_DEFLATE; break;
    default:
      log_write("Sortie 3 : compression");
      fail(ERR_UNKNOWN_FORMAT);
      return;
  }
  g_tiff.old_jpeg = value == 6;
  if (value == 3 || value == 4) {
    image->palette_red[0] = image->palette_green[0] = image->palette_blue[0] = 255;
    image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 0;
  }
}

// Grey ramp of 2^bits entries, rising or (white is zero) falling; only the 256 entries the
// palette holds are written.
void grey_ramp(bool white_is_zero) {
  // 16-bit samples are shown reduced to 8 bits.
  int32_t bits = g_tiff.sample_bits == 16 ? 8 : g_tiff.sample_bits;
  if (bits <= 0) return;
  uint64_t top = bits >= 63 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  uint64_t step = 255 / top;
  uint64_t last = top < 255 ? top : 255;
  ImageRecord* image = g_tiff.image;
  for (uint64_t i = 0; i <= last; ++i) {
    uint8_t grey = static_cast<uint8_t>(white_is_zero ? 255 - i * step : i * step);
    image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] = grey;
  }
}

void tag_photometric(int) {
  uint32_t value;
  if (!read_short1(&value)) return;
  g_tiff.photometric = static_cast<int>(value);
  switch (value) {
    case 0: grey_ramp(true); g_tiff.samples = 1; break;
    case 1: grey_ramp(false); g_tiff.samples = 1; break;
    case 2: g_tiff.colour_model = 1; g_tiff.samples = 3; break;
    case 3: g_tiff.colour_model = 0; g_tiff.samples = 1; break;
    case 4: break;
    case 5: g_tiff.colour_model = 3; g_tiff.samples = 4; break;
    case 6: g_tiff.colour_model = 2; g_tiff.samples = 3; break;
    case 8: g_tiff.colour_model = 4; g_tiff.samples = 3; break;
    default: fail(ERR_INVALID_FILE); break;
  }
}

void tag_fill_order(int) {
  uint32_t value;
  if (read_short1(&value)) g_tiff.fill_order = static_cast<int>(value);
}

// The model name is checked but not kept.
void tag_model(int) {
  uint32_t type, count;
  if (!read_header(&type, &count, kAscii, 0)) return;
  seek_values(count);
}

// StripOffsets, TileOffsets, StripByteCounts and TileByteCounts.
void tag_table(int tag) {
  uint32_t type, count;
  read_header(&type, &count, 0, 0);
  if (g_error != 0) return;
  const bool offsets = tag == 273 || tag == 324;
  if (offsets) {
    if (count == 0) {
      fail(ERR_INVALID_FILE);
      return;
    }
    if (tag == 324 && uint64_t{count} < uint64_t{g_tiff.tiles_across} * g_tiff.tiles_down) {
      fail(ERR_INVALID_FILE);
      return;
    }
  } else if (count < g_tiff.offset_count) {
    fail(ERR_INVALID_FILE);
    return;
  }
  const uint32_t entries = offsets ? count : g_tiff.offset_count;
  if (!spend(entries)) return;
  // The values must be in the file before a table is sized for them.
  if (!seek_values(uint64_t{count} * value_size(type))) return;
  uint32_t** slot = offsets ? &g_tiff.offsets : &g_tiff.byte_counts;
  uint32_t* table = mem_alloc(slot, size_t{entries} * 4 + 4);
  if (table == nullptr) return;
  // A 64-bit value beyond 32 bits lies past the end of any file read.
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t value = get_value(type);
    table[i] = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  }
  if (offsets) {
    g_tiff.offset_count = count;
    if (tag == 273) {
      g_tiff.strip_count = count;
      if (count == 1) g_tiff.rows_per_strip = g_tiff.file_height;
    } else {
      g_tiff.strip_count = 0;
    }
    // Byte counts read before the offsets no longer match them.
    if (g_tiff.byte_counts != nullptr && g_tiff.byte_count_count < count) mem_free(&g_tiff.byte_counts);
  } else {
    g_tiff.byte_count_count = entries;
  }
}

void tag_orientation(int) {
  uint32_t value;
  if (read_short1(&value)) g_tiff.orientation = static_cast<int>(value);
}

void tag_samples(int) {
  uint32_t value;
  if (read_short1(&value)) g_tiff.samples = static_cast<int32_t>(value);
}

void tag_rows_per_strip(int) {
  uint32_t value;
  if (read_size1(&value)) g_tiff.rows_per_strip = value;
}

void tag_resolution(int tag) {
  uint32_t type, count;
  if (!read_header(&type, &count, kRational, 1)) return;
  if (!seek_values(8)) return;
  uint32_t numerator = get32();
  uint32_t denominator = get32();
  int32_t value = denominator == 0 ? 0 : static_cast<int32_t>(numerator / denominator);
  (tag == 282 ? g_tiff.image->x_resolution : g_tiff.image->y_resolution) = value;
}

void tag_planar(int) {
  if (g_tiff.samples == 1) return;
  uint32_t value;
  if (read_short1(&value)) g_tiff.planar_config = static_cast<int>(value);
}

void tag_t4_options(int) {
  uint32_t value;
  if (!read_size1(&value)) return;
  if ((value & 2) != 0) fail(ERR_INVALID_FILE);  // uncompressed mode is not read
  g_tiff.t4_options = value;
}

void tag_t6_options(int) {
  uint32_t value;
  if (read_long1(&value) && (value & 1) != 0) fail(ERR_INVALID_FILE);
}

int32_t centimetres_to_inches(int32_t value) {
  double scaled = value * 2.54;
  if (scaled >= 2147483647.0) return INT32_MAX;
  if (scaled <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(scaled);
}

void tag_resolution_unit(int) {
  uint32_t value;
  if (!read_short1(&value)) return;
  if (value == 3) {
    g_tiff.image->x_resolution = centimetres_to_inches(g_tiff.image->x_resolution);
    g_tiff.image->y_resolution = centimetres_to_inches(g_tiff.image->y_resolution);
  } else if (value != 1 && value != 2) {
    fail(ERR_INVALID_FILE);
  }
}

void tag_predictor(int) {
  const int32_t compression = g_tiff.image->description;
  if (compression != DESC_TIFF_LZW && compression != DESC_TIFF_DEFLATE) return;
  uint32_t value;
  if (read_short1(&value)) g_tiff.predictor = static_cast<int>(value) - 1;
}

// 16-bit colour v to a byte: v x 255 / 65535 rounded to the nearest, halves up.
uint8_t colour_byte(uint32_t v) { return static_cast<uint8_t>((v * 510 + 65535) / 131070); }

void tag_colour_map(int) {
  if (g_tiff.colour_model != 0) return;
  uint32_t type, count;
  if (!read_header(&type, &count, kShort, 0)) return;
  const uint32_t n = count / 3;
  const int32_t bits = g_tiff.sample_bits;
  if (count % 3 != 0 || (bits < 32 && uint64_t{n} > (uint64_t{1} << (bits < 0 ? 0 : bits)))) {
    fail(ERR_INVALID_FILE);
    return;
  }
  if (bits > 8) return;
  if (!spend(count) || !seek_values(uint64_t{count} * 2)) return;
  uint8_t* arrays[3] = {g_tiff.image->palette_red, g_tiff.image->palette_green,
                        g_tiff.image->palette_blue};
  for (uint8_t* array : arrays)
    for (uint32_t i = 0; i < n; ++i) array[i] = colour_byte(get16());
}

// Any sample that is not an unsigned integer keeps the page from being shown.
void tag_sample_format(int) {
  uint32_t type, count;
  if (!read_header(&type, &count, 0, 0) || type != kShort) return;
  if (!spend(count) || !seek_values(uint64_t{count} * 2)) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t format = get16();
    if (format != 1 && format != 4) g_tiff.signed_or_float = 1;  // 4: unspecified
  }
}

// RATIONAL values into `out`; a tag of another shape leaves the defaults.
void read_rationals(float* out, uint32_t n) {
  uint32_t type, count;
  if (!read_header(&type, &count, 0, 0) || type != kRational || count != n) return;
  if (!seek_values(uint64_t{n} * 8)) return;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t numerator = get32();
    const uint32_t denominator = get32();
    out[i] = denominator == 0 ? 0.0f : static_cast<float>(static_cast<double>(numerator) / denominator);
  }
}

// Where the JPEG tables stand; they are read with each strip or tile.
void tag_jpeg_tables(int) {
  uint32_t type, count;
  if (!read_header(&type, &count, 0, 0)) return;
  const int64_t inline_at = stream_tell();
  if (!seek_values(count)) return;
  g_tiff.jpeg_tables_offset = count <= (g_tiff.big ? 8u : 4u) ? static_cast<uint64_t>(inline_at) : stream_tell();
  g_tiff.jpeg_tables_size = count;
}

void tag_ycbcr_coefficients(int) { read_rationals(g_tiff.luma, 3); }
void tag_reference_black_white(int) { read_rationals(g_tiff.reference, 6); }

void tag_ycbcr_subsampling(int) {
  uint32_t type, count;
  if (!read_header(&type, &count, kShort, 2)) return;
  g_tiff.subsample_h = static_cast<int>(get16());
  g_tiff.subsample_v = static_cast<int>(get16());
}

void tag_tile_size(int tag) {
  uint32_t value;
  if (!read_size1(&value)) return;
  if (value == 0 || value % 16 != 0) {
    fail(ERR_INVALID_FILE);
    return;
  }
  g_tiff.rows_per_strip = value;
  if (tag == 322) {
    g_tiff.tile_width = value;
    g_tiff.tiles_across = static_cast<uint32_t>((uint64_t{g_tiff.file_width} + value - 1) / value);
  } else {
    g_tiff.tiles_down = static_cast<uint32_t>((uint64_t{g_tiff.file_height} + value - 1) / value);
  }
}

using TagHandler = void (*)(int);

constexpr int kIgnoredTags[] = {255, 263, 264, 265, 269, 270, 271, 280, 281, 285, 286, 287, 288,
                                289, 290, 291, 297, 301, 305, 306, 315, 316, 318, 319, 321, 330,
                                332, 333, 334, 336, 337, 338, 340, 341, 342, 512, 513, 514, 515,
                                517, 518, 519, 520, 521, 531};

const std::array<TagHandler, kTagCount> kTagHandlers = [] {
  std::array<TagHandler, kTagCount> table{};
  table.fill(tag_invalid);
  for (int tag : kIgnoredTags) table[tag] = tag_ignored;
  table[254] = tag_new_subfile;
  table[256] = tag_dimension;
  table[257] = tag_dimension;
  table[258] = tag_bits;
  table[259] = tag_compression;
  table[262] = tag_photometric;
  table[266] = tag_fill_order;
  table[272] = tag_model;
  table[273] = tag_table;
  table[274] = tag_orientation;
  table[277] = tag_samples;
  table[278] = tag_rows_per_strip;
  table[279] = tag_table;
  table[282] = tag_resolution;
  table[283] = tag_resolution;
  table[284] = tag_planar;
  table[292] = tag_t4_options;
  table[293] = tag_t6_options;
  table[296] = tag_resolution_unit;
  table[317] = tag_predictor;
  table[320] = tag_colour_map;
  table[322] = tag_tile_size;
  table[323] = tag_tile_size;
  table[324] = tag_table;
  table[325] = tag_table;
  table[339] = tag_sample_format;
  table[347] = tag_jpeg_tables;
  table[529] = tag_ycbcr_coefficients;
  table[530] = tag_ycbcr_subsampling;
  table[532] = tag_reference_black_white;
  return table;
}();

void free_tables() {
  mem_free(&g_tiff.offsets);
  mem_free(&g_tiff.byte_counts);
  g_tiff.byte_count_count = 0;
}

// Reads the entries of the directory at `offset`; returns the next directory's offset.
uint64_t read_entries(uint64_t offset) {
  const uint64_t count_size = g_tiff.big ? 8 : 2;
  const uint64_t entry_size = g_tiff.big ? 20 : 12;
  if (!in_file(offset, count_size)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  stream_seek(static_cast<int64_t>(offset), 0);
  const uint64_t n = g_tiff.big ? get64() : get16();
  if (n > static_cast<uint64_t>(g_tiff.file_size) || !spend(n + 1)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  if (!in_file(offset + count_size, n * entry_size)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  for (uint64_t i = 0; i < n; ++i) {
    const int64_t entry = static_cast<int64_t>(offset + count_size + i * entry_size);
    stream_seek(entry, 0);
    const uint32_t tag = get16();
    if (tag < kTagCount) kTagHandlers[tag](static_cast<int>(tag));
    if (g_error != 0) return 0;
  }
  // A directory that ends the file without a next offset ends the chain.
  const uint64_t next_at = offset + count_size + n * entry_size;
  if (!in_file(next_at, g_tiff.big ? 8 : 4)) return 0;
  stream_seek(static_cast<int64_t>(next_at), 0);
  return get_offset();
}

// Gives a record that follows a dropped directory the state it starts from: the last
// decoded page, or the dispatcher's defaults when none was decoded.
void restart_record(ImageRecord* record, const ImageRecord* from) {
  if (from != nullptr) {
    obj_copy(TYPE_IMAGE, from->handle, record->handle);
  } else {
    Handle handle = record->handle;
    char name[kImageNameSize];
    std::memcpy(name, record->name, sizeof name);
    std::memset(record, 0, sizeof *record);
    record->handle = handle;
    std::memcpy(record->name, name, sizeof name);
    record->gamma = -1.0;
    record->description = DESC_TIFF_NONE;
    record->planes = 1;
    record->bits = 1;
  }
  record->pixels = nullptr;
}

}  // namespace

// Walks the directory chain from `offset`. A chain that comes back to a directory already
// read is refused rather than followed for ever.
void tiff_read_directory(uint64_t offset) {
  ImageRecord* const first = g_tiff.image;
  ImageRecord* last_decoded = nullptr;
  std::set<uint64_t> visited;
  for (;;) {
    if (!visited.insert(offset).second) {
      fail(ERR_INVALID_FILE);
      return;
    }
    // Fields whose absence means the TIFF default, not the previous page's value.
    g_tiff.reduced_resolution = 0;
    g_tiff.fill_order = 1;
    g_tiff.orientation = 1;
    g_tiff.planar_config = 1;
    g_tiff.predictor = 0;
    g_tiff.signed_or_float = 0;
    g_tiff.t4_options = 0;
    g_tiff.jpeg_tables_size = 0;
    g_tiff.subsample_h = g_tiff.subsample_v = 2;
    const float luma[3] = {0.299f, 0.587f, 0.114f};
    const float reference[6] = {0, 255, 128, 255, 128, 255};
    std::memcpy(g_tiff.luma, luma, sizeof luma);
    std::memcpy(g_tiff.reference, reference, sizeof reference);
    const uint64_t next = read_entries(offset);
    if (g_error != 0) {
      free_tables();
      return;
    }
    ImageRecord* current = g_tiff.image;
    const bool dropped = g_tiff.reduced_resolution != 0;
    if (!dropped) {
      tiff_decode_image();
      last_decoded = current;
    }
    free_tables();
    if (g_error != 0) return;
    if (next == 0) {
      if (dropped) {
        if (current == first) {
          fail(ERR_INVALID_FILE);  // no directory held a full image
        } else {
          Handle handle = current->handle;
          group_remove(g_tiff.group, handle);
          obj_destroy(TYPE_IMAGE, handle);
          g_tiff.image = last_decoded;
        }
      }
      return;
    }
    if (dropped) {
      // The record of a dropped directory is used again for the next one.
      restart_record(current, last_decoded);
    } else {
      Handle handle;
      const Handle current_handle = current->handle;
      ImageRecord* page = image_create_like(current, &handle);
      if (page == nullptr) return;
      obj_copy(TYPE_IMAGE, current_handle, handle);
      page->pixels = nullptr;
      if (g_tiff.group != 0) group_add(g_tiff.group, TYPE_IMAGE, handle, page);
      if (g_error != 0) return;
      last_decoded = obj_get<ImageRecord>(TYPE_IMAGE, current_handle);
      g_tiff.image = page;
    }
    offset = next;
  }
}

void decode_tiff(ImageRecord* image, Handle group, ByteReader& /*in*/) {
  if (stream_open(image->name, 4096) != 0) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  stream_seek(0, 0);
  g_tiff = TiffState{};
  g_work = 0;
  g_tiff.image = image;
  g_tiff.group = group;
  g_tiff.file_size = stream_size();
  g_tiff.fill_order = 1;
  g_tiff.orientation = 1;
  g_tiff.planar_config = 1;
  g_tiff.rows_per_strip = 0xFFFFFFFFu;
  g_tiff.sample_bits = 1;
  g_tiff.samples = 1;
  image->planes = 1;
  image->bits = 1;
  image->description = DESC_TIFF_NONE;

  char mark[3] = {0, 0, 0};
  stream_scan("%2s", mark);
  g_error = 0;  // a mark that is not text still selects big-endian order
  g_tiff.byte_order = (mark[0] == 'I' && mark[1] == 'I' && mark[2] == '\0') ? 0 : 1;
  stream_seek(2, 0);
  // 42 for TIFF; 43 for BigTIFF, followed by the offset size 8 and a zero.
  const uint32_t version = get16();
  g_tiff.big = version == 43;
  if ((version != 42 && (!g_tiff.big || get16() != 8 || get16() != 0)) || g_error != 0) {
    stream_close();
    g_error = ERR_INVALID_FILE;
    return;
  }
  const uint64_t first = get_offset();
  if (g_error == 0) tiff_read_directory(first);
  free_tables();
  tiff_free_buffers();
  stream_close();
}
