// The simple raster decoders against stb_image on the same files: 24-bit BMP, 8-bit BMP,
// binary PPM, stored and run-length 24-bit Targa, all 2048 x 1536.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace {

constexpr int kWidth = 2048, kHeight = 1536;

void put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(x & 255), v.push_back(x >> 8 & 255); }
void put32(std::vector<uint8_t>& v, uint32_t x) { put16(v, x & 0xFFFF), put16(v, x >> 16); }

uint8_t sample(int x, int y, int c) {
  // Flat bands on the right half give the run-length files their runs.
  if (x >= kWidth / 2) return static_cast<uint8_t>((y / 16 * 40 + c * 80) & 255);
  return static_cast<uint8_t>((x * (c + 1) + y * (3 - c)) & 255);
}

std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = "/tmp/korvela-bench-" + name;
  if (FILE* fp = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::fclose(fp);
  }
  return path;
}

std::string bmp(int bits) {
  const int row = (kWidth * bits / 8 + 3) & ~3;
  const uint32_t table = bits == 8 ? 1024 : 0;
  std::vector<uint8_t> b = {'B', 'M'};
  put32(b, 54 + table + row * kHeight), put32(b, 0), put32(b, 54 + table), put32(b, 40);
  put32(b, kWidth), put32(b, kHeight), put16(b, 1), put16(b, bits);
  for (int i = 0; i < 6; ++i) put32(b, 0);
  for (uint32_t i = 0; i < table / 4; ++i) put32(b, i * 0x010101);
  for (int y = kHeight - 1; y >= 0; --y) {
    size_t start = b.size();
    for (int x = 0; x < kWidth; ++x) {
      if (bits == 8) b.push_back(sample(x, y, 1));
      else for (int c = 2; c >= 0; --c) b.push_back(sample(x, y, c));
    }
    b.resize(start + row, 0);
  }
  return write(bits == 8 ? "8.bmp" : "24.bmp", b);
}

std::string ppm() {
  std::string head = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
  std::vector<uint8_t> b(head.begin(), head.end());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) b.push_back(sample(x, y, c));
  return write("24.ppm", b);
}

std::string targa(bool rle) {
  std::vector<uint8_t> b = {0, 0, static_cast<uint8_t>(rle ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  put16(b, kWidth), put16(b, kHeight), b.push_back(24), b.push_back(0x20);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth;) {
      int n = 1;
      if (rle)
        while (x + n < kWidth && n < 128 && sample(x + n, y, 0) == sample(x, y, 0) &&
               sample(x + n, y, 1) == sample(x, y, 1) && sample(x + n, y, 2) == sample(x, y, 2))
          ++n;
      if (rle) b.push_back(static_cast<uint8_t>(n > 1 ? 127 + n : 0));
      for (int c = 2; c >= 0; --c) b.push_back(sample(x, y, c));
      x += n;
    }
  }
  return write(rle ? "rle.tga" : "24.tga", b);
}

const std::string& file(int which) {
  static const std::vector<std::string> files = {bmp(24), bmp(8), ppm(), targa(false), targa(true)};
  return files[which];
}

void ours(benchmark::State& state) {
  const std::string& path = file(static_cast<int>(state.range(0)));
  for (auto _ : state)
    if (bench_load(path) != 0) state.SkipWithError("load failed");
}

void stb(benchmark::State& state) {
  const std::string& path = file(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    int w, h, n;
    stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &n, 0);
    if (pixels == nullptr) state.SkipWithError("stb_image failed");
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
}

}  // namespace

// Arguments: 0 BMP 24-bit, 1 BMP 8-bit, 2 PPM, 3 Targa stored, 4 Targa run-length.
BENCHMARK(ours)->Name("raster/korvela")->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(stb)->Name("raster/stb_image")->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
