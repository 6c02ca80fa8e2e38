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

double area(const std::vector<Rect>& rects) {
  double a = 0;
  for (const Rect& r : rects) a += (r.x_max - r.x_min) * (r.y_max - r.y_min);
  return a;
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
  auto r = rects_of(zone);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].x_max, 20);
  zone_clear(zone);
  Rect* first;
  EXPECT_EQ(zone_first(zone, &first), 0);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Zones, SubtractingAnInnerRectangleLeavesFourPiecesInOrder) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_subtract(zone, Rect{3, 4, 6, 7});
  auto r = rects_of(zone);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].y_max, 4);   // above
  EXPECT_EQ(r[1].y_min, 7);   // below
  EXPECT_EQ(r[2].x_max, 3);   // left, within the band
  EXPECT_EQ(r[2].y_min, 4);
  EXPECT_EQ(r[3].x_min, 6);   // right
  EXPECT_DOUBLE_EQ(area(r), 100 - 9);
}

TEST_F(Zones, CoveringRemovesAndTouchingKeeps) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{20, 0, 30, 10});
  zone_subtract(zone, Rect{10, 0, 20, 10});  // touches both: nothing changes
  EXPECT_EQ(rects_of(zone).size(), 2u);
  zone_subtract(zone, Rect{-1, -1, 11, 11});
  auto r = rects_of(zone);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].x_min, 20);
}

TEST_F(Zones, ClipDropsWhatItMisses) {
  zone_add(zone, Rect{0, 0, 10, 10});
  zone_add(zone, Rect{50, 50, 60, 60});
  zone_clip(zone, Rect{5, 5, 55, 8});
  auto r = rects_of(zone);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].x_min, 5);
  EXPECT_EQ(r[0].y_max, 8);
  zone_clip(zone, Rect{100, 100, 200, 200});
  Rect* first;
  EXPECT_EQ(zone_first(zone, &first), 0);
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
  EXPECT_EQ(out.x_min, 5);
  EXPECT_EQ(out.y_min, 0);
  EXPECT_EQ(out.x_max, 10);
  EXPECT_EQ(out.y_max, 6);
}

TEST(Rects, RoundingUpAndSnapping) {
  Rect r{2.5, 2.0000000005, -2.5, -2.0};
  rect_round_up(&r);
  EXPECT_EQ(r.x_min, 3);
  EXPECT_EQ(r.y_min, 2);
  EXPECT_EQ(r.x_max, -2);
  EXPECT_EQ(r.y_max, -1);
  EXPECT_EQ(snap_coordinate(10.0000000004), 10);
  EXPECT_EQ(snap_coordinate(10.2), 11);
  EXPECT_EQ(snap_coordinate(7.0), 7);
}

TEST(Transforms, WindowAndWorldAreInverseUpToSnapping) {
  View v{};
  v.origin_x = 10;
  v.origin_y = -5;
  v.scale_x = v.scale_y = 2.0;
  Rect w = view_world_to_window(&v, Rect{0, 10, 3.3, 20});
  EXPECT_EQ(w.x_min, 20);
  EXPECT_EQ(w.y_min, 10);
  EXPECT_EQ(w.x_max, 27);  // 26.6 snaps outward
  EXPECT_EQ(w.y_max, 30);
  Rect back = view_window_to_world(&v, Rect{20, 10, 26, 30});
  EXPECT_DOUBLE_EQ(back.x_min, 0);
  EXPECT_DOUBLE_EQ(back.x_max, 3);
  EXPECT_DOUBLE_EQ(back.y_max, 20);
  ImageRecord image{};
  image.width = 4;
  image.height = 3;
  Rect clamped = image_world_to_image(&image, Rect{-2, 1, 9, 2.5});
  EXPECT_EQ(clamped.x_min, 0);
  EXPECT_EQ(clamped.x_max, 4);
  EXPECT_EQ(clamped.y_max, 2.5);
}

}  // namespace
