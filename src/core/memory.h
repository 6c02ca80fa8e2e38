// Memory through pointer slots: the caller owns a pointer variable, these functions fill and
// clear it. Every failure sets g_error to 1 and leaves the slot null.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/errors.h"

void* mem_alloc(void** slot, size_t size);    // releases the slot's block, then allocates
void mem_free(void** slot);                   // releases and clears; empty slot: nothing
void* mem_realloc(void** slot, size_t size);  // grows or shrinks; empty slot: allocates
size_t mem_blocks_held();                     // blocks allocated and not yet released
// Gives the memory pages that lie wholly inside bytes [begin, end) of a block back to the
// system, for a caller done with those bytes, the block staying the caller's. An allocated
// block's contents are lost (on Linux they read as zero); a file mapping's come back from the
// file when read again. On Windows nothing is given back.
void mem_release_pages(const void* block, size_t begin, size_t end);

// Largest single block the process will ask for. A file that claims a bigger picture is
// refused with code 1 instead of exhausting the machine. Fuzzers and tests lower it.
void mem_set_limit(size_t bytes);
size_t mem_limit();

template <class T>
T* mem_alloc(T** slot, size_t size) {
  return static_cast<T*>(mem_alloc(reinterpret_cast<void**>(slot), size));
}
template <class T>
void mem_free(T** slot) {
  mem_free(reinterpret_cast<void**>(slot));
}
template <class T>
T* mem_realloc(T** slot, size_t size) {
  return static_cast<T*>(mem_realloc(reinterpret_cast<void**>(slot), size));
}

// A block its owner keeps for reuse, grown to the largest size asked of it, freed with it.
class ScratchBlock {
 public:
  ScratchBlock() = default;
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  ~ScratchBlock() { mem_free(&data_); }

  // At least `bytes` bytes, contents kept while it does not grow; null with code 1 when the
  // block cannot be had (a negative size included).
  uint8_t* reserve(int64_t bytes) {
    if (bytes < 0) {
      g_error = ERR_MEMORY;
      return nullptr;
    }
    if (bytes > size_ || data_ == nullptr) {
      size_ = 0;
      if (mem_alloc(&data_, static_cast<size_t>(bytes)) == nullptr) return nullptr;
      size_ = bytes;
    }
    return data_;
  }

 private:
  uint8_t* data_ = nullptr;
  int64_t size_ = 0;
};
