// TIFF LZW (codes most significant bit first, with the early change of code width) and
// PackBits. Both decode from the strip's bytes in memory and never write past their buffers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/raster_common.h"
#include "codecs/tiff/tiff_bits.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kTableSize = 4096;
constexpr uint32_t kLiterals = 256;  // codes that stand for a single byte

}  // namespace

void tiff_land_output(TiffState& tiff, uint8_t* out, int64_t produced, const TiffRows& rows) {
  const int64_t bpr = rows.bytes_per_row;
  const bool predicted = tiff.land.predictor;
  for (int32_t r = 0; r < rows.coded_rows; ++r) {
    const int64_t start = int64_t{r} * bpr;
    if (start >= produced) break;
    uint8_t* row = out + start;
    if (start + bpr > produced) std::memset(out + produced, 0, static_cast<size_t>(start + bpr - produced));
    if (r >= rows.rows) break;
    if (predicted) tiff_undo_predictor(tiff.land, row, rows.row_pixels);
    tiff_land_row(tiff, row, r, predicted);
  }
}

void tiff_strip_lzw(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  // The LZW of early TIFF writers (codes least significant bit first) starts with a zero
  // byte where a Clear code stands in the current form; it is not read.
  if (chunk.size >= 2 && chunk.data[0] == 0 && (chunk.data[1] & 1) != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const int64_t capacity = rows.bytes_per_row * rows.coded_rows;
  // The buffer starts with the 256 single-byte strings, so that every code's string, a
  // single byte or not, is copied from the buffer the same way. Strings are copied whole:
  // the output has room past the strip's end for the longest string a table can hold, and
  // what lands there is dropped.
  uint8_t* buffer = tiff.tile_buffer(kLiterals + capacity + kTableSize + 16);
  if (buffer == nullptr) return;
  uint8_t* const out = buffer + kLiterals;
  std::vector<LzwEntry>& table = tiff.lzw_table;
  table.resize(kTableSize);
  for (uint32_t i = 0; i < kLiterals; ++i) {
    buffer[i] = static_cast<uint8_t>(i);
    table[i] = {i, 1};
  }

  TiffBits bits(chunk.data, chunk.size);
  int width = 9;
  uint32_t last = kEnd;                    // last assigned code
  uint32_t wider_at = (1u << width) - 2;   // the code width grows once `last` reaches this
  // Each code defines the entry after `last` (the previous string and the first byte of the
  // current one), except the first of a strip that does not start with Clear.
  uint32_t defines = 0;
  uint32_t prev_position = 0, prev_length = 0;  // the previous code's string in the buffer
  uint32_t produced = kLiterals;                // the output's end in the buffer
  const uint32_t end = static_cast<uint32_t>(kLiterals + capacity);
  while (produced < end && !bits.exhausted()) {
    uint32_t code = bits.get(width);
    const uint32_t at = produced;
    if (code <= last && code - kClear > kEnd - kClear) {
      const LzwEntry e = table[code];
      copy_earlier_string(buffer + produced, buffer + e.position, e.length);
      produced += e.length;
    } else if (code == kEnd) {
      break;
    } else if (code == kClear) {
      width = 9;
      wider_at = (1u << width) - 2;
      last = kEnd;
      do {
        code = bits.get(9);
      } while (code == kClear && !bits.exhausted());
      if (code == kEnd || code == kClear) break;
      if (code > kEnd) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      buffer[produced] = static_cast<uint8_t>(code);
      prev_position = produced++;
      prev_length = 1;
      defines = 1;
      continue;
    } else {
      // The code being defined: the previous string, which ends where the output stands,
      // and its own first byte. Copied a byte at a time where string and copy overlap.
      if (code != last + 1 || defines == 0) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      uint8_t* to = buffer + produced;
      const uint8_t* from = buffer + prev_position;
      if (prev_length >= 16) {
        copy_earlier_string(to, from, prev_length + 1);
      } else {
        for (uint32_t k = 0; k <= prev_length; ++k) to[k] = from[k];
      }
      produced += prev_length + 1;
    }
    // A full table without a Clear code ends the strip.
    if (last + defines >= kTableSize) break;
    table[last + 1] = {prev_position, prev_length + 1};
    last += defines;
    defines = 1;
    if (last >= wider_at && width < 12) wider_at = (1u << ++width) - 2;
    prev_position = at;
    prev_length = produced - at;
  }
  tiff_land_output(tiff, out, std::min<int64_t>(produced - kLiterals, capacity), rows);
}

void tiff_strip_packbits(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  const int64_t bpr = rows.bytes_per_row;
  uint8_t* scratch = tiff.buffer(kCodedRowBuffer, bpr + 8);
  if (scratch == nullptr) return;
  const uint8_t* p = chunk.data;
  const uint8_t* end = chunk.data + chunk.size;
  for (int32_t r = 0; r < rows.coded_rows && p < end; ++r) {
    uint8_t* direct = tiff_direct_row(tiff, r, bpr);
    uint8_t* row = direct != nullptr ? direct : scratch;
    int64_t filled = 0;
    while (filled < bpr && p < end) {
      const int n = static_cast<int8_t>(*p++);
      if (n >= 0) {
        // Literal run; bytes past the row's end are passed over.
        int64_t count = n + 1;
        int64_t available = end - p;
        int64_t take = count < available ? count : available;
        if (take > bpr - filled) take = bpr - filled;
        std::memcpy(row + filled, p, static_cast<size_t>(take));
        filled += take;
        p += count < available ? count : available;
      } else if (n != -128) {
        if (p >= end) break;
        int64_t count = 1 - n;
        if (count > bpr - filled) count = bpr - filled;
        std::memset(row + filled, *p++, static_cast<size_t>(count));
        filled += count;
      }
    }
    if (filled < bpr) std::memset(row + filled, 0, static_cast<size_t>(bpr - filled));
    if (direct == nullptr) tiff_land_row(tiff, row, r, false);
  }
}
