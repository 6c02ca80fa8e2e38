#include "core/sorted_array.h"

#include <cstring>

#include "core/errors.h"
#include "core/memory.h"

namespace {
// Narrows [lo, hi] (at least three entries) until hi = lo + 1 with a[lo] <= key < a[hi] where
// the keys allow it.
void halve(const SortedArray* array, uint32_t key, uint32_t stride, uint32_t* lo, uint32_t* hi) {
  do {
    uint32_t mid = (*lo + *hi) / 2;
    if (sarray_key(array, stride, mid) > key) *hi = mid; else *lo = mid;
  } while (*hi - *lo > 1);
}
}  // namespace

bool sarray_find(const SortedArray* array, uint32_t key, uint32_t stride, uint32_t* index) {
  uint32_t n = sarray_count(array, stride);
  if (n == 0) return false;
  uint32_t lo = 0, hi = n - 1;
  if (hi > 1) halve(array, key, stride, &lo, &hi);
  if (sarray_key(array, stride, lo) == key) { *index = lo; return true; }
  if (sarray_key(array, stride, hi) == key) { *index = hi; return true; }
  return false;
}


bool sarray_first_at_least(const SortedArray* array, uint32_t key, uint32_t stride,
                           uint32_t* index) {
  uint32_t n = sarray_count(array, stride);
  *index = n;
  if (n == 0 || key > sarray_key(array, stride, n - 1)) return false;
  uint32_t lo = 0, hi = n - 1;
  if (hi < 2) {
    *index = sarray_key(array, stride, 0) >= key ? 0 : hi;
    return true;
  }
  halve(array, key, stride, &lo, &hi);
  *index = sarray_key(array, stride, lo) < key ? hi : lo;
  return true;
}

bool sarray_last_at_most(const SortedArray* array, uint32_t key, uint32_t stride,
                         uint32_t* index) {
  uint32_t n = sarray_count(array, stride);
  *index = n;
  if (n == 0 || key < sarray_key(array, stride, 0)) return false;
  uint32_t lo = 0, hi = n - 1;
  if (hi < 2) {
    // One or two entries: the second one when it is still at most the key.
    *index = sarray_key(array, stride, hi) > key ? 0 : hi;
    return true;
  }
  halve(array, key, stride, &lo, &hi);
  *index = sarray_key(array, stride, hi) > key ? lo : hi;
  return true;
}

void sarray_insert(SortedArray* array, uint32_t key, uint32_t stride, uint32_t* index) {
  uint32_t n = sarray_count(array, stride);
  sarray_resize(array, static_cast<int32_t>(stride));
  if (array->entries == nullptr) { array->bytes = 0; return; }
  // The search runs over the n old entries only.
  SortedArray old{n * stride, array->entries};
  uint32_t at;
  if (!sarray_first_at_least(&old, key, stride, &at)) at = n;
  if (at < n) {
    std::memmove(sarray_entry(array, stride, at + 1), sarray_entry(array, stride, at),
                 static_cast<size_t>(n - at) * stride);
  }
  *index = at;
}

void sarray_remove(SortedArray* array, uint32_t key, uint32_t stride) {
  uint32_t n = sarray_count(array, stride);
  uint32_t at;
  if (!sarray_find(array, key, stride, &at)) return;
  if (at + 1 < n) {
    std::memmove(sarray_entry(array, stride, at), sarray_entry(array, stride, at + 1),
                 static_cast<size_t>(n - at - 1) * stride);
  }
  sarray_resize(array, -static_cast<int32_t>(stride));
}

void sarray_resize(SortedArray* array, int32_t delta_bytes) {
  array->bytes += static_cast<uint32_t>(delta_bytes);
  mem_realloc(&array->entries, sarray_capacity(array->bytes));
  if (array->entries == nullptr) g_error = ERR_MEMORY;
}
