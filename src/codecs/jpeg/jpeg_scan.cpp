// Huffman scan decoding: sequential scans (streamed to the image one MCU row at a time when a
// scan carries every component, else stored like a progressive frame), and the progressive
// scans (DC and AC bands, first passes and refinements) into the whole-frame coefficients.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/jpeg/jpeg_bits.h"
#include "codecs/jpeg/jpeg_internal.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

constexpr int kMaxScans = 1000;
// MCUs reconstructed at a time: the scratch of the reconstruction stays in the caches and a
// streamed frame keeps no more coefficients than these.
constexpr int kChunkMcus = 16;

// What each scan component resolves to.
struct ScanSetup {
  int count;
  int frame_index[4];
  const JpegHuffman* dc[4];
  const JpegHuffman* ac[4];
  int16_t dc_pred[4];
};

// Finds the frame component named by a selector, searching from the last to the first.
int find_component(const JpegDecoder& d, uint8_t selector) {
  const JpegFrame* f = d.frame;
  for (int i = f->component_count - 1; i >= 0; --i)
    if (f->components[i].id == selector) return i;
  return -1;
}

// Resolves the tables and frame components of the current scan. `need_dc`/`need_ac` say which
// Huffman tables the scan reads. Returns false with g_error set.
bool resolve_scan(const JpegDecoder& d, ScanSetup* s, bool need_dc, bool need_ac) {
  s->count = d.scan.component_count;
  int total_blocks = 0;
  for (int i = 0; i < s->count; ++i) {
    const JpegScanComponent& sc = d.scan_components[i];
    s->dc[i] = nullptr;
    s->ac[i] = nullptr;
    s->dc_pred[i] = 0;
    if ((need_dc && sc.dc_table > 3) || (need_ac && sc.ac_table > 3)) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    if (need_dc) {
      s->dc[i] = d.huff[sc.dc_table * 2];
      if (s->dc[i] == nullptr) {
        g_error = ERR_LOADING;
        return false;
      }
    }
    if (need_ac) {
      s->ac[i] = d.huff[sc.ac_table * 2 + 1];
      if (s->ac[i] == nullptr) {
        g_error = ERR_LOADING;
        return false;
      }
    }
    const int fi = find_component(d, sc.selector);
    if (fi < 0) {
      g_error = ERR_VALUE;
      return false;
    }
    s->frame_index[i] = fi;
    const JpegFrameComponent& fc = d.frame->components[fi];
    if (s->count > 1) {
      total_blocks += fc.h * fc.v;
      if (total_blocks > 10) {
        g_error = ERR_INVALID_FILE;
        return false;
      }
    }
  }
  for (int i = 0; i < s->count; ++i) {
    if (s->dc[i] != nullptr) huff_prepare(const_cast<JpegHuffman*>(s->dc[i]));
    if (s->ac[i] != nullptr) huff_prepare(const_cast<JpegHuffman*>(s->ac[i]));
  }
  return true;
}

JpegBits start_bits(const ByteReader& in) {
  JpegBits b;
  // A segment length may have sent the position past the end of the file.
  const int64_t position = in.tell(), size = in.size();
  bits_start(b, in.data(), size, position < size ? position : size);
  return b;
}

// Leaves the stream where the bit reader stands; a partly read byte is dropped by the next
// byte read, as the marker parser expects. When the bits left are the padding of a stuffed
// 0xFF that directly precedes a marker, the reader first steps onto the stuffing byte so that
// the parser lands on the marker. (Done once at the end of the data, not after every block:
// the last byte may still hold the codes of further blocks.)
void finish_bits(ByteReader& in, const JpegBits& b) {
  bool partial;
  int64_t p = bits_position(b, &partial);
  if (p + 3 < b.size && b.data[p] == 0xFF && b.data[p + 1] == 0 && b.data[p + 2] == 0xFF &&
      b.data[p + 3] != 0)
    p += 1;
  in.seek(p + (partial ? 1 : 0));
}

// The scans read the file once, front to back: the pages of a mapped file behind the bit
// reader go back to the system every kReleaseStep bytes, so that the file is never resident
// as a whole beside the picture. (Reading them again would still be correct.)
constexpr int64_t kReleaseStep = 16 << 10;
// The same for the whole-frame coefficients as the last pass reconstructs them.
constexpr int64_t kCoefficientReleaseStep = 1 << 20;

inline void release_read_bytes(JpegDecoder& d, const JpegBits& b) {
  if (b.pos - d.released < kReleaseStep) return;
  d.released = b.pos - 8;  // the bytes the last word refill took may still be looked at
  d.in.release_before(d.released);
}

// The units one call decodes out of a scan's `total`: the restart interval reached by the
// restarts met so far, or every unit when the scan has no interval or one larger than itself.
struct UnitRange {
  int64_t first;
  int64_t count;
};
UnitRange call_units(const JpegDecoder& d, int64_t total) {
  const int64_t interval = d.restart_interval;
  return {interval * d.restart_count, interval != 0 && total >= interval ? interval : total};
}

enum BlockResult { BLOCK_DONE = 0, BLOCK_MARKER = 1, BLOCK_ERROR = 2, BLOCK_MARKER_FIRST = 3 };

// One block of a sequential scan: DC difference and AC run/size codes, in natural order.
// The AC codes of a block's band k..se while the data holds no 0xFF byte, with the reader's
// state in locals that the compiler keeps in registers; coefficients are scaled by 2^al. In
// a sequential scan (`band_runs` false) the code 0 ends the block; in a first progressive
// pass the end-of-band codes are left to the general loop, which reads their run length.
// Returns true when the block is done, else false with the state written back and *k the
// next coefficient: a code longer than the look-up, an end-of-band run, or bytes that the
// word refill cannot take.
inline bool ac_run_in_registers(JpegBits& b, int16_t* blk, const JpegHuffman* ac, int* k_io, int se, int al,
                                bool band_runs) {
  uint64_t buf = b.buf;
  int nbits = b.nbits;
  int64_t pos = b.pos;
  int k = *k_io;
  bool ended = false;
  while (k <= se) {
    if (nbits < 32 && !bits_fill_word(b.data, b.size, pos, buf, nbits)) break;
    const JpegAcFast e = ac->ac_fast[buf >> (64 - kHuffFastBits)];
    if (e.length == 0) break;
    const int rs = e.rs, size = rs & 15, run = rs >> 4;
    if (band_runs ? size == 0 && run < 15 : rs == 0) {
      if (band_runs) break;
      buf <<= e.length;
      nbits -= e.length;
      ended = true;
      break;
    }
    k += run;
    if (k > 63) {  // a run past the block's last coefficient ends it
      buf <<= e.length;
      nbits -= e.length;
      ended = true;
      break;
    }
    int32_t value;
    if (e.length + size <= kHuffFastBits) {
      buf <<= e.length + size;
      value = e.value;
    } else {
      buf <<= e.length;
      value = jpeg_extend(static_cast<int32_t>(buf >> (64 - size)), size);
      buf <<= size;
    }
    nbits -= e.length + size;
    blk[kJpegZigzag[k]] = static_cast<int16_t>(value * (1 << al));
    ++k;
  }
  b.buf = buf;
  b.nbits = nbits;
  b.pos = pos;
  *k_io = k;
  return ended || k > se;
}

// A DC difference: its size code and the bits that follow. BLOCK_DONE with *diff set,
// BLOCK_MARKER, or BLOCK_ERROR with g_error set for a code that is none or a size above 16.
int read_dc_difference(JpegBits& b, const JpegHuffman* dc, int32_t* diff) {
  uint32_t value = 0;
  const int s = huff_decode(b, dc, &value);
  if (s < 0) {
    if (s == HUFF_MARKER) return BLOCK_MARKER;
    huff_log_not_found("DC", value, b);
    g_error = ERR_LOADING;
    return BLOCK_ERROR;
  }
  if (s > 16) {  // no DC difference is that long
    g_error = ERR_LOADING;
    return BLOCK_ERROR;
  }
  int32_t bits;
  if (!bits_receive(b, s, &bits)) return BLOCK_MARKER;
  *diff = jpeg_extend(bits, s);
  return BLOCK_DONE;
}

// `last_block` is set to the block once it is cleared.
int decode_block(JpegBits& b, int16_t* blk, const JpegHuffman* dc, const JpegHuffman* ac, int16_t* pred,
                 const int16_t** last_block) {
  if (bits_at_marker(b)) return BLOCK_MARKER_FIRST;  // the block is left untouched
  std::memset(blk, 0, 64 * sizeof(int16_t));
  *last_block = blk;
  uint32_t value = 0;
  int32_t bits;
  if (b.nbits < 32) bits_fill(b);
  const JpegAcFast d = dc->ac_fast[b.buf >> (64 - kHuffFastBits)];
  if (b.pad == 0 && d.length != 0 && d.rs <= 15 && d.length + d.rs <= kHuffFastBits) {
    // At least 32 bits before any marker: code and difference in one look-up.
    bits_skip(b, d.length + d.rs);
    *pred = static_cast<int16_t>(*pred + d.value);
  } else {
    int32_t diff;
    const int r = read_dc_difference(b, dc, &diff);
    if (r != BLOCK_DONE) return r;
    *pred = static_cast<int16_t>(*pred + diff);
  }
  blk[0] = *pred;
  int k = 1;
  if (b.pad == 0 && !b.at_marker && ac_run_in_registers(b, blk, ac, &k, 63, 0, false)) return BLOCK_DONE;
  while (k < 64) {
    if (b.nbits < 32) bits_fill(b);
    const JpegAcFast e = ac->ac_fast[b.buf >> (64 - kHuffFastBits)];
    if (b.pad == 0 && e.length != 0) {
      // At least 32 bits before any marker, enough for a code and its extra bits.
      const int rs = e.rs, size = rs & 15, run = rs >> 4;
      if (rs == 0) {
        bits_skip(b, e.length);
        break;
      }
      k += run;
      if (k > 63) {
        bits_skip(b, e.length);
        break;
      }
      if (e.length + size <= kHuffFastBits) {
        bits_skip(b, e.length + size);
        blk[kJpegZigzag[k]] = e.value;
      } else {
        bits_skip(b, e.length);
        const int32_t extra = static_cast<int32_t>(b.buf >> (64 - size));
        bits_skip(b, size);
        blk[kJpegZigzag[k]] = static_cast<int16_t>(jpeg_extend(extra, size));
      }
      ++k;
      continue;
    }
    int rs;
    if (e.length != 0) {
      const int real = bits_real(b);
      if (e.length > real) {
        bits_hit_marker(b);
        return BLOCK_MARKER;
      }
      rs = e.rs;
      const int size = rs & 15;
      if (rs != 0 && k + (rs >> 4) <= 63 && e.length + size <= kHuffFastBits) {
        // Code and extra bits in one look-up.
        if (e.length + size > real) {
          bits_hit_marker(b);
          return BLOCK_MARKER;
        }
        bits_skip(b, e.length + size);
        k += rs >> 4;
        blk[kJpegZigzag[k]] = e.value;
        ++k;
        continue;
      }
      bits_skip(b, e.length);
    } else {
      rs = huff_decode(b, ac, &value);
      if (rs < 0) {
        if (rs == HUFF_MARKER) return BLOCK_MARKER;
        huff_log_not_found("AC", value, b);
        g_error = ERR_LOADING;
        return BLOCK_ERROR;
      }
    }
    if (rs == 0) break;
    k += rs >> 4;
    if (k > 63) break;
    const int size = rs & 15;
    if (!bits_receive(b, size, &bits)) return BLOCK_MARKER;
    blk[kJpegZigzag[k]] = static_cast<int16_t>(jpeg_extend(bits, size));
    ++k;
  }
  return BLOCK_DONE;
}

// Visits the units of one call of a scan that is stored in the frame's coefficients: MCUs for
// a scan of several components, the component's blocks in raster order for a scan of one.
// `fn(i, block)` decodes scan component i's block and returns a BlockResult; the walk stops
// at the first block not done.
// Units past the end of the frame (the last restart interval of a scan may be shorter than
// the others) land nowhere: the data up to the next marker is passed over, which bounds the
// work of a call by the frame's size whatever the restart counts say.
template <class Fn>
void visit_units(JpegDecoder& d, const ScanSetup& s, JpegBits& b, Fn fn) {
  JpegLayout& L = d.layout;
  int64_t total;
  int bw = 0;
  const int fi0 = s.frame_index[0];
  if (s.count > 1) {
    total = L.mcu_total;
  } else {
    const JpegFrame* f = d.frame;
    const int64_t xc = (int64_t{f->samples_per_line} * L.h[fi0] + L.max_h - 1) / L.max_h;
    const int64_t yc = (int64_t{f->lines} * L.v[fi0] + L.max_v - 1) / L.max_v;
    bw = static_cast<int>((xc + 7) / 8);
    total = bw * ((yc + 7) / 8);
  }
  const auto [first, count] = call_units(d, total);
  if (s.count > 1) {
    for (int64_t k = 0; k < count; ++k) {
      const int64_t u = first + k;
      if (u >= total) {
        bits_skip_to_marker(b);
        return;
      }
      release_read_bytes(d, b);
      int16_t* mcu = L.coefs + u * L.coefs_per_mcu;
      for (int i = 0; i < s.count; ++i) {
        const int fi = s.frame_index[i];
        for (int blk = 0; blk < L.blocks[fi]; ++blk) {
          if (fn(i, mcu + L.coef_offset[fi] + 64 * blk) != BLOCK_DONE) return;
        }
      }
    }
    return;
  }
  // One component: its blocks in raster order, walked with counters rather than divisions.
  const int h = L.h[fi0], v = L.v[fi0];
  const int64_t rows = total / (bw > 0 ? bw : 1);
  int64_t bx = 0, by = 0;
  if (first < total) {
    bx = first % bw;
    by = first / bw;
  }
  int64_t mx = bx / h;
  int sx = static_cast<int>(bx % h);
  int16_t* row_base = nullptr;
  auto start_row = [&]() {
    row_base = L.coefs + (by / v) * L.mcus_per_row * L.coefs_per_mcu + L.coef_offset[fi0] +
               64 * (by % v) * h;
  };
  if (first < total) start_row();
  for (int64_t k = 0; k < count; ++k) {
    const int64_t u = first + k;
    if (u >= total) {
      bits_skip_to_marker(b);
      return;
    }
    int16_t* block = row_base + mx * L.coefs_per_mcu + 64 * sx;
    // The frame's coefficients are far larger than the caches: ask for the blocks a little
    // ahead in the walk (prefetching never faults, even past the end of the buffer).
    const char* ahead = reinterpret_cast<const char*>(
        reinterpret_cast<uintptr_t>(block) + 8 * size_t(L.coefs_per_mcu));
    __builtin_prefetch(ahead);
    __builtin_prefetch(ahead + 64);
    if (fn(0, block) != BLOCK_DONE) return;
    if (++sx == h) {
      sx = 0;
      ++mx;
    }
    if (++bx == bw) {
      release_read_bytes(d, b);
      bx = 0;
      mx = 0;
      sx = 0;
      if (++by < rows) start_row();
    }
  }
}

void flush_pending(JpegDecoder& d) {
  JpegLayout& L = d.layout;
  if (L.pending_row < 0) return;
  write_mcus(d, L.row_coefs, L.pending_row, L.pending_first, L.pending_last);
  L.pending_row = -1;
}

// After a marker cut an MCU short, its remaining blocks hold what a block-at-a-time decoder
// would have reconstructed: the first block of each remaining component the coefficients
// decoded last, the others the previous MCU's blocks (nothing before the call's first MCU).
// The previous MCU may share the current one's place: its blocks not yet decoded are then
// still those of the previous MCU.
void fill_cut_mcu(JpegLayout& L, const ScanSetup& s, int16_t* mcu, const int16_t* previous, int comp, int blk,
                  bool touched) {
  for (int i = comp; i < s.count; ++i) {
    const int fi = s.frame_index[i];
    const int start = i == comp ? blk : 0;
    for (int j = start; j < L.blocks[fi]; ++j) {
      int16_t* dest = mcu + L.coef_offset[fi] + 64 * j;
      if (j == start) {
        if (i == comp && touched) continue;  // keeps what was decoded before the marker
        if (L.last_block == nullptr) std::memset(dest, 0, 64 * sizeof(int16_t));
        else if (L.last_block != dest) std::memcpy(dest, L.last_block, 64 * sizeof(int16_t));
      } else if (previous != nullptr) {
        if (previous != mcu) std::memcpy(dest, previous + L.coef_offset[fi] + 64 * j, 64 * sizeof(int16_t));
      } else {
        std::memset(dest, 0, 64 * sizeof(int16_t));
      }
    }
  }
}

void decode_streaming(JpegDecoder& d, ScanSetup& s, JpegBits& b) {
  JpegLayout& L = d.layout;
  const int64_t total = L.mcu_total;
  const auto [first, count] = call_units(d, total);
  const int mpr = L.mcus_per_row;
  const int16_t* previous = nullptr;  // the MCU decoded before this one in the call
  for (int64_t k = 0; k < count; ++k) {
    const int64_t m = first + k;
    int16_t* mcu;
    if (m < total) {
      release_read_bytes(d, b);
      const int64_t row = m / mpr;
      const int col = static_cast<int>(m % mpr);
      if (row != L.pending_row || col - L.pending_first == L.chunk_mcus) {
        flush_pending(d);
        L.pending_row = row;
        L.pending_first = col;
      }
      L.pending_last = col;
      mcu = L.row_coefs + int64_t{col - L.pending_first} * L.coefs_per_mcu;
    } else {
      flush_pending(d);
      bits_skip_to_marker(b);
      return;
    }
    for (int i = 0; i < s.count; ++i) {
      const int fi = s.frame_index[i];
      int16_t* base = mcu + L.coef_offset[fi];
      for (int blk = 0; blk < L.blocks[fi]; ++blk) {
        int16_t* dest = base + 64 * blk;
        int r = decode_block(b, dest, s.dc[i], s.ac[i], &s.dc_pred[i], &L.last_block);
        if (r == BLOCK_ERROR) return;
        if (r != BLOCK_DONE) {
          fill_cut_mcu(L, s, mcu, previous, i, blk, r == BLOCK_MARKER);
          flush_pending(d);
          return;
        }
      }
    }
    previous = mcu;
  }
  flush_pending(d);
}

}  // namespace

void jpeg_release_layout(JpegDecoder& d) {
  JpegLayout& L = d.layout;
  mem_free(&L.coefs);
  mem_free(&L.row_coefs);
  mem_free(&L.products);
  for (int c = 0; c < 4; ++c) {
    mem_free(&L.strips[c]);
    mem_free(&L.line[c]);
  }
  L = JpegLayout{};
  L.pending_row = -1;
}

bool jpeg_layout_frame(JpegDecoder& d, bool buffered) {
  jpeg_release_layout(d);
  JpegLayout& L = d.layout;
  const JpegFrame* f = d.frame;
  const int nf = f->component_count;
  if (nf > 4) {
    g_error = ERR_UNHANDLED;
    return false;
  }
  L.components = nf;
  L.max_h = L.max_v = 1;
  int blocks = 0;
  for (int c = 0; c < nf; ++c) {
    const JpegFrameComponent& fc = f->components[c];
    if (fc.h < 1 || fc.h > 4 || fc.v < 1 || fc.v > 4 || fc.quant_table > 3) {
      g_error = ERR_INVALID_FILE;
      return false;
    }
    L.h[c] = fc.h;
    L.v[c] = fc.v;
    L.quant[c] = fc.quant_table;
    L.blocks[c] = fc.h * fc.v;
    L.coef_offset[c] = 64 * blocks;
    blocks += L.blocks[c];
    if (fc.h > L.max_h) L.max_h = fc.h;
    if (fc.v > L.max_v) L.max_v = fc.v;
  }
  for (int c = 0; c < nf; ++c) {
    if (L.max_h % L.h[c] != 0 || L.max_v % L.v[c] != 0) {
      g_error = ERR_UNHANDLED;
      return false;
    }
    L.hf[c] = L.max_h / L.h[c];
    L.vf[c] = L.max_v / L.v[c];
  }
  L.mcu_width = 8 * L.max_h;
  L.mcu_height = 8 * L.max_v;
  L.coefs_per_mcu = 64 * blocks;
  L.mcus_per_row = ((f->samples_per_line + 7) / 8 + L.max_h - 1) / L.max_h;
  L.mcu_rows = ((f->lines + 7) / 8 + L.max_v - 1) / L.max_v;
  L.mcu_total = int64_t{L.mcus_per_row} * L.mcu_rows;
  L.precision = f->precision;
  L.level = 1 << (f->precision - 1);
  L.buffered = buffered;
  L.chunk_mcus = std::min(L.mcus_per_row, kChunkMcus);
  const size_t chunk_bytes = size_t(L.chunk_mcus) * L.coefs_per_mcu * sizeof(int16_t);
  if (buffered) {
    const uint64_t bytes = uint64_t(L.mcu_total) * L.coefs_per_mcu * sizeof(int16_t);
    if (bytes > mem_limit()) {
      g_error = ERR_MEMORY;
      return false;
    }
    // The buffer itself is made when the first scan needs it.
  } else {
    if (mem_alloc(&L.row_coefs, chunk_bytes) == nullptr) return false;
    std::memset(L.row_coefs, 0, chunk_bytes);
  }
  const size_t line_floats = size_t(L.chunk_mcus) * L.mcu_width + 8;
  for (int c = 0; c < nf; ++c) {
    L.strip_stride[c] = L.chunk_mcus * 8 * L.h[c];
    if (mem_alloc(&L.strips[c], (size_t(L.strip_stride[c]) * 8 * L.v[c] + 8) * sizeof(float)) ==
            nullptr ||
        mem_alloc(&L.line[c], line_floats * sizeof(float)) == nullptr)
      return false;
  }
  if (mem_alloc(&L.products, 4 * (line_floats / 2 + 8) * sizeof(double)) == nullptr) return false;
  L.pending_row = -1;
  L.last_block = nullptr;
  L.ready = true;
  return true;
}

namespace {

// The whole-frame coefficients, zero until scans add to them.
bool ensure_coefficients(JpegLayout& L) {
  if (L.coefs != nullptr) return true;
  const size_t bytes = size_t(L.mcu_total) * L.coefs_per_mcu * sizeof(int16_t);
  if (mem_alloc(&L.coefs, bytes) == nullptr) return false;
  std::memset(L.coefs, 0, bytes);
  return true;
}

}  // namespace

void decode_sequential_scan(JpegDecoder& d) {
  ScanSetup s;
  if (!resolve_scan(d, &s, true, true)) return;
  JpegLayout& L = d.layout;
  const JpegFrame* f = d.frame;
  // A scan that carries every component (and, alone, one block per MCU) streams MCU rows to
  // the image; any other layout stores coefficients until the frame ends.
  bool streams = s.count == f->component_count;
  for (int i = 0; i < s.count && streams; ++i)
    for (int j = 0; j < i; ++j)
      if (s.frame_index[i] == s.frame_index[j]) streams = false;
  if (streams && s.count == 1) {
    const JpegFrameComponent& fc = f->components[s.frame_index[0]];
    streams = fc.h == 1 && fc.v == 1;
  }
  if (!L.ready && !jpeg_layout_frame(d, !streams)) return;
  if (!L.buffered && !streams) {
    g_error = ERR_INVALID_FILE;  // a second, partial scan of a frame already written
    return;
  }
  if (L.buffered && !ensure_coefficients(L)) return;
  JpegBits b = start_bits(d.in);
  if (!L.buffered) {
    decode_streaming(d, s, b);
  } else {
    visit_units(d, s, b, [&](int i, int16_t* block) {
      return decode_block(b, block, s.dc[i], s.ac[i], &s.dc_pred[i], &L.last_block);
    });
  }
  if (g_error == 0) finish_bits(d.in, b);
}

void setup_progressive_frame(JpegDecoder& d) { jpeg_layout_frame(d, true); }

namespace {

struct Progressive {
  JpegBits* b;
  ScanSetup* s;
  int ss, se, al;
  uint32_t eob_run;
};

int dc_first(Progressive& p, int i, int16_t* blk) {
  JpegBits& b = *p.b;
  if (bits_at_marker(b)) return BLOCK_MARKER;
  int32_t diff;
  const int r = read_dc_difference(b, p.s->dc[i], &diff);
  if (r != BLOCK_DONE) return r;
  const uint32_t scaled = static_cast<uint32_t>(diff) << p.al;
  const int16_t value16 = static_cast<int16_t>(static_cast<uint32_t>(p.s->dc_pred[i]) + scaled);
  p.s->dc_pred[i] = value16;
  blk[0] = value16;
  return BLOCK_DONE;
}

int dc_refine(Progressive& p, int, int16_t* blk) {
  JpegBits& b = *p.b;
  if (bits_at_marker(b)) return BLOCK_MARKER;
  int32_t bit;
  if (!bits_receive(b, 1, &bit)) return BLOCK_MARKER;
  blk[0] = static_cast<int16_t>(blk[0] | (bit << p.al));
  return BLOCK_DONE;
}

int ac_first(Progressive& p, int16_t* blk) {
  JpegBits& b = *p.b;
  if (p.eob_run > 0) {  // blocks of an end-of-band run are left as they are
    --p.eob_run;
    return BLOCK_DONE;
  }
  if (bits_at_marker(b)) return BLOCK_MARKER;
  const JpegHuffman* ac = p.s->ac[0];
  uint32_t value = 0;
  int k = p.ss == 0 ? 1 : p.ss;
  if (b.pad == 0 && !b.at_marker && ac_run_in_registers(b, blk, ac, &k, p.se, p.al, true)) return BLOCK_DONE;
  while (k <= p.se) {
    if (b.nbits < 32) bits_fill(b);
    const int rs = huff_decode(b, ac, &value);
    if (rs < 0) {
      if (rs == HUFF_MARKER) return BLOCK_MARKER;
      huff_log_not_found("AC", value, b);
      g_error = ERR_INVALID_FILE;
      return BLOCK_ERROR;
    }
    const int r = rs >> 4, s = rs & 15;
    int32_t bits;
    if (s == 0 && r < 15) {
      if (!bits_receive(b, r, &bits)) return BLOCK_MARKER;
      p.eob_run = static_cast<uint32_t>(bits) + (1u << r) - 1;  // this block included
      break;
    }
    k += r;
    if (k > 63) break;
    if (!bits_receive(b, s, &bits)) return BLOCK_MARKER;
    blk[kJpegZigzag[k]] = static_cast<int16_t>(jpeg_extend(bits, s) * (1 << p.al));
    ++k;
  }
  return BLOCK_DONE;
}

// For each byte i of a block's natural-order non-zero mask and each value of that byte, the
// same bits at their zig-zag positions.
struct ZigzagBits {
  uint64_t of_byte[8][256];
};

ZigzagBits make_zigzag_bits() {
  int zigzag_of[64];
  for (int z = 0; z < 64; ++z) zigzag_of[kJpegZigzag[z]] = z;
  ZigzagBits t{};
  for (int i = 0; i < 8; ++i)
    for (int v = 0; v < 256; ++v)
      for (int bit = 0; bit < 8; ++bit)
        if ((v >> bit) & 1) t.of_byte[i][v] |= uint64_t{1} << zigzag_of[8 * i + bit];
  return t;
}

// The zig-zag positions of the block's non-zero coefficients, as bits.
inline uint64_t nonzero_zigzag(const int16_t* blk) {
  static const ZigzagBits table = make_zigzag_bits();
  uint64_t natural = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blk + 16 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blk + 16 * i + 8));
    const int zeros = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero)));
    natural |= uint64_t{static_cast<uint16_t>(~zeros)} << (16 * i);
  }
#else
  for (int i = 0; i < 64; ++i) natural |= uint64_t{blk[i] != 0} << i;
#endif
  uint64_t zigzag = 0;
  for (int i = 0; i < 8; ++i) zigzag |= table.of_byte[i][(natural >> (8 * i)) & 255];
  return zigzag;
}

// Passes over the coefficients from zig-zag position *k on, up to `se` or until `zeros`
// zero-valued ones are passed, giving each non-zero one its correction bit; *last_zero is the
// last zero-valued position passed (-1 for none). `nonzero` holds the zig-zag positions that
// were non-zero when the block began (a correction never makes a coefficient zero before the
// pass is over it); `zeros` of 64 passes the whole band. False when a marker comes first.
inline bool refine_pass(JpegBits& b, int16_t* blk, uint64_t nonzero, int* k_io, int se, int al, int zeros,
                        int* last_zero) {
  const int k = *k_io;
  *last_zero = -1;
  if (k > se) return true;
  const uint64_t band = (~uint64_t{0} >> (63 - se)) & (~uint64_t{0} << k);
  const uint64_t zero_bits = ~nonzero & band;
  int end = se;
  if (zero_bits != 0) {
    *last_zero = 63 - __builtin_clzll(zero_bits);
    if (zeros < 64) {
      uint64_t z = zero_bits;  // drops the first zeros - 1 zero-valued positions
      for (int i = 1; i < zeros && z != 0; ++i) z &= z - 1;
      if (z != 0) *last_zero = end = __builtin_ctzll(z);
    }
  }
  uint64_t to_correct = nonzero & band & (~uint64_t{0} >> (63 - end));
  uint64_t buf = b.buf;
  int nbits = b.nbits, pad = b.pad;
  const int step = 1 << al;
  while (to_correct != 0) {
    int16_t* c = &blk[kJpegZigzag[__builtin_ctzll(to_correct)]];
    to_correct &= to_correct - 1;
    if (nbits - pad < 1) {  // more bits, or the marker
      b.buf = buf;
      b.nbits = nbits;
      bits_fill(b);
      if (bits_real(b) < 1) {
        bits_hit_marker(b);
        return false;
      }
      buf = b.buf;
      nbits = b.nbits;
      pad = b.pad;
    }
    const bool bit = (buf >> 63) != 0;
    buf <<= 1;
    --nbits;
    if (bit) *c = static_cast<int16_t>(*c >= 0 ? *c | step : *c - step);
  }
  b.buf = buf;
  b.nbits = nbits;
  *k_io = end + 1;
  return true;
}

int ac_refine(Progressive& p, int16_t* blk) {
  JpegBits& b = *p.b;
  if (bits_at_marker(b)) return BLOCK_MARKER;
  int k = p.ss == 0 ? 1 : p.ss;
  const int se = p.se;
  const uint64_t nonzero = nonzero_zigzag(blk);
  if (p.eob_run == 0) {
    const JpegHuffman* ac = p.s->ac[0];
    uint32_t value = 0;
    while (k <= se) {
      if (b.nbits < 32) bits_fill(b);
      const int rs = huff_decode(b, ac, &value);
      if (rs < 0) {
        if (rs == HUFF_MARKER) return BLOCK_MARKER;
        huff_log_not_found("ACH", value, b);
        g_error = ERR_LOADING;
        return BLOCK_ERROR;
      }
      const int r = rs >> 4, s = rs & 15;
      if (s == 0 && r < 15) {
        int32_t bits;
        if (!bits_receive(b, r, &bits)) return BLOCK_MARKER;
        p.eob_run = static_cast<uint32_t>(bits) + (1u << r);
        break;
      }
      if (s > 1) {
        g_error = ERR_LOADING;
        return BLOCK_ERROR;
      }
      int new_value = 0;
      if (s == 1) {
        int32_t bit;
        if (!bits_receive(b, 1, &bit)) return BLOCK_MARKER;
        new_value = bit != 0 ? (1 << p.al) : -(1 << p.al);
      }
      int last_zero;
      if (!refine_pass(b, blk, nonzero, &k, se, p.al, r + 1, &last_zero)) return BLOCK_MARKER;
      if (s == 1 && last_zero >= 0) blk[kJpegZigzag[last_zero]] = static_cast<int16_t>(new_value);
    }
    if (p.eob_run == 0) return BLOCK_DONE;
  }
  int last_zero;
  if (!refine_pass(b, blk, nonzero, &k, se, p.al, 64, &last_zero)) return BLOCK_MARKER;
  --p.eob_run;
  return BLOCK_DONE;
}

}  // namespace

void decode_progressive_scan(JpegDecoder& d) {
  const JpegScanHeader& h = d.scan;
  if (!d.layout.ready || !d.layout.buffered) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if ((h.spectral_start == 0 && h.spectral_end != 0) ||
      (h.spectral_start != 0 && h.component_count > 1)) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const bool dc_scan = h.spectral_start == 0;
  ScanSetup s;
  if (!resolve_scan(d, &s, dc_scan && h.approx_high == 0, h.spectral_end != 0)) return;
  for (int i = 0; i < s.count; ++i) {
    if (s.frame_index[i] >= d.layout.components) {
      g_error = ERR_INVALID_FILE;
      return;
    }
  }
  // Each scan walks the whole band of its components: a file of endless tiny scans over a
  // large frame would take hours, so a frame gets at most kMaxScans of them.
  if (d.restart_count == 0 && ++d.layout.scans > kMaxScans) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (!ensure_coefficients(d.layout)) return;
  JpegBits b = start_bits(d.in);
  Progressive p{&b, &s, h.spectral_start, h.spectral_end, h.approx_low, 0};
  if (dc_scan && h.approx_high == 0) {
    visit_units(d, s, b, [&](int i, int16_t* blk) { return dc_first(p, i, blk); });
  } else if (dc_scan) {
    visit_units(d, s, b, [&](int i, int16_t* blk) { return dc_refine(p, i, blk); });
  } else if (h.approx_high == 0) {
    visit_units(d, s, b, [&](int, int16_t* blk) { return ac_first(p, blk); });
  } else {
    visit_units(d, s, b, [&](int, int16_t* blk) { return ac_refine(p, blk); });
  }
  if (g_error == 0) finish_bits(d.in, b);
}

void finish_progressive_frame(JpegDecoder& d) {
  JpegLayout& L = d.layout;
  if (!L.ready || !L.buffered) return;
  const int64_t row_size = int64_t{L.mcus_per_row} * L.coefs_per_mcu;
  if (L.coefs == nullptr) {
    // No scan came: every block is zero, one row of zeros serves all MCU rows.
    if (mem_alloc(&L.row_coefs, size_t(row_size) * sizeof(int16_t)) == nullptr) return;
    std::memset(L.row_coefs, 0, size_t(row_size) * sizeof(int16_t));
    for (int64_t row = 0; row < L.mcu_rows; ++row) write_mcus(d, L.row_coefs, row, 0, L.mcus_per_row - 1);
  } else {
    // The coefficients are read once, row after row: their pages go back to the system every
    // kReleaseStep rows' worth, so that the picture's pages take their place instead of
    // adding to them.
    const size_t row_bytes = size_t(row_size) * sizeof(int16_t);
    size_t released = 0;
    for (int64_t row = 0; row < L.mcu_rows; ++row) {
      write_mcus(d, L.coefs + row * row_size, row, 0, L.mcus_per_row - 1);
      const size_t done = size_t(row + 1) * row_bytes;
      if (done - released >= size_t{kCoefficientReleaseStep}) {
        mem_release_pages(L.coefs, 0, done);
        released = done;
      }
    }
  }
  jpeg_release_layout(d);
}
