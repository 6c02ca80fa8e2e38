// The memory a load may use comes from the kernel's own estimate where there is one.
#include <gtest/gtest.h>

#include "platform/fs.h"

#ifdef __linux__
TEST(FsMemory, MemAvailablePlusFreeSwapElseTheFallback) {
  const struct {
    const char* meminfo;
    uint64_t expected;
  } rows[] = {
      {"MemTotal: 9000 kB\nMemFree: 100 kB\nMemAvailable: 2000 kB\nSwapFree: 30 kB\n", (2000 + 30) * 1024},
      {"MemAvailable:   5 kB\n", 5 * 1024},
      {"MemTotal: 9000 kB\nMemFree: 100 kB\nSwapFree: 30 kB\n", 77},  // an old kernel
      {"MemAvailable: lots\n", 77},
      {"", 77},
  };
  for (const auto& row : rows) EXPECT_EQ(fs_memory_from_meminfo(row.meminfo, 77), row.expected) << row.meminfo;
}
#endif
