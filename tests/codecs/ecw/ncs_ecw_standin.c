/* A stand-in for the vendor's ECW decompression library, built by the tests and loaded by
   the decoder through the ordinary dynamic loading path. It serves synthetic pictures
   described by a small header (see ncs_ecw_standin.h), refuses on request at any of its five
   calls, refuses any call whose arguments are not the ones a whole-picture read must pass,
   and counts its calls and open views so the tests can see that nothing is left open. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ncs_ecw_standin.h"

#ifdef _WIN32
#define EXPORT /* the DLL exports what ncs_ecw_standin.def lists, by ordinal */
#else
#define EXPORT __attribute__((visibility("default")))
#endif

struct View {
  struct {
    uint32_t width, height;
    uint16_t bands;
  } info; /* first, as the information the library hands out */
  uint8_t header[STANDIN_HEADER_SIZE];
  int view_set;
  uint32_t next_row;
};

static int g_open_views;
static int g_calls[7];

static uint32_t get_u32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Counts the call; a call with arguments a whole-picture read never passes is refused. */
static int called(int which, int good) {
  ++g_calls[which];
  if (!good) ++g_calls[STANDIN_CALL_BAD_ARGUMENTS];
  return good;
}

static int fails(const struct View* view, int call) { return view->header[3] == call; }

EXPORT int ncs_standin_open_views(void) { return g_open_views; }
EXPORT int ncs_standin_calls(int which) { return which >= 0 && which < 7 ? g_calls[which] : -1; }
EXPORT void ncs_standin_reset(void) {
  g_open_views = 0;
  memset(g_calls, 0, sizeof g_calls);
}

EXPORT int NCScbmOpenFileView(char* path, void** view_out, void* refresh) {
  if (!called(STANDIN_CALL_OPEN, path != NULL && view_out != NULL && refresh == NULL)) return 1;
  uint8_t header[STANDIN_HEADER_SIZE];
  FILE* fp = fopen(path, "rb");
  if (fp == NULL) return 1;
  size_t got = fread(header, 1, sizeof header, fp);
  fclose(fp);
  if (got != sizeof header || header[0] != 0x65 || header[1] != 0x02 || header[2] != 0x01 ||
      header[3] == STANDIN_CALL_OPEN)
    return 1;
  *view_out = NULL;
  if (header[19] & STANDIN_NULL_VIEW) return 0;
  struct View* view = calloc(1, sizeof *view);
  if (view == NULL) return 1;
  memcpy(view->header, header, sizeof header);
  view->info.width = get_u32(header + 4);
  view->info.height = get_u32(header + 8);
  view->info.bands = (uint16_t)(header[12] | (header[13] << 8));
  ++g_open_views;
  *view_out = view;
  return 0;
}

EXPORT int NCScbmGetViewFileInfo(void* handle, void** info) {
  struct View* view = handle;
  if (!called(STANDIN_CALL_INFO, view != NULL && info != NULL) || fails(view, STANDIN_CALL_INFO)) return 1;
  *info = (view->header[19] & STANDIN_NULL_INFO) ? NULL : &view->info;
  return 0;
}

EXPORT int NCScbmSetFileView(void* handle, uint32_t bands, uint32_t* band_list, uint32_t left,
                             uint32_t top, uint32_t right, uint32_t bottom, uint32_t size_x,
                             uint32_t size_y) {
  struct View* view = handle;
  int good = view != NULL && band_list != NULL && bands == view->info.bands && left == 0 &&
             top == 0 && right == view->info.width - 1 && bottom == view->info.height - 1 &&
             size_x == view->info.width && size_y == view->info.height;
  for (uint32_t b = 0; good && b < bands; ++b) good = band_list[b] == b;
  if (!called(STANDIN_CALL_SET_VIEW, good) || fails(view, STANDIN_CALL_SET_VIEW)) return 1;
  view->view_set = 1;
  view->next_row = 0;
  return 0;
}

/* A second build leaves this entry point out, for the loader's missing-entry path. */
#ifndef STANDIN_OMIT_READ
EXPORT int NCScbmReadViewLineBIL(void* handle, uint8_t** lines) {
  struct View* view = handle;
  if (!called(STANDIN_CALL_READ, view != NULL && lines != NULL && view->view_set &&
                                     view->next_row < view->info.height))
    return 1;
  uint32_t y = view->next_row++;
  if (fails(view, STANDIN_CALL_READ) && y == get_u32(view->header + 14)) return 1;
  for (uint32_t b = 0; b < view->info.bands; ++b)
    for (uint32_t x = 0; x < view->info.width; ++x) lines[b][x] = standin_sample(b, x, y, view->header[18]);
  return 0;
}
#endif

EXPORT int NCScbmCloseFileViewEx(void* handle, int free_cached_file) {
  struct View* view = handle;
  called(STANDIN_CALL_CLOSE, view != NULL && free_cached_file == 1);
  if (view == NULL) return 1;
  int result = fails(view, STANDIN_CALL_CLOSE) ? 1 : 0;
  free(view);
  --g_open_views;
  return result;
}
