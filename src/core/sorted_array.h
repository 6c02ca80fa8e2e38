// Arrays of fixed-stride entries kept in ascending order of their first 32-bit word. They
// underlie the registry's type tables, groups, extent lists and update zones.
#pragma once
#include <cstddef>
#include <cstdint>

struct SortedArray {
  uint32_t bytes;    // bytes in use, a multiple of the stride
  uint8_t* entries;  // null until something was inserted
};

inline uint32_t sarray_count(const SortedArray* array, uint32_t stride) {
  return array->bytes / stride;
}
inline uint32_t sarray_key(const SortedArray* array, uint32_t stride, uint32_t index) {
  return *reinterpret_cast<const uint32_t*>(array->entries + static_cast<size_t>(index) * stride);
}
inline uint8_t* sarray_entry(const SortedArray* array, uint32_t stride, uint32_t index) {
  return array->entries + static_cast<size_t>(index) * stride;
}

bool sarray_find(const SortedArray* array, uint32_t key, uint32_t stride, uint32_t* index);
bool sarray_first_at_least(const SortedArray* array, uint32_t key, uint32_t stride,
                           uint32_t* index);
bool sarray_last_at_most(const SortedArray* array, uint32_t key, uint32_t stride,
                         uint32_t* index);
void sarray_insert(SortedArray* array, uint32_t key, uint32_t stride, uint32_t* index);
void sarray_remove(SortedArray* array, uint32_t key, uint32_t stride);
void sarray_resize(SortedArray* array, int32_t delta_bytes);
// Capacity in bytes of the entries block for a byte count: whole 1024-byte steps.
inline uint32_t sarray_capacity(uint32_t bytes) { return (bytes / 1024 + 1) * 1024; }
