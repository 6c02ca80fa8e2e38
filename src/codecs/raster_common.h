// Helpers shared by the decoders: byte loads, checked pixel-block set-up, bit unpacking and
// the LZW string copy.
#pragma once
#include <cstdint>
#include <cstring>

#include "core/registry.h"

struct ImageRecord;

// Little- and big-endian loads from memory the caller has bounds-checked.
inline uint32_t load_u16le(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }
inline uint32_t load_u32le(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint32_t load_u16be(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
inline uint32_t load_u32be(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
// Eight bytes, least significant first, in one load (bit readers that keep 64 bits).
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Pixel blocks up to this size are always granted; bigger ones must be plausible for the
// amount of data the file holds (see raster_plausible).
constexpr int64_t kRasterFreeBytes = int64_t{16} << 20;

// Row length in bytes: pixel_bytes x width, rounded up to 4 bytes when `pad` is set.
// -1 when the width is not positive or the row does not fit in 32 bits.
int64_t raster_row_bytes(int64_t width, int64_t pixel_bytes, bool pad);

// True when a picture of `pixel_size` bytes can come from `data_bytes` bytes of a file whose
// encoding yields at most `ratio` bytes of pixels per byte of data; error 14 otherwise. This
// keeps a tiny file from claiming gigabytes through a run-length or text encoding.
bool raster_plausible(int64_t pixel_size, int64_t data_bytes, int64_t ratio);

// Sets width, height, row_bytes and pixel_size (planes x height x row_bytes), then allocates
// the pixel block. Dimensions that are not positive: error 14; a block that cannot be had:
// error 1. Returns false on error.
bool raster_alloc(ImageRecord* image, Handle group, int64_t width, int64_t height,
                  int64_t row_bytes, int64_t planes);

// Expands bytes of 1, 2 or 4-bit samples (most significant first) into one byte per sample.
// Writes min(count x 8 / bits, max_out) bytes.
void unpack_msb(const uint8_t* src, int64_t count, int bits, uint8_t* dst, int64_t max_out);

// The eight bits of each byte value spread into eight 0/1 bytes, most significant first.
extern const uint8_t g_bits_to_bytes[256][8];

// Scales a channel of `bits` bits (1 to 8) to 0..255, rounding to nearest.
uint8_t scale_channel(uint32_t value, int bits);

// Copies an LZW string of `length` bytes (at least 1) from an earlier place of the output, 16
// bytes at a time. The string ends at or before `to`, so every byte is read before anything
// overwrites it; both buffers have 15 bytes of slack, and the bytes written past the string's
// end are overwritten by the output that follows.
inline void copy_earlier_string(uint8_t* to, const uint8_t* from, int64_t length) {
  int64_t k = 0;
  do {
    uint8_t block[16];
    std::memcpy(block, from + k, 16);
    std::memcpy(to + k, block, 16);
    k += 16;
  } while (k < length);
}
