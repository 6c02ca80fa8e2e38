#include <direct.h>
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "platform/fs.h"

namespace {

std::string forward_slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

struct Listing {
  HANDLE find;
  WIN32_FIND_DATAA data;
};

void fill(const WIN32_FIND_DATAA& data, FindEntry* entry) {
  entry->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->name = data.cFileName;
}

}  // namespace

// Entries come in the order the file system gives them.
intptr_t fs_find_first(FindEntry* entry) {
  auto* listing = new Listing;
  listing->find = FindFirstFileA("*", &listing->data);
  if (listing->find == INVALID_HANDLE_VALUE) {
    delete listing;
    return -1;
  }
  fill(listing->data, entry);
  return reinterpret_cast<intptr_t>(listing);
}

int fs_find_next(intptr_t handle, FindEntry* entry) {
  auto* listing = reinterpret_cast<Listing*>(handle);
  if (!FindNextFileA(listing->find, &listing->data)) return -1;
  fill(listing->data, entry);
  return 0;
}

void fs_find_close(intptr_t handle) {
  if (handle == -1) return;
  auto* listing = reinterpret_cast<Listing*>(handle);
  FindClose(listing->find);
  delete listing;
}

int fs_chdir(const char* path) { return _chdir(path); }

std::string fs_getcwd() {
  char buffer[MAX_PATH];
  return _getcwd(buffer, sizeof buffer) != nullptr ? forward_slashes(buffer) : std::string();
}

bool fs_names_fold_case() { return true; }

bool fs_path_is_absolute(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

std::string fs_program_dir() {
  char buffer[256];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer - 1);
  if (n == 0 || n >= sizeof buffer - 1) return fs_getcwd();
  std::string path = forward_slashes(std::string(buffer, n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? fs_getcwd() : path.substr(0, slash);
}

uint64_t fs_available_memory() {
  MEMORYSTATUS status;
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  return uint64_t{status.dwAvailPhys} + status.dwAvailPageFile;
}
