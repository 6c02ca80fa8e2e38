// Any bytes through the JPEG decoder, whatever their first bytes say.
#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_decode(data, size, FORMAT_JPEG);
  return 0;
}
