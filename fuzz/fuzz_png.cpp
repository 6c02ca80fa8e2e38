// PNG files of any content through the PNG decoder.
#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_decode(data, size, FORMAT_PNG);
  return 0;
}
