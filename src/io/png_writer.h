// Writes 8-bit RGB pictures as PNG (stored deflate blocks) or binary PPM.
#pragma once
#include <cstdint>
#include <string>

// Rows of 0x00RRGGBB pixels, top row first. Returns false when the file cannot be written.
bool write_png_rgb(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);
bool write_ppm_rgb(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels);
