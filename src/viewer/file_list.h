// The file list: the names given by the user, the files dropped on the window, and every file
// found below a named directory by a depth-first walk, in the order they were added.
#pragma once
#include <string>

#include "core/registry.h"

extern Handle g_file_list;  // group of FileDescriptor objects and their path texts

// Makes a name absolute against a base directory (names from the command line and from
// drops are resolved against the directory the program was started from).
std::string path_make_absolute(const std::string& base, const std::string& name);

void file_list_add(const char* path, Handle* list);
void dir_walk(const char* path);
void file_list_next(Handle* handle);
// Reads a listed file into `group`, as every mode does. A file gone since it was listed gets
// status 256 and no error (it is "Fichier inconnu"); any other failure leaves its error code.
void file_list_load(Handle descriptor, Handle* group);
void file_list_prepare_drop();
