// The file list: the names given by the user, the files dropped on the window, and every file
// found below a named directory by a depth-first walk, in the order they were added.
#pragma once
#include <cstdint>
#include <string>

#include "core/registry.h"

struct Viewer;

constexpr uint64_t kLoadMemoryMargin = 10000000;  // bytes kept free beyond the file's size

// Makes a name absolute against a base directory (names from the command line and from
// drops are resolved against the directory the program was started from).
std::string path_make_absolute(const std::string& base, const std::string& name);

// Adds a file, or every file below a directory, to the list (made when 0).
void file_list_add(const char* path, Handle* list);
// Removes a descriptor and its path text from `list` and releases them.
void file_list_remove(Handle list, Handle descriptor);
// Walks a directory depth first, adding its folders and files to `list`.
void dir_walk(const char* path, Handle list);
// The next descriptor of the list after *handle that can be shown (0: none up to the end).
void file_list_next(Handle list, Handle* handle);
// Reads a listed file into `group`, as every mode does, when the machine has the memory for it.
// A file gone since it was listed gets status 256 and no error (it is "Fichier inconnu"); any
// other failure leaves its error code.
void file_list_load(Handle descriptor, Handle* group, uint64_t available_memory);
// Empties the group loaded in advance and moves the search to the end of the list, so that the
// files about to be dropped are the next ones found.
void file_list_prepare_drop(Viewer& viewer);
