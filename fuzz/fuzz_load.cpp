// Any bytes through identification and the whole load path.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_decode(data, size, -1);
  return 0;
}
