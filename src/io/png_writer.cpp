#include "io/png_writer.h"

#include <cstdio>
#include <vector>

namespace {

constexpr uint32_t crc_table_entry(uint32_t n) {
  for (int k = 0; k < 8; ++k) n = (n & 1) ? 0xEDB88320u ^ (n >> 1) : n >> 1;
  return n;
}

struct CrcTable {
  uint32_t v[256];
  constexpr CrcTable() : v() {
    for (uint32_t i = 0; i < 256; ++i) v[i] = crc_table_entry(i);
  }
};
constexpr CrcTable kCrcTable;

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = kCrcTable.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

void put_u32be(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void put_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  put_u32be(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put_u32be(out, ~crc32_update(0xFFFFFFFFu, out.data() + start, out.size() - start));
}

// A zlib stream made of stored blocks.
std::vector<uint8_t> zlib_stored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  put_u32be(z, (b << 16) | a);
  return z;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
  return std::fclose(fp) == 0 && ok;
}

}  // namespace

bool write_png_rgb(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (size_t(width) * 3 + 1));
  for (int32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    for (int32_t x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y) * width + x];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
    }
  }
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  put_u32be(header, static_cast<uint32_t>(width));
  put_u32be(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  put_chunk(out, "IHDR", header);
  put_chunk(out, "IDAT", zlib_stored(raw));
  put_chunk(out, "IEND", {});
  return write_file(path, out);
}

bool write_ppm_rgb(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
  char head[64];
  int n = std::snprintf(head, sizeof head, "P6\n%d %d\n255\n", width, height);
  std::vector<uint8_t> out(head, head + n);
  for (size_t i = 0; i < size_t(width) * height; ++i) {
    out.push_back(static_cast<uint8_t>(pixels[i] >> 16));
    out.push_back(static_cast<uint8_t>(pixels[i] >> 8));
    out.push_back(static_cast<uint8_t>(pixels[i]));
  }
  return write_file(path, out);
}
