// Inflate alone: the first byte picks the output size, the rest is the zlib stream. The
// output buffer has exactly that size, so any write past it is caught.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/png/inflate.h"
#include "core/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t out_size = size_t{data[0]} * 257;
  std::vector<uint8_t> out(out_size);
  std::vector<uint8_t> in(data + 1, data + size);  // exact size: no read past the end goes unseen
  g_error = 0;
  size_t produced = inflate_zlib(in.data(), in.size(), out.data(), out.size());
  if (produced > out_size) __builtin_trap();
  g_error = 0;
  return 0;
}
