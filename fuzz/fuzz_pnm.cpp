// Any bytes through the PNM decoder: the second byte picks the variant (P1 to P6).
#include "fuzz_support.h"
#include "image/file_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr int32_t kVariants[6] = {FORMAT_PBM_ASCII, FORMAT_PGM_ASCII, FORMAT_PPM_ASCII,
                                           FORMAT_PBM_RAW,   FORMAT_PGM_RAW,   FORMAT_PPM_RAW};
  int32_t variant = size >= 2 ? (data[1] - '1') % 6 : 0;
  if (variant < 0) variant += 6;
  fuzz_decode(data, size, kVariants[variant]);
  return 0;
}
