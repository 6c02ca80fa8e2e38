// LZW decoding of GIF image data. The sub-blocks of an image are first joined into one
// run of bytes, so that codes are read from a plain bit position without caring where a
// length byte fell. The string table holds no strings: every code remembers where its
// string was last written in the output and how long it is, and a new entry is the
// previous string extended in place by the first byte of the string written after it.
#include <cstring>

#include "codecs/gif/gif_internal.h"
#include "core/errors.h"
#include "core/memory.h"

namespace {

// How the run of whole sub-blocks ends.
enum DataEnd {
  END_TERMINATOR,  // a zero length byte
  END_FILE,        // the file ends where a length byte was expected
  END_TRUNCATED,   // a sub-block that runs past the end of the file
};

struct Joined {
  int64_t complete;   // bytes of whole sub-blocks
  int64_t available;  // plus what the file holds of a truncated last sub-block
  DataEnd kind;
  int64_t end_at;     // file position of the length byte after the whole sub-blocks
  uint32_t end_length;
};

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Copies n bytes from an earlier place of the output in 16-byte steps. The source ends at
// or before the destination, and both buffers have slack for the overshoot: bytes written
// past n are overwritten by the output that follows.
inline void copy_string(uint8_t* dst, const uint8_t* src, int32_t n) {
  int32_t i = 0;
  do {
    uint8_t chunk[16];
    std::memcpy(chunk, src + i, 16);
    std::memcpy(dst + i, chunk, 16);
    i += 16;
  } while (i < n);
}

// Joins the sub-blocks that start with the length byte at `at` into g_gif.packed.
bool join_sub_blocks(int64_t at, Joined* joined) {
  GifDecoder& g = g_gif;
  // Measure first: the buffer holds this image's data only, plus 16 spare bytes that let
  // the bit reader load 8 bytes at a time.
  int64_t total = 0;
  for (int64_t walk = at; walk < g.size && g.data[walk] != 0; walk += 1 + g.data[walk])
    total += g.data[walk];
  const int64_t need = total + 16;
  if (g.packed_allocated < need) {
    g.packed_allocated = 0;
    if (mem_alloc(&g.packed, static_cast<size_t>(need)) == nullptr) return false;
    g.packed_allocated = need;
  }
  int64_t out = 0;
  for (;;) {
    if (at >= g.size) {
      joined->kind = END_FILE;
      break;
    }
    const uint32_t length = g.data[at];
    if (length == 0) {
      joined->kind = END_TERMINATOR;
      break;
    }
    if (at + 1 + length > g.size) {
      joined->kind = END_TRUNCATED;
      joined->end_length = length;
      break;
    }
    std::memcpy(g.packed + out, g.data + at + 1, length);
    out += length;
    at += 1 + length;
  }
  joined->complete = out;
  joined->end_at = at;
  int64_t tail = 0;
  if (joined->kind == END_TRUNCATED) {
    tail = g.size - (at + 1);
    if (tail > 0) std::memcpy(g.packed + out, g.data + at + 1, static_cast<size_t>(tail));
    else tail = 0;
  }
  joined->available = out + tail;
  std::memset(g.packed + joined->available, 0, 16);
  return true;
}

}  // namespace

void gif_lzw_reset(int m) {
  GifLzw& z = g_gif.lzw;
  // Codes are at most 12 bits: a larger start would leave no room for the table.
  if (m > 11) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  z.clear_code = 1 << m;
  z.end_code = z.clear_code + 1;
  z.initial_code_size = m + 1;
  z.code_size = m + 1;
  z.last_code = z.end_code;
  z.previous_length = 0;
  z.fresh = true;  // data that does not open with a clear code starts as if it did
  z.out = 0;
}

void gif_image_data(uint32_t length_byte) {
  GifDecoder& g = g_gif;
  GifLzw& z = g.lzw;
  const int64_t first_at = g.pos - 1;  // where the parser read `length_byte`
  Joined joined;
  if (!join_sub_blocks(first_at, &joined)) return;

  // Sub-block walk, used only to find where an end code's sub-block ends.
  int64_t block_at = first_at;
  int64_t block_start = 0;
  int64_t block_length = length_byte;

  const uint8_t* bits = g.packed;
  uint8_t* buffer = g.output;
  const int64_t capacity = g.output_capacity;
  // Strings that end this far before the end are copied 16 bytes at a time; nearer the
  // end (the picture itself has no slack) they are copied exactly.
  const int64_t wide_limit = capacity - 16;
  uint32_t* start = z.string_start;
  uint16_t* length = z.string_length;
  const int32_t clear_code = z.clear_code;
  const int32_t end_code = z.end_code;
  int32_t code_size = z.code_size;
  uint32_t mask = (1u << code_size) - 1;
  int32_t grow_at = (1 << code_size) - 1;
  int32_t last = z.last_code;
  int32_t previous_length = z.previous_length;
  bool fresh = z.fresh;
  int64_t out = z.out;

  int64_t bit = 0;
  int64_t limit = joined.complete * 8;
  bool in_truncated = false;

  for (;;) {
    if (bit + code_size > limit) {
      if (in_truncated) {
        g_error = ERR_FILE_ACCESS;  // the code needs bytes past the end of the file
        break;
      }
      if (bit == limit) {
        // The whole sub-blocks are used up exactly: the next length byte is read as such.
        if (joined.kind == END_TRUNCATED) {
          if (joined.end_length == 0x3B) {
            // A trailer where a length byte was expected: the data ends here.
            z.out = out;
            gif_end_of_image();
            g.done = 1;
          } else {
            g_error = ERR_INVALID_FILE;
          }
        } else {
          g.pos = joined.end_at;
        }
        break;
      }
      // The code continues past the whole sub-blocks.
      if (joined.kind == END_TRUNCATED) {
        in_truncated = true;
        limit = joined.available * 8;
        continue;
      }
      if (joined.kind == END_FILE) g_error = ERR_FILE_ACCESS;
      g.pos = joined.end_at;  // a zero length byte in the middle of a code ends the data
      break;
    }
    const uint32_t code =
        static_cast<uint32_t>(load_le64(bits + (bit >> 3)) >> (bit & 7)) & mask;
    bit += code_size;

    if (code > static_cast<uint32_t>(end_code)) {
      if (code <= static_cast<uint32_t>(last)) {
        const uint32_t from = start[code];
        const int32_t n = length[code];
        if (last < kGifMaxCodes - 1) {
          ++last;
          start[last] = static_cast<uint32_t>(out - previous_length);
          length[last] = static_cast<uint16_t>(previous_length + 1);
        }
        if (out + n <= wide_limit) {
          copy_string(buffer + out, buffer + from, n);
        } else if (out < capacity) {
          const int64_t fits = capacity - out < n ? capacity - out : n;
          std::memcpy(buffer + out, buffer + from, static_cast<size_t>(fits));
        }
        out += n;
        previous_length = n;
      } else if (code == static_cast<uint32_t>(last) + 1 && !fresh) {
        // The code being defined: the previous string and its own first byte.
        const int32_t n = previous_length + 1;
        last = static_cast<int32_t>(code);
        start[last] = static_cast<uint32_t>(out);
        length[last] = static_cast<uint16_t>(n);
        if (out + n <= wide_limit) {
          copy_string(buffer + out, buffer + out - previous_length, previous_length);
          buffer[out + previous_length] = buffer[out - previous_length];
        } else if (out < capacity) {
          int64_t fits = capacity - out;
          if (fits > previous_length) fits = previous_length;
          std::memcpy(buffer + out, buffer + out - previous_length, static_cast<size_t>(fits));
          if (out + n <= capacity) buffer[out + previous_length] = buffer[out - previous_length];
        }
        out += n;
        previous_length = n;
      } else {
        g_error = ERR_INVALID_FILE;
        break;
      }
    } else if (code < static_cast<uint32_t>(clear_code)) {
      if (!fresh && last < kGifMaxCodes - 1) {
        ++last;
        start[last] = static_cast<uint32_t>(out - previous_length);
        length[last] = static_cast<uint16_t>(previous_length + 1);
      }
      fresh = false;
      if (out < capacity) buffer[out] = static_cast<uint8_t>(code);
      ++out;
      previous_length = 1;
    } else if (code == static_cast<uint32_t>(clear_code)) {
      code_size = z.initial_code_size;
      mask = (1u << code_size) - 1;
      grow_at = (1 << code_size) - 1;
      last = end_code;
      fresh = true;
      continue;
    } else {
      // End code: what is left of its sub-block is skipped; decoding goes on with the
      // next sub-block, if any.
      if (in_truncated) {
        g_error = ERR_FILE_ACCESS;
        break;
      }
      const int64_t byte = (bit + 7) >> 3;
      while (block_start + block_length < byte) {
        block_start += block_length;
        block_at += 1 + block_length;
        block_length = g.data[block_at];
      }
      bit = (block_start + block_length) * 8;
      continue;
    }
    if (last >= grow_at && code_size < 12) {
      ++code_size;
      mask = (1u << code_size) - 1;
      grow_at = (1 << code_size) - 1;
    }
  }

  z.code_size = code_size;
  z.last_code = last;
  z.previous_length = previous_length;
  z.fresh = fresh;
  if (!g.done) z.out = out;
}
