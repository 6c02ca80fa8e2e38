// Inflate: decompression of a zlib stream held in memory, whole or in pieces that a source
// hands over one after the other, into one buffer the caller has sized or piece by piece. Bits are kept in a 64-bit buffer and Huffman codes are decoded through a first-level
// look-up table (one probe for most codes) with second-level tables for the long ones.
//
// Hostile data is bounded: the output never runs past its end (decoding stops there and
// counts as done), the input is never read past its end, and every undecodable construct
// fails with g_error 14.
#pragma once
#include <cstddef>
#include <cstdint>

// One decoding table entry: bits 0-4 the bits the entry takes in all (code and extra bits for
// a length or distance, the root width for a link to a second-level table, the code length
// otherwise), bit 5 clear, bits 6-9 the extra bits that follow the code (the width of the
// second-level table for a link; the first code's length for a pair of literals), bits 10-12
// the kind, bits 16-31 the value (literal byte or two, length or distance base, second-level
// table offset).
using HuffEntry = uint32_t;

constexpr int kLitlenRootBits = 11;
constexpr int kDistRootBits = 10;
constexpr int kMaxCodeBits = 15;
constexpr int kLitlenSymbols = 288;
constexpr int kDistSymbols = 32;
// Room for the root table and, in the worst case, a second-level table of the longest codes
// behind the root prefix of every symbol.
constexpr int kLitlenTableSize = (1 << kLitlenRootBits) + kLitlenSymbols * (1 << (kMaxCodeBits - kLitlenRootBits));
constexpr int kDistTableSize = (1 << kDistRootBits) + kDistSymbols * (1 << (kMaxCodeBits - kDistRootBits));

struct HuffTable {
  int32_t root_bits;
  HuffEntry* entries;
};

// The code-length code of a dynamic block header, decoded one bit at a time: `lengths[v]` is
// the length of the code whose value is v, `symbols[v]` its symbol; `min_len` and `max_len`
// are the shortest and longest code lengths in use.
struct CodeLengthTable {
  int32_t min_len;
  int32_t max_len;
  uint8_t lengths[256];
  uint8_t symbols[256];
};

// Gives the next piece of a stream whose pieces lie apart in memory: sets [*data, *data_end)
// and returns true, or returns false when the stream has no more.
using InflateSource = bool (*)(void* source, const uint8_t** data, const uint8_t** data_end);

// One decode's whole state, tables included: nothing outlives it.
struct InflateState {
  int32_t window_size;  // largest distance a back-reference may span
  // Output: `out` is the next byte to write; it only moves forward.
  uint8_t* out_start;
  uint8_t* out;
  uint8_t* out_end;
  // Input: bits not yet consumed sit in `bit_buffer`, least significant first; `padding`
  // counts zero bytes fed in after the end of the data. When [in, in_end) is used up,
  // `next_input` (if any) gives the next piece; it is dropped once it says the stream ended.
  const uint8_t* in;
  const uint8_t* in_end;
  InflateSource next_input;
  void* source;
  uint64_t bit_buffer;
  uint32_t bit_count;
  uint32_t padding;
  bool final_block;
  bool output_full;  // the output buffer was filled; decoding stops there
  // Where a piece stopped inside a block: its kind, the bytes a stored block still holds,
  // the bytes of a match still to copy and that match's distance.
  uint8_t pending;
  uint32_t stored_left;
  uint32_t match_left;
  uint32_t match_distance;
  HuffTable litlen;  // a dynamic block's tables, over the entries below
  HuffTable dist;
  CodeLengthTable codelen;
  HuffEntry litlen_entries[kLitlenTableSize];
  HuffEntry dist_entries[kDistTableSize];
};

// Checks the two zlib header bytes; sets g_error 14 when they are refused (not deflate, a
// window above 32 KiB, a preset dictionary, or fewer than two bytes). Gives the window size.
void zlib_check_header(const uint8_t* data, size_t size, int32_t* window_size);

// Piece by piece: inflate_start, then inflate_more for each piece, each call going on where
// the one before stopped. The input is [data, data_end) followed by what `next_input` gives. The output already produced that back-references may reach lies in
// [history, out): its last window_size bytes, or all of it when there is less. Decoding in
// pieces gives the same bytes and the same faults as in one buffer of their total size.
void inflate_start(InflateState* state, const uint8_t* data, const uint8_t* data_end, int32_t window_size,
                   InflateSource next_input = nullptr, void* source = nullptr);
size_t inflate_more(InflateState* state, uint8_t* history, uint8_t* out, uint8_t* out_end);

// A whole zlib stream into [out, out + out_size): header check, then blocks until the final
// one has ended, the output is full, or g_error is set. Returns the number of bytes written.
size_t inflate_zlib(const uint8_t* data, size_t size, uint8_t* out, size_t out_size);
