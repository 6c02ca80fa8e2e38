#include "viewer/file_list.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/group.h"
#include "image/file_descriptor.h"
#include "codecs/load.h"
#include "platform/fs.h"
#include "viewer/viewer.h"

namespace {

// Walk events.
enum WalkEvent { EV_NONE = 0, EV_FILE = 1, EV_SUBDIR = 2, EV_DIR_END = 3, EV_PATH_READY = 4 };
enum WalkAction { ACT_FAIL, ACT_OPEN_DIR, ACT_BUILD_PATH, ACT_CLOSE_DIR, ACT_READ_NEXT, ACT_CONTINUE, ACT_RECORD };

constexpr int kWalkMaxDepth = 100;
constexpr size_t kWalkMaxPath = 4096;

// One directory walk, from the named directory down; it lives as long as the walk.
struct Walk {
  Handle walk_list = 0;  // receives the entries
  std::string walk_dir;  // the current directory, always ending with "/"
  std::string walk_file;  // the path of the file being recorded
  std::vector<intptr_t> walk_handles;  // one find handle per open directory
  std::vector<FindEntry> walk_entries;  // the current entry of each open directory
  std::set<std::pair<uint64_t, uint64_t>> visited;  // (device, inode) of every folder entered
  int walk_event = EV_SUBDIR;
  bool walk_done = false;

  size_t walk_depth() const { return walk_handles.size(); }  // directories open
  FindEntry& entry() { return walk_entries.back(); }
};

struct Transition {
  WalkAction action;
  int next;
};

// (state, event) -> action, next state. Pairs not listed fail.
Transition walk_transition(int state, int event) {
  switch (state * 8 + event) {
    case 0 * 8 + EV_SUBDIR: return {ACT_OPEN_DIR, 1};
    case 1 * 8 + EV_FILE: return {ACT_BUILD_PATH, 2};
    case 1 * 8 + EV_SUBDIR: return {ACT_OPEN_DIR, 1};
    case 1 * 8 + EV_DIR_END: return {ACT_CLOSE_DIR, 2};
    case 2 * 8 + EV_FILE: return {ACT_READ_NEXT, 1};
    case 2 * 8 + EV_DIR_END: return {ACT_CONTINUE, 2};
    case 2 * 8 + EV_PATH_READY: return {ACT_RECORD, 2};
    default: return {ACT_FAIL, state};
  }
}

std::string fold(std::string name) {
  if (fs_names_fold_case())
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

bool is_dot_dir(const FindEntry& e) { return e.is_directory && (e.name == "." || e.name == ".."); }

void add_descriptor(Walk& walk, const std::string& path, int32_t status) {
  Handle d;
  file_descriptor_create(path.c_str(), &walk.walk_list, &d);
  if (g_error != 0) return;
  FileDescriptor* descriptor = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, d);
  descriptor->depth = static_cast<uint32_t>(walk.walk_depth());
  descriptor->status = status;
}

// One log line for an entry the list leaves out, naming it and the reason.
void log_skipped(const std::string& path, const char* reason) {
  log_printf("Ignore : %s (%s)", path.c_str(), reason);
}

const char* errno_reason() { return errno != 0 ? std::strerror(errno) : error_message(); }

// Classifies the current entry of the innermost directory into the next event. A
// subdirectory is entered only when the walk can hold it (depth and path length); deeper
// trees and longer paths are skipped.
void classify_entry(Walk& walk) {
  const FindEntry& e = walk.entry();
  if (!e.is_directory) {
    walk.walk_event = EV_FILE;
    return;
  }
  if (walk.walk_depth() >= kWalkMaxDepth || walk.walk_dir.size() + e.name.size() + 1 >= kWalkMaxPath) {
    log_skipped(walk.walk_dir + e.name, "trop profond");
    walk.walk_event = EV_FILE;  // read past it
    return;
  }
  walk.walk_dir += fold(e.name) + "/";
  walk.walk_event = EV_SUBDIR;
}

// Takes entries of the innermost directory until one is not "." or "..".
bool next_entry(Walk& walk) {
  do {
    if (fs_find_next(walk.walk_handles.back(), &walk.entry()) != 0) return false;
  } while (is_dot_dir(walk.entry()));
  return true;
}

// True the first time the walk stands in this folder. A link back up the tree leads to a folder
// already entered; where the file system gives no inode, folders are not told apart.
bool first_visit(Walk& walk) {
  struct stat info;
  if (::stat(".", &info) != 0 || info.st_ino == 0) return true;
  return walk.visited.emplace(uint64_t(info.st_dev), uint64_t(info.st_ino)).second;
}

// A folder that cannot be entered or listed, or that the walk has already been through, is
// skipped as if it were empty, with a log line; the rest of the tree is walked.
void act_open_dir(Walk& walk) {
  const std::string dir_path = walk.walk_dir;
  intptr_t handle = -1;
  FindEntry entry{};
  const char* skipped = nullptr;
  errno = 0;
  if (fs_chdir(dir_path.c_str()) != 0) {
    skipped = errno_reason();
  } else if (!first_visit(walk)) {
    skipped = "deja parcouru";
  } else {
    errno = 0;
    handle = fs_find_first(&entry);
    // A readable folder lists at least "." and "..": nothing at all means it could not be read.
    if (handle == -1 && errno != 0) skipped = errno_reason();
  }
  walk.walk_handles.push_back(handle);
  walk.walk_entries.push_back(std::move(entry));
  if (handle == -1 || (is_dot_dir(walk.entry()) && !next_entry(walk))) walk.walk_event = EV_DIR_END;
  else classify_entry(walk);
  if (skipped != nullptr) log_skipped(dir_path, skipped);
  else add_descriptor(walk, dir_path, FILE_DIRECTORY);
}

void act_build_path(Walk& walk) {
  const FindEntry& e = walk.entry();
  if (e.is_directory) {  // a directory the walk could not hold: skip it
    walk.walk_event = EV_DIR_END;
    return;
  }
  walk.walk_file = walk.walk_dir + fold(e.name);
  walk.walk_event = EV_PATH_READY;
}

void act_record(Walk& walk) {
  add_descriptor(walk, walk.walk_file, file_status(walk.walk_file.c_str()));
  walk.walk_event = EV_DIR_END;
}

void act_read_next(Walk& walk) {
  if (next_entry(walk)) classify_entry(walk);
  else walk.walk_event = EV_DIR_END;
}

void close_innermost(Walk& walk) {
  fs_find_close(walk.walk_handles.back());
  walk.walk_handles.pop_back();
  walk.walk_entries.pop_back();
}

void act_close_dir(Walk& walk) {
  close_innermost(walk);
  // Cut the directory path back to its previous "/".
  std::string& dir = walk.walk_dir;
  size_t cut = dir.rfind('/', dir.size() - 2);
  dir.resize(cut == std::string::npos ? 0 : cut + 1);
  fs_chdir(dir.empty() ? "/" : dir.c_str());
  if (walk.walk_depth() > 0) walk.walk_event = EV_FILE;
  else walk.walk_done = true;
}

}  // namespace

std::string path_make_absolute(const std::string& base, const std::string& name) {
  if (name.empty() || fs_path_is_absolute(name)) return name;
  if (base.empty()) return name;
  return base.back() == '/' ? base + name : base + "/" + name;
}

void file_list_remove(Handle list, Handle descriptor) {
  const FileDescriptor* d = obj_get<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor);
  if (d == nullptr) return;
  if (GroupRecord* record = obj_get<GroupRecord>(TYPE_GROUP, list)) {
    const auto holds_path = [d](const GroupRecord* text) {
      return reinterpret_cast<const char*>(text->array.entries) == d->path;
    };
    // The text is made right after its descriptor, so the member that follows it is tried first.
    void* ptr = nullptr;
    int32_t type = 0;
    group_lookup(record, descriptor + 1, &ptr, &type);
    Handle text_handle = 0;
    if (ptr != nullptr && type == TYPE_GROUP && holds_path(static_cast<GroupRecord*>(ptr))) {
      text_handle = descriptor + 1;
    } else {
      Handle h = 0;
      GroupRecord* text;
      for (group_find_next(list, TYPE_GROUP, &h, &text); h != 0; group_find_next(list, TYPE_GROUP, &h, &text))
        if (holds_path(text)) {
          text_handle = h;
          break;
        }
    }
    if (text_handle != 0) group_remove(list, text_handle);
  }
  group_remove(list, descriptor);
  file_descriptor_destroy(descriptor);
}

void dir_walk(const char* path, Handle list) {
  Walk walk;
  walk.walk_list = list;
  walk.walk_dir = path;
  if (walk.walk_dir.empty() || walk.walk_dir.back() != '/') walk.walk_dir += "/";
  int state = 0;
  for (;;) {
    Transition t = walk_transition(state, walk.walk_event);
    switch (t.action) {
      case ACT_OPEN_DIR: act_open_dir(walk); break;
      case ACT_BUILD_PATH: act_build_path(walk); break;
      case ACT_RECORD: act_record(walk); break;
      case ACT_READ_NEXT: act_read_next(walk); break;
      case ACT_CLOSE_DIR: act_close_dir(walk); break;
      case ACT_CONTINUE: walk.walk_event = EV_FILE; break;
      case ACT_FAIL: g_error = ERR_SYSTEM; break;
    }
    if (g_error != 0 || walk.walk_done) break;
    state = t.next;
  }
  // A walk stopped by an error leaves its listings open: release them.
  while (walk.walk_depth() > 0) close_innermost(walk);
}

void file_list_add(const char* path, Handle* list) {
  if (file_status(path) == FILE_DIRECTORY) {
    if (*list == 0) group_create(list);
    dir_walk(path, *list);
  } else {
    Handle d;
    file_descriptor_create(path, list, &d);
    // A named file that cannot be read stays listed: its load reports why when its turn comes.
    if (g_error == 0) {
      file_identify(d);
      g_error = 0;
    }
  }
  // Nothing a single name does ends the list: what it could not add is logged.
  if (g_error != 0) {
    log_skipped(path, error_message());
    g_error = 0;
  }
}

void file_list_load(Handle descriptor, Handle* group, uint64_t available_memory) {
  FileDescriptor* d = obj_require<FileDescriptor>(TYPE_FILE_DESCRIPTOR, descriptor);
  if (d == nullptr) return;
  // The file may have changed since it was listed: gone, replaced, or readable at last.
  int32_t now;
  file_stat(d->path, &now, &d->size);
  if (now == FILE_MISSING) {
    d->status = FILE_MISSING;
    return;
  }
  if (now != FILE_UNIDENTIFIED) d->status = now;  // no longer a plain file (a FIFO is never opened)
  else if (d->status != FILE_SUPPORTED) file_identify(descriptor);
  if (g_error != 0) return;
  if (d->size + kLoadMemoryMargin < available_memory) image_load(descriptor, group);
  else g_error = ERR_MEMORY;
}

void file_list_next(Handle list, Handle* handle) {
  FileDescriptor* d;
  Handle h = *handle;
  group_find_next(list, TYPE_FILE_DESCRIPTOR, &h, &d);
  while (h != 0) {
    switch (d->status) {
      case FILE_SUPPORTED: case FILE_UNSUPPORTED: case FILE_UNKNOWN: case FILE_MISSING:
        *handle = h;
        return;
      case FILE_UNIDENTIFIED: {
        // A file of the walk that cannot be read is left out, and its error with it.
        const int32_t before = g_error;
        g_error = 0;
        errno = 0;
        file_identify(h);
        if (g_error != 0) log_skipped(d->path, errno_reason());
        g_error = before;
        if (d->status == FILE_SUPPORTED) {
          *handle = h;
          return;
        }
        break;
      }
      default:
        break;
    }
    const Handle dropped = h;
    const bool keep = d->status == FILE_MISSING;
    group_find_next(list, TYPE_FILE_DESCRIPTOR, &h, &d);
    // A dropped entry leaves the list and is released, so that a long session of drops and
    // walks does not keep every entry it ever saw.
    if (!keep) file_list_remove(list, dropped);
  }
  *handle = 0;
}

// The file loaded in advance is discarded and the search goes on after the last descriptor,
// so that the files about to be dropped are the next ones found.
void file_list_prepare_drop(Viewer& viewer) {
  extent_list_clear(viewer.next_extents);
  group_destroy_members(viewer.next_group);
  Handle last;
  void* ptr;
  group_find_last(viewer.file_list, TYPE_FILE_DESCRIPTOR, &last, &ptr);
  viewer.current_file = last;
}
