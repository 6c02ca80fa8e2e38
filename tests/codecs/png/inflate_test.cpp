// Inflate on its own. Valid streams are compared with zlib over every level and strategy;
// hand-made streams hold what zlib never writes: hostile codes and lengths, windows, repeats
// across the two alphabets, incomplete codes, and the ends of input and output.
#include "codecs/png/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/raster_test_support.h"
#include "core/errors.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Deflate bit stream writer: fields least significant bit first, Huffman codes most
// significant bit first.
struct BitWriter {
  Bytes bytes;
  int bit = 0;
  void put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
      if (bit == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(1 << bit);
      bit = (bit + 1) & 7;
    }
  }
  void code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) put((code >> i) & 1, 1);
  }
};

// The fixed literal/length code.
void fixed_symbol(BitWriter& w, int symbol) {
  if (symbol < 144) w.code(0x30 + symbol, 8);
  else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
  else if (symbol < 280) w.code(symbol - 256, 7);
  else w.code(0xC0 + symbol - 280, 8);
}

// Canonical codes for a set of lengths.
std::vector<uint32_t> canonical(const std::vector<int>& lengths) {
  int count[16] = {0};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {0};
  for (int b = 2; b < 16; ++b) next[b] = (next[b - 1] + count[b - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  return codes;
}

// One code-length symbol with its extra bits, for hand-written dynamic headers.
struct LengthOp {
  int symbol;
  uint32_t extra = 0;
};

Bytes zlib_wrap(const Bytes& deflate, uint8_t cmf = 0x78, uint8_t flg = 0x9C) {
  Bytes out(deflate.size() + 2);
  out[0] = cmf;
  out[1] = flg;
  std::copy(deflate.begin(), deflate.end(), out.begin() + 2);
  return out;
}

struct Result {
  int32_t error;
  Bytes out;
};

Result run(const Bytes& stream, size_t out_size) {
  g_error = 0;
  // The exact size, so that any write past the end is caught by the sanitizers.
  std::vector<uint8_t> buffer(out_size);
  size_t n = inflate_zlib(stream.data(), stream.size(), buffer.data(), out_size);
  Result r{g_error, Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n))};
  g_error = 0;
  return r;
}

// The input of run_in_pieces: each piece in a buffer of its own size.
struct InputPieces {
  std::vector<Bytes> parts;
  size_t next = 0;
  static bool give(void* source, const uint8_t** data, const uint8_t** data_end) {
    InputPieces& p = *static_cast<InputPieces*>(source);
    if (p.next == p.parts.size()) return false;
    *data = p.parts[p.next].data();
    *data_end = *data + p.parts[p.next++].size();
    return true;
  }
};

// Decodes pieces of at most `piece` bytes of input into pieces of at most `piece` bytes of
// output, through a buffer that keeps only the window behind them, as a reader that takes
// rows as they come from chunks of a file does.
Result run_in_pieces(const Bytes& stream, size_t out_size, size_t piece) {
  g_error = 0;
  Result r{0, {}};
  int32_t window = 0;
  zlib_check_header(stream.data(), stream.size(), &window);
  InputPieces input;
  for (size_t at = 2; at < stream.size(); at += piece)
    input.parts.emplace_back(stream.begin() + long(at), stream.begin() + long(std::min(stream.size(), at + piece)));
  InflateState state;
  if (g_error == 0) inflate_start(&state, nullptr, nullptr, window, InputPieces::give, &input);
  std::vector<uint8_t> buffer(size_t(window) + piece);
  for (size_t kept = 0; g_error == 0 && r.out.size() < out_size;) {
    const size_t room = std::min(piece, out_size - r.out.size());
    const size_t n = inflate_more(&state, buffer.data(), buffer.data() + kept, buffer.data() + kept + room);
    if (n == 0) break;
    r.out.insert(r.out.end(), buffer.begin() + long(kept), buffer.begin() + long(kept + n));
    const size_t keep = std::min(kept + n, size_t(window));
    std::memmove(buffer.data(), buffer.data() + kept + n - keep, keep);
    kept = keep;
  }
  r.error = g_error;
  g_error = 0;
  return r;
}

// Data with the kinds of redundancy images have: noise, runs, repeats at many distances.
Bytes sample_data(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes data;
  while (data.size() < size) {
    switch (rng() % 4) {
      case 0:
        for (int i = 0, n = 1 + rng() % 200; i < n; ++i) data.push_back(static_cast<uint8_t>(rng()));
        break;
      case 1:
        data.insert(data.end(), 1 + rng() % 300, static_cast<uint8_t>(rng()));
        break;
      default:
        if (data.size() > 10) {
          size_t distance = 1 + rng() % std::min<size_t>(data.size(), 40000);
          size_t length = 3 + rng() % 400;
          for (size_t i = 0; i < length; ++i) data.push_back(data[data.size() - distance]);
        }
        break;
    }
  }
  data.resize(size);
  return data;
}

// A fixed-code block: the symbols, then extra bits or codes as (value, bits) pairs, written
// as a Huffman code (most significant bit first) when `code` is set.
struct Tail {
  uint32_t value;
  int bits;
  bool code = true;
};
Bytes fixed_block(const std::vector<int>& symbols, const std::vector<Tail>& tail = {}, uint8_t cmf = 0x78,
                  uint8_t flg = 0x9C) {
  BitWriter w;
  w.put(3, 3);  // final, fixed codes
  for (int s : symbols) fixed_symbol(w, s);
  for (const Tail& t : tail) t.code ? w.code(t.value, t.bits) : w.put(t.value, t.bits);
  return zlib_wrap(w.bytes, cmf, flg);
}

// A final dynamic block: the code-length code from `cl` (by symbol), the operations that spell
// the literal/length and distance lengths, the codes of `symbols` for the given literal/length
// lengths, then the tail.
Bytes dynamic_block(int hlit, int hdist, const std::vector<int>& cl, const std::vector<LengthOp>& ops,
                    const std::vector<int>& lit_lengths, const std::vector<int>& symbols,
                    const std::vector<Tail>& tail = {}) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  static const int extra_bits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
  BitWriter w;
  w.put(5, 3);  // final, dynamic codes
  w.put(hlit - 257, 5);
  w.put(hdist - 1, 5);
  w.put(19 - 4, 4);
  for (int i = 0; i < 19; ++i) w.put(cl[order[i]], 3);
  std::vector<uint32_t> codes = canonical(cl);
  for (const LengthOp& op : ops) {
    w.code(codes[op.symbol], cl[op.symbol]);
    w.put(op.extra, extra_bits[op.symbol]);
  }
  std::vector<uint32_t> lit = canonical(lit_lengths);
  for (int s : symbols) w.code(lit[s], lit_lengths[s]);
  for (const Tail& t : tail) t.code ? w.code(t.value, t.bits) : w.put(t.value, t.bits);
  return zlib_wrap(w.bytes);
}

const std::vector<Tail> kPad16 = {{0, 16, false}};

// Literal/length lengths: the given symbols with 2 bits each.
std::vector<int> two_bit_lengths(std::initializer_list<int> symbols, int count = 257) {
  std::vector<int> l(count, 0);
  for (int s : symbols) l[s] = 2;
  return l;
}

// Explicit code-length symbols for `lengths`, then the distance lengths.
std::vector<LengthOp> explicit_ops(const std::vector<int>& lengths, std::initializer_list<int> distances) {
  std::vector<LengthOp> ops;
  for (int l : lengths) ops.push_back({l});
  for (int l : distances) ops.push_back({l});
  return ops;
}

using Inflate = RasterTest;

TEST_F(Inflate, MatchesZlibAtEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  uint32_t seed = 1;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{70000}}) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
        Bytes data = sample_data(size, seed++);
        Result r = run(zlib_deflate(data, level, strategy), size);
        ASSERT_EQ(std::make_pair(r.error, r.out), std::make_pair(0, data)) << size << " " << level << " " << strategy;
        ASSERT_EQ(run_in_pieces(zlib_deflate(data, level, strategy), size, 1 + seed * 997 % 40000).out, data) << size;
      }
    }
  }
}

TEST_F(Inflate, HandMadeStreams) {
  // A stored header that ends on a byte boundary: three 9-bit literals end at bit 37, the
  // stored header fills 37-39 and LEN starts with the next byte.
  BitWriter after_fixed;
  after_fixed.put(2, 3);
  for (int s : {200, 201, 202, 256}) fixed_symbol(after_fixed, s);
  after_fixed.put(1, 3);
  for (uint8_t b : Bytes{2, 0, 0xFD, 0xFF, 'x', 'y'}) after_fixed.put(b, 8);

  // Length 3 at distance 256 and 257 after 300 literals, in a window of 256 bytes (CINFO 0).
  std::vector<int> literals;
  Bytes window_out;
  for (int i = 0; i < 300; ++i) literals.push_back(i & 0xFF), window_out.push_back(uint8_t(i));
  literals.push_back(257);
  window_out.insert(window_out.end(), {300 - 256, 301 - 256, 302 - 256});

  // Dynamic codes with all 19 code-length codes. Code 16 right after 17 and 18 repeats zero
  // lengths: 65 zeros, 'A' = 1, 190 zeros of 18, 17 and seven 16s, end-of-block = 1.
  std::vector<int> cl(19, 4);  // a complete code-length code: 13 codes of 4 bits, 6 of 5
  std::fill(cl.begin() + 13, cl.end(), 5);
  std::vector<LengthOp> zero_repeats = {{18, 54}, {1}, {18, 127}, {17, 7}};
  for (int i = 0; i < 7; ++i) zero_repeats.push_back({16, 3});
  zero_repeats.insert(zero_repeats.end(), {{1}, {0}});
  std::vector<int> a_eob(257, 0);
  a_eob['A'] = a_eob[256] = 1;
  // End-of-block = 2, then 16 repeats that 2 into the four distance lengths, or past them.
  const std::vector<LengthOp> across = {{18, 54}, {2}, {2}, {2}, {18, 127}, {18, 39}, {2}, {16, 1}};
  std::vector<LengthOp> past = across;
  past.back().extra = 3;
  const std::vector<int> a_incomplete = two_bit_lengths({'A', 256});
  std::vector<int> with_length = two_bit_lengths({'A', 256, 257}, 258);  // 257: length 3

  struct Case {
    const char* what;
    Bytes stream;
    size_t room;
    int32_t error;
    Bytes out;
  };
  const Bytes abc = {1, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c'};
  const Case cases[] = {
      // The zlib header: deflate with a window of at most 32 KiB, no preset dictionary; the
      // check bits are not tested.
      {"check bits", zlib_wrap(abc, 0x78, 0x00), 3, 0, {'a', 'b', 'c'}},
      {"method 9", zlib_wrap(abc, 0x79, 0x9C), 3, ERR_INVALID_FILE, {}},
      {"CINFO 8", zlib_wrap(abc, 0x88, 0x98), 3, ERR_INVALID_FILE, {}},
      {"preset dictionary", zlib_wrap(abc, 0x78, 0xBB), 3, ERR_INVALID_FILE, {}},
      {"one byte", {0x78}, 3, ERR_INVALID_FILE, {}},
      // Stored blocks: the header's 3 bits fill a byte, then LEN and NLEN.
      {"stored after fixed", zlib_wrap(after_fixed.bytes), 5, 0, {200, 201, 202, 'x', 'y'}},
      {"NLEN is not compared with LEN", zlib_wrap({1, 1, 0, 0, 0, 'q'}), 1, 0, {'q'}},
      {"distance 256 in a 256-byte window", fixed_block(literals, {{15, 5}, {63, 6, false}, {0, 7}}, 0x08, 0x1D), 303, 0, window_out},
      {"distance 257 in a 256-byte window", fixed_block(literals, {{16, 5}, {0, 7, false}, {0, 7}}, 0x08, 0x1D), 303, ERR_INVALID_FILE, {}},
      {"distance before the output", fixed_block({'a', 257}, {{1, 5}, {0, 7}}), 100, ERR_INVALID_FILE, {}},
      {"length symbol 286", fixed_block({'a', 286}, {{0, 5}, {0, 7}}), 100, ERR_INVALID_FILE, {}},
      {"distance symbol 30", fixed_block({'a', 257}, {{30, 5}, {0, 7}}), 100, ERR_INVALID_FILE, {}},
      {"block type 3", zlib_wrap({7, 0, 0}), 100, ERR_INVALID_FILE, {}},
      {"HLIT above 286", zlib_wrap({1 | 2 << 1 | 30 << 3, 0, 0, 0, 0, 0, 0, 0, 0}), 100, ERR_INVALID_FILE, {}},
      {"16 after 17 and 18 repeats zeros", dynamic_block(257, 1, cl, zero_repeats, a_eob, {'A', 'A', 256}), 10, 0, {'A', 'A'}},
      {"a repeat from literal into distance lengths",
       dynamic_block(257, 4, cl, across, two_bit_lengths({'A', 'B', 'C', 256}), {'B', 'C', 256}), 10, 0, {'B', 'C'}},
      {"a repeat past HLIT + HDIST", dynamic_block(257, 4, cl, past, {}, {}, kPad16), 10, ERR_INVALID_FILE, {}},
      {"no literal/length code", dynamic_block(257, 1, cl, {{18, 127}, {18, 108}, {1}}, {}, {}, {{0, 32, false}}), 10, ERR_INVALID_FILE, {}},
      {"an incomplete code, used codes",
       dynamic_block(257, 1, cl, explicit_ops(a_incomplete, {0}), a_incomplete, {'A', 'A', 256}), 10, 0, {'A', 'A'}},
      {"an incomplete code, missing code 2",
       dynamic_block(257, 1, cl, explicit_ops(a_incomplete, {0}), a_incomplete, {'A'}, {{2, 2}, {1, 2}}), 10, ERR_INVALID_FILE, {}},
      {"a distance without distance codes",
       dynamic_block(258, 1, cl, explicit_ops(with_length, {0}), with_length, {'A', 257}, kPad16), 10, ERR_INVALID_FILE, {}},
      {"output full: nothing more is read", fixed_block({'a', 'b'}), 2, 0, {'a', 'b'}},
      {"output not full: missing data", fixed_block({'a', 'b'}), 3, ERR_INVALID_FILE, {}},
  };
  for (const Case& c : cases) {
    Result r = run(c.stream, c.room);
    EXPECT_EQ(std::make_pair(r.error, r.out), std::make_pair(c.error, c.error == 0 ? c.out : r.out)) << c.what;
    Result p = run_in_pieces(c.stream, c.room, 1);  // every bit field across two pieces
    EXPECT_EQ(std::make_pair(p.error, p.out), std::make_pair(r.error, r.out)) << c.what;
  }
}

TEST_F(Inflate, BitsThatAreNoCodeAreLogged) {
  const std::string log = log_to_temp("INFL");
  std::vector<int> one_cl(19, 0);  // a single 1-bit code-length code: "1" is no code
  one_cl[0] = 1;
  EXPECT_EQ(run(dynamic_block(257, 1, one_cl, {{0}, {0}}, {}, {}, {{1, 1, false}, {0, 16, false}}), 10).error,
            ERR_INVALID_FILE);
  EXPECT_NE(read_text(log).find("\nCODE HUFF TREE NON TROUV 2 pos \n"), std::string::npos) << read_text(log);
}

TEST_F(Inflate, OutputEndsAndTruncatedInput) {
  Bytes data = sample_data(20000, 99);
  Bytes stream = zlib_deflate(data, 9);
  // More than the buffer holds: decoding stops at its end without an error; less: the
  // complete stream is decoded and the rest left alone; the Adler-32 value is never read.
  for (size_t room : {size_t{1}, size_t{257}, size_t{19999}, size_t{30000}}) {
    Result r = run(Bytes(stream.begin(), stream.end() - 4), room);
    EXPECT_EQ(r.error, 0) << room;
    EXPECT_EQ(r.out, Bytes(data.begin(), data.begin() + long(std::min(room, data.size())))) << room;
  }
  // Cut anywhere inside the deflate data: refused, unless the buffer was already full.
  for (size_t cut = 2; cut + 4 < stream.size(); cut += 7) {
    Result t = run(Bytes(stream.begin(), stream.begin() + long(cut)), data.size());
    EXPECT_TRUE(t.error == ERR_INVALID_FILE || (t.out == data && cut >= stream.size() / 2)) << cut;
  }
}

}  // namespace
