#include "core/memory.h"

#include <cstdlib>

#include "core/errors.h"

namespace {
size_t g_mem_limit = size_t{2} << 30;  // 2 GiB: what the 32-bit program could ever address
void* g_scratch = nullptr;
int32_t g_scratch_size = 0;
}  // namespace

void mem_set_limit(size_t bytes) { g_mem_limit = bytes; }
size_t mem_limit() { return g_mem_limit; }

void* mem_alloc(void** slot, size_t size) {
  mem_free(slot);
  void* block = size <= g_mem_limit ? std::malloc(size == 0 ? 1 : size) : nullptr;
  if (block == nullptr) g_error = ERR_MEMORY;
  *slot = block;
  return block;
}

void mem_free(void** slot) {
  if (*slot == nullptr) return;
  std::free(*slot);
  *slot = nullptr;
}

void* mem_realloc(void** slot, size_t size) {
  if (*slot == nullptr) return mem_alloc(slot, size);
  void* block = size <= g_mem_limit ? std::realloc(*slot, size == 0 ? 1 : size) : nullptr;
  if (block == nullptr) {
    // The old block is released so that the slot never points at a stale block.
    std::free(*slot);
    g_error = ERR_MEMORY;
  }
  *slot = block;
  return block;
}

void* mem_scratch(int32_t size) {
  if (size > g_scratch_size) {
    if (mem_realloc(&g_scratch, static_cast<size_t>(size) + 10) == nullptr) {
      g_scratch_size = 0;
      return nullptr;
    }
    g_scratch_size = size;
  }
  return g_scratch;
}
