// The load dispatch: an identified file descriptor becomes an image record in a group.
#pragma once
#include <cstdint>

#include "core/registry.h"

void image_load(Handle descriptor, Handle* group);
// Decodes bytes held in memory as the given format, into a record named `name` (tests and
// fuzz targets). ECW, which its vendor library reads from a file, is refused with 3.
void image_load_memory(const char* name, int32_t format, const uint8_t* data, int64_t size, Handle* group);
