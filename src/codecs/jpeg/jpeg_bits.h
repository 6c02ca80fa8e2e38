// Bit reading of JPEG entropy-coded data straight from the file buffer: a 64-bit buffer
// refilled a byte at a time, with stuffed zeros dropped and markers (or the end of the file)
// stopping the refill. Past a marker the buffer is padded with zero bits; a read that needs
// them reports the marker instead, exactly where a one-bit-at-a-time reader would meet it.
#pragma once
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codecs/jpeg/jpeg_internal.h"
#include "core/errors.h"

struct JpegBits {
  const uint8_t* data;
  int64_t size;
  int64_t start;  // where this pass over the data began
  int64_t pos;    // next byte to load
  uint64_t buf;   // unread bits, most significant first
  int nbits;      // bits in buf, padding included
  int pad;        // zero bits added past a marker
  bool at_marker;
  int64_t marker_pos;
};

inline int bits_real(const JpegBits& b) { return b.nbits - b.pad; }

// Tops up a bit buffer holding at most 56 bits with whole bytes of the eight at `pos`, when
// they lie inside the data and none of them is 0xFF (no stuffing, no marker); false otherwise.
inline bool bits_fill_word(const uint8_t* data, int64_t size, int64_t& pos, uint64_t& buf, int& nbits) {
  if (pos + 8 > size) return false;
  uint64_t w;
  std::memcpy(&w, data + pos, sizeof w);
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  const uint64_t x = ~w;
  if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0) return false;
  const int k = (64 - nbits) >> 3;
  buf |= (w & (~0ull << (64 - 8 * k))) >> nbits;
  nbits += 8 * k;
  pos += k;
  return true;
}

inline void bits_fill(JpegBits& b) {
  while (b.nbits <= 56) {
    if (b.at_marker) {
      b.pad += 64 - b.nbits;
      b.nbits = 64;
      return;
    }
    if (bits_fill_word(b.data, b.size, b.pos, b.buf, b.nbits)) continue;
    if (b.pos >= b.size) {
      b.at_marker = true;
      b.marker_pos = b.pos;
      continue;
    }
    const uint8_t c = b.data[b.pos];
    if (c == 0xFF) {
      if (b.pos + 1 >= b.size || b.data[b.pos + 1] != 0) {
        b.at_marker = true;
        b.marker_pos = b.pos;
        continue;
      }
      b.pos += 2;
    } else {
      b.pos += 1;
    }
    b.buf |= uint64_t{c} << (56 - b.nbits);
    b.nbits += 8;
  }
}

inline void bits_start(JpegBits& b, const uint8_t* data, int64_t size, int64_t position) {
  b.data = data;
  b.size = size;
  b.start = position;
  b.pos = position;
  b.buf = 0;
  b.nbits = 0;
  b.pad = 0;
  b.at_marker = false;
  b.marker_pos = 0;
}

inline void bits_skip(JpegBits& b, int n) {
  b.buf <<= n;
  b.nbits -= n;
}

// A read ran into the marker: a bit-at-a-time reader has taken every bit before it.
inline void bits_hit_marker(JpegBits& b) {
  b.buf = 0;
  b.nbits = 0;
  b.pad = 0;
}

// Passes over the rest of the data up to the next marker (or the end of the file).
inline void bits_skip_to_marker(JpegBits& b) {
  while (!b.at_marker) {
    b.buf = 0;
    b.nbits = 0;
    b.pad = 0;
    bits_fill(b);
  }
  bits_hit_marker(b);
}

// A marker at a byte boundary, where every block begins by looking.
inline bool bits_at_marker(JpegBits& b) {
  if (bits_real(b) > 0) return false;
  bits_fill(b);
  return bits_real(b) == 0;
}

// The file offset of the byte holding the next unread bit, and whether it is partly read.
inline int64_t bits_position(const JpegBits& b, bool* partial) {
  const int real = bits_real(b);
  *partial = (real & 7) != 0;
  if (real <= 0) {
    *partial = false;
    return b.pos;
  }
  int64_t q = b.pos;
  for (int units = (real + 7) >> 3; units > 0; --units) {
    if (q - 2 >= b.start && b.data[q - 1] == 0 && b.data[q - 2] == 0xFF) q -= 2;
    else q -= 1;
  }
  return q;
}

// Reads n bits (0..16); false when a marker is met first.
inline bool bits_receive(JpegBits& b, int n, int32_t* value) {
  if (n == 0) {
    *value = 0;
    return true;
  }
  if (b.nbits < n) bits_fill(b);
  if (n > bits_real(b)) {
    bits_hit_marker(b);
    return false;
  }
  *value = static_cast<int32_t>(b.buf >> (64 - n));
  bits_skip(b, n);
  return true;
}

inline int32_t jpeg_extend(int32_t v, int s) {
  if (s == 0) return 0;
  return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
}

// The symbol of the code of length n (1..16) whose value is v, or -1 when there is none. A
// value that codes of several lengths claim (a table with too many codes wraps round) belongs
// to the longest of them.
inline int huff_code_symbol(const JpegHuffman* h, int n, uint32_t v) {
  const auto in_run = [&](int length) { return ((v - h->first[length - 1]) & 0xFFFF) < h->count[length - 1]; };
  if (!in_run(n)) return -1;
  for (int longer = n + 1; longer <= 16; ++longer)
    if (in_run(longer)) return -1;
  return h->symbols[h->offset[n - 1] + ((v - h->first[n - 1]) & 0xFFFF)];
}

enum HuffResult { HUFF_MARKER = -1, HUFF_NOT_FOUND = -2 };

// Decodes one code: its symbol, HUFF_MARKER, or HUFF_NOT_FOUND with the 16 bits read consumed
// and their value in *value.
inline int huff_decode(JpegBits& b, const JpegHuffman* h, uint32_t* value) {
  if (b.nbits < 16) bits_fill(b);
  const uint32_t e = h->fast[b.buf >> (64 - kHuffFastBits)];
  int len, sym;
  if (e != 0) {
    len = static_cast<int>(e >> 8);
    sym = static_cast<int>(e & 255);
  } else {
    const uint32_t look = static_cast<uint32_t>(b.buf >> 48);
    len = 0;
    for (int n = kHuffFastBits + 1; n <= 16; ++n) {
      sym = huff_code_symbol(h, n, look >> (16 - n));
      if (sym >= 0) {
        len = n;
        break;
      }
    }
    if (len == 0) {
      if (bits_real(b) < 16) {
        bits_hit_marker(b);
        return HUFF_MARKER;
      }
      *value = look;
      bits_skip(b, 16);
      return HUFF_NOT_FOUND;
    }
  }
  if (len > bits_real(b)) {
    bits_hit_marker(b);
    return HUFF_MARKER;
  }
  bits_skip(b, len);
  return sym;
}

// Logs an undecodable code with its value and the file position reached.
inline void huff_log_not_found(const char* kind, uint32_t value, const JpegBits& b) {
  bool partial;
  const int64_t p = bits_position(b, &partial);
  char text[96];
  std::snprintf(text, sizeof text, "CODE HUFF %s NON TROUV %d pos %x", kind, static_cast<int>(value),
                static_cast<unsigned>(p));
  log_write(text);
}

// Builds a slot's multi-bit table following the same rule as the bit-by-bit search: the first
// length n whose n-bit value is a code of length n.
inline void huff_prepare(JpegHuffman* h) {
  if (h->fast_ready) return;
  for (uint32_t idx = 0; idx < (1u << kHuffFastBits); ++idx) {
    uint16_t entry = 0;
    for (int n = 1; n <= kHuffFastBits; ++n) {
      const int symbol = huff_code_symbol(h, n, idx >> (kHuffFastBits - n));
      if (symbol >= 0) {
        entry = static_cast<uint16_t>((n << 8) | symbol);
        break;
      }
    }
    h->fast[idx] = entry;
    // The same prefix with the extra bits of an AC coefficient when they fit as well.
    JpegAcFast& a = h->ac_fast[idx];
    a = JpegAcFast{0, 0, 0};
    if (entry != 0) {
      const int len = entry >> 8, rs = entry & 255, size = rs & 15;
      a.length = static_cast<uint8_t>(len);
      a.rs = static_cast<uint8_t>(rs);
      if (len + size <= kHuffFastBits) {
        const uint32_t extra = (idx >> (kHuffFastBits - len - size)) & ((1u << size) - 1);
        a.value = static_cast<int16_t>(jpeg_extend(static_cast<int32_t>(extra), size));
      }
    }
  }
  h->fast_ready = true;
}
