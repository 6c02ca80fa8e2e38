// The window icon: the program's own icon picture, decoded by our decoders.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Decodes the first image of `path` into 0x00RRGGBB pixels. Leaves the error code as it was;
// false when the file is missing or cannot be read. Needs the registry and the image types.
bool icon_load_rgb(const std::string& path, int32_t* width, int32_t* height,
                   std::vector<uint32_t>* rgb);
