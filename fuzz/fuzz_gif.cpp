// Any bytes through the GIF decoder, whatever their first bytes say.
#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_load(data, size, FORMAT_GIF);
  return 0;
}
