// PNG decoding: our decoder against libpng on the same files, in one run. Each benchmark
// decodes its file with both and reports their times and the ratio ours / libpng.
#include <benchmark/benchmark.h>
#include <png.h>

#include <time.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

// Pictures of a few megapixels with photographic texture, made once with ImageMagick.
std::string bench_file(const char* name, const char* options, const char* format) {
  const std::string dir = "/tmp/korvela-bench-png";
  const std::string path = dir + "/" + name;
  if (FILE* fp = std::fopen(path.c_str(), "rb")) {
    std::fclose(fp);
    return path;
  }
  std::system(("mkdir -p " + dir).c_str());
  const std::string command = "convert -seed 7 -size 2000x1500 plasma:fractal -blur 0x1 " +
                              std::string(options) + " -strip -interlace none " + format + path;
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot make %s\n", path.c_str());
  return path;
}

// libpng's decoding into one new buffer, in the file's own layout (no transformations).
bool libpng_decode(const std::string& path, std::vector<uint8_t>* pixels) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_read_info(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  pixels->resize(row_bytes * height);
  for (png_uint_32 y = 0; y < height; ++y) rows.push_back(pixels->data() + y * row_bytes);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(fp);
  return true;
}

// CPU time of this thread: the machine is shared, wall time would count other work.
double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

void BM_Png(benchmark::State& state, const char* name, const char* options, const char* format) {
  const std::string path = bench_file(name, options, format);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    // A fresh picture buffer each time, as our decoder allocates its pixel block.
    std::vector<uint8_t> pixels;
    const double t0 = cpu_ms();
    if (bench_load(path) != 0) state.SkipWithError("our decoder failed");
    const double t1 = cpu_ms();
    if (!libpng_decode(path, &pixels)) state.SkipWithError("libpng failed");
    const double t2 = cpu_ms();
    ours += t1 - t0;
    theirs += t2 - t1;
    benchmark::DoNotOptimize(pixels.data());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["korvela_ms"] = ours / n;
  state.counters["libpng_ms"] = theirs / n;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}

BENCHMARK_CAPTURE(BM_Png, rgb, "rgb.png", "", "PNG24:")->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK_CAPTURE(BM_Png, rgba, "rgba.png", "\\( +clone -colorspace gray -negate \\) -compose copy_opacity -composite",
                  "PNG32:")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(BM_Png, palette, "palette.png", "-colors 256", "PNG8:")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(BM_Png, grey, "grey.png", "-colorspace gray -type Grayscale -depth 8", "PNG:")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);

}  // namespace
