// What the loaders and the display need of groups beyond plain walking and measuring (which
// every decoder and redraw test exercises): who owns the members, refusals, extent totals.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "support/test_support.h"

namespace {

struct Item {
  Handle handle;
  int32_t value;
};

class Groups : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    obj_register_type(50, sizeof(Item));
    obj_register_type(51, sizeof(Item));
    group_create(&group);
  }
  Handle add(int32_t type, int32_t value = 0) {
    Handle h;
    Item* item;
    obj_create(type, &h, &item);
    item->value = value;
    group_add(group, type, h, item);
    return h;
  }
  Handle group = 0;
};

ExtentRecord* record(uint32_t key, double x0, double y0, double x1, double y1) {
  ExtentRecord* r = nullptr;
  mem_alloc(&r, sizeof(ExtentRecord));
  *r = ExtentRecord{key, Rect{x0, y0, x1, y1}};
  return r;
}

}  // namespace

TEST_F(Groups, DestroyKeepsMembersAndDestroyMembersKeepsTheGroup) {
  Handle a = add(50), b = add(51);
  group_destroy_members(group);
  EXPECT_EQ(std::make_pair(obj_get<Item>(50, a), obj_get<Item>(51, b)), std::make_pair((Item*)nullptr, (Item*)nullptr));
  Handle c = add(50);
  group_destroy(group);
  EXPECT_NE(obj_get<Item>(50, c), nullptr);
  int32_t count;
  group_count(group, 0, &count);
  EXPECT_EQ(g_error, ERR_OBJECT);
  // Adding: zero handles are ignored, a null object is refused.
  g_error = 0;
  group_create(&group);
  group_add(group, 50, 0, nullptr);
  EXPECT_EQ(g_error, 0);
  group_add(group, 50, 5, nullptr);
  EXPECT_EQ(g_error, ERR_VALUE);
  g_error = 0;
  group_measure_one(0, group, 50, add(50), nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}

TEST_F(Groups, ExtentListsKeepTheUnionUnderTheTotalKey) {
  Handle list;
  extent_list_create(group, &list);
  extent_list_add(list, group, 100, record(100, 0, 0, 10, 10));
  extent_list_add(list, group, 101, record(101, 5, -2, 20, 8));
  extent_list_add(list, group, 102, record(102, -4, 1, 3, 30));
  ExtentRecord* total;
  extent_list_get(list, group, &total);
  EXPECT_EQ(total->rect, (Rect{-4, -2, 20, 30}));
  // Removing an object recomputes the total from the others; with none left it keeps its value.
  for (uint32_t key : {102u, 100u, 101u}) {
    ExtentRecord* gone;
    extent_list_get(list, key, &gone);
    extent_list_remove(list, group, key);
    mem_free(&gone);
    if (key == 102) {
      EXPECT_EQ(total->rect, (Rect{0, -2, 20, 10}));
    }
  }
  EXPECT_EQ(total->rect, (Rect{5, -2, 20, 8}));
  extent_list_clear(list);
  extent_list_get(list, group, &total);
  EXPECT_EQ(total, nullptr);
  EXPECT_EQ(g_error, 0);
}
