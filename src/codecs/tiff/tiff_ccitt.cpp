// CCITT decoding: Group 4 (T.6) codes each line against the line above, with the run-length
// codes of T.4 for horizontal mode; Group 3 (T.4) codes lines after end-of-line codes, each
// one-dimensionally (runs only) or, when the options allow, like Group 4; modified Huffman
// codes every line with runs only, starting on a byte boundary. Lines are kept as lists of
// changing positions, so the reference search never scans pixels; codes are found through
// look-up tables instead of a bit-by-bit search.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "codecs/tiff/tiff_bits.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"

namespace {

// Run-length codes as bit strings, in the order terminating 0..63, make-up 64..1728.
const char* const kWhiteCodes[] = {
    "00110101", "000111", "0111", "1000", "1011", "1100", "1110", "1111", "10011", "10100",
    "00111", "01000", "001000", "000011", "110100", "110101", "101010", "101011", "0100111",
    "0001100", "0001000", "0010111", "0000011", "0000100", "0101000", "0101011", "0010011",
    "0100100", "0011000", "00000010", "00000011", "00011010", "00011011", "00010010",
    "00010011", "00010100", "00010101", "00010110", "00010111", "00101000", "00101001",
    "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101",
    "01011000", "01011001", "01011010", "01011011", "01001010", "01001011", "00110010",
    "00110011", "00110100",
    // 64 to 1728
    "11011", "10010", "010111", "0110111", "00110110", "00110111", "01100100", "01100101",
    "01101000", "01100111", "011001100", "011001101", "011010010", "011010011", "011010100",
    "011010101", "011010110", "011010111", "011011000", "011011001", "011011010", "011011011",
    "010011000", "010011001", "010011010", "011000", "010011011"};

const char* const kBlackCodes[] = {
    "0000110111", "010", "11", "10", "011", "0011", "0010", "00011", "000101", "000100",
    "0000100", "0000101", "0000111", "00000100", "00000111", "000011000", "0000010111",
    "0000011000", "0000001000", "00001100111", "00001101000", "00001101100", "00000110111",
    "00000101000", "00000010111", "00000011000", "000011001010", "000011001011",
    "000011001100", "000011001101", "000001101000", "000001101001", "000001101010",
    "000001101011", "000011010010", "000011010011", "000011010100", "000011010101",
    "000011010110", "000011010111", "000001101100", "000001101101", "000011011010",
    "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100",
    "000000110111", "000000111000", "000000100111", "000000101000", "000001011000",
    "000001011001", "000000101011", "000000101100", "000001011010", "000001100110",
    "000001100111",
    // 64 to 1728
    "0000001111", "000011001000", "000011001001", "000001011011", "000000110011",
    "000000110100", "000000110101", "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101"};

// Make-up codes 1792 to 2560, shared by both colours.
const char* const kExtendedCodes[] = {"00000001000",  "00000001100",  "00000001101",
                                      "000000010010", "000000010011", "000000010100",
                                      "000000010101", "000000010110", "000000010111",
                                      "000000011100", "000000011101", "000000011110",
                                      "000000011111"};

constexpr int kRunBits = 13;

struct RunCode {
  uint16_t run;
  uint8_t length;  // 0: no code starts with these bits
};

struct RunTable {
  RunCode entries[1 << kRunBits];

  void add(const char* bits, int run) {
    int length = static_cast<int>(std::strlen(bits));
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) value = (value << 1) | static_cast<uint32_t>(bits[i] - '0');
    const uint32_t first = value << (kRunBits - length);
    const uint32_t count = 1u << (kRunBits - length);
    for (uint32_t i = 0; i < count; ++i) entries[first + i] = {static_cast<uint16_t>(run), static_cast<uint8_t>(length)};
  }

  explicit RunTable(const char* const* codes) : entries{} {
    for (int i = 0; i < 64; ++i) add(codes[i], i);
    for (int i = 0; i < 27; ++i) add(codes[64 + i], 64 * (i + 1));
    for (int i = 0; i < 13; ++i) add(kExtendedCodes[i], 1792 + 64 * i);
  }
};

const RunTable kWhite(kWhiteCodes);
const RunTable kBlack(kBlackCodes);

enum Mode : uint8_t { kBad, kV0, kVR1, kVL1, kHorizontal, kPass, kVR2, kVL2, kVR3, kVL3 };

struct ModeCode {
  Mode mode;
  uint8_t length;
};

// Mode codes by their first seven bits.
struct ModeTable {
  ModeCode entries[128];
  ModeTable() : entries{} {
    for (int v = 0; v < 128; ++v) {
      ModeCode m{kBad, 6};
      if (v & 0x40) m = {kV0, 1};
      else if ((v >> 4) == 3) m = {kVR1, 3};
      else if ((v >> 4) == 2) m = {kVL1, 3};
      else if ((v >> 4) == 1) m = {kHorizontal, 3};
      else if ((v >> 3) == 1) m = {kPass, 4};
      else if ((v >> 1) == 3) m = {kVR2, 6};
      else if ((v >> 1) == 2) m = {kVL2, 6};
      else if (v == 3) m = {kVR3, 7};
      else if (v == 2) m = {kVL3, 7};
      entries[v] = m;
    }
  }
};
const ModeTable kModes;

// Reads one run (make-up codes ended by a terminating code); -1 for a code not in the table.
int32_t read_run(TiffBits& bits, const RunTable& table) {
  int32_t total = 0;
  for (;;) {
    const RunCode& code = table.entries[bits.peek(kRunBits)];
    if (code.length == 0) return -1;
    bits.skip(code.length);
    total += code.run;
    if (code.run < 64) return total;
    if (total > (1 << 30)) return -1;
  }
}

// Records a colour change at `position` on a line of changing positions (even entries are
// where black starts, odd where white starts); a change where the last one stands cancels it.
inline void add_change(std::vector<int32_t>& line, int32_t position) {
  if (!line.empty() && line.back() == position) line.pop_back();
  else line.push_back(position);
}

}  // namespace

void g4_find_b1_b2(const int32_t* reference, size_t count, int colour, int32_t a0, int32_t L,
                   size_t* cursor, int32_t* b1, int32_t* b2) {
  // The cursor may stand one past the end after the colour step; start the search inside.
  size_t i = *cursor < count ? *cursor : count;
  while (i > 0 && reference[i - 1] > a0) --i;
  while (i < count && reference[i] <= a0) ++i;
  if ((i & 1) != static_cast<size_t>(colour)) ++i;
  *cursor = i;
  *b1 = i < count ? reference[i] : L;
  *b2 = i + 1 < count ? reference[i + 1] : L;
}

namespace {

// Decodes one line coded against the line above into `coding`. False when the data ends
// inside the line, or with g_error set for a code that cannot stand there.
bool decode_2d_line(TiffBits& bits, int32_t L, const std::vector<int32_t>& reference, std::vector<int32_t>& coding) {
  int colour = 0;
  int32_t a0 = -1;
  size_t cursor = 0;
  while (a0 < L) {
    if (bits.exhausted()) return false;
    const ModeCode mode = kModes.entries[bits.peek(7)];
    if (mode.mode == kBad) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    bits.skip(mode.length);
    const int32_t start = a0 < 0 ? 0 : a0;
    if (mode.mode == kHorizontal) {
      const RunTable& first = colour == 0 ? kWhite : kBlack;
      const RunTable& second = colour == 0 ? kBlack : kWhite;
      const int32_t run1 = read_run(bits, first);
      const int32_t run2 = run1 < 0 ? -1 : read_run(bits, second);
      if (run2 < 0 || int64_t{start} + run1 + run2 > L) {
        g_error = ERR_INVALID_FILE;
        return false;
      }
      add_change(coding, start + run1);
      add_change(coding, start + run1 + run2);
      a0 = start + run1 + run2;
      continue;
    }
    // The cursor keeps its place through horizontal modes: the next search starts from it.
    int32_t b1, b2;
    g4_find_b1_b2(reference.data(), reference.size(), colour, a0, L, &cursor, &b1, &b2);
    if (mode.mode == kPass) {
      a0 = b2;
      continue;
    }
    int32_t offset = 0;
    switch (mode.mode) {
      case kVR1: offset = 1; break;
      case kVL1: offset = -1; break;
      case kVR2: offset = 2; break;
      case kVL2: offset = -2; break;
      case kVR3: offset = 3; break;
      case kVL3: offset = -3; break;
      default: break;
    }
    const int32_t a1 = b1 + offset;
    if (a1 < start || a1 > L) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    add_change(coding, a1);
    colour ^= 1;
    a0 = a1;
  }
  return true;
}

// Decodes one line of alternating white and black runs, white first, into `coding`.
bool decode_1d_line(TiffBits& bits, int32_t L, std::vector<int32_t>& coding) {
  int colour = 0;
  int32_t a0 = 0;
  while (a0 < L) {
    if (bits.exhausted()) return false;
    const int32_t run = read_run(bits, colour == 0 ? kWhite : kBlack);
    if (run < 0 || int64_t{a0} + run > L) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    a0 += run;
    add_change(coding, a0);
    colour ^= 1;
  }
  return true;
}

// Passes over fill bits and end-of-line codes (eleven zeros or more, then a one).
void skip_end_of_line(TiffBits& bits) {
  while (!bits.exhausted() && bits.peek(11) == 0) {
    const uint32_t next = bits.peek(32);
    bits.skip(next == 0 ? 32 : std::countl_zero(next) + 1);
  }
}

// Writes the first `shown` pixels of a line of changing positions: 0 for white, 1 for black.
// The line is cleared at once; black runs of up to eight pixels are then written with one
// eight-byte store whose zeros past the run fall on white pixels or on runs written later.
void fill_line(uint8_t* row, int32_t shown, const std::vector<int32_t>& changes, int32_t L) {
  constexpr uint64_t kBlack8 = 0x0101010101010101;
  std::memset(row, 0, static_cast<size_t>(shown));
  const size_t n = changes.size();
  for (size_t k = 0; k < n; k += 2) {
    const int32_t from = changes[k];
    if (from >= shown) break;
    const int32_t to = std::min(k + 1 < n ? changes[k + 1] : L, shown);
    const int32_t run = to - from;
    if (run <= 0) continue;  // changes stand in rising order: only a damaged line has none
    if (run <= 8 && from + 8 <= shown && std::endian::native == std::endian::little) {
      const uint64_t black = kBlack8 >> (64 - 8 * run);
      std::memcpy(row + from, &black, 8);
    } else {
      std::memset(row + from, 1, static_cast<size_t>(run));
    }
  }
}

enum class Coding { kModifiedHuffman, kGroup3, kGroup4 };

void decode_ccitt(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows, Coding coding) {
  const int32_t L = rows.row_pixels;
  const bool mixed = coding == Coding::kGroup3 && (tiff.t4_options & 1) != 0;
  TiffBits bits(chunk.data, chunk.size);
  std::vector<int32_t>& reference = tiff.reference_changes;
  std::vector<int32_t>& changes = tiff.coding_changes;
  reference.clear();
  uint8_t* scratch = tiff.buffer(kCodedRowBuffer, L);
  if (scratch == nullptr) return;

  for (int32_t r = 0; r < rows.coded_rows && !bits.exhausted(); ++r) {
    changes.clear();
    bool two_dimensional = coding == Coding::kGroup4;
    if (coding == Coding::kGroup3) {
      skip_end_of_line(bits);
      if (mixed) {
        // A tag bit after the end of line: 1 for a one-dimensional line, 0 for two.
        two_dimensional = bits.peek(1) == 0;
        bits.skip(1);
      }
    }
    if (!(two_dimensional ? decode_2d_line(bits, L, reference, changes) : decode_1d_line(bits, L, changes))) return;
    if (coding == Coding::kModifiedHuffman) bits.align();
    // A change at the line's end changes no pixel.
    while (!changes.empty() && changes.back() >= L) changes.pop_back();

    if (r < rows.rows) {
      // Tiles in the last column show only part of their lines.
      uint8_t* direct = tiff_row_target(tiff, r);
      uint8_t* row = direct != nullptr ? direct : scratch;
      const int32_t shown = direct != nullptr ? std::min(L, rows.shown_pixels) : L;
      fill_line(row, shown, changes, L);
      if (direct == nullptr) tiff_land_bytes(tiff, row, r);
    }
    reference.swap(changes);
  }
}

}  // namespace

void tiff_strip_mh(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  decode_ccitt(tiff, chunk, rows, Coding::kModifiedHuffman);
}
void tiff_strip_g3(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  decode_ccitt(tiff, chunk, rows, Coding::kGroup3);
}
void tiff_strip_g4(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  decode_ccitt(tiff, chunk, rows, Coding::kGroup4);
}
