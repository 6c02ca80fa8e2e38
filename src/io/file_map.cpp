#include "io/file_map.h"

#include <string>

FILE* file_open(const char* path, const char* mode) {
  std::string copy(path);
  for (char& c : copy)
    if (c == '\\') c = '/';
  if (copy.size() >= 2 && copy[0] == '/' && copy[1] == '/') {
    for (char& c : copy)
      if (c == '/') c = '\\';
  }
  return std::fopen(copy.c_str(), mode);
}

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>

#include <climits>

const uint8_t* file_map(FILE* fp, int64_t size, size_t* length) {
  const long page = sysconf(_SC_PAGESIZE);
  if (size <= 0 || page <= 0 || uint64_t(size) > SIZE_MAX - 2 * size_t(page)) return nullptr;
  // Anonymous zero pages reserve the extent, the file is laid over its start: the bytes after
  // the end of the file, in its last page or the spare page, read as zero.
  const size_t extent = (size_t(size) + 2 + size_t(page) - 1) / size_t(page) * size_t(page);
  void* base = mmap(nullptr, extent, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  if (mmap(base, size_t(size), PROT_READ, MAP_PRIVATE | MAP_FIXED, fileno(fp), 0) == MAP_FAILED) {
    munmap(base, extent);
    return nullptr;
  }
  *length = extent;
  return static_cast<const uint8_t*>(base);
}

void file_unmap(const uint8_t* data, size_t length) { munmap(const_cast<uint8_t*>(data), length); }

void file_release_mapped(const uint8_t* data, size_t count) {
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t start = (uintptr_t(data) + page - 1) / page * page;
  const uintptr_t end = (uintptr_t(data) + count) / page * page;
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

#else
// Windows reads files into memory instead.
const uint8_t* file_map(FILE*, int64_t, size_t*) { return nullptr; }
void file_unmap(const uint8_t*, size_t) {}
void file_release_mapped(const uint8_t*, size_t) {}
#endif
