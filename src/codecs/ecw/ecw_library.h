// The vendor's ECW decompression library, loaded at run time on the first ECW file so that
// the program starts and works without it. Only the five calls the decoder needs are bound.
#pragma once
#include <cstdint>

#ifdef _WIN32
#define ECW_CALL __cdecl
#else
#define ECW_CALL
#endif

// Every call returns 0 on success and any other value on failure.
struct EcwLibrary {
  // (path, &view, refresh callback or null): the view is set when the result is 0.
  int(ECW_CALL* open_view)(char* path, void** view, void* refresh);
  // (view, &info): info starts with a 32-bit width, a 32-bit height and a 16-bit band count.
  int(ECW_CALL* get_file_info)(void* view, void** info);
  // (view, band count, band list, top-left x, y, bottom-right x, y, output width, height).
  int(ECW_CALL* set_view)(void* view, uint32_t bands, uint32_t* band_list, uint32_t left,
                          uint32_t top, uint32_t right, uint32_t bottom, uint32_t size_x,
                          uint32_t size_y);
  // (view, one pointer per band): writes the next row's samples of every band.
  int(ECW_CALL* read_line)(void* view, uint8_t** lines);
  // (view, free the cached file).
  int(ECW_CALL* close_view)(void* view, int free_cached_file);
};

// The library's entry points, loading it on the first call. When the library or one of its
// entry points cannot be found: null, g_error 7 and one log line naming what is missing;
// the next call tries again.
const EcwLibrary* ecw_library();

// Loads the library from `path` instead of the platform's name (null: back to the platform's
// name). Unloads whatever was loaded, so the next ecw_library() loads afresh.
void ecw_library_set_path(const char* path);

// Unloads the library if it is loaded.
void ecw_library_unload();

// The name the library is loaded by: the override when one is set.
const char* ecw_library_name();
