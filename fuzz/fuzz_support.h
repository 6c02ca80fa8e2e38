// Shared by the fuzz targets: runs bytes held in memory through identification and the load
// dispatch, as the viewer runs a file's bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/registry.h"

// With format >= 0 the bytes go to that format's decoder whatever their first bytes say; with
// -1 they are identified first, and only what identification supports is decoded.
void fuzz_decode(const uint8_t* data, size_t size, int32_t format);

// A fresh registry for one input, under a 256 MiB allocation limit.
void fuzz_begin();
// Destroys a group and its members (nothing when 0) and clears the error: the next input
// starts from an empty registry.
void fuzz_end(Handle group);
