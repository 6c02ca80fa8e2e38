// Groups (ordered collections of objects of any type), text objects, extent lists, and the
// per-type handler tables through which group members are measured and drawn.
#pragma once
#include <cstdint>

#include "core/rect.h"
#include "core/registry.h"
#include "core/sorted_array.h"

// Type 35 record. Its array holds group members, extent entries, a text, a pixel block or
// update zones, depending on its use.
struct GroupRecord {
  Handle handle;
  SortedArray array;
};
static_assert(kRegistryRecord<GroupRecord>);

struct GroupMember {
  Handle handle;  // sort key
  int32_t type;
  void* object;
};
constexpr uint32_t kMemberStride = sizeof(GroupMember);

struct ExtentRecord {
  uint32_t key;
  Rect rect;
};

struct ExtentEntry {
  uint32_t key;  // object handle, or the handle of the group whose total it holds
  ExtentRecord* record;
};
constexpr uint32_t kExtentStride = sizeof(ExtentEntry);

void group_types_init();  // registers type 35 and clears the handler tables

// Groups. A missing group sets g_error 10.
void group_create(Handle* group);
void group_add(Handle group, int32_t type, Handle handle, void* ptr);
void group_remove(Handle group, Handle handle);
void group_destroy_members(Handle group);
void group_destroy(Handle group);
void group_find_next(Handle group, int32_t type, Handle* handle, void** ptr);
void group_find_next(GroupRecord* group, int32_t type, Handle* handle, void** ptr);
void group_find_prev(Handle group, int32_t type, Handle* handle, void** ptr);
void group_find_last(Handle group, int32_t type, Handle* handle, void** ptr);
bool group_is_last_of_type(Handle group, int32_t type, Handle handle);
void group_lookup(GroupRecord* group, Handle handle, void** ptr, int32_t* type);
void group_count(Handle group, int32_t type, int32_t* count);

template <class T>
void group_find_next(Handle group, int32_t type, Handle* handle, T** ptr) {
  void* p;
  group_find_next(group, type, handle, &p);
  *ptr = static_cast<T*>(p);
}
template <class T>
void group_find_prev(Handle group, int32_t type, Handle* handle, T** ptr) {
  void* p;
  group_find_prev(group, type, handle, &p);
  *ptr = static_cast<T*>(p);
}
template <class T>
void group_find_last(Handle group, int32_t type, Handle* handle, T** ptr) {
  void* p;
  group_find_last(group, type, handle, &p);
  *ptr = static_cast<T*>(p);
}

// Finds the first type-35 object (in handle order) whose data block is `data`: the text
// object of a path, or the pixel block of an image. Outputs 0 and null when none.
void data_object_find(const void* data, Handle* handle, GroupRecord** record);

// Text objects: a type 35 object whose array holds the text and its terminating zero; the
// byte count is the text length + 2.
void text_object_create(const char* text, Handle* handle, void** ptr);
inline const char* text_object_text(const GroupRecord* text) {
  return reinterpret_cast<const char*>(text->array.entries);
}

// Extent lists: one rectangle per object and, under a total key, their union.
void extent_list_create(uint32_t key, Handle* list);
void extent_list_add(Handle list, uint32_t total_key, uint32_t key, ExtentRecord* record);
void extent_list_remove(Handle list, uint32_t total_key, uint32_t key);
void extent_list_get(Handle list, uint32_t key, ExtentRecord** record);
void extent_list_clear(Handle list);
void rect_union(const ExtentRecord* a, const ExtentRecord* b, ExtentRecord* c);

// Per-type handlers, process-wide like the registry whose type numbers index them.
using ExtentHandler = void (*)(void* object, int32_t type, GroupRecord* group, int32_t,
                               int32_t, Handle list);
using DrawHandler = void (*)(void* object, int32_t type, Handle handle, const Rect* world,
                             void* window, void* view);
extern ExtentHandler g_extent_handlers[kTypeCount];
extern DrawHandler g_draw_handlers[kTypeCount];
void handler_tables_clear();

void group_measure_all(Handle list, Handle group);
void group_measure_one(Handle list, Handle group, int32_t type, Handle handle, void* ptr);
