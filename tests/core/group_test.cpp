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
  Handle add(int32_t type) {
    Handle h;
    Item* item;
    obj_create(type, &h, &item);
    group_add(group, type, h, item);
    return h;
  }
  Handle group = 0;
};

std::vector<Handle> walk_next(Handle group, int32_t type) {
  std::vector<Handle> seen;
  Handle h = 0;
  void* p;
  for (group_find_next(group, type, &h, &p); h != 0; group_find_next(group, type, &h, &p))
    seen.push_back(h);
  return seen;
}

}  // namespace

TEST_F(Groups, MembersAreVisitedInHandleOrderBothWays) {
  Handle a = add(50), b = add(51), c = add(50), d = add(50);
  // Insert out of order: remove and re-add the first one.
  group_remove(group, a);
  Item* item = obj_get<Item>(50, a);
  group_add(group, 50, a, item);
  EXPECT_EQ(walk_next(group, 50), (std::vector<Handle>{a, c, d}));
  std::vector<Handle> back;
  Handle h = 0;
  void* p;
  for (group_find_prev(group, 50, &h, &p); h != 0; group_find_prev(group, 50, &h, &p)) back.push_back(h);
  EXPECT_EQ(back, (std::vector<Handle>{d, c, a}));
  group_find_last(group, 51, &h, &p);
  EXPECT_EQ(h, b);
  EXPECT_TRUE(group_is_last_of_type(group, 51, b));
  EXPECT_FALSE(group_is_last_of_type(group, 50, c));
  EXPECT_TRUE(walk_next(group, 52).empty());
  int32_t all, of_type;
  group_count(group, 0, &all);
  group_count(group, 50, &of_type);
  EXPECT_EQ(std::make_pair(all, of_type), std::make_pair(4, 3));
  EXPECT_EQ(g_error, 0);
}

TEST_F(Groups, DestroyKeepsMembersAndDestroyMembersKeepsTheGroup) {
  Handle a = add(50), b = add(51);
  group_destroy_members(group);
  EXPECT_EQ(obj_get<Item>(50, a), nullptr);
  EXPECT_EQ(obj_get<Item>(51, b), nullptr);
  EXPECT_TRUE(walk_next(group, 50).empty());
  Handle c = add(50);
  group_destroy(group);
  EXPECT_NE(obj_get<Item>(50, c), nullptr);
  int32_t count;
  group_count(group, 0, &count);
  EXPECT_EQ(g_error, ERR_OBJECT);
}

TEST_F(Groups, AddRefusesNullObjectsAndIgnoresZeroHandles) {
  group_add(group, 50, 0, nullptr);
  group_add(0, 50, 5, nullptr);
  EXPECT_EQ(g_error, 0);
  group_add(group, 50, 5, nullptr);
  EXPECT_EQ(g_error, ERR_VALUE);
}

TEST_F(Groups, TextObjectsHoldTheirText) {
  Handle h;
  void* p;
  text_object_create("", &h, &p);
  EXPECT_EQ(static_cast<GroupRecord*>(p)->array.bytes, 2u);
  text_object_create("abc", &h, &p);
  EXPECT_STREQ(text_object_text(static_cast<GroupRecord*>(p)), "abc");
  EXPECT_EQ(static_cast<GroupRecord*>(p)->array.bytes, 5u);
}

namespace {
ExtentRecord* record(uint32_t key, double x0, double y0, double x1, double y1) {
  ExtentRecord* r = nullptr;
  mem_alloc(&r, sizeof(ExtentRecord));
  *r = ExtentRecord{key, Rect{x0, y0, x1, y1}};
  return r;
}
}  // namespace

TEST_F(Groups, ExtentListsKeepTheUnionUnderTheTotalKey) {
  Handle list;
  extent_list_create(group, &list);
  extent_list_add(list, group, 100, record(100, 0, 0, 10, 10));
  extent_list_add(list, group, 101, record(101, 5, -2, 20, 8));
  ExtentRecord* total;
  extent_list_get(list, group, &total);
  EXPECT_EQ(total->rect, (Rect{0, -2, 20, 10}));
  EXPECT_EQ(total->key, group);
  extent_list_add(list, group, 102, record(102, -4, 1, 3, 30));
  EXPECT_EQ(total->rect, (Rect{-4, -2, 20, 30}));
  // Removing an object recomputes the total from the others (the removed record is the
  // caller's to release).
  auto remove = [&](uint32_t key) {
    ExtentRecord* gone;
    extent_list_get(list, key, &gone);
    extent_list_remove(list, group, key);
    mem_free(&gone);
  };
  remove(102);
  EXPECT_EQ(total->rect, (Rect{0, -2, 20, 10}));
  remove(100);
  remove(101);
  EXPECT_EQ(total->rect, (Rect{5, -2, 20, 8}));  // nothing left: the total keeps its last value
  extent_list_clear(list);
  extent_list_get(list, group, &total);
  EXPECT_EQ(total, nullptr);
  EXPECT_EQ(g_error, 0);
}

namespace {
int g_measured = 0;
void count_measure(void* object, int32_t type, GroupRecord*, int32_t, int32_t, Handle) {
  g_measured += static_cast<Item*>(object)->value + type * 0;
}
}  // namespace

TEST_F(Groups, MeasureCallsTheHandlerOfEachMembersType) {
  Handle a = add(50), b = add(51), c = add(50);
  obj_get<Item>(50, a)->value = 1;
  obj_get<Item>(51, b)->value = 10;
  obj_get<Item>(50, c)->value = 100;
  g_extent_handlers[50] = count_measure;
  g_measured = 0;
  group_measure_all(0, group);
  EXPECT_EQ(g_measured, 101);  // type 51 has no handler
  group_measure_one(0, group, 50, c, obj_get<Item>(50, c));
  EXPECT_EQ(g_measured, 201);
  group_measure_one(0, group, 50, c, nullptr);
  EXPECT_EQ(g_error, ERR_OBJECT);
}
