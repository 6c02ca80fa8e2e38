// Shared by the fuzz targets: runs bytes held in memory through identification and the load
// dispatch, as the viewer runs a file's bytes.
#pragma once
#include <cstddef>
#include <cstdint>

// With format >= 0 the bytes go to that format's decoder whatever their first bytes say; with
// -1 they are identified first, and only what identification supports is decoded.
void fuzz_decode(const uint8_t* data, size_t size, int32_t format);
