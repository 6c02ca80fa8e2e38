// Inflate alone: the first byte picks the output size, the second the size of the pieces the
// stream is handed over in, the rest is the zlib stream. The stream is decoded whole, then
// again from pieces that each lie in their own exact-size buffer; both must produce the same
// bytes and the same error. Output buffers have exactly their size, so any read or write
// past a buffer is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/png/inflate.h"
#include "core/errors.h"

namespace {

struct Pieces {
  std::vector<std::vector<uint8_t>> parts;
  size_t next = 0;
};

bool next_piece(void* source, const uint8_t** data, const uint8_t** data_end) {
  Pieces& pieces = *static_cast<Pieces*>(source);
  if (pieces.next == pieces.parts.size()) return false;
  const std::vector<uint8_t>& part = pieces.parts[pieces.next++];
  *data = part.data();
  *data_end = part.data() + part.size();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t out_size = size_t{data[0]} * 257;
  const size_t piece_size = size_t{data[1]} + 1;
  const uint8_t* stream = data + 2;
  const size_t stream_size = size - 2;

  std::vector<uint8_t> whole_out(out_size);
  std::vector<uint8_t> in(stream, stream + stream_size);  // exact size: no read past the end goes unseen
  g_error = 0;
  const size_t produced = inflate_zlib(in.data(), in.size(), whole_out.data(), whole_out.size());
  const int32_t whole_error = g_error;
  if (produced > out_size) __builtin_trap();

  g_error = 0;
  int32_t window_size = 0;
  zlib_check_header(stream, stream_size, &window_size);
  if (g_error == 0) {
    Pieces pieces;
    for (size_t at = 2; at < stream_size; at += piece_size)
      pieces.parts.emplace_back(stream + at, stream + std::min(stream_size, at + piece_size));
    std::vector<uint8_t> pieces_out(out_size);
    InflateState state;
    inflate_start(&state, nullptr, nullptr, window_size, next_piece, &pieces);
    const size_t pieces_produced = inflate_more(&state, pieces_out.data(), pieces_out.data(), pieces_out.data() + out_size);
    // Past the bytes produced the buffer is scratch space for wide copies: not compared.
    if (pieces_produced != produced || g_error != whole_error ||
        !std::equal(whole_out.begin(), whole_out.begin() + long(produced), pieces_out.begin()))
      __builtin_trap();
  }
  g_error = 0;
  return 0;
}
