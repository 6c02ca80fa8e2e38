// Korvela: argument handling and the choice of mode.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/fs.h"
#include "viewer/batch.h"
#include "viewer/file_list.h"

namespace {

void print_usage(FILE* out) {
  std::fprintf(out,
               "Usage:\n"
               "  korvela [NAME...]                 show images (NAME: a file or a directory)\n"
               "  korvela --info [NAME...]          print one line per image, or the failure\n"
               "  korvela --export OUT FILE         write the images of FILE to OUT (.png or .ppm)\n"
               "  korvela --help | --version\n");
}

// Names are resolved against the directory the program was started from, then the program's
// own directory becomes the working directory (its log lives there).
std::vector<std::string> absolute_names(int argc, char** argv, int first, const std::string& start) {
  std::vector<std::string> names;
  for (int i = first; i < argc; ++i) names.push_back(path_make_absolute(start, argv[i]));
  return names;
}

void enter_program_dir() {
  fs_chdir(fs_program_dir().c_str());
  log_set_path("KRVL");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string start = fs_getcwd();
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    print_usage(stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("korvela %s\n", KORVELA_VERSION);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--export") == 0) {
    if (argc != 4) {
      print_usage(stderr);
      return 2;
    }
    std::string out = path_make_absolute(start, argv[2]);
    std::string file = path_make_absolute(start, argv[3]);
    enter_program_dir();
    batch_types_init();
    return run_export(out, file, stdout);
  }
  int first = (argc >= 2 && std::strcmp(argv[1], "--info") == 0) ? 2 : 1;
  if (first == 1 && argc >= 2 && argv[1][0] == '-' && argv[1][1] == '-') {
    print_usage(stderr);
    return 2;
  }
  std::vector<std::string> names = absolute_names(argc, argv, first, start);
  enter_program_dir();
  batch_types_init();
  return run_info(names, stdout);
}
