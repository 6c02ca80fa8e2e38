// Helpers for the decoders' tests: the simple raster formats' generated files and references, byte builders for hand-made files (LZW codes and zlib data included), the
// record's fields, and loading bytes held in memory.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

// Loads every picture of one format ("bmp_", "pnm_", ...) that tools/make_raster_cases.py
// makes and checks it against its reference (or its refusal code). Returns the number of
// cases checked.
int check_generated_cases(const std::string& prefix);

// Little byte builder for hand-made files.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes() = default;
  Bytes(const std::string& s) : data(s.begin(), s.end()) {}  // NOLINT: text files are bytes
  Bytes(const char* s) : Bytes(std::string(s)) {}  // NOLINT
  Bytes& u8(uint32_t v) { data.push_back(static_cast<uint8_t>(v)); return *this; }
  Bytes& u16le(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32le(uint32_t v) { return u16le(v).u16le(v >> 16); }
  Bytes& u32be(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
  Bytes& text(const std::string& s) { data.insert(data.end(), s.begin(), s.end()); return *this; }
  Bytes& fill(size_t n, uint8_t v) { data.insert(data.end(), n, v); return *this; }
  Bytes& raw(std::initializer_list<uint8_t> b) { data.insert(data.end(), b); return *this; }
  Bytes& raw(const std::vector<uint8_t>& b) { data.insert(data.end(), b.begin(), b.end()); return *this; }
  Bytes& set(size_t at, std::initializer_list<uint8_t> b) { std::copy(b.begin(), b.end(), data.begin() + at); return *this; }
  Bytes& cut(size_t size) { data.resize(size); return *this; }
  size_t size() const { return data.size(); }
};

// Packs LZW codes with the code widths a decoder uses: the width grows once the highest
// assigned code reaches 2^width - 1, and a clear code starts over. GIF packs them least
// significant bit first; TIFF most significant bit first, each width one code earlier. Codes
// are written as given, valid or not.
std::vector<uint8_t> pack_codes(int minimum_size, const std::vector<int>& codes, bool tiff = false);

// zlib's compression of `data`; by default at zlib's default level (6) and strategy (0).
std::vector<uint8_t> zlib_deflate(const std::vector<uint8_t>& data, int level = 6, int strategy = 0);

inline LoadResult load_bytes(const std::string& name, const Bytes& bytes, int32_t format = -1) {
  return load_bytes(name, bytes.data, format);
}

// A hand-made file that a decoder must refuse with `code`.
struct Refusal {
  const char* name;
  Bytes bytes;
  int code;
};
// Loads each file as `format` under a 64 MiB allocation limit and checks its code.
void expect_refusals(int32_t format, const std::vector<Refusal>& cases);

// The record's fields besides the pixels: has_transparent, the three key bytes, the gamma,
// and the x and y resolutions.
std::vector<double> record_fields(const ImageRecord* image);

// A hand-made file and what it decodes to: the picture as the display shows it, the first
// stored bytes of plane 0, rows included, the title after the name, and the record's fields
// (what is empty is not compared).
struct Decoded {
  const char* name;
  Bytes bytes;
  std::vector<uint32_t> rgb;
  std::vector<uint8_t> stored = {};
  std::string title = "";
  std::vector<double> fields = {};
};
// Loads each file as `format` (-1: identified first) and compares.
void expect_decoded(int32_t format, const std::vector<Decoded>& cases);

// The fixture of the raster decoders' tests: a clean state for every test.
class RasterTest : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
};
