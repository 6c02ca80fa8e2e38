#include <gtest/gtest.h>

#include <vector>

#include "codecs/tiff/tiff_internal.h"

// b1 is the first changing element of the reference line right of a0 with the colour opposite
// to a0's; b2 the next one. Positions past the line are the line length.
TEST(TiffG4, ChangingElementsAreFoundFromAnyCursor) {
  const std::vector<int32_t> reference = {3, 7, 12, 20};  // white 0-2, black 3-6, ...
  const int32_t L = 32;
  for (size_t start = 0; start <= reference.size() + 1; ++start) {
    size_t cursor = start;  // a cursor left one past the end must not be read from
    int32_t b1, b2;
    g4_find_b1_b2(reference.data(), reference.size(), 0, -1, L, &cursor, &b1, &b2);
    EXPECT_EQ(b1, 3) << start;
    EXPECT_EQ(b2, 7) << start;
    cursor = start;
    g4_find_b1_b2(reference.data(), reference.size(), 1, 7, L, &cursor, &b1, &b2);
    EXPECT_EQ(b1, 20) << start;
    EXPECT_EQ(b2, L) << start;
    cursor = start;
    g4_find_b1_b2(reference.data(), reference.size(), 0, 20, L, &cursor, &b1, &b2);
    EXPECT_EQ(b1, L) << start;
    EXPECT_EQ(b2, L) << start;
  }
}
