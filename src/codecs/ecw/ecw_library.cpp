#include "codecs/ecw/ecw_library.h"

#include <string>

#include "core/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
using LibraryHandle = HMODULE;
constexpr const char* kDefaultName = "NCSEcw.dll";
#else
using LibraryHandle = void*;
constexpr const char* kDefaultName = "libNCSEcw.so";
#endif

// The five entry points: the DLL exports them by ordinal only, the shared object by name.
struct EntryPoint {
  int ordinal;
  const char* name;
};
constexpr EntryPoint kEntryPoints[5] = {
    {73, "NCScbmOpenFileView"},    {71, "NCScbmGetViewFileInfo"}, {82, "NCScbmSetFileView"},
    {78, "NCScbmReadViewLineBIL"}, {70, "NCScbmCloseFileViewEx"},
};

// The loaded library stays process-wide on purpose: it is loaded on the first ECW file and
// kept for every later one (loading it per decode would cost a dlopen each time), and no decode
// state lives in it. Each decode keeps its own view (see ecw_decoder.cpp).
LibraryHandle g_handle = nullptr;
EcwLibrary g_library{};
std::string g_override;

LibraryHandle open_library(const char* name) {
#ifdef _WIN32
  return LoadLibraryA(name);
#else
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
#endif
}

void close_library(LibraryHandle handle) {
#ifdef _WIN32
  FreeLibrary(handle);
#else
  dlclose(handle);
#endif
}

void* find_entry(LibraryHandle handle, const EntryPoint& entry) {
#ifdef _WIN32
  return reinterpret_cast<void*>(
      GetProcAddress(handle, MAKEINTRESOURCEA(static_cast<WORD>(entry.ordinal))));
#else
  return dlsym(handle, entry.name);
#endif
}

void log_missing_entry(const EntryPoint& entry, const char* library) {
#ifdef _WIN32
  log_printf("Point d'entree ECW introuvable : ordinal %d dans %s", entry.ordinal, library);
#else
  log_printf("Point d'entree ECW introuvable : %s dans %s", entry.name, library);
#endif
}

template <class Function>
void bind(Function* slot, void* address) {
  *slot = reinterpret_cast<Function>(address);
}

}  // namespace

const char* ecw_library_name() { return g_override.empty() ? kDefaultName : g_override.c_str(); }

const EcwLibrary* ecw_library() {
  if (g_handle != nullptr) return &g_library;
  const char* name = ecw_library_name();
  LibraryHandle handle = open_library(name);
  if (handle == nullptr) {
    log_printf("Bibliotheque ECW introuvable : %s", name);
    g_error = ERR_LOADING;
    return nullptr;
  }
  void* found[5];
  for (int i = 0; i < 5; ++i) {
    found[i] = find_entry(handle, kEntryPoints[i]);
    if (found[i] == nullptr) {
      log_missing_entry(kEntryPoints[i], name);
      close_library(handle);
      g_error = ERR_LOADING;
      return nullptr;
    }
  }
  bind(&g_library.open_view, found[0]);
  bind(&g_library.get_file_info, found[1]);
  bind(&g_library.set_view, found[2]);
  bind(&g_library.read_line, found[3]);
  bind(&g_library.close_view, found[4]);
  g_handle = handle;
  return &g_library;
}

void ecw_library_unload() {
  if (g_handle == nullptr) return;
  close_library(g_handle);
  g_handle = nullptr;
  g_library = EcwLibrary{};
}

void ecw_library_set_path(const char* path) {
  ecw_library_unload();
  g_override = path != nullptr ? path : "";
}
