#include "platform/fs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
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

uint64_t fs_memory_from_meminfo(const std::string& meminfo, uint64_t fallback) {
  uint64_t available = 0, swap = 0;
  bool has_available = false;
  for (size_t at = 0; at < meminfo.size();) {  // "Name:   1234 kB"
    size_t end = meminfo.find('\n', at);
    if (end == std::string::npos) end = meminfo.size();
    const std::string line = meminfo.substr(at, end - at);
    at = end + 1;
    char name[64];
    unsigned long long kib;
    if (std::sscanf(line.c_str(), "%63[^:]: %llu", name, &kib) != 2) continue;
    if (std::strcmp(name, "MemAvailable") == 0) {
      available = uint64_t{kib} * 1024;
      has_available = true;
    } else if (std::strcmp(name, "SwapFree") == 0) {
      swap = uint64_t{kib} * 1024;
    }
  }
  return has_available ? available + swap : fallback;
}

uint64_t fs_available_memory() {
  struct sysinfo info;
  const uint64_t sum = sysinfo(&info) == 0
                           ? (uint64_t{info.freeram} + info.bufferram + info.freeswap) * info.mem_unit
                           : UINT64_MAX;
  // Plain stdio: the streams library would bring half a megabyte of its code into every
  // process that only wants this number.
  std::string text;
  if (FILE* fp = std::fopen("/proc/meminfo", "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, fp)) > 0;) text.append(chunk, n);
    std::fclose(fp);
  }
  return fs_memory_from_meminfo(text, sum);
}
