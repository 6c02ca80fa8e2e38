#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "core/registry.h"
#include "core/sorted_array.h"
#include "support/test_support.h"

namespace {

struct Thing {
  Handle handle;
  int32_t value;
  uint8_t* block;
};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    obj_set_last_handle(1);
    obj_register_type(50, sizeof(Thing));
    obj_register_type(51, sizeof(Thing));
  }
};

Handle make(int32_t type, int32_t value = 0) {
  Handle h;
  Thing* t;
  obj_create(type, &h, &t);
  if (t != nullptr) t->value = value;
  return h;
}

}  // namespace

TEST_F(Registry, HandlesStartAtTwoAndAreSharedByAllTypes) {
  EXPECT_EQ((std::vector<Handle>{make(50), make(51), make(50)}), (std::vector<Handle>{2, 3, 4}));
  Thing* t = obj_get<Thing>(50, 4);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->handle, 4u);  // every object starts with its own handle
  EXPECT_EQ(obj_get<Thing>(51, 4), nullptr);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Registry, ObjectsAreZeroFilledAndHandlesNeverReused) {
  Handle a = make(50, 7);
  obj_destroy(50, a);
  Handle b = make(50);
  EXPECT_GT(b, a);
  Thing* t = obj_get<Thing>(50, b);
  EXPECT_TRUE(t->value == 0 && t->block == nullptr);
}

TEST_F(Registry, WalkVisitsObjectsInHandleOrderAndSkipsDestroyed) {
  make(50);  // 2
  make(50);  // 3
  make(50);  // 4
  obj_destroy(50, 3);
  std::vector<Handle> seen;
  Handle h = 0;
  Thing* t;
  for (obj_next(50, &h, &t); h != 0; obj_next(50, &h, &t)) seen.push_back(h);
  EXPECT_EQ(seen, (std::vector<Handle>{2, 4}));
  h = 3;  // a handle that no longer exists continues with the next greater one
  obj_next(50, &h, &t);
  EXPECT_EQ(h, 4u);
  h = 0;
  obj_next(60, &h, &t);  // a type with no objects
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(g_error, 0);
}

TEST_F(Registry, CopyKeepsTheDestinationHandle) {
  Handle a = make(50, 42), b = make(50, 1);
  obj_copy(50, a, b);
  Thing* t = obj_get<Thing>(50, b);
  EXPECT_EQ(std::make_pair(t->handle, t->value), std::make_pair(b, 42));
  obj_copy(50, a, 999);
  EXPECT_EQ(g_error, ERR_OBJECT);
}

TEST_F(Registry, RefusalsSetTheirCodes) {
  Handle h;
  void* p;
  obj_create(77, &h, &p);  // never registered
  EXPECT_EQ(g_error, ERR_MEMORY);
  EXPECT_EQ(p, nullptr);
  g_error = 0;
  obj_set_last_handle(UINT32_MAX);  // the counter wraps to 0: no handle
  obj_create(50, &h, &p);
  EXPECT_EQ(g_error, ERR_VALUE);
  EXPECT_EQ(p, nullptr);
  g_error = 0;
  obj_destroy(50, 12345);  // absent: ignored
  EXPECT_EQ(g_error, 0);
}

TEST(Memory, SlotsAreFilledAndCleared) {
  g_error = 0;
  void* slot = nullptr;
  mem_free(&slot);  // empty slot: nothing
  EXPECT_NE(mem_realloc(&slot, 16), nullptr);  // empty slot: allocates
  std::memset(slot, 1, 16);
  EXPECT_NE(mem_realloc(&slot, 4096), nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(slot)[15], 1);
  mem_free(&slot);
  EXPECT_EQ(slot, nullptr);
  size_t limit = mem_limit();
  mem_set_limit(1024);
  EXPECT_EQ(mem_alloc(&slot, 2048), nullptr);
  EXPECT_EQ(g_error, ERR_MEMORY);
  mem_set_limit(limit);
  g_error = 0;
  char* scratch = static_cast<char*>(mem_scratch(100));
  ASSERT_NE(scratch, nullptr);
  scratch[109] = 'x';  // size + 10 bytes
  EXPECT_EQ(mem_scratch(50), scratch);  // never shrinks
}

TEST(SortedArrays, SearchesFollowTheirBoundaries) {
  g_error = 0;
  SortedArray a{0, nullptr};
  uint32_t index;
  for (uint32_t key : {9u, 5u}) {
    sarray_insert(&a, key, 12, &index);
    std::memcpy(sarray_entry(&a, 12, index), &key, 4);
  }
  // Each search as (found, index); the index is only meaningful where it is checked.
  auto search = [&](bool (*fn)(const SortedArray*, uint32_t, uint32_t, uint32_t*), uint32_t key) {
    index = 99;
    bool found = fn(&a, key, 12, &index);
    return std::make_pair(found, index);
  };
  EXPECT_EQ(search(sarray_first_at_least, 7), std::make_pair(true, 1u));
  EXPECT_EQ(search(sarray_first_at_least, 10), std::make_pair(false, 2u));
  EXPECT_EQ(search(sarray_last_at_most, 7), std::make_pair(true, 0u));
  EXPECT_FALSE(sarray_last_at_most(&a, 4, 12, &index));
  EXPECT_EQ(search(sarray_find, 9), std::make_pair(true, 1u));
  EXPECT_FALSE(sarray_find(&a, 6, 12, &index));
  mem_free(&a.entries);
}

TEST(SortedArrays, ManyKeysStayOrderedAndTheBlockGrowsInSteps) {
  g_error = 0;
  SortedArray a{0, nullptr};
  uint32_t index;
  // Keys inserted in a scrambled order come out sorted; every search agrees with a scan.
  for (uint32_t i = 0; i < 86; ++i) {
    uint32_t key = (i * 37) % 86 * 2 + 2;
    sarray_insert(&a, key, 12, &index);
    std::memcpy(sarray_entry(&a, 12, index), &key, 4);
  }
  EXPECT_EQ(a.bytes, 86u * 12);
  EXPECT_EQ(sarray_capacity(a.bytes), 2048u);  // the 86th 12-byte entry needs a second step
  for (uint32_t i = 1; i < 86; ++i) EXPECT_LT(sarray_key(&a, 12, i - 1), sarray_key(&a, 12, i));
  for (uint32_t key = 0; key < 180; ++key) {
    bool found = sarray_find(&a, key, 12, &index);
    EXPECT_EQ(found, key >= 2 && key <= 172 && key % 2 == 0) << key;
    if (sarray_first_at_least(&a, key, 12, &index)) {
      EXPECT_GE(sarray_key(&a, 12, index), key);
    }
    if (index > 0 && index < 86) {
      EXPECT_LT(sarray_key(&a, 12, index - 1), key);
    }
    if (sarray_last_at_most(&a, key, 12, &index)) {
      EXPECT_LE(sarray_key(&a, 12, index), key);
      if (index + 1 < 86) {
        EXPECT_GT(sarray_key(&a, 12, index + 1), key);
      }
    }
  }
  sarray_remove(&a, 172, 12);
  EXPECT_EQ(sarray_capacity(a.bytes), 1024u);
  sarray_remove(&a, 3, 12);  // absent: ignored
  EXPECT_EQ(a.bytes, 85u * 12);
  mem_free(&a.entries);
}
