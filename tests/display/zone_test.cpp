#include <gtest/gtest.h>

#include "core/errors.h"
#include "display/transform.h"
#include "support/test_support.h"
#include "viewer/zone.h"

namespace {

std::vector<Rect> rects_of(Handle zone) {
  std::vector<Rect> out;
  Rect* first;
  if (!zone_first(zone, &first)) return out;
  out.assign(first, first + zone_count(zone));
  return out;
}

class Zones : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    zone_create(77, &zone);
  }
  Handle zone = 0;
};

TEST_F(Zones, AKeepsItsOwnerInTheFirstWordAndAppendsInOrder) {
  EXPECT_EQ(obj_get<GroupRecord>(TYPE_GROUP, zone)->handle, 77u);
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{5, 5, 20, 20});  // overlapping rectangles are not merged
  EXPECT_EQ(rects_of(zone), (Rects{{0, 0, 10, 10}, {5, 5, 20, 20}}));
  zone_clear(zone);
  Rect* first;
  EXPECT_EQ(zone_first(zone, &first), 0);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Zones, SubtractingAnInnerRectangleLeavesFourPiecesInOrder) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_subtract(zone, Rect{3, 4, 6, 7});
  // Above, below, then left and right within the band.
  EXPECT_EQ(rects_of(zone), (Rects{{0, 0, 10, 4}, {0, 7, 10, 10}, {0, 4, 3, 7}, {6, 4, 10, 7}}));
}

TEST_F(Zones, CoveringRemovesAndTouchingKeeps) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{20, 0, 30, 10});
  zone_subtract(zone, Rect{10, 0, 20, 10});  // touches both: nothing changes
  EXPECT_EQ(rects_of(zone).size(), 2u);
  zone_subtract(zone, Rect{-1, -1, 11, 11});
  EXPECT_EQ(rects_of(zone), (Rects{{20, 0, 30, 10}}));
}

TEST_F(Zones, ClipDropsWhatItMisses) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{50, 50, 60, 60});
  zone_clip(zone, Rect{5, 5, 55, 8});
  EXPECT_EQ(rects_of(zone), (Rects{{5, 5, 10, 8}}));
  zone_clip(zone, Rect{100, 100, 200, 200});
  EXPECT_TRUE(rects_of(zone).empty());
  EXPECT_EQ(g_error, 0);
}

TEST_F(Zones, MissingZoneIsAnObjectError) {
  Rect* first;
  EXPECT_EQ(zone_first(999999, &first), 0);
  EXPECT_EQ(g_error, ERR_OBJECT);
  g_error = 0;
  zone_add(999999, Rect{0, 0, 1, 1});
  EXPECT_EQ(g_error, ERR_OBJECT);
  g_error = 0;
  zone_destroy(0);
  EXPECT_EQ(g_error, 0);
}

TEST(Rects, IntersectionIgnoresTouchingEdges) {
  Rect out;
  EXPECT_EQ(rect_intersect(Rect{0, 0, 10, 10}, Rect{10, 0, 20, 10}, &out), 0);
  ASSERT_EQ(rect_intersect(Rect{0, 0, 10, 10}, Rect{5, -5, 20, 6}, &out), 1);
  EXPECT_EQ(out, (Rect{5, 0, 10, 6}));
}

TEST(Rects, RoundingUpAndSnapping) {
  Rect r{2.5, 2.0000000005, -2.5, -2.0};
  rect_round_up(&r);
  EXPECT_EQ(r, (Rect{3, 2, -2, -1}));
  EXPECT_EQ(snap_coordinate(10.0000000004), 10);
  EXPECT_EQ(snap_coordinate(10.2), 11);
  EXPECT_EQ(snap_coordinate(7.0), 7);
}

TEST(Transforms, WindowAndWorldAreInverseUpToSnapping) {
  View v{};
  v.origin_x = 10;
  v.origin_y = -5;
  v.scale_x = v.scale_y = 2.0;
  EXPECT_EQ(view_world_to_window(&v, Rect{0, 10, 3.3, 20}), (Rect{20, 10, 27, 30}));  // 26.6 snaps outward
  EXPECT_EQ(view_window_to_world(&v, Rect{20, 10, 26, 30}), (Rect{0, 10, 3, 20}));
  ImageRecord image{};
  image.width = 4;
  image.height = 3;
  EXPECT_EQ(image_world_to_image(&image, Rect{-2, 1, 9, 2.5}), (Rect{0, 1, 4, 2.5}));
}

}  // namespace
