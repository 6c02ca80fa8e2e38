#include "platform/fs.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

struct Listing {
  std::vector<FindEntry> entries;
  size_t next = 0;
};

bool take(Listing* listing, FindEntry* entry) {
  if (listing->next >= listing->entries.size()) return false;
  *entry = listing->entries[listing->next++];
  return true;
}

}  // namespace

intptr_t fs_find_first(FindEntry* entry) {
  DIR* dir = opendir(".");
  if (dir == nullptr) return -1;
  auto* listing = new Listing;
  while (dirent* d = readdir(dir)) {
    FindEntry e;
    e.name = d->d_name;
    struct stat info;
    e.is_directory = d->d_type == DT_DIR ||
                     (d->d_type != DT_REG && stat(d->d_name, &info) == 0 && S_ISDIR(info.st_mode));
    listing->entries.push_back(std::move(e));
  }
  closedir(dir);
  // readdir gives no useful order; names are listed in byte order, as people expect.
  std::sort(listing->entries.begin(), listing->entries.end(),
            [](const FindEntry& a, const FindEntry& b) { return a.name < b.name; });
  if (!take(listing, entry)) {
    delete listing;
    return -1;
  }
  return reinterpret_cast<intptr_t>(listing);
}

int fs_find_next(intptr_t handle, FindEntry* entry) {
  return take(reinterpret_cast<Listing*>(handle), entry) ? 0 : -1;
}

void fs_find_close(intptr_t handle) {
  if (handle != -1) delete reinterpret_cast<Listing*>(handle);
}

int fs_chdir(const char* path) { return chdir(path); }

std::string fs_getcwd() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

bool fs_names_fold_case() { return false; }

bool fs_path_is_absolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string fs_program_dir() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return fs_getcwd();
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

uint64_t fs_available_memory() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return UINT64_MAX;
  return (uint64_t{info.freeram} + info.bufferram + info.freeswap) * info.mem_unit;
}

const uint8_t* fs_map_file(FILE* fp, int64_t size, size_t* length) {
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

void fs_unmap_file(const uint8_t* data, size_t length) { munmap(const_cast<uint8_t*>(data), length); }

void fs_release_mapped(const uint8_t* data, size_t count) {
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t start = (uintptr_t(data) + page - 1) / page * page;
  const uintptr_t end = (uintptr_t(data) + count) / page * page;
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}
