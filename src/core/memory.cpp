#include "core/memory.h"

#include <cstdint>
#include <cstdlib>
#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "core/errors.h"

namespace {
size_t g_mem_limit = size_t{2} << 30;  // 2 GiB: what the 32-bit program could ever address
size_t g_blocks_held = 0;  // blocks allocated here and not yet released

// Pictures and whole inflated strips are written through once: on Linux, 2 MiB pages make
// one page fault of what would be 512.
void prefer_large_pages(void* block, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  if (block == nullptr || size < 2 * kLargePage) return;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kLargePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}
}  // namespace

void mem_set_limit(size_t bytes) { g_mem_limit = bytes; }
size_t mem_limit() { return g_mem_limit; }

void* mem_alloc(void** slot, size_t size) {
  mem_free(slot);
  void* block = size <= g_mem_limit ? std::malloc(size == 0 ? 1 : size) : nullptr;
  if (block == nullptr) g_error = ERR_MEMORY;
  else ++g_blocks_held;
  prefer_large_pages(block, size);
  *slot = block;
  return block;
}

void mem_free(void** slot) {
  if (*slot == nullptr) return;
  std::free(*slot);
  *slot = nullptr;
  --g_blocks_held;
}

size_t mem_blocks_held() { return g_blocks_held; }

void mem_release_pages(const void* block, size_t begin, size_t end) {
#if !defined(_WIN32)
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + begin + page - 1) / page * page;
  const uintptr_t last = (reinterpret_cast<uintptr_t>(block) + end) / page * page;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
#else
  (void)block;
  (void)begin;
  (void)end;
#endif
}

void* mem_realloc(void** slot, size_t size) {
  if (*slot == nullptr) return mem_alloc(slot, size);
  void* block = size <= g_mem_limit ? std::realloc(*slot, size == 0 ? 1 : size) : nullptr;
  if (block == nullptr) {
    // The old block is released so that the slot never points at a stale block.
    std::free(*slot);
    --g_blocks_held;
    g_error = ERR_MEMORY;
  }
  *slot = block;
  return block;
}
