// The object registry's promises that no decoder test would notice breaking: handles are never
// reused, new objects are zero-filled, copies keep their own handle, and the refusals.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/registry.h"
#include "support/test_support.h"

namespace {

struct Thing {
  Handle handle;
  int32_t value;
  uint8_t* block;
};

Handle make(int32_t type, int32_t value = 0) {
  Handle h;
  Thing* t;
  obj_create(type, &h, &t);
  if (t != nullptr) t->value = value;
  return h;
}

}  // namespace

TEST(Registry, HandlesAndCopies) {
  test_reset();
  obj_set_last_handle(1);
  obj_register_type(50, sizeof(Thing));
  obj_register_type(51, sizeof(Thing));
  EXPECT_EQ((std::vector<Handle>{make(50, 7), make(51), make(50, 42)}), (std::vector<Handle>{2, 3, 4}));
  EXPECT_EQ(obj_get<Thing>(51, 4), nullptr);
  obj_destroy(50, 2);
  const Handle fresh = make(50);
  EXPECT_EQ(fresh, 5u);  // never reused
  Thing* t = obj_get<Thing>(50, fresh);
  EXPECT_TRUE(t->handle == fresh && t->value == 0 && t->block == nullptr);
  obj_copy(50, 4, fresh);
  EXPECT_EQ(std::make_pair(t->handle, t->value), std::make_pair(fresh, 42));
  Handle h = 2;  // a handle that no longer exists continues with the next greater one
  obj_next(50, &h, &t);
  EXPECT_EQ(h, 4u);
  EXPECT_EQ(g_error, 0);

  // Refusals: copying to a missing object, a type never registered, a handle counter that wraps.
  obj_copy(50, 4, 999);
  EXPECT_EQ(g_error, ERR_OBJECT);
  g_error = 0;
  void* p;
  obj_create(77, &h, &p);
  EXPECT_EQ(std::make_pair(g_error, p), std::make_pair(int32_t{ERR_MEMORY}, (void*)nullptr));
  g_error = 0;
  obj_set_last_handle(UINT32_MAX);
  obj_create(50, &h, &p);
  EXPECT_EQ(std::make_pair(g_error, p), std::make_pair(int32_t{ERR_VALUE}, (void*)nullptr));
  g_error = 0;
  obj_destroy(50, 12345);  // absent: ignored
  EXPECT_EQ(g_error, 0);
}

// What an object owns beyond its block goes with it, whether destroyed or swept by a reset.
TEST(Registry, ATypesReleaseRunsOnDestroyAndOnReset) {
  test_reset();
  static int released = 0;
  released = 0;
  obj_register_type(52, sizeof(Thing), [](void* thing) { released += static_cast<Thing*>(thing)->value; });
  const Handle first = make(52, 1);
  make(52, 10);
  obj_destroy(52, first);
  EXPECT_EQ(released, 1);
  obj_registry_init();
  EXPECT_EQ(released, 11);
}
