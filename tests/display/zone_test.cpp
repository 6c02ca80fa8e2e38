// Zones: the order of the pieces a subtraction leaves (the redraw tests check what gets
// painted, not in which order), and the refusals.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "support/test_support.h"
#include "display/zone.h"

TEST(Zones, SubtractionLeavesPiecesInOrderAndMissingZonesAreErrors) {
  test_reset();
  Handle zone = 0;
  zone_create(77, &zone);
  EXPECT_EQ(obj_get<GroupRecord>(TYPE_GROUP, zone)->handle, 77u);  // the owner in the first word
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{20, 0, 30, 10});
  zone_subtract(zone, Rect{10, 0, 20, 10});  // touches both: nothing changes
  zone_subtract(zone, Rect{3, 4, 6, 7});
  Rect* first;
  ASSERT_TRUE(zone_first(zone, &first));
  // Above, below, then left and right within the band; the untouched one stays first.
  EXPECT_EQ(Rects(first, first + zone_count(zone)),
            (Rects{{20, 0, 30, 10}, {0, 0, 10, 4}, {0, 7, 10, 10}, {0, 4, 3, 7}, {6, 4, 10, 7}}));
  EXPECT_EQ(g_error, 0);
  EXPECT_EQ(zone_first(999999, &first), 0);
  EXPECT_EQ(g_error, ERR_OBJECT);
  g_error = 0;
  zone_add(999999, Rect{0, 0, 1, 1});
  EXPECT_EQ(g_error, ERR_OBJECT);
  g_error = 0;
  zone_destroy(0);
  EXPECT_EQ(g_error, 0);
}
