// LZW decoding of GIF image data. The sub-blocks of an image are joined, a window at a
// time, into one run of bytes, so that codes are read from a plain bit position without
// caring where a length byte fell; the file's pages behind the window are given back as the
// decoder moves on. The string table holds no strings: every code remembers where its
// string was last written in the output and how long it is, and a new entry is the
// previous string extended in place by the first byte of the string written after it.
#include <cstring>

#include "codecs/gif/gif_internal.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"

namespace {

// How the run of whole sub-blocks ends.
enum DataEnd {
  END_TERMINATOR,  // a zero length byte
  END_FILE,        // the file ends where a length byte was expected
  END_TRUNCATED,   // a sub-block that runs past the end of the file
};

constexpr int kMaxCodeBits = 12;
constexpr uint32_t kTrailer = 0x3B;
constexpr int64_t kTailRoom = 254;           // room for what the file holds of a truncated sub-block
constexpr int64_t kReadSlack = 16;           // zero bytes after the window, for 8-byte loads

// The image's sub-blocks with their length bytes taken out, of which the window holds the
// joined bytes from `base` to `end` (positions count from the image data's first byte).
struct JoinedWindow {
  const uint8_t* file;
  int64_t file_size;
  uint8_t* bytes;
  int64_t at;              // file position of the next byte to join, or of a length byte
  int64_t base = 0;
  int64_t end = 0;
  int64_t block_left = 0;  // bytes of the current sub-block not joined yet
  // Set once the whole sub-blocks are all joined, with how they end.
  bool finished = false;
  DataEnd kind = END_TERMINATOR;
  int64_t end_at = 0;       // file position of the length byte after the whole sub-blocks
  uint32_t end_length = 0;  // that byte, for a truncated sub-block
  int64_t available = 0;    // joined position after what the file holds of that sub-block
};

// Moves the window to start at joined position `from`, at or after its start: the bytes it
// still holds from there are kept, then the following sub-blocks are joined up to the
// window's size. Bytes between its end and `from` (the rest of a sub-block an end code
// leaves) are passed over in the file.
void slide_window(JoinedWindow& w, int64_t from) {
  int64_t filled = 0;
  if (from < w.end) {
    filled = w.end - from;
    std::memmove(w.bytes, w.bytes + (from - w.base), static_cast<size_t>(filled));
  }
  int64_t pass_over = from > w.end ? from - w.end : 0;
  w.base = from;
  while (!w.finished && filled < kGifWindowBytes) {
    if (w.block_left == 0) {
      if (w.at >= w.file_size || w.file[w.at] == 0 || w.at + 1 + w.file[w.at] > w.file_size) {
        w.finished = true;
        w.end_at = w.at;
        w.kind = w.at >= w.file_size ? END_FILE : w.file[w.at] == 0 ? END_TERMINATOR : END_TRUNCATED;
        break;
      }
      w.block_left = w.file[w.at];
      ++w.at;
    }
    int64_t n = w.block_left;
    if (pass_over > 0) {
      if (n > pass_over) n = pass_over;
      pass_over -= n;
    } else {
      if (n > kGifWindowBytes - filled) n = kGifWindowBytes - filled;
      std::memcpy(w.bytes + filled, w.file + w.at, static_cast<size_t>(n));
      filled += n;
    }
    w.at += n;
    w.block_left -= n;
  }
  w.end = from + filled;
  if (w.finished && w.kind == END_TRUNCATED) {
    // What the file holds of the truncated sub-block follows the whole ones.
    w.end_length = w.file[w.end_at];
    const int64_t tail = w.file_size - (w.end_at + 1);
    if (tail > 0) std::memcpy(w.bytes + filled, w.file + w.end_at + 1, static_cast<size_t>(tail));
    filled += tail > 0 ? tail : 0;
  }
  w.available = from + filled;
  std::memset(w.bytes + filled, 0, kReadSlack);
}

// The frame's indexes in decode order. Strings that end this far before the end are copied
// 16 bytes at a time; nearer the end (the picture itself has no slack) they are copied
// exactly, and nothing goes past the end.
struct Output {
  uint8_t* buffer;
  int64_t capacity;
  int64_t wide_limit;
};

// Writes the n bytes of the string at `from` at `out`.
inline void put_string(const Output& o, int64_t out, uint32_t from, int32_t n) {
  if (out + n <= o.wide_limit) {
    copy_earlier_string(o.buffer + out, o.buffer + from, n);
  } else if (out < o.capacity) {
    const int64_t fits = o.capacity - out < n ? o.capacity - out : n;
    std::memcpy(o.buffer + out, o.buffer + from, static_cast<size_t>(fits));
  }
}

// Writes the string of the code being defined: the previous string, just written before
// `out`, and its own first byte.
inline void put_defining_string(const Output& o, int64_t out, int32_t previous_length) {
  uint8_t* buffer = o.buffer;
  if (out + previous_length + 1 <= o.wide_limit) {
    copy_earlier_string(buffer + out, buffer + out - previous_length, previous_length);
    buffer[out + previous_length] = buffer[out - previous_length];
  } else if (out < o.capacity) {
    int64_t fits = o.capacity - out;
    if (fits > previous_length) fits = previous_length;
    std::memcpy(buffer + out, buffer + out - previous_length, static_cast<size_t>(fits));
    if (out + previous_length + 1 <= o.capacity) buffer[out + previous_length] = buffer[out - previous_length];
  }
}

// What follows when the next code would need bits past the whole sub-blocks. `bit` and
// `limit` count from the window's start.
enum class Reach { CODE_GOES_ON, STOP };

Reach reach_data_end(GifDecoder& g, const JoinedWindow& w, int64_t bit, int64_t& limit, bool& in_truncated,
                     int64_t out) {
  if (in_truncated) {
    g_error = ERR_FILE_ACCESS;  // the code needs bytes past the end of the file
    return Reach::STOP;
  }
  if (bit == limit) {
    // The whole sub-blocks are used up exactly: the next length byte is read as such.
    if (w.kind == END_TRUNCATED) {
      if (w.end_length == kTrailer) {
        // A trailer where a length byte was expected: the data ends here.
        g.lzw.out = out;
        gif_end_of_image(g);
        g.done = 1;
      } else {
        g_error = ERR_INVALID_FILE;
      }
    } else {
      g.in->seek(w.end_at);
    }
    return Reach::STOP;
  }
  // The code continues past the whole sub-blocks.
  if (w.kind == END_TRUNCATED) {
    in_truncated = true;
    limit = (w.available - w.base) * 8;
    return Reach::CODE_GOES_ON;
  }
  if (w.kind == END_FILE) g_error = ERR_FILE_ACCESS;
  g.in->seek(w.end_at);  // a zero length byte in the middle of a code ends the data
  return Reach::STOP;
}

// The sub-block walk, used to find where an end code's sub-block ends. It follows the
// window, so that it never goes back over file pages already given back.
struct SubBlockWalk {
  int64_t at;      // file position of the current sub-block's length byte
  int64_t start;   // its first byte among the joined bytes
  int64_t length;

  // The joined position where the first sub-block that ends at or after `byte` ends.
  int64_t end_of_block_reaching(const uint8_t* data, int64_t byte) {
    while (start + length < byte) {
      start += length;
      at += 1 + length;
      length = data[at];
    }
    return start + length;
  }
};

}  // namespace

void gif_lzw_reset(GifLzw& z, int m) {
  // Codes are at most 12 bits: a larger start would leave no room for the table.
  if (m > kMaxCodeBits - 1) {
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

void gif_image_data(GifDecoder& g, uint32_t length_byte) {
  GifLzw& z = g.lzw;
  const int64_t first_at = g.in->tell() - 1;  // where the parser read `length_byte`
  // The window holds at most what the file has after this point.
  int64_t window_size = g.in->size() - first_at;
  if (window_size > kGifWindowBytes + kTailRoom) window_size = kGifWindowBytes + kTailRoom;
  uint8_t* const window = g.window.reserve(window_size + kReadSlack);
  if (window == nullptr) return;
  JoinedWindow w{g.in->data(), g.in->size(), window, first_at};
  slide_window(w, 0);
  SubBlockWalk walk{first_at, 0, length_byte};

  const uint8_t* bits = window;
  const Output output{g.output, g.output_capacity, g.output_capacity - 16};
  uint8_t* buffer = g.output;
  const int64_t capacity = g.output_capacity;
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

  int64_t bit = 0;  // from the window's start
  int64_t limit = w.end * 8;
  bool in_truncated = false;

  for (;;) {
    if (bit + code_size > limit) {
      if (!w.finished) {
        slide_window(w, w.base + (bit >> 3));
        bit &= 7;
        limit = (w.end - w.base) * 8;
        walk.end_of_block_reaching(w.file, w.base);
        g.in->release_before(walk.at);
        continue;
      }
      if (reach_data_end(g, w, bit, limit, in_truncated, out) == Reach::STOP) break;
      continue;
    }
    const uint32_t code = static_cast<uint32_t>(load_le64(bits + (bit >> 3)) >> (bit & 7)) & mask;
    bit += code_size;

    if (code > static_cast<uint32_t>(end_code)) {
      if (code <= static_cast<uint32_t>(last)) {
        const int32_t n = length[code];
        const uint32_t from = start[code];
        if (last < kGifMaxCodes - 1) {
          ++last;
          start[last] = static_cast<uint32_t>(out - previous_length);
          length[last] = static_cast<uint16_t>(previous_length + 1);
        }
        put_string(output, out, from, n);
        out += n;
        previous_length = n;
      } else if (code == static_cast<uint32_t>(last) + 1 && !fresh) {
        const int32_t n = previous_length + 1;
        last = static_cast<int32_t>(code);
        start[last] = static_cast<uint32_t>(out);
        length[last] = static_cast<uint16_t>(n);
        put_defining_string(output, out, previous_length);
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
      bit = (walk.end_of_block_reaching(w.file, w.base + ((bit + 7) >> 3)) - w.base) * 8;
      continue;
    }
    if (last >= grow_at && code_size < kMaxCodeBits) {
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
