// File-system calls of the directory walk and of start-up, behind one small interface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct FindEntry {
  bool is_directory;
  std::string name;
};

// Lists the working directory; returns a find handle, or -1 when it holds nothing.
intptr_t fs_find_first(FindEntry* entry);
// Next entry of a listing: 0, or -1 when there is none left.
int fs_find_next(intptr_t handle, FindEntry* entry);
void fs_find_close(intptr_t handle);
int fs_chdir(const char* path);  // 0 on success
std::string fs_getcwd();
// Names are lower-cased only where the file system ignores case.
bool fs_names_fold_case();
// Whether a name needs no base directory ("/x" everywhere; "c:/x" and "\\x" on Windows too).
bool fs_path_is_absolute(const std::string& path);
std::string fs_program_dir();
// Physical memory available plus swap, in bytes.
uint64_t fs_available_memory();
// Linux: the kernel's estimate of the memory usable without swapping (MemAvailable) plus free
// swap, from the text of /proc/meminfo; `fallback` when MemAvailable is missing.
uint64_t fs_memory_from_meminfo(const std::string& meminfo, uint64_t fallback);
