// Any bytes through the ECW decoder. The decoder asks the vendor's library for everything, so
// this target only reaches past the loader's failure path when a library is found: run it
// with LD_LIBRARY_PATH pointing at the tests' stand-in library (libNCSEcw.so), which turns
// the file's first bytes into the library's answers (sizes, band counts, refusals).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_load(data, size, 16);
  return 0;
}
