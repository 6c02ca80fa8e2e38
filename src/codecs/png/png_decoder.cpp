// PNG decoder: reads the chunks, then inflates the IDAT data straight from the file's bytes,
// chunk after chunk, a piece at a time, undoing the row filters and landing the rows in the
// image record as they come, pass by pass for Adam7 interlacing.
// Every colour type and depth is read; 16-bit samples are rounded to 8 bits.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/decoders.h"
#include "codecs/png/inflate.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

// One decode's state; its buffers go with it.
struct PngDecoder {
  PngDecoder() = default;
  PngDecoder(const PngDecoder&) = delete;
  PngDecoder& operator=(const PngDecoder&) = delete;
  ~PngDecoder() {
    mem_free(&raw);
    mem_free(&rows);
  }
  ImageRecord* image;
  Handle group;
  // The whole file's bytes.
  const ByteReader* in;
  int64_t position;
  int64_t released;  // the file's bytes before this offset were given back
  bool header_seen;
  int32_t colour_type;
  int32_t sample_bits;  // bit depth as IHDR states it
  bool grey_alpha;
  bool rgb_alpha;
  bool has_alpha;
  int32_t interlace;
  bool has_background;     // bKGD gave the colour of the slots no row reaches; else they are 0
  uint8_t background[4];  // that colour as a pixel slot holds it
  bool key_16;             // a tRNS key of a 16-bit image, compared on its full samples
  uint32_t key[3];
  // The IDAT chunks: where the first starts, their data bytes together, and where the walk
  // for the next one goes on while inflating.
  int64_t first_idat;
  uint64_t idat_bytes;
  int64_t next_chunk;
  bool iend_seen;
  // Inflated rows, a piece at a time: [0, raw_filled) holds output and the next row starts
  // at raw_row. A new piece first moves to the front what must be kept: the window that
  // back-references may reach and the start of the next row. Rows are unfiltered in `rows`,
  // two buffers taken in turn so that the prior row stays, while the inflated bytes stay as
  // they are for the back-references; `rows` is null when rows are unfiltered in the picture.
  uint8_t* raw = nullptr;
  uint8_t* rows = nullptr;
  const uint8_t* prior;  // data bytes of the prior row of the pass, null for its first row
  size_t raw_capacity;
  size_t raw_filled;
  size_t raw_row;
  uint64_t raw_left;  // inflated bytes the picture still takes
  bool bad_filter;
  size_t row_data_bytes;
  size_t raw_stride;
  int32_t filter_bpp;
  InflateState inflate;
};

// The system maps a file's pages 64 KiB at a time around each access: giving them back every
// 128 KiB keeps little more than that resident.
constexpr int64_t kReleaseStep = int64_t{1} << 17;

// --- Reading the file: past its end every byte reads as 0 ------------------------------

uint32_t read_u8(PngDecoder& png) {
  uint32_t v = png.position < png.in->size() ? png.in->data()[png.position] : 0;
  ++png.position;
  return v;
}
uint32_t read_u16be(PngDecoder& png) {
  uint32_t hi = read_u8(png);
  return (hi << 8) | read_u8(png);
}
uint32_t read_u32be(PngDecoder& png) {
  uint32_t hi = read_u16be(png);
  return (hi << 16) | read_u16be(png);
}

// A 16-bit sample rounded to 8 bits: round(v x 255 / 65535), exact for every v.
inline uint8_t reduce_16(uint32_t v) { return static_cast<uint8_t>((v * 255 + 32895) >> 16); }

// A sample of tRNS or bKGD: rounded to 8 bits in a 16-bit image, otherwise taken as signed
// and clamped to 0..255.
uint8_t read_chunk_sample(PngDecoder& png, uint32_t* full = nullptr) {
  const uint32_t v = read_u16be(png);
  if (full != nullptr) *full = v;
  if (png.sample_bits == 16) return reduce_16(v);
  return static_cast<uint8_t>(std::clamp<int32_t>(static_cast<int16_t>(v), 0, 255));
}

// --- Chunk handlers: entered at the chunk data; the loop moves on to the CRC afterwards ---

void png_chunk_skip(PngDecoder&, uint32_t) {}

void png_chunk_ihdr(PngDecoder& png, uint32_t length) {
  ImageRecord* image = png.image;
  // A second header would describe another picture than the block already allocated.
  // A header too short to hold its fields is refused before anything is read or allocated.
  if (png.header_seen || length < 13) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int32_t width = static_cast<int32_t>(read_u32be(png));
  const int32_t height = static_cast<int32_t>(read_u32be(png));
  if (width < 0 || height < 0) {
    g_error = ERR_VALUE;
    return;
  }
  image->width = width;
  image->height = height;
  const int32_t depth = static_cast<int32_t>(read_u8(png));
  image->bits = depth;
  if (depth < 1 || depth > 16) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  png.colour_type = static_cast<int32_t>(read_u8(png));
  const uint32_t compression = read_u8(png);
  const uint32_t filter = read_u8(png);
  if (compression != 0 || filter != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  png.interlace = static_cast<int32_t>(read_u8(png));
  if (png.interlace > 1) {  // 0 none, 1 Adam7: no other method exists
    g_error = ERR_INVALID_FILE;
    return;
  }
  png.grey_alpha = png.colour_type == 4;
  png.rgb_alpha = png.colour_type == 6;
  png.has_alpha = png.grey_alpha || png.rgb_alpha;
  png.sample_bits = depth;
  png.header_seen = true;
  const bool low_depth = depth == 1 || depth == 2 || depth == 4 || depth == 8;
  switch (png.colour_type) {
    case 0:
    case 4:
      // Grey with alpha exists only at 8 and 16 bits; 16-bit grey lands as 8-bit grey.
      if ((!low_depth && depth != 16) || (png.colour_type == 4 && depth < 8)) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      if (depth == 16) image->bits = 8;
      image->pixel_bytes = 1;
      palette_set_grey(image, image->bits);
      break;
    case 2:
    case 6:
      if (depth != 8 && depth != 16) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      image->pixel_bytes = 4;
      image->bits = 24;
      break;
    case 3:
      if (!low_depth) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      image->pixel_bytes = 1;
      break;
    default:
      g_error = ERR_INVALID_FILE;
      return;
  }
  if (width == 0 || height == 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  static const int32_t kDescriptions[2][2] = {{DESC_PNG, DESC_PNG_16}, {DESC_PNG_INTERLACED, DESC_PNG_INTERLACED_16}};
  image->description = kDescriptions[png.interlace != 0][depth == 16];
  int64_t row_bytes = int64_t{image->pixel_bytes} * width;
  if (image->bits <= 8) row_bytes = (row_bytes + 3) & ~int64_t{3};
  if (row_bytes > INT32_MAX) {
    g_error = ERR_MEMORY;
    return;
  }
  image->row_bytes = static_cast<int32_t>(row_bytes);
  if (!image_set_pixel_size(image, 1)) return;
  image_alloc_pixels(image, png.group);
}

void png_chunk_plte(PngDecoder& png, uint32_t length) {
  if (length % 3 != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  // A grey image keeps its ramp; entries past 256 have no slot.
  if (png.header_seen && (png.colour_type == 0 || png.colour_type == 4)) return;
  const uint32_t entries = std::min<uint32_t>(length / 3, 256);
  ImageRecord* image = png.image;
  for (uint32_t i = 0; i < entries; ++i) {
    image->palette_red[i] = static_cast<uint8_t>(read_u8(png));
    image->palette_green[i] = static_cast<uint8_t>(read_u8(png));
    image->palette_blue[i] = static_cast<uint8_t>(read_u8(png));
  }
}

void png_chunk_idat(PngDecoder& png, uint32_t length) {
  // The data must lie inside the file: a chunk cut short by the end of the file could
  // never be followed by IEND.
  if (int64_t{length} > png.in->size() - png.position) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (length == 0) return;
  if (png.idat_bytes == 0) png.first_idat = png.position - 8;
  png.idat_bytes += length;
}

void png_chunk_iend(PngDecoder& png, uint32_t) { png.iend_seen = true; }

// The file's bytes before `offset` are not read again: their memory goes back a
// kReleaseStep at a time, so that the file does not stay whole beside the picture.
void png_release_before(PngDecoder& png, int64_t offset) {
  if (offset - png.released < kReleaseStep) return;
  png.in->release_before(offset);
  png.released = offset;
}

// The inflater's source: the data of the next IDAT chunk that holds any, following the
// chain the chunk loop has already walked up to IEND.
bool png_next_idat(void* source, const uint8_t** data, const uint8_t** data_end) {
  PngDecoder& png = *static_cast<PngDecoder*>(source);
  while (png.next_chunk + 12 <= png.in->size()) {
    const uint8_t* chunk = png.in->data() + png.next_chunk;
    const uint32_t length = load_u32be(chunk);
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) break;
    png_release_before(png, png.next_chunk);
    png.next_chunk += int64_t{length} + 12;
    if (length != 0 && std::memcmp(chunk + 4, "IDAT", 4) == 0) {
      *data = chunk + 8;
      *data_end = chunk + 8 + length;
      return true;
    }
  }
  return false;
}


// Checks a chunk that must hold `consumed` bytes, and marks the transparency as set.
void png_chunk_trns(PngDecoder& png, uint32_t length) {
  if (!png.header_seen) return;
  ImageRecord* image = png.image;
  uint32_t consumed = 0;
  switch (png.colour_type) {
    case 0:
    case 2:
      consumed = png.colour_type == 0 ? 2 : 6;
      for (uint32_t i = 0; i < consumed / 2; ++i) image->transparent[i] = read_chunk_sample(png, &png.key[i]);
      png.key_16 = png.sample_bits == 16 && length >= consumed;
      break;
    case 3: {
      // The first fully transparent entry, else the first of the most transparent ones.
      const uint32_t count = std::min<uint32_t>(length, 256);
      uint32_t smallest = 255;
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t alpha = read_u8(png);
        consumed = i + 1;
        if (alpha == 0) {
          image->transparent[0] = static_cast<uint8_t>(i);
          break;
        }
        if (alpha < smallest) {
          smallest = alpha;
          image->transparent[0] = static_cast<uint8_t>(i);
        }
      }
      break;
    }
    default:
      break;  // grey or RGB with alpha: the chunk has no effect
  }
  if (consumed != 0) image->has_transparent = 1;
  if (length < consumed) g_error = ERR_INVALID_FILE;
}

void png_chunk_gama(PngDecoder& png, uint32_t length) {
  png.image->gamma = static_cast<int32_t>(read_u32be(png)) * 0.00001;
  if (length < 4) g_error = ERR_INVALID_FILE;
}

// Notes the background colour: the pixel slots no row reaches show it when the rows land.
void png_chunk_bkgd(PngDecoder& png, uint32_t length) {
  if (!png.header_seen) return;
  uint32_t consumed = 0;
  uint8_t* background = png.background;
  switch (png.colour_type) {
    case 3:
      background[0] = static_cast<uint8_t>(read_u8(png));
      consumed = 1;
      break;
    case 0:
    case 4:
      background[0] = read_chunk_sample(png);
      consumed = 2;
      break;
    case 2:
    case 6:
      for (int c = 0; c < 3; ++c) background[c] = read_chunk_sample(png);
      background[3] = 0;
      consumed = 6;
      break;
    default:
      consumed = length;
      break;
  }
  png.has_background = true;
  if (length < consumed) g_error = ERR_INVALID_FILE;
}

void png_chunk_phys(PngDecoder& png, uint32_t length) {
  ImageRecord* image = png.image;
  image->x_resolution = static_cast<int32_t>(read_u32be(png));
  image->y_resolution = static_cast<int32_t>(read_u32be(png));
  const uint32_t unit = read_u8(png);
  if (unit == 1) {
    // Pixels per metre become pixels per inch.
    image->x_resolution = static_cast<int32_t>(image->x_resolution * 0.0254);
    image->y_resolution = static_cast<int32_t>(image->y_resolution * 0.0254);
  } else if (unit != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (length < 9) g_error = ERR_INVALID_FILE;
}

// Ancillary chunks (first letter lower case) are skipped; an unknown critical chunk makes
// the file unsupported.
void png_chunk_unknown(const uint8_t* type) {
  if ((type[0] & 0x20) == 0) g_error = ERR_UNKNOWN_FORMAT;
}

using ChunkHandler = void (*)(PngDecoder& png, uint32_t length);
struct ChunkEntry {
  char name[5];
  ChunkHandler handler;
};
const ChunkEntry kChunkTable[18] = {
    {"IHDR", png_chunk_ihdr}, {"PLTE", png_chunk_plte}, {"IDAT", png_chunk_idat},
    {"IEND", png_chunk_iend}, {"tRNS", png_chunk_trns}, {"gAMA", png_chunk_gama},
    {"cHRM", png_chunk_skip}, {"sRGB", png_chunk_skip}, {"iCCP", png_chunk_skip},
    {"tEXt", png_chunk_skip}, {"zTXt", png_chunk_skip}, {"iTXt", png_chunk_skip},
    {"bKGD", png_chunk_bkgd}, {"pHYs", png_chunk_phys}, {"sBIT", png_chunk_skip},
    {"sPLT", png_chunk_skip}, {"hIST", png_chunk_skip}, {"tIME", png_chunk_skip},
};

// --- Inflating --------------------------------------------------------------------------

// The seven passes of Adam7: first column and row, column and row steps.
struct Pass {
  uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
// A non-interlaced image is one pass over every pixel.
constexpr Pass kWhole = {0, 0, 1, 1};

// Columns or rows of a pass along a side of `size` pixels.
uint32_t pass_extent(uint32_t size, uint32_t first, uint32_t step) {
  return size > first ? (size - first + step - 1) / step : 0;
}

// Sets the raw row geometry for rows of `width` pixels.
void png_row_geometry(PngDecoder& png, uint32_t width) {
  const int32_t bits = png.sample_bits;
  const int32_t channels = png.colour_type == 2 ? 3 : png.colour_type == 6 ? 4 : png.colour_type == 4 ? 2 : 1;
  const uint64_t bits_per_row = uint64_t(width) * uint64_t(bits) * uint64_t(channels);
  png.row_data_bytes = static_cast<size_t>((bits_per_row + 7) / 8);
  png.raw_stride = png.row_data_bytes + 1;
  png.filter_bpp = std::max(1, bits * channels / 8);
}

// Bytes of inflated data the image needs: a filter byte and the data of each row of each
// pass that has pixels.
uint64_t png_raw_size(PngDecoder& png) {
  const uint32_t width = static_cast<uint32_t>(png.image->width);
  const uint32_t height = static_cast<uint32_t>(png.image->height);
  if (png.interlace == 0) {
    png_row_geometry(png, width);
    return uint64_t(png.raw_stride) * height;
  }
  uint64_t total = 0;
  for (const Pass& p : kAdam7) {
    const uint32_t columns = pass_extent(width, p.x0, p.dx);
    if (columns == 0) continue;
    png_row_geometry(png, columns);
    total += uint64_t(png.raw_stride) * pass_extent(height, p.y0, p.dy);
  }
  return total;
}

// Bytes inflated at a time, besides what is kept from the piece before.
constexpr size_t kInflatePiece = size_t{1} << 16;
// Room after an unfiltered row for the wide loads of the filters and of the landing.
constexpr size_t kRowSlack = 16;

void png_inflate(PngDecoder& png) {
  if (g_error != 0) return;
  if (png.idat_bytes == 0 || !png.iend_seen || !png.header_seen) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  // The zlib header's two bytes may lie in two chunks.
  png.next_chunk = png.first_idat;
  const uint8_t* data = nullptr;
  const uint8_t* data_end = nullptr;
  uint8_t header[2];
  size_t header_size = 0;
  while (header_size < 2 && (data < data_end || png_next_idat(&png, &data, &data_end))) header[header_size++] = *data++;
  int32_t window_size = 0;
  zlib_check_header(header, header_size, &window_size);
  if (g_error != 0) return;
  const uint64_t raw_size = png_raw_size(png);
  if (raw_size > mem_limit()) {
    g_error = ERR_MEMORY;
    return;
  }
  png_row_geometry(png, static_cast<uint32_t>(png.image->width));  // the widest rows, the whole image's
  const size_t stride = png.raw_stride;
  const size_t kept = std::max<size_t>(size_t(window_size), stride);
  png.raw_capacity = size_t(std::min<uint64_t>(kept + std::max<size_t>(stride, kInflatePiece), raw_size));
  if (mem_alloc(&png.raw, png.raw_capacity) == nullptr) return;
  // Rows of 8-bit palette indices, grey or RGBA samples land as they are: they are unfiltered
  // in the picture itself. Others are unfiltered in two row buffers first.
  const bool lands_as_is = png.interlace == 0 && png.sample_bits == 8 &&
                           (png.colour_type == 0 || png.colour_type == 3 || png.colour_type == 6);
  if (!lands_as_is && mem_alloc(&png.rows, 2 * (stride + kRowSlack)) == nullptr) return;
  png.raw_filled = png.raw_row = 0;
  png.raw_left = raw_size;
  inflate_start(&png.inflate, data, data_end, window_size, png_next_idat, &png);
}

// Inflates the next piece after moving what must be kept to the front. False when no more
// data comes (the end of the stream, the picture complete, or a fault with g_error set).
bool png_inflate_piece(PngDecoder& png) {
  if (g_error != 0 || png.raw_left == 0) return false;
  const size_t history = std::min<size_t>(png.raw_filled, size_t(png.inflate.window_size));
  const size_t keep_from = std::min(png.raw_filled - history, png.raw_row);
  std::memmove(png.raw, png.raw + keep_from, png.raw_filled - keep_from);
  png.raw_filled -= keep_from;
  png.raw_row -= keep_from;
  const size_t room = size_t(std::min<uint64_t>(png.raw_capacity - png.raw_filled, png.raw_left));
  const size_t n = inflate_more(&png.inflate, png.raw, png.raw + png.raw_filled, png.raw + png.raw_filled + room);
  png.raw_filled += n;
  png.raw_left -= n;
  return n != 0;
}

// The next `stride` bytes of inflated data. Null when the data ends first.
const uint8_t* png_next_row(PngDecoder& png, size_t stride) {
  while (png.raw_filled - png.raw_row < stride) {
    if (!png_inflate_piece(png)) return nullptr;
  }
  const uint8_t* row = png.raw + png.raw_row;
  png.raw_row += stride;
  return row;
}

// --- Filters: in place on a row's data bytes; the prior row is png.prior ---

// The Paeth predictor: of a (left), b (above) and c (above left), the one nearest to
// a + b - c, ties going to a, then b. Worked out by cases, it is the larger of a and b when
// 3c <= max + 2 min, the smaller when 3c >= 2 max + min, else c: a shorter dependency
// chain through a than the three distances.
inline uint8_t paeth(int a, int b, int c) {
  const int lo = a < b ? a : b;
  const int hi = a < b ? b : a;
  const int t = 3 * c;
  const int r = t >= 2 * hi + lo ? lo : c;
  return static_cast<uint8_t>(t <= hi + 2 * lo ? hi : r);
}

template <int BPP>
void filter_sub(uint8_t* row, size_t n) {
  for (size_t i = BPP; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - BPP]);
}

template <int BPP>
void filter_average(uint8_t* row, const uint8_t* prior, size_t n) {
  if (prior == nullptr) {
    for (size_t i = BPP; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + (row[i - BPP] >> 1));
    return;
  }
  const size_t head = std::min<size_t>(BPP, n);
  for (size_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
  for (size_t i = BPP; i < n; ++i)
    row[i] = static_cast<uint8_t>(row[i] + ((row[i - BPP] + prior[i]) >> 1));
}

template <int BPP>
void filter_paeth(uint8_t* row, const uint8_t* prior, size_t n) {
  if (prior == nullptr) return filter_sub<BPP>(row, n);
  const size_t head = std::min<size_t>(BPP, n);
  for (size_t i = 0; i < head; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
  for (size_t i = BPP; i < n; ++i)
    row[i] = static_cast<uint8_t>(row[i] + paeth(row[i - BPP], prior[i], prior[i - BPP]));
}

#if defined(__SSE2__)
// Pixels of 3 or 4 bytes, one pixel per step in 16-bit lanes: the filters that depend on
// the left pixel cannot run across pixels, but the channels of one pixel run together.
// Loads a pixel into 16-bit lanes. With `whole_word`, 4 bytes are read even for 3-byte
// pixels (the extra lane is never stored), which the caller allows only inside the row.
template <int BPP>
inline __m128i load_pixel(const uint8_t* p, bool whole_word) {
  int32_t v = 0;
  if (BPP == 4 || whole_word) std::memcpy(&v, p, 4);
  else std::memcpy(&v, p, BPP);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
}
template <int BPP>
inline void store_pixel(uint8_t* p, __m128i v) {
  const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_and_si128(v, _mm_set1_epi16(0xFF)), v));
  std::memcpy(p, &bytes, BPP);
}

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

template <int BPP>
void filter_paeth_simd(uint8_t* row, const uint8_t* prior, size_t n) {
  __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
  for (size_t i = 0; i + BPP <= n; i += BPP) {
    const bool inside = i + BPP < n;
    const __m128i b = load_pixel<BPP>(prior + i, inside);
    const __m128i x = load_pixel<BPP>(row + i, inside);
    const __m128i pa_signed = _mm_sub_epi16(b, c);
    const __m128i pb_signed = _mm_sub_epi16(a, c);
    const __m128i pa = abs16(pa_signed);
    const __m128i pb = abs16(pb_signed);
    const __m128i pc = abs16(_mm_add_epi16(pa_signed, pb_signed));
    const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
    const __m128i use_a = _mm_cmpeq_epi16(pa, smallest);
    const __m128i use_b = _mm_andnot_si128(use_a, _mm_cmpeq_epi16(pb, smallest));
    const __m128i use_c = _mm_andnot_si128(_mm_or_si128(use_a, use_b), _mm_set1_epi16(-1));
    const __m128i predictor = _mm_or_si128(_mm_or_si128(_mm_and_si128(use_a, a), _mm_and_si128(use_b, b)),
                                           _mm_and_si128(use_c, c));
    a = _mm_and_si128(_mm_add_epi16(x, predictor), _mm_set1_epi16(0xFF));
    store_pixel<BPP>(row + i, a);
    c = b;
  }
}

template <int BPP>
void filter_average_simd(uint8_t* row, const uint8_t* prior, size_t n) {
  __m128i a = _mm_setzero_si128();
  for (size_t i = 0; i + BPP <= n; i += BPP) {
    const bool inside = i + BPP < n;
    const __m128i b = load_pixel<BPP>(prior + i, inside);
    const __m128i x = load_pixel<BPP>(row + i, inside);
    a = _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1)), _mm_set1_epi16(0xFF));
    store_pixel<BPP>(row + i, a);
  }
}
#endif

template <template <int> class F, class... Args>
void by_bpp(int bpp, Args... args) {
  switch (bpp) {
    case 1: F<1>::run(args...); break;
    case 2: F<2>::run(args...); break;
    case 3: F<3>::run(args...); break;
    case 4: F<4>::run(args...); break;
    case 6: F<6>::run(args...); break;
    default: F<8>::run(args...); break;
  }
}
template <int B>
struct SubOp {
  static void run(uint8_t* row, size_t n) { filter_sub<B>(row, n); }
};
template <int B>
struct AverageOp {
  static void run(uint8_t* row, const uint8_t* prior, size_t n) {
#if defined(__SSE2__)
    // Rows of whole pixels only: the last pixel would otherwise be cut.
    if constexpr (B == 3 || B == 4) {
      if (prior != nullptr && n % B == 0) return filter_average_simd<B>(row, prior, n);
    }
#endif
    filter_average<B>(row, prior, n);
  }
};
template <int B>
struct PaethOp {
  static void run(uint8_t* row, const uint8_t* prior, size_t n) {
#if defined(__SSE2__)
    if constexpr (B == 3 || B == 4) {
      if (prior != nullptr && n % B == 0) return filter_paeth_simd<B>(row, prior, n);
    }
#endif
    filter_paeth<B>(row, prior, n);
  }
};

void png_filter_none(PngDecoder&, uint8_t*) {}
void png_filter_sub(PngDecoder& png, uint8_t* row) { by_bpp<SubOp>(png.filter_bpp, row, png.row_data_bytes); }
void png_filter_up(PngDecoder& png, uint8_t* row) {
  const uint8_t* prior = png.prior;
  if (prior == nullptr) return;
  const size_t n = png.row_data_bytes;
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), sum);
  }
#endif
  for (; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
}
void png_filter_average(PngDecoder& png, uint8_t* row) { by_bpp<AverageOp>(png.filter_bpp, row, png.prior, png.row_data_bytes); }
void png_filter_paeth(PngDecoder& png, uint8_t* row) { by_bpp<PaethOp>(png.filter_bpp, row, png.prior, png.row_data_bytes); }

using FilterHandler = void (*)(PngDecoder& png, uint8_t* row);
const FilterHandler png_filters[5] = {png_filter_none, png_filter_sub, png_filter_up,
                                      png_filter_average, png_filter_paeth};

// --- Landing rows -----------------------------------------------------------------------

// Pixels of 2 and 4 bits spread to one byte each, most significant bits first (1-bit pixels
// use g_bits_to_bytes).
struct Expansion {
  uint8_t two[256][4];
  uint8_t four[256][2];
  Expansion() {
    for (int v = 0; v < 256; ++v) {
      for (int i = 0; i < 4; ++i) two[v][i] = (v >> (6 - 2 * i)) & 3;
      for (int i = 0; i < 2; ++i) four[v][i] = (v >> (4 - 4 * i)) & 15;
    }
  }
};
const Expansion kExpansion;

// The first three bytes of a word as memory holds it.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr uint32_t kRgbOfWord = 0xFFFFFF00u;
#else
constexpr uint32_t kRgbOfWord = 0x00FFFFFFu;
#endif

// A pixel whose full samples differ from the tRNS key must not land as the key's rounded
// value: the first channel that differs moves one step further from it.
void keep_off_key(PngDecoder& png, const uint8_t* src, uint8_t* dst, size_t channels) {
  const uint8_t* key = png.image->transparent;
  for (size_t c = 0; c < channels; ++c)
    if (dst[c] != key[c]) return;
  for (size_t c = 0; c < channels; ++c) {
    const uint32_t v = load_u16be(src + 2 * c);
    if (v == png.key[c]) continue;
    const bool up = v > png.key[c] ? dst[c] < 255 : dst[c] == 0;
    dst[c] = static_cast<uint8_t>(up ? dst[c] + 1 : dst[c] - 1);
    return;
  }
}

// Lands a row of 16-bit samples, each rounded to 8 bits; returns the bytes written.
size_t land_row_16(PngDecoder& png, const uint8_t* src, uint8_t* dst, size_t width) {
  const bool grey = png.colour_type == 0 || png.colour_type == 4;
  const size_t channels = grey ? 1 : 3;
  const size_t step = 2 * (channels + (png.has_alpha ? 1 : 0));
  const size_t out = grey ? 1 : 4;
  for (size_t x = 0; x < width; ++x, src += step, dst += out) {
    for (size_t c = 0; c < channels; ++c) dst[c] = reduce_16(load_u16be(src + 2 * c));
    if (!grey) dst[3] = png.rgb_alpha ? reduce_16(load_u16be(src + 6)) : 0;
    if (png.key_16) keep_off_key(png, src, dst, channels);
  }
  return out * width;
}

// Lands one unfiltered row of `width` pixels; returns the number of bytes written. 1-bit rows
// write `fill` bytes, pixels past the width coming from the padding bits.
size_t land_row(PngDecoder& png, const uint8_t* src, uint8_t* dst, size_t width, size_t fill) {
  if (png.sample_bits == 16) return land_row_16(png, src, dst, width);
  switch (png.image->bits) {
    case 1: {
      // The last source byte gives only four pixels when `fill` is not a whole number of
      // bytes' worth.
      const size_t whole = fill / 8;
      for (size_t i = 0; i < whole; ++i) std::memcpy(dst + 8 * i, g_bits_to_bytes[src[i]], 8);
      if (fill % 8 != 0) std::memcpy(dst + 8 * whole, g_bits_to_bytes[src[whole]], 4);
      return fill;
    }
    case 2: {
      const size_t sources = (width + 3) / 4;
      for (size_t i = 0; i < sources; ++i) std::memcpy(dst + 4 * i, kExpansion.two[src[i]], 4);
      return 4 * sources;
    }
    case 4: {
      const size_t sources = (width + 1) / 2;
      for (size_t i = 0; i < sources; ++i) std::memcpy(dst + 2 * i, kExpansion.four[src[i]], 2);
      return 2 * sources;
    }
    case 8:
      if (png.grey_alpha) {
        for (size_t x = 0; x < width; ++x) dst[x] = src[2 * x];
      } else {
        std::memcpy(dst, src, width);
      }
      return width;
    case 24:
      if (png.rgb_alpha) {
        std::memcpy(dst, src, 4 * width);
      } else {
        // A word at a time: the fourth byte read (the next pixel's, or the row's slack) is
        // masked off.
        for (size_t x = 0; x < width; ++x, src += 3, dst += 4) {
          uint32_t slot;
          std::memcpy(&slot, src, 4);
          slot &= kRgbOfWord;
          std::memcpy(dst, &slot, 4);
        }
      }
      return 4 * width;
    default:
      return 0;
  }
}

// Paints bytes [from, to) of a row of the picture with the background, or zero.
void paint_background(const PngDecoder& png, uint8_t* row, size_t from, size_t to) {
  if (!png.has_background) {
    std::memset(row + from, 0, to - from);
  } else if (png.image->pixel_bytes == 1) {
    std::memset(row + from, png.background[0], to - from);
  } else {
    for (size_t i = from; i < to; i += 4) std::memcpy(row + i, png.background, 4);
  }
}

// Unfilters and lands the rows of one pass as they are inflated. The whole image lands
// straight into its rows; a pass of Adam7 lands each row into `scratch` first and spreads its
// pixels. Rows the inflated data does not reach are left alone.
void png_land_pass(PngDecoder& png, const Pass& pass, uint8_t* scratch) {
  ImageRecord* image = png.image;
  const uint32_t columns = pass_extent(static_cast<uint32_t>(image->width), pass.x0, pass.dx);
  const uint32_t rows = pass_extent(static_cast<uint32_t>(image->height), pass.y0, pass.dy);
  if (columns == 0 || rows == 0) return;
  png_row_geometry(png, columns);
  const size_t row_bytes = size_t(image->row_bytes);
  const size_t pixel = size_t(image->pixel_bytes);
  size_t complete = 0;
  for (; complete < rows; ++complete) {
    const uint8_t* inflated = png_next_row(png, png.raw_stride);
    if (inflated == nullptr) break;
    const size_t r = complete;
    const uint8_t filter = inflated[0];
    if (filter >= 5) {
      png.bad_filter = true;
      return;
    }
    uint8_t* dst = image->pixels + (pass.y0 + r * pass.dy) * row_bytes;
    if (png.rows == nullptr) {
      // The row lands as it is unfiltered: done in place, the prior row is the one above.
      std::memcpy(dst, inflated + 1, png.row_data_bytes);
      png.prior = r == 0 ? nullptr : dst - row_bytes;
      png_filters[filter](png, dst);
      if (png.row_data_bytes < row_bytes) paint_background(png, dst, png.row_data_bytes, row_bytes);
      continue;
    }
    uint8_t* row = png.rows + (r & 1) * (png.raw_stride + kRowSlack);
    png.prior = r == 0 ? nullptr : png.rows + ((r - 1) & 1) * (png.raw_stride + kRowSlack);
    std::memcpy(row, inflated + 1, png.row_data_bytes);
    png_filters[filter](png, row);
    if (scratch == nullptr) {
      const size_t landed = land_row(png, row, dst, columns, row_bytes);
      if (landed < row_bytes) paint_background(png, dst, landed, row_bytes);
      continue;
    }
    land_row(png, row, scratch, columns, (size_t(columns) + 7) & ~size_t{7});
    dst += pass.x0 * pixel;
    if (pixel == 1) {
      for (size_t i = 0; i < columns; ++i) dst[i * pass.dx] = scratch[i];
    } else {
      for (size_t i = 0; i < columns; ++i) std::memcpy(dst + i * pass.dx * pixel, scratch + i * pixel, pixel);
    }
  }
  if (complete < rows) {
    // The data ran out inside this pass: later passes get nothing, not even rows of their
    // own width from the bytes left over.
    png.raw_row = png.raw_filled;
    if (scratch == nullptr) {
      for (size_t r = complete; r < rows; ++r) paint_background(png, image->pixels + r * row_bytes, 0, row_bytes);
    }
  }
}

void png_land_rows(PngDecoder& png) {
  if (g_error != 0) return;
  ImageRecord* image = png.image;
  if (png.raw == nullptr || !png.iend_seen) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (png.interlace == 0) {
    png_land_pass(png, kWhole, nullptr);
  } else {
    // Passes land pixel by pixel: what no pass reaches keeps the background, or zero.
    for (int32_t y = 0; y < image->height; ++y)
      paint_background(png, image->pixels + size_t(y) * image->row_bytes, 0, size_t(image->row_bytes));
    uint8_t* scratch = nullptr;
    // Room for a whole row of pixels, 1-bit rows landing up to 7 padding pixels more.
    if (mem_alloc(&scratch, size_t(image->pixel_bytes) * (size_t(image->width) + 8)) == nullptr) return;
    for (const Pass& pass : kAdam7) {
      png_land_pass(png, pass, scratch);
      if (g_error != 0 || png.bad_filter) break;
    }
    mem_free(&scratch);
  }
  if (png.bad_filter) {
    // The rest of the stream is still inflated, so that its faults show as they would.
    while (png_inflate_piece(png)) png.raw_row = png.raw_filled;
    g_error = ERR_INVALID_FILE;
  }
}

}  // namespace

void decode_png(ImageRecord* image, Handle group, ByteReader& in) {
  PngDecoder png{};
  png.image = image;
  png.group = group;
  png.in = &in;
  image->description = DESC_PNG;
  image->planes = 1;

  static const uint8_t kSignatureTail[4] = {0x0D, 0x0A, 0x1A, 0x0A};
  if (png.in->size() < 8 || std::memcmp(png.in->data() + 4, kSignatureTail, 4) != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  png.position = 8;
  while (!png.iend_seen) {
    if (png.position + 12 > png.in->size()) break;
    const uint32_t length = read_u32be(png);
    const uint8_t* type = png.in->data() + png.position;
    png.position += 4;
    const int64_t data_start = png.position;
    ChunkHandler handler = nullptr;
    for (const ChunkEntry& entry : kChunkTable) {
      if (std::memcmp(entry.name, type, 4) == 0) {
        handler = entry.handler;
        break;
      }
    }
    if (handler != nullptr) handler(png, length);
    else png_chunk_unknown(type);
    if (g_error != 0) break;
    png.position = data_start + length + 4;  // the CRC is not checked
    png_release_before(png, png.position);
  }
  if (g_error != 0) return;
  // The walk touched every chunk header and so mapped the whole file: all of it goes back
  // now, and the inflating walk maps the IDAT chunks again as it reads them.
  png.in->release_before(png.position);
  png.released = 0;
  png_inflate(png);
  png_land_rows(png);
}
