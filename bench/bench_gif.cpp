// GIF decoding: our decoder (every frame composed into a full picture) against giflib's
// DGifSlurp (frames decoded into their own rectangles, nothing composed), on the same files
// in one run: a large dithered still picture and an optimised animation of 60 frames.
// The ratio of the two timings per file is the figure to watch.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "bench_support.h"

namespace {

const std::string kDir = "/tmp/korvela-bench-gif";

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Made once with ImageMagick and gifsicle; kept between runs.
std::string sample(const std::string& name) {
  const std::string path = kDir + "/" + name;
  if (exists(path)) return path;
  std::string command = "mkdir -p " + kDir + " && cd " + kDir + " && ";
  if (name == "still.gif") {
    command += "convert rose: -resize 2400x1600! -colors 256 still.gif";
  } else {
    command +=
        "convert rose: -resize 480x320! base.ppm && "
        "for i in $(seq 0 59); do convert base.ppm -roll +$((i*8))+$((i*3)) "
        "-fill black -draw \"circle $((i*8)),160 $((i*8+20)),160\" -colors 128 f$i.gif; done && "
        "gifsicle -O2 --loopcount=0 --delay 4 $(for i in $(seq 0 59); do echo f$i.gif; done) "
        "-o anim.gif && rm -f f*.gif base.ppm";
  }
  if (std::system(command.c_str()) != 0 || !exists(path)) return "";
  return path;
}

void korvela_gif(benchmark::State& state, const char* name) {
  const std::string path = sample(name);
  if (path.empty()) {
    state.SkipWithError("cannot make the sample");
    return;
  }
  for (auto _ : state)
    if (bench_load(path) != 0) state.SkipWithError("decode failed");
}

void giflib_gif(benchmark::State& state, const char* name) {
  const std::string path = sample(name);
  if (path.empty()) {
    state.SkipWithError("cannot make the sample");
    return;
  }
  for (auto _ : state) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib failed");
    if (gif != nullptr) DGifCloseFile(gif, &error);
  }
}

}  // namespace

BENCHMARK_CAPTURE(korvela_gif, still, "still.gif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(giflib_gif, still, "still.gif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(korvela_gif, animation, "anim.gif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(giflib_gif, animation, "anim.gif")->Unit(benchmark::kMillisecond);
