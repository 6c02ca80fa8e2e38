// TIFF LZW (codes most significant bit first, with the early change of code width) and
// PackBits. Both decode from the strip's bytes in memory and never write past their buffers.
#include <cstring>
#include <vector>

#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kTableSize = 4096;

// Most-significant-first bit reader over a block; bits past its end read as 0.
class MsbBits {
 public:
  MsbBits(const uint8_t* data, int64_t size) : p_(data), end_(data + size), start_(data) {}

  uint32_t get(int n) {
    if (count_ < n) refill();
    uint32_t v = static_cast<uint32_t>(buffer_ >> (64 - n));
    buffer_ <<= n;
    count_ -= n;
    return v;
  }
  // Offset of the byte that holds the next bit.
  int64_t position() const { return (p_ - start_) - count_ / 8 - (count_ % 8 != 0 ? 1 : 0); }
  // True while the next bit lies inside the block.
  bool before(int64_t size) const { return (p_ - start_) * 8 - count_ < size * 8; }

 private:
  void refill() {
    if (end_ - p_ >= 8) {
      uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word = (word << 8) | p_[i];
      const int take = (64 - count_) / 8;
      buffer_ |= (take == 8 ? word : word >> (64 - take * 8)) << (64 - count_ - take * 8);
      p_ += take;
      count_ += take * 8;
      return;
    }
    while (count_ <= 56) {
      const uint64_t byte = p_ < end_ ? *p_ : 0;
      ++p_;
      buffer_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  const uint8_t* start_;
  uint64_t buffer_ = 0;
  int count_ = 0;
};

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
  // Slack after the output lets strings be copied eight bytes at a time.
  uint8_t* out = tiff.tile_buffer(capacity + 16);
  if (out == nullptr) return;
  std::vector<LzwEntry>& table = tiff.lzw_table;
  table.resize(kTableSize);

  MsbBits bits(chunk.data, chunk.size);
  int width = 9;
  uint32_t last = kEnd;       // last assigned code
  bool have_previous = false;
  uint32_t prev_position = 0, prev_length = 0;  // the previous code's string in the output
  int64_t produced = 0;
  for (uint32_t i = 0; i < 256; ++i) table[i] = {0, 1};

  while (bits.before(chunk.size) && produced < capacity) {
    uint32_t code = bits.get(width);
    if (code == kEnd) break;
    if (code == kClear) {
      width = 9;
      last = kEnd;
      do {
        code = bits.get(9);
      } while (code == kClear && bits.before(chunk.size));
      if (code == kEnd || code == kClear) break;
      if (code > kEnd) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      out[produced] = static_cast<uint8_t>(code);
      prev_position = static_cast<uint32_t>(produced);
      prev_length = 1;
      have_previous = true;
      ++produced;
      continue;
    }
    const int64_t at = produced;
    int64_t length;
    if (code < 256) {
      out[produced++] = static_cast<uint8_t>(code);
      length = 1;
    } else if (code > last) {
      // The code being defined: the previous string and its own first byte.
      if (code != last + 1 || !have_previous) {
        g_error = ERR_INVALID_FILE;
        return;
      }
      length = int64_t{prev_length} + 1;
      if (length > capacity - produced) length = capacity - produced;
      const int64_t copy = length < prev_length ? length : prev_length;
      std::memmove(out + produced, out + prev_position, static_cast<size_t>(copy));
      if (copy < length) out[produced + copy] = out[prev_position];
      produced += length;
    } else {
      const LzwEntry& e = table[code];
      length = e.length;
      if (length > capacity - produced) length = capacity - produced;
      // The string lies wholly before the output position, so copying in blocks of eight
      // reads every byte it needs before anything overwrites it; the bytes written past the
      // string's end are overwritten by the output that follows.
      const uint8_t* from = out + e.position;
      uint8_t* to = out + produced;
      for (int64_t k = 0; k < length; k += 8) {
        uint64_t block;
        std::memcpy(&block, from + k, 8);
        std::memcpy(to + k, &block, 8);
      }
      produced += length;
    }
    if (have_previous) {
      // A full table without a Clear code ends the strip.
      if (last + 1 >= kTableSize) break;
      ++last;
      table[last] = {prev_position, prev_length + 1};
    }
    prev_position = static_cast<uint32_t>(at);
    prev_length = static_cast<uint32_t>(length);
    have_previous = true;
    if (width < 12 && last >= (1u << width) - 2) ++width;
  }
  tiff_land_output(tiff, out, produced, rows);
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
