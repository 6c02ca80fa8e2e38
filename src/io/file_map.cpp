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

#else
#include <io.h>
#include <windows.h>

// A read-only view of the file. The bytes after the file's end, up to the end of its last page,
// read as zero; a file whose last page leaves fewer than two of them is read instead.
const uint8_t* file_map(FILE* fp, int64_t size, size_t* length) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uint64_t page = info.dwPageSize;
  if (size <= 0 || page == 0 || uint64_t(size) > SIZE_MAX - page) return nullptr;
  const uint64_t spare = (page - uint64_t(size) % page) % page;
  if (spare < 2) return nullptr;
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);  // the view keeps the mapping open
  if (view == nullptr) return nullptr;
  *length = size_t(size);
  return static_cast<const uint8_t*>(view);
}

void file_unmap(const uint8_t* data, size_t) { UnmapViewOfFile(data); }
#endif
