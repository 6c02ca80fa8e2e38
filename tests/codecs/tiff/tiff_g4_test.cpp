#include <gtest/gtest.h>

#include <vector>

#include "codecs/tiff/tiff_internal.h"

// b1 is the first changing element of the reference line right of a0 with the colour opposite
// to a0's; b2 the next one. Positions past the line are the line length.
TEST(TiffG4, ChangingElementsAreFoundFromAnyCursor) {
  const std::vector<int32_t> reference = {3, 7, 12, 20};  // white 0-2, black 3-6, ...
  const int32_t L = 32;
  const struct {
    int colour;
    int32_t a0, b1, b2;
  } rows[] = {{0, -1, 3, 7}, {1, 7, 20, L}, {0, 20, L, L}};
  for (size_t start = 0; start <= reference.size() + 1; ++start)
    for (const auto& row : rows) {
      size_t cursor = start;  // a cursor left one past the end must not be read from
      int32_t b1, b2;
      g4_find_b1_b2(reference.data(), reference.size(), row.colour, row.a0, L, &cursor, &b1, &b2);
      EXPECT_EQ(std::vector<int32_t>({b1, b2}), std::vector<int32_t>({row.b1, row.b2})) << start << " " << row.a0;
    }
}
