// Read-only mappings of whole files, so the input stream reads a file without copying it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Opens a file after normalising its path: backslashes become slashes, and a network path
// (starting with two slashes) gets all backslashes again.
FILE* file_open(const char* path, const char* mode);

// Maps the first `size` bytes of an open file read-only, followed by at least two zero bytes;
// `*length` receives the extent to give back to file_unmap. Null where the file cannot be
// mapped (the caller then reads it).
const uint8_t* file_map(FILE* fp, int64_t size, size_t* length);
void file_unmap(const uint8_t* data, size_t length);
