#include "codecs/png/inflate.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "support/test_support.h"

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
  void align() { bit = 0; }
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

// Writes a dynamic block header: the code-length code from `cl_lengths` (by symbol), then
// the operations that spell the literal/length and distance lengths.
void dynamic_header(BitWriter& w, bool final, int hlit, int hdist, const std::vector<int>& cl_lengths,
                    const std::vector<LengthOp>& ops) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.put(final, 1);
  w.put(2, 2);
  w.put(hlit - 257, 5);
  w.put(hdist - 1, 5);
  w.put(19 - 4, 4);
  for (int i = 0; i < 19; ++i) w.put(cl_lengths[order[i]], 3);
  std::vector<uint32_t> codes = canonical(cl_lengths);
  for (const LengthOp& op : ops) {
    w.code(codes[op.symbol], cl_lengths[op.symbol]);
    if (op.symbol == 16) w.put(op.extra, 2);
    if (op.symbol == 17) w.put(op.extra, 3);
    if (op.symbol == 18) w.put(op.extra, 7);
  }
}

// A complete code-length code with a code for each of the 19 symbols.
std::vector<int> all_cl_lengths() {
  std::vector<int> l(19, 4);
  for (int s = 13; s < 19; ++s) l[s] = 5;
  return l;
}

// Lengths as a list of explicit code-length symbols.
std::vector<LengthOp> explicit_lengths(const std::vector<int>& lengths) {
  std::vector<LengthOp> ops;
  for (int l : lengths) ops.push_back({l});
  return ops;
}

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

// Decodes in pieces of at most `piece` bytes through a buffer that keeps only the window
// behind them, as a reader that takes rows as they come does.
Result run_in_pieces(const Bytes& stream, size_t out_size, size_t piece) {
  g_error = 0;
  Result r{0, {}};
  int32_t window = 0;
  zlib_check_header(stream.data(), stream.size(), &window);
  static InflateState state;
  if (g_error == 0) inflate_start(&state, stream.data() + 2, stream.data() + stream.size(), window);
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

// zlib's own decoding of a stream without its Adler-32 trailer.
Bytes zlib_inflate(const Bytes& stream, size_t out_size) {
  z_stream z{};
  inflateInit(&z);
  Bytes out(out_size + 1);
  z.next_in = const_cast<Bytes::value_type*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  EXPECT_TRUE(rc == Z_STREAM_END || rc == Z_BUF_ERROR) << rc << " " << (z.msg ? z.msg : "");
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

Bytes zlib_deflate(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytes::value_type*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
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

class Inflate : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};

TEST_F(Inflate, MatchesZlibAtEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  uint32_t seed = 1;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{70000}}) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
        Bytes data = sample_data(size, seed++);
        Bytes stream = zlib_deflate(data, level, strategy);
        Result r = run(stream, size);
        ASSERT_EQ(r.error, 0) << "size " << size << " level " << level << " strategy " << strategy;
        ASSERT_EQ(r.out, data) << "size " << size << " level " << level << " strategy " << strategy;
        ASSERT_EQ(run_in_pieces(stream, size, 1 + seed * 997 % 40000).out, data) << "size " << size << " level " << level;
      }
    }
  }
}

TEST_F(Inflate, SmallWindowsAndRandomBytes) {
  std::mt19937 rng(7);
  for (int window_bits = 9; window_bits <= 15; ++window_bits) {
    Bytes data = sample_data(50000, window_bits);
    for (int i = 0; i < 3000; ++i) data[rng() % data.size()] = static_cast<uint8_t>(rng());
    Bytes stream = zlib_deflate(data, 6, Z_DEFAULT_STRATEGY, window_bits);
    Result r = run(stream, data.size());
    ASSERT_EQ(r.error, 0) << window_bits;
    ASSERT_EQ(r.out, data) << window_bits;
  }
}

TEST_F(Inflate, ZlibHeader) {
  int32_t window = 0;
  const uint8_t good[] = {0x78, 0x9C};
  zlib_check_header(good, 2, &window);
  EXPECT_EQ(g_error, 0);
  EXPECT_EQ(window, 32768);
  // The check bits are not tested.
  const uint8_t bad_check[] = {0x78, 0x00};
  zlib_check_header(bad_check, 2, &window);
  EXPECT_EQ(g_error, 0);
  const uint8_t small[] = {0x08, 0x1D};
  zlib_check_header(small, 2, &window);
  EXPECT_EQ(window, 256);
  const uint8_t refused[][2] = {{0x79, 0x9C}, {0x88, 0x98}, {0x78, 0xBB}};  // method 9, CINFO 8, FDICT
  for (const auto& header : refused) {
    g_error = 0;
    zlib_check_header(header, 2, &window);
    EXPECT_EQ(g_error, ERR_INVALID_FILE) << int(header[0]) << " " << int(header[1]);
  }
  g_error = 0;
  zlib_check_header(good, 1, &window);
  EXPECT_EQ(g_error, ERR_INVALID_FILE);
}

TEST_F(Inflate, StoredBlocks) {
  // An empty stored block, then a stored block holding "abc".
  BitWriter w;
  w.put(0, 1);
  w.put(0, 2);
  w.align();
  for (uint8_t b : {0, 0, 0xFF, 0xFF}) w.put(b, 8);
  w.put(1, 1);
  w.put(0, 2);
  w.align();
  for (uint8_t b : Bytes{3, 0, 0xFC, 0xFF, 'a', 'b', 'c'}) w.put(b, 8);
  Result r = run(zlib_wrap(w.bytes), 3);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.out, (Bytes{'a', 'b', 'c'}));

  // A stored block whose header ends on a byte boundary takes LEN from the next byte: a
  // fixed block of three 9-bit literals ends at bit 37, the stored header fills 37-39.
  BitWriter v;
  v.put(0, 1);
  v.put(1, 2);
  for (int s : {200, 201, 202, 256}) fixed_symbol(v, s);
  v.put(1, 1);
  v.put(0, 2);
  ASSERT_EQ(v.bit, 0);
  for (uint8_t b : Bytes{2, 0, 0xFD, 0xFF, 'x', 'y'}) v.put(b, 8);
  Bytes stream = zlib_wrap(v.bytes);
  Result s = run(stream, 5);
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.out, (Bytes{200, 201, 202, 'x', 'y'}));
  EXPECT_EQ(s.out, zlib_inflate(stream, 5));

  // NLEN is not compared with LEN.
  BitWriter u;
  u.put(1, 1);
  u.put(0, 2);
  u.align();
  for (uint8_t b : Bytes{1, 0, 0, 0, 'q'}) u.put(b, 8);
  Result t = run(zlib_wrap(u.bytes), 1);
  EXPECT_EQ(t.error, 0);
  EXPECT_EQ(t.out, Bytes{'q'});
}

TEST_F(Inflate, LongRunsAndWindowLimit) {
  // Distance 1, length 258: the last byte repeated.
  BitWriter w;
  w.put(1, 1);
  w.put(1, 2);
  fixed_symbol(w, 'z');
  fixed_symbol(w, 285);
  w.code(0, 5);
  fixed_symbol(w, 256);
  Bytes stream = zlib_wrap(w.bytes);
  Result r = run(stream, 259);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.out, Bytes(259, 'z'));
  EXPECT_EQ(r.out, zlib_inflate(stream, 259));

  // Window of 256 bytes (CINFO 0): distance 256 is accepted, 257 is refused.
  auto window_stream = [](int distance_symbol, uint32_t extra, int extra_bits) {
    BitWriter v;
    v.put(1, 1);
    v.put(1, 2);
    for (int i = 0; i < 300; ++i) fixed_symbol(v, i & 0xFF);
    fixed_symbol(v, 257);  // length 3
    v.code(distance_symbol, 5);
    v.put(extra, extra_bits);
    fixed_symbol(v, 256);
    return zlib_wrap(v.bytes, 0x08, 0x1D);
  };
  Result ok = run(window_stream(15, 63, 6), 303);  // 193 + 63 = 256
  EXPECT_EQ(ok.error, 0);
  ASSERT_EQ(ok.out.size(), 303u);
  EXPECT_EQ(Bytes(ok.out.begin() + 300, ok.out.end()), (Bytes{300 - 256, 301 - 256, 302 - 256}));
  EXPECT_EQ(run(window_stream(16, 0, 7), 303).error, ERR_INVALID_FILE);  // 257
}

TEST_F(Inflate, HostileCodesAreRefused) {
  auto fixed = [](std::vector<int> symbols, std::vector<std::pair<uint32_t, int>> tail) {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    for (int s : symbols) fixed_symbol(w, s);
    for (auto [v, n] : tail) w.code(v, n);
    return zlib_wrap(w.bytes);
  };
  // A distance reaching before the start of the output.
  EXPECT_EQ(run(fixed({'a', 257}, {{1, 5}, {0, 7}}), 100).error, ERR_INVALID_FILE);
  // Length symbols 286 and 287.
  EXPECT_EQ(run(fixed({'a', 286}, {{0, 5}, {0, 7}}), 100).error, ERR_INVALID_FILE);
  EXPECT_EQ(run(fixed({'a', 287}, {{0, 5}, {0, 7}}), 100).error, ERR_INVALID_FILE);
  // Distance symbols 30 and 31.
  EXPECT_EQ(run(fixed({'a', 257}, {{30, 5}, {0, 7}}), 100).error, ERR_INVALID_FILE);
  EXPECT_EQ(run(fixed({'a', 257}, {{31, 5}, {0, 7}}), 100).error, ERR_INVALID_FILE);
  // Block type 3.
  BitWriter w;
  w.put(1, 1);
  w.put(3, 2);
  w.put(0, 16);
  EXPECT_EQ(run(zlib_wrap(w.bytes), 100).error, ERR_INVALID_FILE);
  // HLIT above 286.
  BitWriter h;
  h.put(1, 1);
  h.put(2, 2);
  h.put(30, 5);
  h.put(0, 32);
  h.put(0, 32);
  EXPECT_EQ(run(zlib_wrap(h.bytes), 100).error, ERR_INVALID_FILE);
}

// Literal/length lengths: 'A', 'B', 'C' and end-of-block with 2 bits each.
std::vector<int> abc_lengths() {
  std::vector<int> l(257, 0);
  l['A'] = l['B'] = l['C'] = l[256] = 2;
  return l;
}

TEST_F(Inflate, RepeatCodes) {
  // Code 16 right after 17 and 18 repeats zero lengths: 65 zeros, 'A' = 1, 190 zeros made
  // of 18, 17 and seven 16s, end-of-block = 1, one zero distance length.
  std::vector<LengthOp> ops = {{18, 54}, {1}, {18, 127}, {17, 7}};
  for (int i = 0; i < 7; ++i) ops.push_back({16, 3});
  ops.push_back({1});
  ops.push_back({0});
  BitWriter w;
  dynamic_header(w, true, 257, 1, all_cl_lengths(), ops);
  w.code(0, 1);  // 'A'
  w.code(0, 1);
  w.code(1, 1);  // end of block
  Result r = run(zlib_wrap(w.bytes), 10);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.out, (Bytes{'A', 'A'}));

  // A repeat that runs from the last literal/length length into the distance lengths:
  // end-of-block = 2, then 16 repeats that 2 for the four distance codes.
  std::vector<LengthOp> ops2 = {{18, 54}, {2}, {2}, {2}, {18, 127}, {18, 39}, {2}, {16, 1}};
  BitWriter v;
  dynamic_header(v, true, 257, 4, all_cl_lengths(), ops2);
  std::vector<uint32_t> lit = canonical(abc_lengths());
  v.code(lit['B'], 2);
  v.code(lit['C'], 2);
  v.code(lit[256], 2);
  Bytes stream = zlib_wrap(v.bytes);
  Result s = run(stream, 10);
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.out, (Bytes{'B', 'C'}));
  EXPECT_EQ(s.out, zlib_inflate(stream, 10));

  // A repeat that runs past HLIT + HDIST.
  std::vector<LengthOp> ops3 = {{18, 54}, {2}, {2}, {2}, {18, 127}, {18, 39}, {2}, {16, 3}};
  BitWriter u;
  dynamic_header(u, true, 257, 4, all_cl_lengths(), ops3);
  u.put(0, 16);
  EXPECT_EQ(run(zlib_wrap(u.bytes), 10).error, ERR_INVALID_FILE);
}

TEST_F(Inflate, UndecodableDynamicCodes) {
  // The code-length code has a single 1-bit code (symbol 0): the bit string "1" is no code.
  {
    std::string dir = test_temp_dir() + "/inflate-log";
    ASSERT_EQ(run_command("mkdir -p " + dir), 0);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    log_set_path("INFL");
    ASSERT_EQ(chdir(previous), 0);
    std::remove((dir + "/zz_INFL.log").c_str());

    std::vector<int> cl(19, 0);
    cl[0] = 1;
    BitWriter w;
    dynamic_header(w, true, 257, 1, cl, {{0}, {0}});
    w.put(1, 1);
    w.put(0, 16);
    EXPECT_EQ(run(zlib_wrap(w.bytes), 10).error, ERR_INVALID_FILE);
    std::ifstream log(dir + "/zz_INFL.log");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("\nCODE HUFF TREE NON TROUV 2 pos \n"), std::string::npos) << text.str();
  }
  // A literal/length alphabet without any code.
  {
    std::vector<LengthOp> ops = {{18, 127}, {18, 108}};  // 138 + 119 = 257 zeros
    ops.push_back({1});
    BitWriter w;
    dynamic_header(w, true, 257, 1, all_cl_lengths(), ops);
    w.put(0, 32);
    EXPECT_EQ(run(zlib_wrap(w.bytes), 10).error, ERR_INVALID_FILE);
  }
  // An incomplete literal/length code: the strings that are no code are refused, the
  // others decode.
  {
    std::vector<int> lengths(257, 0);
    lengths['A'] = 2;
    lengths[256] = 2;
    lengths.push_back(0);  // one distance length
    auto build = [&](uint32_t code) {
      BitWriter w;
      dynamic_header(w, true, 257, 1, all_cl_lengths(), explicit_lengths(lengths));
      w.code(0, 2);  // 'A'
      w.code(code, 2);
      w.code(1, 2);  // end of block
      return zlib_wrap(w.bytes);
    };
    Result good = run(build(0), 10);
    EXPECT_EQ(good.error, 0);
    EXPECT_EQ(good.out, (Bytes{'A', 'A'}));
    EXPECT_EQ(run(build(2), 10).error, ERR_INVALID_FILE);
    EXPECT_EQ(run(build(3), 10).error, ERR_INVALID_FILE);
  }
  // A distance alphabet without codes is fine until a distance is needed.
  {
    std::vector<int> lengths(257, 0);
    lengths['A'] = 2;
    lengths[256] = 2;
    lengths.push_back(0);
    std::vector<int> with_length = lengths;
    with_length.insert(with_length.begin() + 257, 2);  // symbol 257: length 3
    BitWriter w;
    dynamic_header(w, true, 258, 1, all_cl_lengths(), explicit_lengths(with_length));
    std::vector<uint32_t> lit = canonical(std::vector<int>(with_length.begin(), with_length.begin() + 258));
    w.code(lit['A'], 2);
    w.code(lit[257], 2);
    w.put(0, 16);
    EXPECT_EQ(run(zlib_wrap(w.bytes), 10).error, ERR_INVALID_FILE);
  }
}

TEST_F(Inflate, OutputEndsAndTruncatedInput) {
  Bytes data = sample_data(20000, 99);
  Bytes stream = zlib_deflate(data, 9);
  // More than the buffer holds: decoding stops at its end without an error.
  for (size_t room : {size_t{1}, size_t{257}, size_t{5000}, size_t{19999}}) {
    Result r = run(stream, room);
    EXPECT_EQ(r.error, 0) << room;
    EXPECT_EQ(r.out, Bytes(data.begin(), data.begin() + static_cast<long>(room))) << room;
  }
  // Less than the buffer holds: the complete stream is decoded and the rest left alone.
  Result r = run(stream, 30000);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.out, data);
  // Cut anywhere inside the deflate data: refused, unless the buffer was already full.
  for (size_t cut = 2; cut + 4 < stream.size(); cut += 7) {
    Result t = run(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)), data.size());
    if (t.error == 0) {
      EXPECT_EQ(t.out, data) << cut;
    } else {
      EXPECT_EQ(t.error, ERR_INVALID_FILE) << cut;
    }
    if (cut < stream.size() / 2) {
      EXPECT_EQ(t.error, ERR_INVALID_FILE) << cut;
    }
  }
  // Once the output is full nothing more is read: a stream cut right after the bytes that
  // fill it loads, one byte more is missing data.
  BitWriter w;
  w.put(1, 1);
  w.put(1, 2);
  fixed_symbol(w, 'a');
  fixed_symbol(w, 'b');
  Result full = run(zlib_wrap(w.bytes), 2);
  EXPECT_EQ(full.error, 0);
  EXPECT_EQ(full.out, (Bytes{'a', 'b'}));
  EXPECT_EQ(run(zlib_wrap(w.bytes), 3).error, ERR_INVALID_FILE);
  // The Adler-32 value is never read.
  Result u = run(Bytes(stream.begin(), stream.end() - 4), data.size());
  EXPECT_EQ(u.error, 0);
  EXPECT_EQ(u.out, data);
}

TEST_F(Inflate, CorruptStreamsStayInBounds) {
  // Flipped bits in valid streams: any result, but never a read or write out of bounds
  // (the sanitizers watch) and never more than the buffer.
  std::mt19937 rng(3);
  Bytes data = sample_data(4000, 5);
  for (int level : {1, 6, 9}) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
      Bytes stream = zlib_deflate(data, level, strategy);
      for (int i = 0; i < 300; ++i) {
        Bytes bad = stream;
        for (int k = 0, n = 1 + rng() % 4; k < n; ++k) bad[2 + rng() % (bad.size() - 2)] ^= 1 << (rng() % 8);
        Result r = run(bad, data.size());
        EXPECT_LE(r.out.size(), data.size());
        EXPECT_TRUE(r.error == 0 || r.error == ERR_INVALID_FILE);
        // In pieces: the same fault; without one, the same bytes.
        Result p = run_in_pieces(bad, data.size(), 1 + i % 64);
        EXPECT_EQ(p.error, r.error);
        if (r.error == 0) {
          EXPECT_EQ(p.out, r.out);
        }
      }
    }
  }
}

}  // namespace
