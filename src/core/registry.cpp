#include "core/registry.h"

#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "core/sorted_array.h"

namespace {

constexpr uint32_t kEntryStride = sizeof(RegistryEntry);

// The objects of one type number: registry entries sorted by handle, the object size (0 while
// the type is not registered) and what releases an object's own blocks.
struct TypeTable {
  SortedArray entries;
  int32_t size;
  ObjectRelease release;
};

// The registry is process-wide: every subsystem finds objects by type and handle alone.
TypeTable g_type_tables[kTypeCount];
Handle g_last_handle = 1;

Handle default_handle_source() { return g_last_handle + 1; }
Handle (*g_handle_source)() = default_handle_source;

RegistryEntry* find_entry(int32_t type, Handle handle) {
  if (type < 0 || type >= kTypeCount) return nullptr;
  uint32_t index;
  SortedArray* entries = &g_type_tables[type].entries;
  if (!sarray_find(entries, handle, kEntryStride, &index)) return nullptr;
  return reinterpret_cast<RegistryEntry*>(sarray_entry(entries, kEntryStride, index));
}

void release_object(const TypeTable& table, void* block) {
  if (table.release != nullptr) table.release(block);
  mem_free(&block);
}

}  // namespace

void obj_registry_init() {
  // At start-up the tables are empty; a second initialisation (tests, fuzzing) first releases
  // every object that the previous run left, so that nothing leaks.
  for (TypeTable& table : g_type_tables) {
    SortedArray& entries = table.entries;
    for (uint32_t i = 0; i < sarray_count(&entries, kEntryStride); ++i)
      release_object(table, reinterpret_cast<RegistryEntry*>(sarray_entry(&entries, kEntryStride, i))->object);
    mem_free(&entries.entries);
    table = TypeTable{SortedArray{0, nullptr}, 0, nullptr};
  }
}

void obj_register_type(int32_t type, int32_t size, ObjectRelease release) {
  if (type >= 0 && type < kTypeCount) g_type_tables[type] = TypeTable{g_type_tables[type].entries, size, release};
}

int32_t obj_type_size(int32_t type) {
  return type >= 0 && type < kTypeCount ? g_type_tables[type].size : 0;
}

Handle obj_new_handle() {
  g_last_handle = g_handle_source();
  return g_last_handle;
}

void obj_set_last_handle(Handle handle) { g_last_handle = handle; }

void obj_create(int32_t type, Handle* handle, void** ptr) {
  *ptr = nullptr;
  *handle = obj_new_handle();
  if (*handle == 0) {
    g_error = ERR_VALUE;
    return;
  }
  obj_create_with_handle(type, *handle, ptr);
  if (*ptr != nullptr) std::memcpy(*ptr, handle, sizeof(Handle));
}

void obj_create_with_handle(int32_t type, Handle handle, void** ptr) {
  *ptr = nullptr;
  int32_t size = obj_type_size(type);
  if (size < 1) {
    g_error = ERR_MEMORY;
    return;
  }
  void* block = nullptr;
  if (mem_alloc(&block, static_cast<size_t>(size)) == nullptr) return;
  std::memset(block, 0, static_cast<size_t>(size));
  SortedArray* table = &g_type_tables[type].entries;
  uint32_t index;
  sarray_insert(table, handle, kEntryStride, &index);
  if (g_error == ERR_MEMORY && table->entries == nullptr) {
    mem_free(&block);
    return;
  }
  auto* entry = reinterpret_cast<RegistryEntry*>(sarray_entry(table, kEntryStride, index));
  *entry = RegistryEntry{handle, 0, block};
  *ptr = block;
}

void obj_get(int32_t type, Handle handle, void** ptr) {
  RegistryEntry* entry = find_entry(type, handle);
  *ptr = entry != nullptr ? entry->object : nullptr;
}

void obj_destroy(int32_t type, Handle handle) {
  RegistryEntry* entry = find_entry(type, handle);
  if (entry == nullptr) return;
  release_object(g_type_tables[type], entry->object);
  sarray_remove(&g_type_tables[type].entries, handle, kEntryStride);
}

void obj_copy(int32_t type, Handle src, Handle dst) {
  RegistryEntry* from = find_entry(type, src);
  RegistryEntry* to = find_entry(type, dst);
  if (from == nullptr || to == nullptr) {
    g_error = ERR_OBJECT;
    return;
  }
  int32_t size = obj_type_size(type);
  if (size <= 4) return;
  std::memcpy(static_cast<uint8_t*>(to->object) + 4, static_cast<uint8_t*>(from->object) + 4,
              static_cast<size_t>(size) - 4);
}

void obj_next(int32_t type, Handle* handle, void** ptr) {
  Handle from = *handle;
  *handle = 0;
  *ptr = nullptr;
  if (type < 0 || type >= kTypeCount || from == UINT32_MAX) return;
  SortedArray* table = &g_type_tables[type].entries;
  uint32_t index;
  if (!sarray_first_at_least(table, from + 1, kEntryStride, &index)) return;
  auto* entry = reinterpret_cast<RegistryEntry*>(sarray_entry(table, kEntryStride, index));
  *handle = entry->handle;
  *ptr = entry->object;
}
