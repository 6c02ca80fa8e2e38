// Any bytes through the GIF decoder, whatever their first bytes say. Inputs whose logical
// screen alone claims more than 65536 pixels are passed over: filling such pictures
// frame after frame only slows the search (their refusal is covered by the tests).
#include <cstdint>

#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 10) {
    const uint32_t width = data[6] | (data[7] << 8), height = data[8] | (data[9] << 8);
    if (uint64_t{width} * height > (uint64_t{1} << 16)) return 0;
  }
  fuzz_decode(data, size, FORMAT_GIF);
  return 0;
}
