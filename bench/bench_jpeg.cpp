// JPEG decoding speed: our decoder against libjpeg-turbo (its default integer transform and
// its float transform) on the same 12-megapixel files, made once with ImageMagick and cjpeg.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

const std::string& bench_dir() {
  static const std::string dir = [] {
    std::string d = "/tmp/korvela-bench-jpeg";
    mkdir(d.c_str(), 0755);
    return d;
  }();
  return dir;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// A photograph-like picture: a plasma field enlarged to 4000 x 3000 with some grain.
std::string source_picture() {
  const std::string path = bench_dir() + "/source.ppm";
  if (!exists(path)) {
    std::string cmd = "convert -seed 7 -size 800x600 plasma:fractal -resize 4000x3000! "
                      "-attenuate 0.4 +noise Gaussian " + path;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot make %s\n", path.c_str());
  }
  return path;
}

std::string picture(const std::string& name, const std::string& options) {
  const std::string path = bench_dir() + "/" + name + ".jpg";
  if (!exists(path)) {
    std::string cmd = "cjpeg -quality 90 " + options + " " + source_picture() + " > " + path;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot make %s\n", path.c_str());
  }
  return path;
}

const std::string& file_for(int which) {
  static const std::string files[4] = {
      picture("photo420", "-sample 2x2"), picture("photo444", "-sample 1x1"),
      picture("grey", "-grayscale"), picture("progressive", "-progressive")};
  return files[which];
}

const char* const kNames[4] = {"420", "444", "grey", "progressive"};

void BM_Korvela(benchmark::State& state) {
  const std::string& path = file_for(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) {
    int error = bench_load(path);
    if (error != 0) state.SkipWithError("decode failed");
  }
}

// Decodes into a new buffer, as our decoder makes a new image record for every file.
void libjpeg_decode(const std::string& path, J_DCT_METHOD method) {
  std::vector<uint8_t> buffer;
  std::vector<uint8_t>* out = &buffer;
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) return;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, fp);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = method;
  jpeg_start_decompress(&cinfo);
  const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
  out->resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(fp);
}

void BM_LibjpegInteger(benchmark::State& state) {
  const std::string& path = file_for(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) libjpeg_decode(path, JDCT_ISLOW);
}

void BM_LibjpegFloat(benchmark::State& state) {
  const std::string& path = file_for(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) libjpeg_decode(path, JDCT_FLOAT);
}

}  // namespace

BENCHMARK(BM_Korvela)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegInteger)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegFloat)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
