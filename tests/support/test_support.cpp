#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <process.h>

#include <cctype>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "image/file_descriptor.h"
#include "codecs/load.h"
#include "image/pixels.h"

void test_reset() {
  obj_registry_init();
  group_types_init();
  file_descriptor_types_init();
  image_types_init();
  mem_set_limit(size_t{1} << 30);
  g_error = 0;
}

const std::string& test_temp_dir() {
  static std::string dir = [] {
#ifdef _WIN32
    // Written as the Windows program writes names (slashes, lower case), so that paths the
    // viewer shows compare equal to the ones the tests build.
    std::string made = std::filesystem::temp_directory_path().string();
    made += "/korvela-test-" + std::to_string(_getpid());
    for (char& c : made) c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::filesystem::create_directories(made);
    return made;
#else
    char pattern[] = "/tmp/korvela-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp");
#endif
  }();
  return dir;
}

std::string write_temp_file(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = test_temp_dir() + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string write_temp_file(const std::string& name, const std::string& bytes) {
  return write_temp_file(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string corpus_path(const std::string& relative) {
  return std::string(KORVELA_CORPUS_DIR) + "/" + relative;
}

namespace {

// Ends a load: its error, cleared for the next, and the images its group holds (after a
// failure too, so that a refused file that leaves a record behind shows).
void finish_load(LoadResult* result) {
  result->error = g_error;
  g_error = 0;
  result->images = group_members<ImageRecord>(result->group, TYPE_IMAGE);
}

}  // namespace

LoadResult load_file(const std::string& path, int32_t forced_format) {
  LoadResult result;
  Handle list = 0, descriptor = 0;
  file_descriptor_create(path.c_str(), &list, &descriptor);
  if (g_error == 0 && forced_format < 0) file_identify(descriptor);
  if (FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor)) {
    if (forced_format >= 0) {
      d->status = FILE_SUPPORTED;
      d->format = forced_format;
    }
    result.status = d->status;
    result.format = d->format;
  }
  if (g_error == 0) {
    group_create(&result.group);
    image_load(descriptor, &result.group);
  }
  finish_load(&result);
  return result;
}

LoadResult load_bytes(const std::string& name, const std::vector<uint8_t>& bytes, int32_t format) {
  LoadResult result;
  result.status = FILE_SUPPORTED;
  result.format = format;
  const int64_t size = static_cast<int64_t>(bytes.size());
  if (format < 0) identify_bytes(PaddedBytes(bytes.data(), size).reader(), &result.status, &result.format);
  group_create(&result.group);
  if (result.status != FILE_SUPPORTED) g_error = ERR_UNKNOWN_FORMAT;
  else if (g_error == 0) image_load_memory(name.c_str(), result.format, bytes.data(), size, &result.group);
  finish_load(&result);
  return result;
}

#ifdef _WIN32
// Windows gives the exit code itself.
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
#define popen _popen
#define pclose _pclose
#endif

int run_command(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& generated_dir(const std::string& name, const std::function<int(const std::string&)>& make) {
  static std::map<std::string, std::string> made;
  auto [it, fresh] = made.emplace(name, test_temp_dir() + "/" + name);
  if (fresh) { EXPECT_EQ(make(it->second), 0) << "making the test files of " << name << " failed"; }
  return it->second;
}

int run_tool_script(const std::string& script_and_arguments) {
  const std::string args = std::string(KORVELA_SOURCE_DIR) + "/tools/" + script_and_arguments;
  return run_command("(/usr/bin/python3 -c 'import PIL' 2>/dev/null && /usr/bin/python3 " + args +
                     " || python3 " + args + ") >/dev/null");
}

std::string command_output(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int raw = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::vector<uint32_t> image_rgb(const ImageRecord* image) {
  std::vector<uint32_t> rgb(size_t(image->width) * image->height, 0);
  for (int32_t row = 0; row < image->height; ++row)
    image_row_rgb(image, row, rgb.data() + size_t(row) * image->width);
  return rgb;
}

std::vector<uint8_t> stored_row(const ImageRecord* image, int y, int n) {
  const uint8_t* p = image->pixels + int64_t{y} * image->row_bytes;
  return std::vector<uint8_t>(p, p + n);
}

uint32_t palette_rgb(const ImageRecord* image, int i) {
  return uint32_t{image->palette_red[i]} << 16 | image->palette_green[i] << 8 | image->palette_blue[i];
}

ImageRecord* make_image(Handle group, int32_t width, int32_t height, int32_t planes, int32_t pixel_bytes) {
  Handle h;
  ImageRecord* image;
  obj_create(TYPE_IMAGE, &h, &image);
  image->width = width;
  image->height = height;
  image->bits = 8;
  image->planes = planes;
  image->pixel_bytes = pixel_bytes;
  image->row_bytes = int32_t(image_display_stride(image)) * pixel_bytes;
  image->gamma = -1;
  image_set_pixel_size(image, pixel_bytes == 1 ? planes : 1);
  image_alloc_pixels(image, group);
  std::memset(image->pixels, 0, image->pixel_size);
  group_add(group, TYPE_IMAGE, h, image);
  return image;
}

ChannelDifference channel_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                                     const std::vector<bool>& skip) {
  ChannelDifference d;
  if (a.size() != b.size()) return d;
  d.max = 0;
  int64_t total = 0, close = 0, compared = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!skip.empty() && skip[i]) continue;
    for (int shift = 0; shift < 24; shift += 8, ++compared) {
      const int diff = std::abs(int((a[i] >> shift) & 255) - int((b[i] >> shift) & 255));
      d.max = std::max(d.max, diff);
      total += diff;
      close += diff <= 1;
    }
  }
  d.mean = compared != 0 ? double(total) / double(compared) : 0.0;
  d.within_one = compared != 0 ? double(close) / double(compared) : 1.0;
  return d;
}

int live_objects(int32_t type) {
  int n = 0;
  Handle h = 0;
  void* object;
  for (obj_next(type, &h, &object); h != 0; obj_next(type, &h, &object)) ++n;
  return n;
}

bool read_pnm_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb) {
  std::vector<uint8_t> data = read_file(path);
  size_t at = 0;
  auto token = [&]() -> long {
    while (at < data.size()) {
      if (data[at] == '#') {
        while (at < data.size() && data[at] != '\n') ++at;
      } else if (isspace(data[at])) {
        ++at;
      } else {
        break;
      }
    }
    long v = 0;
    while (at < data.size() && isdigit(data[at])) v = v * 10 + (data[at++] - '0');
    return v;
  };
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '6')) return false;
  bool colour = data[1] == '6';
  at = 2;
  *width = static_cast<int>(token());
  *height = static_cast<int>(token());
  long maxval = token();
  ++at;
  if (maxval != 255) return false;
  size_t n = size_t(*width) * *height;
  size_t channels = colour ? 3 : 1;
  if (data.size() < at + n * channels) return false;
  rgb->resize(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = &data[at + i * channels];
    (*rgb)[i] = colour ? (uint32_t{p[0]} << 16) | (p[1] << 8) | p[2]
                       : (uint32_t{p[0]} << 16) | (p[0] << 8) | p[0];
  }
  return true;
}

std::string log_to_temp(const char* tag) {
  // The log's path is taken from the working directory at the time it is set.
  char previous[4096];
  if (getcwd(previous, sizeof previous) == nullptr || chdir(test_temp_dir().c_str()) != 0) return "";
  log_set_path(tag);
  if (chdir(previous) != 0) return "";
  std::string path = log_path();
  std::remove(path.c_str());
  return path;
}

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> files_in(const std::string& dir, const std::string& prefix, const std::string& suffix) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}
