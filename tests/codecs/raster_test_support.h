// Helpers for the tests of the simple raster decoders: the generated pictures with their
// reference renderings, PNG references of the conformance corpus, and byte builders for
// hand-made files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

// Directory of the pictures of one format ("bmp_", "pnm_", ...) made by
// tools/make_raster_cases.py; made once per process.
std::string raster_cases_dir(const std::string& prefix);

// Loads every generated case whose name starts with `prefix` and checks it against its
// reference (or its refusal code). Returns the number of cases checked.
int check_generated_cases(const std::string& prefix);

// Decodes a PNG with libpng into 0x00RRGGBB, 16-bit samples rounded to 8 bits; `clear`, when
// given, marks the fully transparent pixels.
bool read_png_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb,
                  std::vector<bool>* clear = nullptr);

// Largest per-channel difference between two pictures of the same size; -1 when the sizes
// differ. Pixels where `skip` is true are not compared.
int max_channel_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                           const std::vector<bool>& skip = {});

// Little byte builder for hand-made files.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& u8(uint32_t v) { data.push_back(static_cast<uint8_t>(v)); return *this; }
  Bytes& u16le(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32le(uint32_t v) { return u16le(v).u16le(v >> 16); }
  Bytes& u32be(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
  Bytes& text(const std::string& s) { data.insert(data.end(), s.begin(), s.end()); return *this; }
  Bytes& fill(size_t n, uint8_t v) { data.insert(data.end(), n, v); return *this; }
  Bytes& raw(std::initializer_list<uint8_t> b) { data.insert(data.end(), b); return *this; }
  size_t size() const { return data.size(); }
};

// Writes the bytes to a temporary file and loads it through identification and dispatch.
LoadResult load_bytes(const std::string& name, const std::vector<uint8_t>& bytes);
// Same, but the file goes to the decoder of `format` whatever identification makes of it.
LoadResult load_bytes_as(const std::string& name, const std::vector<uint8_t>& bytes, int32_t format);

// The stored byte at (row, column) of plane 0 of a 1-byte-per-pixel image.
inline uint8_t pixel_at(const ImageRecord* image, int row, int column) {
  return image->pixels[int64_t{row} * image->row_bytes + column];
}
