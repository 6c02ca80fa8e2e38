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

namespace {

// Tags by number. Every tag below kTagCount has a handler in the table; higher tags are
// passed over.
enum TiffTag : uint32_t {
  kNewSubfileType = 254, kSubfileType = 255, kImageWidth = 256, kImageLength = 257,
  kBitsPerSample = 258, kCompression = 259, kPhotometric = 262, kThresholding = 263,
  kCellWidth = 264, kCellLength = 265, kFillOrder = 266, kDocumentName = 269,
  kImageDescription = 270, kMake = 271, kModel = 272, kStripOffsets = 273, kOrientation = 274,
  kSamplesPerPixel = 277, kRowsPerStrip = 278, kStripByteCounts = 279, kMinSampleValue = 280,
  kMaxSampleValue = 281, kXResolution = 282, kYResolution = 283, kPlanarConfiguration = 284,
  kPageName = 285, kXPosition = 286, kYPosition = 287, kFreeOffsets = 288,
  kFreeByteCounts = 289, kGrayResponseUnit = 290, kGrayResponseCurve = 291, kT4Options = 292,
  kT6Options = 293, kResolutionUnit = 296, kPageNumber = 297, kTransferFunction = 301,
  kSoftware = 305, kDateTime = 306, kArtist = 315, kHostComputer = 316, kPredictor = 317,
  kWhitePoint = 318, kPrimaryChromaticities = 319, kColorMap = 320, kHalftoneHints = 321,
  kTileWidth = 322, kTileLength = 323, kTileOffsets = 324, kTileByteCounts = 325,
  kSubIfds = 330, kInkSet = 332, kInkNames = 333, kNumberOfInks = 334, kDotRange = 336,
  kTargetPrinter = 337, kExtraSamples = 338, kSampleFormat = 339, kSMinSampleValue = 340,
  kSMaxSampleValue = 341, kTransferRange = 342, kJpegTables = 347, kJpegProc = 512,
  kJpegInterchangeFormat = 513, kJpegInterchangeFormatLength = 514,
  kJpegRestartInterval = 515, kJpegLosslessPredictors = 517, kJpegPointTransforms = 518,
  kJpegQTables = 519, kJpegDcTables = 520, kJpegAcTables = 521, kYcbcrCoefficients = 529,
  kYcbcrSubsampling = 530, kYcbcrPositioning = 531, kReferenceBlackWhite = 532,
  kTagCount = 533
};

// Field types.
constexpr uint32_t kAscii = 2;
constexpr uint32_t kShort = 3;
constexpr uint32_t kLong = 4;
constexpr uint32_t kRational = 5;
constexpr uint32_t kLong8 = 16;

// Compression values.
enum TiffCompression : uint32_t {
  kNoCompression = 1, kCcitt1d = 2, kCcittGroup3 = 3, kCcittGroup4 = 4, kLzw = 5, kOldJpeg = 6,
  kJpeg = 7, kAdobeDeflate = 8, kDeflate = 32946, kPackBits = 32773
};

constexpr uint32_t kCentimetre = 3;  // ResolutionUnit

uint32_t get16(TiffState& tiff) { return tiff.in.u16(tiff.byte_order); }
uint32_t get32(TiffState& tiff) { return tiff.in.u32(tiff.byte_order); }
uint64_t get64(TiffState& tiff) {
  const uint64_t first = get32(tiff);
  const uint64_t second = get32(tiff);
  return tiff.byte_order == LITTLE_ENDIAN_ORDER ? first | second << 32 : first << 32 | second;
}
// A count or an offset: 64 bits in BigTIFF, 32 otherwise.
uint64_t get_offset(TiffState& tiff) { return tiff.big ? get64(tiff) : get32(tiff); }
// One value of an integer type: SHORT, LONG8, or LONG for any other type.
uint64_t get_value(TiffState& tiff, uint32_t type) {
  return type == kShort ? get16(tiff) : type == kLong8 ? get64(tiff) : get32(tiff);
}
uint32_t value_size(uint32_t type) { return type == kShort ? 2 : type == kLong8 ? 8 : 4; }

void fail(int32_t code) {
  if (g_error == 0) g_error = code;
}

// Directories and value blocks may overlap in a hostile file, so the chain could read the
// same bytes over and over. Entries and values read are counted; a file that needs more than
// twice its size of them (valid files need at most a fraction) is refused.
bool spend(TiffState& tiff, uint64_t units) {
  tiff.work += units;
  if (tiff.work > 2 * static_cast<uint64_t>(tiff.in.size()) + (uint64_t{1} << 20)) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  return true;
}

// Reads the field type and count; with `type`/`count` non-zero they must match. Counts that
// do not fit 32 bits are more than any file holds.
bool read_header(TiffState& tiff, uint32_t* type, uint32_t* count, uint32_t want_type, uint32_t want_count) {
  *type = get16(tiff);
  const uint64_t wide_count = get_offset(tiff);
  *count = static_cast<uint32_t>(wide_count);
  if ((want_type != 0 && *type != want_type) || (want_count != 0 && *count != want_count) ||
      wide_count > UINT32_MAX) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  return true;
}

// A single SHORT value (type 3, count 1).
bool read_short1(TiffState& tiff, uint32_t* value) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kShort, 1)) return false;
  *value = get16(tiff);
  return true;
}

bool read_long1(TiffState& tiff, uint32_t* value) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kLong, 1)) return false;
  *value = get32(tiff);
  return true;
}

// Count 1, 16 bits for SHORT and 32 bits for any other type (64 for LONG8).
bool read_size1(TiffState& tiff, uint32_t* value) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, 0, 1)) return false;
  const uint64_t wide = get_value(tiff, type);
  *value = wide > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(wide);
  return true;
}

// Moves to the value block of `bytes` bytes when it does not fit in the entry itself.
bool seek_values(TiffState& tiff, uint64_t bytes) {
  if (bytes <= (tiff.big ? 8u : 4u)) return true;
  const uint64_t offset = get_offset(tiff);
  if (!tiff_in_file(tiff, offset, bytes)) {
    fail(ERR_INVALID_FILE);
    return false;
  }
  tiff.in.seek(static_cast<int64_t>(offset));
  return true;
}

void tag_invalid(TiffState&, int) { fail(ERR_INVALID_FILE); }
void tag_ignored(TiffState&, int) {}

void tag_new_subfile(TiffState& tiff, int) {
  uint32_t value;
  if (read_long1(tiff, &value) && (value & 1) != 0) tiff.reduced_resolution = 1;
}

void tag_dimension(TiffState& tiff, int tag) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, 0, 1)) return;
  if (type != kShort && type != kLong && type != kLong8) {
    fail(ERR_INVALID_FILE);
    return;
  }
  const uint64_t value = get_value(tiff, type);
  (tag == kImageWidth ? tiff.file_width : tiff.file_height) =
      value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

void tag_bits(TiffState& tiff, int) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kShort, 0)) return;
  if (!spend(tiff, count) || !seek_values(tiff, uint64_t{count} * 2)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value = get16(tiff);
    if (i == 0) {
      tiff.sample_bits = static_cast<int32_t>(value);
    } else if (static_cast<int32_t>(value) != tiff.sample_bits) {
      fail(ERR_UNKNOWN_FORMAT);
      return;
    }
  }
}

void tag_compression(TiffState& tiff, int) {
  uint32_t value;
  if (!read_short1(tiff, &value)) return;
  ImageRecord* image = tiff.image;
  switch (value) {
    case kNoCompression: image->description = DESC_TIFF_NONE; break;
    case kCcitt1d: image->description = DESC_TIFF_CCITT1D; break;
    case kCcittGroup3: image->description = DESC_TIFF_G3; break;
    case kCcittGroup4: image->description = DESC_TIFF_G4; break;
    case kLzw: image->description = DESC_TIFF_LZW; break;
    case kOldJpeg: case kJpeg: image->description = DESC_TIFF_JPEG; break;
    case kPackBits: image->description = DESC_TIFF_PACKBITS; break;
    case kAdobeDeflate: case kDeflate: image->description = DESC_TIFF_DEFLATE; break;
    default:
      log_write("Sortie 3 : compression");
      fail(ERR_UNKNOWN_FORMAT);
      return;
  }
  tiff.old_jpeg = value == kOldJpeg;
  if (value == kCcittGroup3 || value == kCcittGroup4) {
    image->palette_red[0] = image->palette_green[0] = image->palette_blue[0] = 255;
    image->palette_red[1] = image->palette_green[1] = image->palette_blue[1] = 0;
  }
}

// Grey ramp of 2^bits entries, rising or (white is zero) falling; only the 256 entries the
// palette holds are written.
void grey_ramp(TiffState& tiff, bool white_is_zero) {
  // 16-bit samples are shown reduced to 8 bits.
  int32_t bits = tiff.sample_bits == 16 ? 8 : tiff.sample_bits;
  if (bits <= 0) return;
  uint64_t top = bits >= 63 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  uint64_t step = 255 / top;
  uint64_t last = top < 255 ? top : 255;
  ImageRecord* image = tiff.image;
  for (uint64_t i = 0; i <= last; ++i) {
    uint8_t grey = static_cast<uint8_t>(white_is_zero ? 255 - i * step : i * step);
    image->palette_red[i] = image->palette_green[i] = image->palette_blue[i] = grey;
  }
}

void tag_photometric(TiffState& tiff, int) {
  uint32_t value;
  if (!read_short1(tiff, &value)) return;
  tiff.photometric = static_cast<int>(value);
  switch (value) {
    case kWhiteIsZero: grey_ramp(tiff, true); tiff.samples = 1; break;
    case kBlackIsZero: grey_ramp(tiff, false); tiff.samples = 1; break;
    case kRgb: tiff.colour_model = kRgbModel; tiff.samples = 3; break;
    case kPalette: tiff.colour_model = kPaletteOrGrey; tiff.samples = 1; break;
    case kTransparencyMask: break;
    case kSeparated: tiff.colour_model = kCmykModel; tiff.samples = 4; break;
    case kYcbcr: tiff.colour_model = kYcbcrModel; tiff.samples = 3; break;
    case kCieLab: tiff.colour_model = kLabModel; tiff.samples = 3; break;
    default: fail(ERR_INVALID_FILE); break;
  }
}

void tag_fill_order(TiffState& tiff, int) {
  uint32_t value;
  if (read_short1(tiff, &value)) tiff.fill_order = static_cast<int>(value);
}

// The model name is checked but not kept.
void tag_model(TiffState& tiff, int) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kAscii, 0)) return;
  seek_values(tiff, count);
}

// StripOffsets, TileOffsets, StripByteCounts and TileByteCounts.
void tag_table(TiffState& tiff, int tag) {
  uint32_t type, count;
  read_header(tiff, &type, &count, 0, 0);
  if (g_error != 0) return;
  const bool offsets = tag == kStripOffsets || tag == kTileOffsets;
  if (offsets) {
    if (count == 0) {
      fail(ERR_INVALID_FILE);
      return;
    }
    if (tag == kTileOffsets && uint64_t{count} < uint64_t{tiff.tiles_across} * tiff.tiles_down) {
      fail(ERR_INVALID_FILE);
      return;
    }
  } else if (count < tiff.offset_count) {
    fail(ERR_INVALID_FILE);
    return;
  }
  const uint32_t entries = offsets ? count : tiff.offset_count;
  if (!spend(tiff, entries)) return;
  // The values must be in the file before a table is sized for them.
  if (!seek_values(tiff, uint64_t{count} * value_size(type))) return;
  uint32_t** slot = offsets ? &tiff.offsets : &tiff.byte_counts;
  uint32_t* table = mem_alloc(slot, size_t{entries} * 4 + 4);
  if (table == nullptr) return;
  // A 64-bit value beyond 32 bits lies past the end of any file read.
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t value = get_value(tiff, type);
    table[i] = value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  }
  if (offsets) {
    tiff.offset_count = count;
    if (tag == kStripOffsets) {
      tiff.strip_count = count;
      if (count == 1) tiff.rows_per_strip = tiff.file_height;
    } else {
      tiff.strip_count = 0;
    }
    // Byte counts read before the offsets no longer match them.
    if (tiff.byte_counts != nullptr && tiff.byte_count_count < count) mem_free(&tiff.byte_counts);
  } else {
    tiff.byte_count_count = entries;
  }
}

void tag_orientation(TiffState& tiff, int) {
  uint32_t value;
  if (read_short1(tiff, &value)) tiff.orientation = static_cast<int>(value);
}

void tag_samples(TiffState& tiff, int) {
  uint32_t value;
  if (read_short1(tiff, &value)) tiff.samples = static_cast<int32_t>(value);
}

void tag_rows_per_strip(TiffState& tiff, int) {
  uint32_t value;
  if (read_size1(tiff, &value)) tiff.rows_per_strip = value;
}

void tag_resolution(TiffState& tiff, int tag) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kRational, 1)) return;
  if (!seek_values(tiff, 8)) return;
  uint32_t numerator = get32(tiff);
  uint32_t denominator = get32(tiff);
  int32_t value = denominator == 0 ? 0 : static_cast<int32_t>(numerator / denominator);
  (tag == kXResolution ? tiff.image->x_resolution : tiff.image->y_resolution) = value;
}

void tag_planar(TiffState& tiff, int) {
  if (tiff.samples == 1) return;
  uint32_t value;
  if (read_short1(tiff, &value)) tiff.planar_config = static_cast<int>(value);
}

void tag_t4_options(TiffState& tiff, int) {
  uint32_t value;
  if (!read_size1(tiff, &value)) return;
  if ((value & 2) != 0) fail(ERR_INVALID_FILE);  // uncompressed mode is not read
  tiff.t4_options = value;
}

void tag_t6_options(TiffState& tiff, int) {
  uint32_t value;
  if (read_long1(tiff, &value) && (value & 1) != 0) fail(ERR_INVALID_FILE);
}

int32_t centimetres_to_inches(int32_t value) {
  double scaled = value * 2.54;
  if (scaled >= 2147483647.0) return INT32_MAX;
  if (scaled <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(scaled);
}

void tag_resolution_unit(TiffState& tiff, int) {
  uint32_t value;
  if (!read_short1(tiff, &value)) return;
  if (value == kCentimetre) {
    tiff.image->x_resolution = centimetres_to_inches(tiff.image->x_resolution);
    tiff.image->y_resolution = centimetres_to_inches(tiff.image->y_resolution);
  } else if (value != 1 && value != 2) {
    fail(ERR_INVALID_FILE);
  }
}

void tag_predictor(TiffState& tiff, int) {
  const int32_t compression = tiff.image->description;
  if (compression != DESC_TIFF_LZW && compression != DESC_TIFF_DEFLATE) return;
  uint32_t value;
  if (read_short1(tiff, &value)) tiff.predictor = static_cast<int>(value) - 1;
}

// 16-bit colour v to a byte: v x 255 / 65535 rounded to the nearest, halves up.
uint8_t colour_byte(uint32_t v) { return static_cast<uint8_t>((v * 510 + 65535) / 131070); }

void tag_colour_map(TiffState& tiff, int) {
  if (tiff.colour_model != kPaletteOrGrey) return;
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kShort, 0)) return;
  const uint32_t n = count / 3;
  const int32_t bits = tiff.sample_bits;
  if (count % 3 != 0 || (bits < 32 && uint64_t{n} > (uint64_t{1} << (bits < 0 ? 0 : bits)))) {
    fail(ERR_INVALID_FILE);
    return;
  }
  if (bits > 8) return;
  if (!spend(tiff, count) || !seek_values(tiff, uint64_t{count} * 2)) return;
  uint8_t* arrays[3] = {tiff.image->palette_red, tiff.image->palette_green,
                        tiff.image->palette_blue};
  for (uint8_t* array : arrays)
    for (uint32_t i = 0; i < n; ++i) array[i] = colour_byte(get16(tiff));
}

// Any sample that is not an unsigned integer keeps the page from being shown.
void tag_sample_format(TiffState& tiff, int) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, 0, 0) || type != kShort) return;
  if (!spend(tiff, count) || !seek_values(tiff, uint64_t{count} * 2)) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t format = get16(tiff);
    if (format != 1 && format != 4) tiff.signed_or_float = 1;  // 4: unspecified
  }
}

// RATIONAL values into `out`; a tag of another shape leaves the defaults.
void read_rationals(TiffState& tiff, float* out, uint32_t n) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, 0, 0) || type != kRational || count != n) return;
  if (!seek_values(tiff, uint64_t{n} * 8)) return;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t numerator = get32(tiff);
    const uint32_t denominator = get32(tiff);
    out[i] = denominator == 0 ? 0.0f : static_cast<float>(static_cast<double>(numerator) / denominator);
  }
}

// Where the JPEG tables stand; they are read with each strip or tile.
void tag_jpeg_tables(TiffState& tiff, int) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, 0, 0)) return;
  const int64_t inline_at = tiff.in.tell();
  if (!seek_values(tiff, count)) return;
  tiff.jpeg_tables_offset = count <= (tiff.big ? 8u : 4u) ? static_cast<uint64_t>(inline_at) : tiff.in.tell();
  tiff.jpeg_tables_size = count;
}

void tag_ycbcr_coefficients(TiffState& tiff, int) { read_rationals(tiff, tiff.luma, 3); }
void tag_reference_black_white(TiffState& tiff, int) { read_rationals(tiff, tiff.reference, 6); }

void tag_ycbcr_subsampling(TiffState& tiff, int) {
  uint32_t type, count;
  if (!read_header(tiff, &type, &count, kShort, 2)) return;
  tiff.subsample_h = static_cast<int>(get16(tiff));
  tiff.subsample_v = static_cast<int>(get16(tiff));
}

void tag_tile_size(TiffState& tiff, int tag) {
  uint32_t value;
  if (!read_size1(tiff, &value)) return;
  if (value == 0 || value % 16 != 0) {
    fail(ERR_INVALID_FILE);
    return;
  }
  tiff.rows_per_strip = value;
  if (tag == kTileWidth) {
    tiff.tile_width = value;
    tiff.tiles_across = static_cast<uint32_t>((uint64_t{tiff.file_width} + value - 1) / value);
  } else {
    tiff.tiles_down = static_cast<uint32_t>((uint64_t{tiff.file_height} + value - 1) / value);
  }
}

using TagHandler = void (*)(TiffState&, int);

constexpr TiffTag kIgnoredTags[] = {
    kSubfileType, kThresholding, kCellWidth, kCellLength, kDocumentName, kImageDescription,
    kMake, kMinSampleValue, kMaxSampleValue, kPageName, kXPosition, kYPosition, kFreeOffsets,
    kFreeByteCounts, kGrayResponseUnit, kGrayResponseCurve, kPageNumber, kTransferFunction,
    kSoftware, kDateTime, kArtist, kHostComputer, kWhitePoint, kPrimaryChromaticities,
    kHalftoneHints, kSubIfds, kInkSet, kInkNames, kNumberOfInks, kDotRange, kTargetPrinter,
    kExtraSamples, kSMinSampleValue, kSMaxSampleValue, kTransferRange, kJpegProc,
    kJpegInterchangeFormat, kJpegInterchangeFormatLength, kJpegRestartInterval,
    kJpegLosslessPredictors, kJpegPointTransforms, kJpegQTables, kJpegDcTables, kJpegAcTables,
    kYcbcrPositioning};

// Every tag below kTagCount has a handler; those not named here make the file invalid.
const std::array<TagHandler, kTagCount> tiff_tag_handlers = [] {
  std::array<TagHandler, kTagCount> table{};
  table.fill(tag_invalid);
  for (TiffTag tag : kIgnoredTags) table[tag] = tag_ignored;
  table[kNewSubfileType] = tag_new_subfile;
  table[kImageWidth] = tag_dimension;
  table[kImageLength] = tag_dimension;
  table[kBitsPerSample] = tag_bits;
  table[kCompression] = tag_compression;
  table[kPhotometric] = tag_photometric;
  table[kFillOrder] = tag_fill_order;
  table[kModel] = tag_model;
  table[kStripOffsets] = tag_table;
  table[kOrientation] = tag_orientation;
  table[kSamplesPerPixel] = tag_samples;
  table[kRowsPerStrip] = tag_rows_per_strip;
  table[kStripByteCounts] = tag_table;
  table[kXResolution] = tag_resolution;
  table[kYResolution] = tag_resolution;
  table[kPlanarConfiguration] = tag_planar;
  table[kT4Options] = tag_t4_options;
  table[kT6Options] = tag_t6_options;
  table[kResolutionUnit] = tag_resolution_unit;
  table[kPredictor] = tag_predictor;
  table[kColorMap] = tag_colour_map;
  table[kTileWidth] = tag_tile_size;
  table[kTileLength] = tag_tile_size;
  table[kTileOffsets] = tag_table;
  table[kTileByteCounts] = tag_table;
  table[kSampleFormat] = tag_sample_format;
  table[kJpegTables] = tag_jpeg_tables;
  table[kYcbcrCoefficients] = tag_ycbcr_coefficients;
  table[kYcbcrSubsampling] = tag_ycbcr_subsampling;
  table[kReferenceBlackWhite] = tag_reference_black_white;
  return table;
}();

// Reads the entries of the directory at `offset`; returns the next directory's offset.
uint64_t read_entries(TiffState& tiff, uint64_t offset) {
  const uint64_t count_size = tiff.big ? 8 : 2;
  const uint64_t entry_size = tiff.big ? 20 : 12;
  if (!tiff_in_file(tiff, offset, count_size)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  tiff.in.seek(static_cast<int64_t>(offset));
  const uint64_t n = tiff.big ? get64(tiff) : get16(tiff);
  if (n > static_cast<uint64_t>(tiff.in.size()) || !spend(tiff, n + 1)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  if (!tiff_in_file(tiff, offset + count_size, n * entry_size)) {
    fail(ERR_INVALID_FILE);
    return 0;
  }
  for (uint64_t i = 0; i < n; ++i) {
    tiff.in.seek(static_cast<int64_t>(offset + count_size + i * entry_size));
    const uint32_t tag = get16(tiff);
    if (tag < kTagCount) tiff_tag_handlers[tag](tiff, static_cast<int>(tag));
    if (g_error != 0) return 0;
  }
  // A directory that ends the file without a next offset ends the chain.
  const uint64_t next_at = offset + count_size + n * entry_size;
  if (!tiff_in_file(tiff, next_at, tiff.big ? 8 : 4)) return 0;
  tiff.in.seek(static_cast<int64_t>(next_at));
  return get_offset(tiff);
}

// Fields whose absence from a directory means the TIFF default, not the previous page's value.
void reset_page_defaults(TiffState& tiff) {
  tiff.reduced_resolution = 0;
  tiff.fill_order = 1;
  tiff.orientation = 1;
  tiff.planar_config = 1;
  tiff.predictor = 0;
  tiff.signed_or_float = 0;
  tiff.t4_options = 0;
  tiff.jpeg_tables_size = 0;
  tiff.subsample_h = tiff.subsample_v = 2;
  const float luma[3] = {0.299f, 0.587f, 0.114f};
  const float reference[6] = {0, 255, 128, 255, 128, 255};
  std::memcpy(tiff.luma, luma, sizeof luma);
  std::memcpy(tiff.reference, reference, sizeof reference);
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

TiffState::TiffState(ByteReader& reader, ImageRecord* first, Handle caller_group)
    : in(reader), image(first), group(caller_group) {}

TiffState::~TiffState() { free_tables(); }

void TiffState::free_tables() {
  mem_free(&offsets);
  mem_free(&byte_counts);
  byte_count_count = 0;
}

// Walks the directory chain from `offset`. A chain that comes back to a directory already
// read is refused rather than followed for ever.
void tiff_read_directory(TiffState& tiff, uint64_t offset) {
  ImageRecord* const first = tiff.image;
  ImageRecord* last_decoded = nullptr;
  std::set<uint64_t> visited;
  for (;;) {
    if (!visited.insert(offset).second) {
      fail(ERR_INVALID_FILE);
      return;
    }
    reset_page_defaults(tiff);
    const uint64_t next = read_entries(tiff, offset);
    if (g_error != 0) {
      tiff.free_tables();
      return;
    }
    ImageRecord* current = tiff.image;
    const bool dropped = tiff.reduced_resolution != 0;
    if (!dropped) {
      tiff_decode_image(tiff);
      last_decoded = current;
    }
    tiff.free_tables();
    if (g_error != 0) return;
    if (next == 0) {
      if (dropped) {
        if (current == first) {
          fail(ERR_INVALID_FILE);  // no directory held a full image
        } else {
          Handle handle = current->handle;
          group_remove(tiff.group, handle);
          obj_destroy(TYPE_IMAGE, handle);
          tiff.image = last_decoded;
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
      if (tiff.group != 0) group_add(tiff.group, TYPE_IMAGE, handle, page);
      if (g_error != 0) return;
      last_decoded = obj_get<ImageRecord>(TYPE_IMAGE, current_handle);
      tiff.image = page;
    }
    offset = next;
  }
}

void decode_tiff(ImageRecord* image, Handle group, ByteReader& in) {
  TiffState tiff(in, image, group);
  image->planes = 1;
  image->bits = 1;
  image->description = DESC_TIFF_NONE;

  // "II" is little-endian; any other mark reads big-endian.
  const uint8_t* bytes = in.data();
  tiff.byte_order = in.size() >= 2 && bytes[0] == 'I' && bytes[1] == 'I' ? LITTLE_ENDIAN_ORDER : BIG_ENDIAN_ORDER;
  in.seek(2);
  // 42 for TIFF; 43 for BigTIFF, followed by the offset size 8 and a zero.
  const uint32_t version = get16(tiff);
  tiff.big = version == 43;
  if ((version != 42 && (!tiff.big || get16(tiff) != 8 || get16(tiff) != 0)) || g_error != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const uint64_t first = get_offset(tiff);
  if (g_error == 0) tiff_read_directory(tiff, first);
}
