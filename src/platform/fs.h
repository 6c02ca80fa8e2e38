// File-system calls of the directory walk and of start-up, behind one small interface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// Maps the first `size` bytes of an open file read-only, followed by at least two zero bytes;
// `*length` receives the extent to give back to fs_unmap_file. Null where the file cannot be
// mapped (the caller then reads it).
const uint8_t* fs_map_file(FILE* fp, int64_t size, size_t* length);
void fs_unmap_file(const uint8_t* data, size_t length);
// Gives back the memory of the whole pages of [data, data + count) of a mapping; reading
// them later brings the file's bytes back.
void fs_release_mapped(const uint8_t* data, size_t count);
