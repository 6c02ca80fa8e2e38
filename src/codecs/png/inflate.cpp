#include "codecs/png/inflate.h"

#include <algorithm>
#include <cstring>

#include "codecs/raster_common.h"
#include "core/errors.h"

namespace {

// Entry kinds.
enum : uint32_t {
  KIND_LITERAL = 0,
  KIND_LITERAL_PAIR = 1,  // two literals (the first one's code length as the extra bits)
  KIND_LENGTH = 2,        // also a distance, in the distance table
  KIND_END = 3,
  KIND_LINK = 4,
  KIND_NO_CODE = 5,     // no code has this bit string
  KIND_BAD_SYMBOL = 6,  // length symbols 286, 287 and distance symbols 30, 31
};

constexpr HuffEntry make_entry(uint32_t length, uint32_t extra, uint32_t kind, uint32_t value) {
  const uint32_t total = kind == KIND_LENGTH ? length + extra : length;
  return total | (extra << 6) | (kind << 10) | (value << 16);
}
inline uint32_t entry_total(HuffEntry e) { return e & 31; }
inline uint32_t entry_extra(HuffEntry e) { return (e >> 6) & 15; }
inline uint32_t entry_kind(HuffEntry e) { return (e >> 10) & 7; }
// The code's own length, without the extra bits of a length or distance.
inline uint32_t entry_length(HuffEntry e) { return entry_total(e) - (entry_kind(e) == KIND_LENGTH ? entry_extra(e) : 0); }
// A literal or a pair of them: kinds 0 and 1.
inline bool entry_is_literals(HuffEntry e) { return (e & (6u << 10)) == 0; }
// The bits after those the entry takes. Bit 5 is always clear, so the entry itself is the
// shift count (shifts count modulo 64): no masking on the path from one probe to the next.
inline uint64_t drop_bits(uint64_t bits, HuffEntry e) { return bits >> (e & 63); }
inline uint32_t entry_value(HuffEntry e) { return e >> 16; }

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum Alphabet { ALPHABET_LITLEN, ALPHABET_DIST };

HuffEntry symbol_entry(Alphabet alphabet, uint32_t symbol, uint32_t length) {
  if (alphabet == ALPHABET_DIST) {
    if (symbol >= 30) return make_entry(length, 0, KIND_BAD_SYMBOL, 0);
    return make_entry(length, kDistExtra[symbol], KIND_LENGTH, kDistBase[symbol]);
  }
  if (symbol < 256) return make_entry(length, 0, KIND_LITERAL, symbol);
  if (symbol == 256) return make_entry(length, 0, KIND_END, 0);
  if (symbol >= 286) return make_entry(length, 0, KIND_BAD_SYMBOL, 0);
  return make_entry(length, kLengthExtra[symbol - 257], KIND_LENGTH, kLengthBase[symbol - 257]);
}

uint32_t reverse_bits(uint32_t code, uint32_t length) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

// Builds a decoding table from the code lengths of `count` symbols (each 0 to 15). Codes are
// assigned canonically; a code whose value does not fit its length (lengths that ask for
// more codes than there are bit strings) can never be read and is left out. Bit strings
// that are no code decode to KIND_NO_CODE.
void huff_table_build(HuffTable* table, HuffEntry* entries, int32_t root_bits, Alphabet alphabet,
                      const uint8_t* lengths, int32_t count) {
  table->root_bits = root_bits;
  table->entries = entries;
  uint32_t per_length[16] = {0};
  for (int32_t s = 0; s < count; ++s) ++per_length[lengths[s]];
  per_length[0] = 0;
  uint32_t next[16] = {0};
  for (int bits = 2; bits <= 15; ++bits) next[bits] = (next[bits - 1] + per_length[bits - 1]) * 2;

  const uint32_t root_size = 1u << root_bits;
  const HuffEntry no_code = make_entry(0, 0, KIND_NO_CODE, 0);
  std::fill(entries, entries + root_size, no_code);

  // Short codes go straight into the root table; long ones are gathered per root prefix.
  struct LongCode {
    uint16_t symbol;
    uint8_t length;
    uint16_t reversed;
  };
  LongCode long_codes[kLitlenSymbols];
  int32_t long_count = 0;
  uint8_t sub_bits[1 << kLitlenRootBits] = {0};
  for (int32_t s = 0; s < count; ++s) {
    const uint32_t length = lengths[s];
    if (length == 0) continue;
    const uint32_t code = next[length]++;
    if (code >= (1u << length)) continue;
    const uint32_t reversed = reverse_bits(code, length);
    if (length <= static_cast<uint32_t>(root_bits)) {
      const HuffEntry e = symbol_entry(alphabet, s, length);
      for (uint32_t i = reversed; i < root_size; i += 1u << length) entries[i] = e;
    } else {
      long_codes[long_count++] = {static_cast<uint16_t>(s), static_cast<uint8_t>(length),
                                  static_cast<uint16_t>(reversed)};
      const uint32_t prefix = reversed & (root_size - 1);
      sub_bits[prefix] = std::max<uint8_t>(sub_bits[prefix], length - root_bits);
    }
  }
  if (long_count == 0) return;
  uint32_t offset = root_size;
  for (uint32_t prefix = 0; prefix < root_size; ++prefix) {
    if (sub_bits[prefix] == 0) continue;
    const uint32_t size = 1u << sub_bits[prefix];
    entries[prefix] = make_entry(root_bits, sub_bits[prefix], KIND_LINK, offset);
    std::fill(entries + offset, entries + offset + size, no_code);
    offset += size;
  }
  for (int32_t i = 0; i < long_count; ++i) {
    const LongCode& c = long_codes[i];
    const HuffEntry link = entries[c.reversed & (root_size - 1)];
    const uint32_t sub_length = c.length - root_bits;
    const HuffEntry e = symbol_entry(alphabet, c.symbol, sub_length);
    const uint32_t base = entry_value(link);
    const uint32_t size = 1u << entry_extra(link);
    for (uint32_t j = c.reversed >> root_bits; j < size; j += 1u << sub_length) entries[base + j] = e;
  }
}

// Where a literal's code leaves room in the root for the code of a second literal, its root
// entries hold both, so that one probe gives two bytes. The second code's entry lies below
// the first's (or is the entry itself, for a code of no bits), so going down the table reads
// it before it is changed. Written without branches: kinds follow no pattern.
void pair_literals(HuffTable* table) {
  HuffEntry* entries = table->entries;
  const uint32_t root_bits = static_cast<uint32_t>(table->root_bits);
  for (uint32_t i = 1u << root_bits; i-- > 0;) {
    const HuffEntry first = entries[i];
    const uint32_t first_length = entry_length(first);
    const HuffEntry second = entries[i >> first_length];
    const uint32_t length = first_length + entry_length(second);
    const bool both = entry_kind(first) == KIND_LITERAL && entry_kind(second) == KIND_LITERAL && length <= root_bits;
    const HuffEntry pair = make_entry(length, first_length, KIND_LITERAL_PAIR, entry_value(first) | entry_value(second) << 8);
    entries[i] = both ? pair : first;
  }
}

// Pairing costs a pass over the root table: it pays only when pairs fill a good part of it (an
// eighth or more), as short literal codes make them do. Counted from the literals' code lengths:
// a code of length a followed by one of length b fills 2^(root - a - b) root entries.
bool pairs_pay(const uint8_t* lengths) {
  uint32_t per_length[16] = {0};
  for (int symbol = 0; symbol < 256; ++symbol) ++per_length[lengths[symbol]];
  uint64_t pairs = 0;
  for (int a = 1; a < kLitlenRootBits; ++a)
    for (int b = 1; a + b <= kLitlenRootBits; ++b) pairs += (uint64_t{per_length[a]} * per_length[b]) << (kLitlenRootBits - a - b);
  return pairs * 8 >= (uint64_t{1} << kLitlenRootBits);
}

// The tables of fixed-code blocks: no code is longer than the root, so the root tables
// are all there is, and no two literals (8 or 9 bits each) share an entry. Built on first
// use and never changed.
struct FixedTables {
  HuffEntry litlen_entries[1 << kLitlenRootBits];
  HuffEntry dist_entries[1 << kDistRootBits];
  HuffTable litlen;
  HuffTable dist;
  FixedTables() {
    uint8_t lengths[kLitlenSymbols];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + kLitlenSymbols, 8);
    huff_table_build(&litlen, litlen_entries, kLitlenRootBits, ALPHABET_LITLEN, lengths, kLitlenSymbols);
    std::fill(lengths, lengths + kDistSymbols, 5);
    huff_table_build(&dist, dist_entries, kDistRootBits, ALPHABET_DIST, lengths, kDistSymbols);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables tables;
  return tables;
}

// --- Bit source -----------------------------------------------------------------------

// The low two bytes of v, least significant first, in one store.
inline void store_le16(uint8_t* p, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  const uint16_t bytes = __builtin_bswap16(static_cast<uint16_t>(v));
#else
  const uint16_t bytes = static_cast<uint16_t>(v);
#endif
  std::memcpy(p, &bytes, 2);
}

// Moves on to the next piece of input, if the source has one that is not empty.
bool next_piece(InflateState* s) {
  while (s->next_input != nullptr) {
    if (!s->next_input(s->source, &s->in, &s->in_end)) {
      s->next_input = nullptr;
      s->in = s->in_end;
      return false;
    }
    if (s->in < s->in_end) return true;
  }
  return false;
}

// Tops the bit buffer up to at least 56 bits. Past the end of the data, zero bytes are fed
// in and counted; consuming one of their bits means the data ran out.
void refill_bytewise(InflateState* s) {
  while (s->bit_count <= 56) {
    uint64_t byte = 0;
    if (s->in < s->in_end || next_piece(s)) byte = *s->in++;
    else ++s->padding;
    s->bit_buffer |= byte << s->bit_count;
    s->bit_count += 8;
  }
}

inline void refill(InflateState* s) {
  if (s->in_end - s->in >= 8) {
    s->bit_buffer |= load_le64(s->in) << s->bit_count;
    s->in += (63 - s->bit_count) >> 3;
    s->bit_count |= 56;
    return;
  }
  refill_bytewise(s);
}

inline void consume(InflateState* s, uint32_t n) {
  s->bit_buffer >>= n;
  s->bit_count -= n;
}

inline bool ran_out(const InflateState* s) { return s->padding * 8 > s->bit_count; }

// n bits (at most 32), the first bit read least significant.
uint32_t get_bits(InflateState* s, uint32_t n) {
  if (s->bit_count < n) refill(s);
  const uint32_t v = static_cast<uint32_t>(s->bit_buffer & ((uint64_t{1} << n) - 1));
  consume(s, n);
  return v;
}

// --- Blocks ---------------------------------------------------------------------------

enum : uint8_t { PENDING_NONE, PENDING_STORED, PENDING_FIXED, PENDING_DYNAMIC };

constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kWideCopySlack = 16;  // bytes a wide match copy may write past its end

void fail(InflateState* s) {
  g_error = ERR_INVALID_FILE;
  s->final_block = true;
  s->pending = PENDING_NONE;
}

// Copies what the output has room for of the stored block's bytes: first the whole bytes
// the bit buffer still holds, then straight from the input, piece after piece.
void inflate_stored_bytes(InflateState* s) {
  while (s->stored_left != 0 && s->out < s->out_end && s->bit_count > 8 * s->padding) {
    *s->out++ = static_cast<uint8_t>(s->bit_buffer);
    consume(s, 8);
    --s->stored_left;
  }
  if (s->stored_left != 0 && s->out < s->out_end) {
    // Only fed-in zeros are left in the buffer: they are dropped.
    s->bit_buffer = 0;
    s->bit_count = 0;
    s->padding = 0;
  }
  while (s->stored_left != 0 && s->out < s->out_end) {
    if (s->in == s->in_end && !next_piece(s)) return fail(s);
    const size_t n = std::min({size_t{s->stored_left}, static_cast<size_t>(s->out_end - s->out),
                               static_cast<size_t>(s->in_end - s->in)});
    std::memcpy(s->out, s->in, n);
    s->out += n;
    s->in += n;
    s->stored_left -= static_cast<uint32_t>(n);
  }
  if (s->stored_left != 0) s->output_full = true;
  else s->pending = PENDING_NONE;
}

void inflate_block_stored(InflateState* s) {
  consume(s, s->bit_count & 7);  // the rest of the current byte
  s->stored_left = get_bits(s, 16);
  get_bits(s, 16);  // NLEN, not compared
  if (ran_out(s)) return fail(s);
  s->pending = PENDING_STORED;
  inflate_stored_bytes(s);
}

// Copies `length` bytes from `distance` bytes back; when length exceeds distance the last
// `distance` bytes repeat. `wide` allows writing up to 15 bytes past the end of the copy.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length, bool wide) {
  const uint8_t* src = out - distance;
  if (!wide) {
    for (uint32_t i = 0; i < length; ++i) out[i] = src[i];
    return;
  }
  uint8_t* end = out + length;
  if (distance >= 16) {
    do {
      std::memcpy(out, src, 16);
      out += 16;
      src += 16;
    } while (out < end);
  } else if (distance >= 8) {
    do {
      std::memcpy(out, src, 8);
      out += 8;
      src += 8;
    } while (out < end);
  } else if (distance == 1) {
    std::memset(out, *src, length);
  } else {
    // Lay down the first repeats one byte at a time until the period fits a word.
    const uint32_t period = distance * ((8 + distance - 1) / distance);
    const uint32_t head = std::min(period, length);
    for (uint32_t i = 0; i < head; ++i) out[i] = src[i];
    out += head;
    src = out - period;
    while (out < end) {
      std::memcpy(out, src, 8);
      out += 8;
      src += 8;
    }
  }
}

// One symbol through the root table and, for a long code, its second-level table; the
// code's bits are consumed. The caller has refilled the bit buffer.
inline HuffEntry huff_decode_symbol(InflateState* s, const HuffTable& table) {
  HuffEntry e = table.entries[s->bit_buffer & ((uint64_t{1} << table.root_bits) - 1)];
  if (entry_kind(e) == KIND_LITERAL_PAIR) e = make_entry(entry_extra(e), 0, KIND_LITERAL, entry_value(e) & 0xFF);
  if (entry_kind(e) == KIND_LINK) {
    consume(s, table.root_bits);
    e = table.entries[entry_value(e) + (s->bit_buffer & ((uint64_t{1} << entry_extra(e)) - 1))];
  }
  consume(s, entry_length(e));
  return e;
}

// The extra bits of a length or distance code in `held`, the bits that start with its code.
inline uint32_t extra_of(uint64_t held, HuffEntry e) {
  return static_cast<uint32_t>((held >> (entry_total(e) - entry_extra(e))) & ((uint64_t{1} << entry_extra(e)) - 1));
}

// The extra bits that follow a length or distance code.
inline uint32_t extra_bits(InflateState* s, HuffEntry e) {
  const uint32_t n = entry_extra(e);
  const uint32_t v = static_cast<uint32_t>(s->bit_buffer & ((uint64_t{1} << n) - 1));
  consume(s, n);
  return v;
}

// Far from both ends of the input piece and of the output: the bit buffer refills a word at
// a time and a whole symbol with its match (at most 48 bits) fits one refill; matches are
// copied in words. The state lives in locals so that byte stores cannot be taken to alias
// it, and the symbol decoding of huff_decode_symbol is written out in place. Returns true
// when an end is near, false when the block ended or a fault stopped it.
// Built twice on Linux x86-64, the copy for processors with BMI2 (shifts by a variable count
// in one step, on the path from one code to the next) chosen when the program starts.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
bool inflate_codes_fast(InflateState* s, const HuffTable& litlen, const HuffTable& dist, uint8_t*& out_ref) {
  const HuffEntry* lit_entries = litlen.entries;
  const HuffEntry* dist_entries = dist.entries;
  const uint32_t lit_root = litlen.root_bits;
  const uint32_t dist_root = dist.root_bits;
  const uint64_t lit_mask = (uint64_t{1} << lit_root) - 1;
  const uint64_t dist_mask = (uint64_t{1} << dist_root) - 1;
  uint8_t* const out_start = s->out_start;
  uint8_t* const out_end = s->out_end;
  const uint32_t window = static_cast<uint32_t>(s->window_size);
  uint8_t* out = out_ref;
  const uint8_t* in = s->in;
  const uint8_t* const in_end = s->in_end;
  uint64_t bits = s->bit_buffer;
  uint32_t count = s->bit_count;
  bool stop = false;
  // A refill only adds bits above the ones held: an entry probed with at least the root's
  // width of bits held stays good across it, and the next round starts from it.
  static_assert(5 * kLitlenRootBits <= 56, "four literals and the next probe fit one refill");
  HuffEntry e = 0;
  bool probed = false;
  while (in_end - in >= 8 && out_end - out >= kMaxMatch + kWideCopySlack) {
    bits |= load_le64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;
    if (!probed) e = lit_entries[bits & lit_mask];
    probed = false;
    if (entry_is_literals(e)) {
      // Literals from the root take at most 11 bits each: four probes fit one refill and
      // leave the root's width for the next. Both bytes of an entry are stored; the second
      // is overwritten after a single literal.
      for (int probe = 0; probe < 4 && entry_is_literals(e); ++probe) {
        store_le16(out, entry_value(e));
        out += 1 + entry_kind(e);
        bits = drop_bits(bits, e);
        count -= entry_total(e);
        e = lit_entries[bits & lit_mask];
      }
      probed = true;
      continue;
    }
    if (entry_kind(e) == KIND_LINK) {
      bits >>= lit_root;
      count -= lit_root;
      e = lit_entries[entry_value(e) + (bits & ((uint64_t{1} << entry_extra(e)) - 1))];
    }
    // A length code and its extra bits go in one shift, the extra bits taken from the bits
    // as they were: the next probe waits for one shift, not two.
    uint64_t held = bits;
    bits = drop_bits(bits, e);
    count -= entry_total(e);
    const uint32_t kind = entry_kind(e);
    if (kind == KIND_LITERAL) {
      *out++ = static_cast<uint8_t>(entry_value(e));
      continue;
    }
    if (kind != KIND_LENGTH) {
      stop = true;
      if (kind == KIND_END) s->pending = PENDING_NONE;
      break;
    }
    const uint32_t length = entry_value(e) + extra_of(held, e);
    e = dist_entries[bits & dist_mask];
    if (entry_kind(e) == KIND_LINK) {
      bits >>= dist_root;
      count -= dist_root;
      e = dist_entries[entry_value(e) + (bits & ((uint64_t{1} << entry_extra(e)) - 1))];
    }
    held = bits;
    bits = drop_bits(bits, e);
    count -= entry_total(e);
    const uint32_t distance = entry_value(e) + extra_of(held, e);
    if (entry_kind(e) != KIND_LENGTH || distance > window || distance > static_cast<size_t>(out - out_start)) {
      stop = true;
      break;
    }
    if (count >= lit_root) {
      e = lit_entries[bits & lit_mask];
      probed = true;
    }
    copy_match(out, distance, length, true);
    out += length;
  }
  s->in = in;
  s->bit_buffer = bits;
  s->bit_count = count;
  out_ref = out;
  if (!stop) return true;
  s->out = out;
  if (s->pending != PENDING_NONE) fail(s);
  return false;
}

// One symbol (and its match) near either end, every step checked against the end of the data
// and of the output. Returns false when the block ended, the output is full, or a fault
// stopped it.
bool inflate_code_checked(InflateState* s, const HuffTable& litlen, const HuffTable& dist, uint8_t*& out) {
  uint8_t* const out_end = s->out_end;
  refill(s);
  HuffEntry e = huff_decode_symbol(s, litlen);
  const uint32_t kind = entry_kind(e);
  if (ran_out(s)) return false;
  if (kind == KIND_LITERAL) {
    *out++ = static_cast<uint8_t>(entry_value(e));
    // Once the output is full nothing more is read, not even the end of the block.
    if (out != out_end) return true;
    s->output_full = true;
    return false;
  }
  if (kind == KIND_END) {
    s->pending = PENDING_NONE;
    return false;
  }
  if (kind != KIND_LENGTH) return false;
  const uint32_t length = entry_value(e) + extra_bits(s, e);
  e = huff_decode_symbol(s, dist);
  if (entry_kind(e) != KIND_LENGTH) return false;
  const uint32_t distance = entry_value(e) + extra_bits(s, e);
  if (ran_out(s) || distance > static_cast<uint32_t>(s->window_size) ||
      distance > static_cast<size_t>(out - s->out_start))
    return false;
  const size_t room = static_cast<size_t>(out_end - out);
  if (length > room) {
    copy_match(out, distance, static_cast<uint32_t>(room), false);
    out += room;
    s->match_left = length - static_cast<uint32_t>(room);
    s->match_distance = distance;
    s->output_full = true;
    return false;
  }
  copy_match(out, distance, length, false);
  out += length;
  if (out != out_end) return true;
  s->output_full = true;
  return false;
}

// The body shared by fixed and dynamic blocks: fast steps while both ends are far, checked
// ones near them (the end of an input piece, past which the next one goes on, or the end
// of the output).
void inflate_codes(InflateState* s, const HuffTable& litlen, const HuffTable& dist) {
  uint8_t* out = s->out;
  if (s->match_left != 0) {
    // The rest of a match the previous piece had no room for.
    const uint32_t n = std::min<uint32_t>(s->match_left, static_cast<uint32_t>(s->out_end - out));
    copy_match(out, s->match_distance, n, false);
    out += n;
    s->match_left -= n;
    if (out == s->out_end) {
      s->out = out;
      s->output_full = true;
      return;
    }
  }
  for (;;) {
    if (!inflate_codes_fast(s, litlen, dist, out)) return;
    if (!inflate_code_checked(s, litlen, dist, out)) break;
  }
  s->out = out;
  if (!s->output_full && s->pending != PENDING_NONE) fail(s);
}

void inflate_block_fixed(InflateState* s) {
  s->pending = PENDING_FIXED;
  inflate_codes(s, fixed_tables().litlen, fixed_tables().dist);
}

// Decodes one code-length symbol bit by bit, most significant first: the value starts with
// the shortest code's bits and grows until a code of exactly that length has it. Returns -1
// (after the log line) when the bit string is no code.
int32_t code_length_symbol(InflateState* s) {
  const CodeLengthTable& t = s->codelen;
  uint32_t value = 0;
  for (int32_t i = 0; i < t.min_len; ++i) value = value * 2 + get_bits(s, 1);
  int32_t len = t.min_len;
  bool found = false;
  while (len <= t.max_len) {
    if (t.lengths[value] == len) {
      found = true;
      break;
    }
    value = value * 2 + get_bits(s, 1);
    ++len;
  }
  const int32_t tested = found ? len : t.max_len;
  if (t.lengths[value] != tested) {
    log_printf("CODE HUFF TREE NON TROUV %d pos ", static_cast<int>(value));
    return -1;
  }
  return t.symbols[value];
}

// Reads HLIT + HDIST code lengths as one sequence. False (with g_error 14) on a code-length
// bit string that is no code, or a repeat that runs past the end of the sequence.
bool inflate_read_lengths(InflateState* s, uint8_t* lengths, int32_t total) {
  int32_t n = 0;
  uint8_t previous = 0;
  while (n < total) {
    const int32_t symbol = code_length_symbol(s);
    if (symbol < 0) {
      fail(s);
      return false;
    }
    if (symbol < 16) {
      lengths[n++] = static_cast<uint8_t>(symbol);
      previous = static_cast<uint8_t>(symbol);
      continue;
    }
    uint32_t repeat;
    uint8_t value = 0;
    if (symbol == 16) {
      repeat = 3 + get_bits(s, 2);
      value = previous;
    } else if (symbol == 17) {
      repeat = 3 + get_bits(s, 3);
      previous = 0;
    } else {
      repeat = 11 + get_bits(s, 7);
      previous = 0;
    }
    if (repeat > static_cast<uint32_t>(total - n)) {
      fail(s);
      return false;
    }
    std::memset(lengths + n, value, repeat);
    n += static_cast<int32_t>(repeat);
  }
  if (ran_out(s)) {
    fail(s);
    return false;
  }
  return true;
}

// The code-length code: lengths[v] and symbols[v] for every code value v, laid out by the
// canonical rule over 2^(longest length + 1) entries.
void huff_table_build(CodeLengthTable* t, const uint8_t* code_lengths) {
  uint32_t per_length[8] = {0};
  t->max_len = 0;
  t->min_len = 7;
  for (int i = 0; i < 19; ++i) {
    const int32_t length = code_lengths[i];
    ++per_length[length];
    t->max_len = std::max(t->max_len, length);
    if (length != 0) t->min_len = std::min(t->min_len, length);
  }
  // Without any code, one bit is read and leads nowhere.
  if (t->max_len == 0) t->min_len = 1;
  per_length[0] = 0;
  uint32_t next[8] = {0};
  for (int bits = 2; bits <= 7; ++bits) next[bits] = (next[bits - 1] + per_length[bits - 1]) * 2;
  const uint32_t needed = 2u << t->max_len;
  std::memset(t->lengths, 0, needed);
  std::memset(t->symbols, 0, needed);
  for (int symbol = 0; symbol < 19; ++symbol) {
    const int32_t length = code_lengths[symbol];
    if (length == 0) continue;
    const uint32_t code = next[length]++;
    // A value past the table could never be reached by the bit-by-bit search.
    if (code >= needed) continue;
    t->symbols[code] = static_cast<uint8_t>(symbol);
    t->lengths[code] = static_cast<uint8_t>(length);
  }
}

void inflate_block_dynamic(InflateState* s) {
  const int32_t hlit = static_cast<int32_t>(get_bits(s, 5)) + 257;
  const int32_t hdist = static_cast<int32_t>(get_bits(s, 5)) + 1;
  const int32_t hclen = static_cast<int32_t>(get_bits(s, 4)) + 4;
  if (hlit > 286) return fail(s);
  uint8_t code_lengths[19] = {0};
  for (int i = 0; i < hclen; ++i) code_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(get_bits(s, 3));
  huff_table_build(&s->codelen, code_lengths);
  uint8_t lengths[286 + 32];
  if (!inflate_read_lengths(s, lengths, hlit + hdist)) return;
  huff_table_build(&s->litlen, s->litlen_entries, kLitlenRootBits, ALPHABET_LITLEN, lengths, hlit);
  if (pairs_pay(lengths)) pair_literals(&s->litlen);
  huff_table_build(&s->dist, s->dist_entries, kDistRootBits, ALPHABET_DIST, lengths + hlit, hdist);
  s->pending = PENDING_DYNAMIC;
  inflate_codes(s, s->litlen, s->dist);
}

void inflate_block_invalid(InflateState* s) { fail(s); }

using BlockHandler = void (*)(InflateState*);
const BlockHandler inflate_block_handlers[4] = {inflate_block_stored, inflate_block_fixed,
                                                inflate_block_dynamic, inflate_block_invalid};

}  // namespace

void zlib_check_header(const uint8_t* data, size_t size, int32_t* window_size) {
  if (size < 2 || (data[0] & 0x0F) != 8 || (data[0] >> 4) > 7 || (data[1] & 0x20) != 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  *window_size = 1 << ((data[0] >> 4) + 8);
}

void inflate_start(InflateState* s, const uint8_t* data, const uint8_t* data_end, int32_t window_size,
                   InflateSource next_input, void* source) {
  s->window_size = window_size;
  s->in = data;
  s->in_end = data_end;
  s->next_input = next_input;
  s->source = source;
  s->bit_buffer = 0;
  s->bit_count = 0;
  s->padding = 0;
  s->final_block = false;
  s->pending = PENDING_NONE;
  s->stored_left = 0;
  s->match_left = 0;
}

size_t inflate_more(InflateState* s, uint8_t* history, uint8_t* out, uint8_t* out_end) {
  s->out_start = history;
  s->out = out;
  s->out_end = out_end;
  s->output_full = false;
  if (g_error == 0 && s->out < s->out_end) {
    if (s->pending == PENDING_STORED) inflate_stored_bytes(s);
    else if (s->pending == PENDING_FIXED) inflate_codes(s, fixed_tables().litlen, fixed_tables().dist);
    else if (s->pending == PENDING_DYNAMIC) inflate_codes(s, s->litlen, s->dist);
  }
  while (g_error == 0 && !s->final_block && !s->output_full && s->out < s->out_end) {
    s->final_block = get_bits(s, 1) != 0;
    const uint32_t type = get_bits(s, 1) | (get_bits(s, 1) << 1);
    if (ran_out(s)) {
      fail(s);
      break;
    }
    inflate_block_handlers[type](s);
  }
  return static_cast<size_t>(s->out - out);
}

size_t inflate_zlib(const uint8_t* data, size_t size, uint8_t* out, size_t out_size) {
  int32_t window_size = 0;
  zlib_check_header(data, size, &window_size);
  if (g_error != 0) return 0;
  InflateState state;
  inflate_start(&state, data + 2, data + size, window_size);
  return inflate_more(&state, out, out, out + out_size);
}
