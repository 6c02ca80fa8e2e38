#include "core/group.h"

#include <cstring>

#include "core/errors.h"
#include "core/memory.h"

ExtentHandler g_extent_handlers[kTypeCount];
DrawHandler g_draw_handlers[kTypeCount];

namespace {

GroupRecord* group_record(Handle group) {
  GroupRecord* record = obj_get<GroupRecord>(TYPE_GROUP, group);
  if (record == nullptr) g_error = ERR_OBJECT;
  return record;
}

GroupMember* member_at(const GroupRecord* group, uint32_t index) {
  return reinterpret_cast<GroupMember*>(sarray_entry(&group->array, kMemberStride, index));
}

ExtentEntry* extent_at(const GroupRecord* list, uint32_t index) {
  return reinterpret_cast<ExtentEntry*>(sarray_entry(&list->array, kExtentStride, index));
}

ExtentEntry* extent_find(const GroupRecord* list, uint32_t key) {
  uint32_t index;
  if (!sarray_find(&list->array, key, kExtentStride, &index)) return nullptr;
  return extent_at(list, index);
}

// Rebuilds a total record from every other record of the list.
void extent_total_recompute(const GroupRecord* list, ExtentRecord* total) {
  bool first = true;
  uint32_t n = sarray_count(&list->array, kExtentStride);
  for (uint32_t i = 0; i < n; ++i) {
    ExtentRecord* record = extent_at(list, i)->record;
    if (record == nullptr || record == total) continue;
    if (first) {
      total->rect = record->rect;
      first = false;
    } else {
      rect_union(total, record, total);
    }
  }
}

}  // namespace

void group_types_init() {
  obj_register_type(TYPE_GROUP, sizeof(GroupRecord),
                    [](void* group) { mem_free(&static_cast<GroupRecord*>(group)->array.entries); });
  handler_tables_clear();
}

void handler_tables_clear() {
  std::memset(g_extent_handlers, 0, sizeof g_extent_handlers);
  std::memset(g_draw_handlers, 0, sizeof g_draw_handlers);
}

void group_create(Handle* group) {
  GroupRecord* record;
  obj_create(TYPE_GROUP, group, &record);
}

void group_add(Handle group, int32_t type, Handle handle, void* ptr) {
  if (group == 0 || handle == 0) return;
  if (ptr == nullptr) {
    g_error = ERR_VALUE;
    return;
  }
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  uint32_t index;
  sarray_insert(&record->array, handle, kMemberStride, &index);
  if (record->array.entries == nullptr) return;
  *member_at(record, index) = GroupMember{handle, type, ptr};
}

void group_remove(Handle group, Handle handle) {
  if (group == 0 || handle == 0) return;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  sarray_remove(&record->array, handle, kMemberStride);
}

void group_destroy_members(Handle group) {
  if (group == 0) return;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  // Destroying a member may not touch this group, but take the array out first so that the
  // walk never sees a half-changed array.
  SortedArray members = record->array;
  record->array = SortedArray{0, nullptr};
  // From the last member back: members are usually the newest objects of their types, so
  // each removal from a type table takes its last entry and moves nothing.
  for (uint32_t i = sarray_count(&members, kMemberStride); i-- > 0;) {
    const auto* member = reinterpret_cast<const GroupMember*>(sarray_entry(&members, kMemberStride, i));
    obj_destroy(member->type, member->handle);
  }
  mem_free(&members.entries);
}

void group_destroy(Handle group) {
  if (group == 0) return;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  mem_free(&record->array.entries);
  record->array.bytes = 0;
  obj_destroy(TYPE_GROUP, group);
}

void group_find_next(GroupRecord* record, int32_t type, Handle* handle, void** ptr) {
  Handle from = *handle;
  *handle = 0;
  *ptr = nullptr;
  if (record == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (from == UINT32_MAX) return;
  uint32_t index;
  if (!sarray_first_at_least(&record->array, from + 1, kMemberStride, &index)) return;
  uint32_t n = sarray_count(&record->array, kMemberStride);
  for (; index < n; ++index) {
    GroupMember* member = member_at(record, index);
    if (member->type == type) {
      *handle = member->handle;
      *ptr = member->object;
      return;
    }
  }
}

void group_find_next(Handle group, int32_t type, Handle* handle, void** ptr) {
  GroupRecord* record = obj_get<GroupRecord>(TYPE_GROUP, group);
  group_find_next(record, type, handle, ptr);
}

void group_find_prev(Handle group, int32_t type, Handle* handle, void** ptr) {
  Handle before = *handle - 1;  // unsigned: 0 starts from the last member
  *handle = 0;
  *ptr = nullptr;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  uint32_t index;
  if (!sarray_last_at_most(&record->array, before, kMemberStride, &index)) return;
  for (int64_t i = index; i >= 0; --i) {
    GroupMember* member = member_at(record, static_cast<uint32_t>(i));
    if (member->type == type) {
      *handle = member->handle;
      *ptr = member->object;
      return;
    }
  }
}

void group_find_last(Handle group, int32_t type, Handle* handle, void** ptr) {
  *handle = 0;
  *ptr = nullptr;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  for (int64_t i = int64_t{sarray_count(&record->array, kMemberStride)} - 1; i >= 0; --i) {
    GroupMember* member = member_at(record, static_cast<uint32_t>(i));
    if (member->type == type) {
      *handle = member->handle;
      *ptr = member->object;
      return;
    }
  }
}

bool group_is_last_of_type(Handle group, int32_t type, Handle handle) {
  Handle next = handle;
  void* ptr;
  group_find_next(group, type, &next, &ptr);
  return next == 0;
}

void group_lookup(GroupRecord* group, Handle handle, void** ptr, int32_t* type) {
  *ptr = nullptr;
  if (group == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  uint32_t index;
  if (!sarray_find(&group->array, handle, kMemberStride, &index)) return;
  GroupMember* member = member_at(group, index);
  *ptr = member->object;
  *type = member->type;
}

void group_count(Handle group, int32_t type, int32_t* count) {
  *count = 0;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  uint32_t n = sarray_count(&record->array, kMemberStride);
  if (type == 0) {
    *count = static_cast<int32_t>(n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i)
    if (member_at(record, i)->type == type) ++*count;
}

void data_object_find(const void* data, Handle* handle, GroupRecord** record) {
  Handle h = 0;
  GroupRecord* r;
  for (obj_next(TYPE_GROUP, &h, &r); h != 0; obj_next(TYPE_GROUP, &h, &r)) {
    if (r->array.entries == data) {
      *handle = h;
      *record = r;
      return;
    }
  }
  *handle = 0;
  *record = nullptr;
}

void text_object_create(const char* text, Handle* handle, void** ptr) {
  GroupRecord* record;
  obj_create(TYPE_GROUP, handle, &record);
  *ptr = record;
  if (record == nullptr) return;
  size_t length = std::strlen(text);
  if (mem_alloc(&record->array.entries, length + 2) == nullptr) return;
  std::memcpy(record->array.entries, text, length + 1);
  record->array.bytes = static_cast<uint32_t>(length + 2);
}

void rect_union(const ExtentRecord* a, const ExtentRecord* b, ExtentRecord* c) {
  if (a == nullptr || b == nullptr || c == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  Rect r;
  r.x_min = b->rect.x_min < a->rect.x_min ? b->rect.x_min : a->rect.x_min;
  r.y_min = b->rect.y_min < a->rect.y_min ? b->rect.y_min : a->rect.y_min;
  r.x_max = b->rect.x_max > a->rect.x_max ? b->rect.x_max : a->rect.x_max;
  r.y_max = b->rect.y_max > a->rect.y_max ? b->rect.y_max : a->rect.y_max;
  c->rect = r;
}

void extent_list_create(uint32_t key, Handle* list) {
  GroupRecord* record;
  obj_create(TYPE_GROUP, list, &record);
  if (record == nullptr || key == 0) return;
  uint32_t index;
  sarray_insert(&record->array, key, kExtentStride, &index);
  if (record->array.entries != nullptr) *extent_at(record, index) = ExtentEntry{key, nullptr};
}

void extent_list_add(Handle list, uint32_t total_key, uint32_t key, ExtentRecord* record) {
  if (list == 0 || key == 0) return;
  GroupRecord* group = group_record(list);
  if (group == nullptr) return;
  uint32_t index;
  sarray_insert(&group->array, key, kExtentStride, &index);
  if (group->array.entries == nullptr) return;
  *extent_at(group, index) = ExtentEntry{key, record};
  ExtentEntry* total = extent_find(group, total_key);
  if (total == nullptr || record == nullptr) return;
  if (total->record != nullptr) {
    rect_union(total->record, record, total->record);
    return;
  }
  ExtentRecord* copy = nullptr;
  if (mem_alloc(&copy, sizeof(ExtentRecord)) == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  *copy = *record;
  copy->key = total_key;
  total->record = copy;
}

void extent_list_remove(Handle list, uint32_t total_key, uint32_t key) {
  if (list == 0 || key == 0) return;
  GroupRecord* group = group_record(list);
  if (group == nullptr) return;
  sarray_remove(&group->array, key, kExtentStride);
  if (total_key == 0) return;
  ExtentEntry* total = extent_find(group, total_key);
  if (total != nullptr && total->record != nullptr) extent_total_recompute(group, total->record);
}

void extent_list_get(Handle list, uint32_t key, ExtentRecord** record) {
  *record = nullptr;
  if (list == 0 || key == 0) return;
  GroupRecord* group = obj_get<GroupRecord>(TYPE_GROUP, list);
  if (group == nullptr) return;
  ExtentEntry* entry = extent_find(group, key);
  if (entry != nullptr) *record = entry->record;
}

void extent_list_clear(Handle list) {
  GroupRecord* group = group_record(list);
  if (group == nullptr) return;
  uint32_t n = sarray_count(&group->array, kExtentStride);
  for (uint32_t i = 0; i < n; ++i) mem_free(&extent_at(group, i)->record);
  group->array.bytes = 0;
  mem_free(&group->array.entries);
}

void group_measure_all(Handle list, Handle group) {
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  // Handlers may add to other lists but never to this group; walk by handle so that the
  // walk stays valid even if the member array moves.
  Handle handle = 0;
  for (;;) {
    uint32_t index;
    if (!sarray_first_at_least(&record->array, handle + 1, kMemberStride, &index)) return;
    GroupMember member = *member_at(record, index);
    handle = member.handle;
    if (member.type >= 0 && member.type < kTypeCount && g_extent_handlers[member.type] != nullptr)
      g_extent_handlers[member.type](member.object, member.type, record, 0, 0, list);
    if (g_error != 0) return;
    record = obj_get<GroupRecord>(TYPE_GROUP, group);
    if (record == nullptr || handle == UINT32_MAX) return;
  }
}

void group_measure_one(Handle list, Handle group, int32_t type, Handle handle, void* ptr) {
  if (handle == 0 || group == 0) return;
  GroupRecord* record = group_record(group);
  if (record == nullptr) return;
  if (ptr == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  if (type >= 0 && type < kTypeCount && g_extent_handlers[type] != nullptr)
    g_extent_handlers[type](ptr, type, record, 0, 0, list);
}
