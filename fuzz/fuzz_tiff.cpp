// Any bytes through the TIFF decoder, whatever identification would say of them.
#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_decode(data, size, FORMAT_TIFF);
  return 0;
}
