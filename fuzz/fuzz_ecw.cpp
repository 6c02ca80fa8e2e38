// Any bytes through the ECW decoder. The vendor's library reads a file by its name, so this is
// the one target that writes its input to a file (in memory-backed storage, removed after each
// input). The decoder asks the library for everything: run it with LD_LIBRARY_PATH pointing
// at the tests' stand-in library (libNCSEcw.so), which turns the file's first bytes into the
// library's answers (sizes, band counts, refusals).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "codecs/decoders.h"
#include "core/errors.h"
#include "core/group.h"
#include "fuzz_support.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/korvela-fuzz-ecw-" + std::to_string(getpid());
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);
  fuzz_begin();
  Handle group = 0, handle = 0;
  ImageRecord* image = nullptr;
  group_create(&group);
  obj_create(TYPE_IMAGE, &handle, &image);
  if (image == nullptr) return 0;
  std::snprintf(image->name, sizeof image->name, "%s", path.c_str());
  decode_ecw(image, group);
  std::remove(path.c_str());
  // Leave nothing behind, in the order the load dispatch undoes a failed decode.
  g_error = 0;
  image_destroy(handle);
  fuzz_end(group);
  return 0;
}
