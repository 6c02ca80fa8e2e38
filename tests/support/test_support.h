// Shared helpers for the tests: a clean process state, temporary files, loading a file
// through the real identification and load path, and the reference tools.
#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/group.h"
#include "core/rect.h"
#include "core/registry.h"
#include "image/image.h"
#include "platform/platform.h"

// Empties the registry, registers every type of the loading path, clears g_error.
void test_reset();

// A directory private to this test process, created on first use.
const std::string& test_temp_dir();
std::string write_temp_file(const std::string& name, const std::vector<uint8_t>& bytes);
std::string write_temp_file(const std::string& name, const std::string& bytes);
std::vector<uint8_t> read_file(const std::string& path);

// Path of a file of the conformance corpus in tests/data, e.g. corpus_path("pngsuite/basn0g08.png").
std::string corpus_path(const std::string& relative);

struct LoadResult {
  int32_t error = 0;
  int32_t status = 0;  // the descriptor's status after identification
  int32_t format = 0;
  Handle group = 0;
  std::vector<ImageRecord*> images;  // in group order
};
// Identifies and loads a file as the viewer would; the group stays alive until test_reset.
// With a format code, the file goes to that format's decoder whatever its first bytes say.
// `images` lists what the group holds, so a failed load that leaves a record behind shows.
LoadResult load_file(const std::string& path, int32_t forced_format = -1);
// Decodes bytes held in memory into a record named `name`: identified first as the viewer
// identifies a file, or, with a format code, handed to that format's decoder whatever their
// first bytes say.
LoadResult load_bytes(const std::string& name, const std::vector<uint8_t>& bytes, int32_t format = -1);

// Rectangles compare and print field by field, so that lists of them compare in one expectation.
inline bool operator==(const PlatformRect& a, const PlatformRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const PlatformRect& r, std::ostream* out) {
  *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
inline bool operator==(const Rect& a, const Rect& b) {
  return a.x_min == b.x_min && a.y_min == b.y_min && a.x_max == b.x_max && a.y_max == b.y_max;
}
inline void PrintTo(const Rect& r, std::ostream* out) {
  *out << "{" << r.x_min << ", " << r.y_min << ", " << r.x_max << ", " << r.y_max << "}";
}
using PlatformRects = std::vector<PlatformRect>;
using Rects = std::vector<Rect>;

// Runs a script of tools/ with a Python that has Pillow (Debian's lives with the system
// interpreter); returns its exit status.
int run_tool_script(const std::string& script_and_arguments);
// Runs a shell command; returns its exit status.
int run_command(const std::string& command);
// A folder `name` of the temporary directory filled with generated test files by `make`, which
// gets its path and returns the generator's exit status; made once per process, a failure
// failing the test that asked first.
const std::string& generated_dir(const std::string& name, const std::function<int(const std::string&)>& make);
// Runs a shell command and returns what it printed on standard output.
std::string command_output(const std::string& command, int* status = nullptr);

// Pixel access. A decoded picture as 0x00RRGGBB, the way the display shows it.
std::vector<uint32_t> image_rgb(const ImageRecord* image);
// The stored byte at (row, column) of plane 0 of a 1-byte-per-pixel image.
inline uint8_t pixel_at(const ImageRecord* image, int row, int column) {
  return image->pixels[int64_t{row} * image->row_bytes + column];
}
// The first `n` stored bytes of row `y` of plane 0.
std::vector<uint8_t> stored_row(const ImageRecord* image, int y, int n);
// Palette entry `i` as 0x00RRGGBB.
uint32_t palette_rgb(const ImageRecord* image, int i);
// A hand-made image record, a member of `group`, its pixels zeroed and its rows laid out as the
// display reads them: RGB pixels for `pixel_bytes` 4, else one byte a sample in `planes` planes.
ImageRecord* make_image(Handle group, int32_t width, int32_t height, int32_t planes, int32_t pixel_bytes);
// Objects of a type (images by default) alive in the registry, whether in a group or not.
int live_objects(int32_t type = TYPE_IMAGE);
// The members of one type in a group, in group order.
template <class T>
std::vector<T*> group_members(Handle group, int32_t type) {
  std::vector<T*> members;
  Handle h = 0;
  T* member = nullptr;
  for (group_find_next(group, type, &h, &member); h != 0; group_find_next(group, type, &h, &member))
    members.push_back(member);
  return members;
}

// How a picture differs from another of the same size, channel by channel, pixels where `skip`
// is true left out: the largest difference, the mean and the share of samples within 1 of each
// other. Pictures of different sizes differ more than any two that can be compared.
struct ChannelDifference {
  int max = 256;
  double mean = 256.0;
  double within_one = 0.0;
};
ChannelDifference channel_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                                     const std::vector<bool>& skip = {});

// Reference readers. A binary PPM (P6, maxval 255) or PGM (P5) as 0x00RRGGBB.
bool read_pnm_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb);
// A PNG decoded by libpng as 0x00RRGGBB: the stored samples rounded to 8 bits, without gamma
// or background handling; `clear`, when given, marks the fully transparent pixels.
bool read_png_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb,
                  std::vector<bool>* clear = nullptr);

// Sends the program's log to a file of the temporary directory named after `tag`, empties it,
// and returns its path.
std::string log_to_temp(const char* tag);
// The whole content of a file as text ("" when it cannot be read).
std::string read_text(const std::string& path);
// Names of the files of `dir` that start with `prefix` and end with `suffix`, sorted (none for
// a folder that cannot be read).
std::vector<std::string> files_in(const std::string& dir, const std::string& prefix = "",
                                  const std::string& suffix = "");
