// Shared helpers for the tests: a clean process state, temporary files, loading a file
// through the real identification and load path, and the reference tools.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/registry.h"
#include "image/image.h"

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
LoadResult load_file(const std::string& path, int32_t forced_format = -1);

// Runs a shell command; returns its exit status.
int run_command(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string command_output(const std::string& command, int* status = nullptr);

// A decoded picture as 0x00RRGGBB, the way the display shows it.
std::vector<uint32_t> image_rgb(const ImageRecord* image);
// A binary PPM (P6, maxval 255) or PGM (P5) as 0x00RRGGBB.
bool read_pnm_rgb(const std::string& path, int* width, int* height, std::vector<uint32_t>* rgb);
