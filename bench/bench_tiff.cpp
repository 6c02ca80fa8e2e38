// TIFF decoding, ours against libtiff, on the same generated files in one run: a large
// uncompressed RGB picture, the same with LZW and the predictor, a grey picture in PackBits,
// an A4 page in Group 4, and an uncompressed file above 10 MiB (read through the window).
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const std::string& bench_dir() {
  static std::string dir = [] {
    std::string d = "/tmp/korvela-bench-tiff";
    std::string command =
        "mkdir -p " + d + " && cd " + d +
        " && ( [ -f done ] || ( convert -seed 1 -size 1600x1600 plasma:fractal -depth 8 rgb.tif"
        " && tiffcp -c none -r 16 rgb.tif none.tif && tiffcp -c lzw:2 -r 16 rgb.tif lzw.tif"
        " && convert rgb.tif -colorspace gray -depth 8 grey.tif && tiffcp -c packbits grey.tif packbits.tif"
        " && convert -seed 2 -size 2480x3508 plasma:fractal -threshold 50% pbm:- | pnmtotiff > bw.tif"
        " && tiffcp -c g4 bw.tif g4.tif"
        " && convert -seed 3 -size 2200x1700 plasma:fractal -depth 8 big.tif && tiffcp -c none big.tif window.tif"
        " && touch done ) ) >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) std::abort();
    return d;
  }();
  return dir;
}

std::string path_of(const char* name) { return bench_dir() + "/" + name + ".tif"; }

void ours(benchmark::State& state, const char* name) {
  const std::string path = path_of(name);
  for (auto _ : state)
    if (bench_load(path) != 0) state.SkipWithError("decode failed");
}

// libtiff decodes every strip or tile into one buffer.
void libtiff(benchmark::State& state, const char* name) {
  const std::string path = path_of(name);
  TIFFSetWarningHandler(nullptr);
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
      state.SkipWithError("open failed");
      break;
    }
    const bool tiled = TIFFIsTiled(tif);
    const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const tmsize_t size = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    std::vector<uint8_t> out(size_t(size) * count);
    for (uint32_t i = 0; i < count; ++i) {
      tmsize_t got = tiled ? TIFFReadEncodedTile(tif, i, out.data() + size_t(size) * i, size)
                           : TIFFReadEncodedStrip(tif, i, out.data() + size_t(size) * i, size);
      if (got < 0) state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(out.data());
    TIFFClose(tif);
  }
}

}  // namespace

BENCHMARK_CAPTURE(ours, tiff_none, "none")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libtiff, tiff_none, "none")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, tiff_lzw_predictor, "lzw")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libtiff, tiff_lzw_predictor, "lzw")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, tiff_packbits, "packbits")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libtiff, tiff_packbits, "packbits")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, tiff_g4, "g4")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libtiff, tiff_g4, "g4")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, tiff_windowed, "window")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libtiff, tiff_windowed, "window")->Unit(benchmark::kMillisecond);
