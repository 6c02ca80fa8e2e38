// Shared by the fuzz targets: runs bytes through identification and the load dispatch.
#pragma once
#include <cstddef>
#include <cstdint>

// Writes the bytes to a file in memory-backed storage and loads it. With format >= 0 the
// file is handed to that format's decoder whatever its first bytes say; with -1 it goes
// through identification as the viewer's files do.
void fuzz_load(const uint8_t* data, size_t size, int32_t format);
