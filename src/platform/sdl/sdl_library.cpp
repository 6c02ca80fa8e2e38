// The program loads SDL2 when it opens its first window rather than when it starts: SDL2 and
// the dozens of display and sound libraries it needs cost every command-line run (--info,
// --export, --version) several milliseconds of loading for nothing. Each SDL function the
// backend calls is defined here and forwards to the library's own, looked up on first use;
// where the library cannot be loaded the calls fail as SDL's do and SDL_GetError says why.
// Only the program links this file; the backend's tests link SDL2 itself.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>

namespace {

constexpr const char* kLibraryName = "libSDL2-2.0.so.0";
char g_load_failure[256];  // why the library could not be loaded, for SDL_GetError

void* library() {
  static void* handle = [] {
    void* h = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      const char* why = dlerror();
      std::snprintf(g_load_failure, sizeof g_load_failure, "%s", why != nullptr ? why : kLibraryName);
    }
    return h;
  }();
  return handle;
}

template <typename F>
F* lookup(F*, const char* name) {
  void* h = library();
  return h != nullptr ? reinterpret_cast<F*>(dlsym(h, name)) : nullptr;
}

}  // namespace

// Each forwarder keeps its function's pointer after the first lookup; `failed` is what the
// call returns when SDL2 is missing.
#define SDL_FORWARD(result, name, params, args, failed)        \
  extern "C" result name params {                                \
    static const auto real = lookup(&name, #name);               \
    if (real == nullptr) return failed;                          \
    return real args;                                            \
  }
#define SDL_FORWARD_VOID(name, params, args)                    \
  extern "C" void name params {                                  \
    static const auto real = lookup(&name, #name);               \
    if (real != nullptr) real args;                              \
  }

SDL_FORWARD(int, SDL_InitSubSystem, (Uint32 flags), (flags), -1)
SDL_FORWARD_VOID(SDL_QuitSubSystem, (Uint32 flags), (flags))
SDL_FORWARD(Uint32, SDL_WasInit, (Uint32 flags), (flags), 0)
SDL_FORWARD(SDL_bool, SDL_SetHint, (const char* name, const char* value), (name, value), SDL_FALSE)
SDL_FORWARD(const char*, SDL_GetCurrentVideoDriver, (void), (), nullptr)
SDL_FORWARD(int, SDL_GetDisplayUsableBounds, (int index, SDL_Rect* rect), (index, rect), -1)
SDL_FORWARD(Uint64, SDL_GetTicks64, (void), (), 0)
SDL_FORWARD_VOID(SDL_free, (void* memory), (memory))

SDL_FORWARD(SDL_Window*, SDL_CreateWindow, (const char* title, int x, int y, int w, int h, Uint32 flags),
            (title, x, y, w, h, flags), nullptr)
SDL_FORWARD_VOID(SDL_DestroyWindow, (SDL_Window * window), (window))
SDL_FORWARD(Uint32, SDL_GetWindowFlags, (SDL_Window * window), (window), 0)
SDL_FORWARD(Uint32, SDL_GetWindowID, (SDL_Window * window), (window), 0)
SDL_FORWARD_VOID(SDL_GetWindowSize, (SDL_Window * window, int* w, int* h), (window, w, h))
SDL_FORWARD(SDL_Surface*, SDL_GetWindowSurface, (SDL_Window * window), (window), nullptr)
SDL_FORWARD_VOID(SDL_SetWindowIcon, (SDL_Window * window, SDL_Surface* icon), (window, icon))
SDL_FORWARD_VOID(SDL_SetWindowTitle, (SDL_Window * window, const char* title), (window, title))
SDL_FORWARD(int, SDL_UpdateWindowSurfaceRects, (SDL_Window * window, const SDL_Rect* rects, int count),
            (window, rects, count), -1)
SDL_FORWARD(int, SDL_ShowSimpleMessageBox, (Uint32 flags, const char* title, const char* text, SDL_Window* parent),
            (flags, title, text, parent), -1)

SDL_FORWARD(SDL_Surface*, SDL_CreateRGBSurfaceWithFormatFrom,
            (void* pixels, int width, int height, int depth, int pitch, Uint32 format),
            (pixels, width, height, depth, pitch, format), nullptr)
SDL_FORWARD_VOID(SDL_FreeSurface, (SDL_Surface * surface), (surface))
SDL_FORWARD(int, SDL_UpperBlit, (SDL_Surface * src, const SDL_Rect* src_rect, SDL_Surface* dst, SDL_Rect* dst_rect),
            (src, src_rect, dst, dst_rect), -1)

SDL_FORWARD(Uint8, SDL_EventState, (Uint32 type, int state), (type, state), 0)
SDL_FORWARD(int, SDL_PeepEvents,
            (SDL_Event * events, int count, SDL_eventaction action, Uint32 min_type, Uint32 max_type),
            (events, count, action, min_type, max_type), -1)
SDL_FORWARD(int, SDL_PollEvent, (SDL_Event * event), (event), 0)
SDL_FORWARD_VOID(SDL_PumpEvents, (void), ())
SDL_FORWARD(int, SDL_WaitEvent, (SDL_Event * event), (event), 0)
SDL_FORWARD(int, SDL_WaitEventTimeout, (SDL_Event * event, int timeout), (event, timeout), 0)
SDL_FORWARD_VOID(SDL_StopTextInput, (void), ())

extern "C" const char* SDL_GetError(void) {
  static const auto real = lookup(&SDL_GetError, "SDL_GetError");
  return real != nullptr ? real() : g_load_failure;
}

// Variadic: the message is formatted here and handed over whole.
extern "C" int SDL_SetError(SDL_PRINTF_FORMAT_STRING const char* format, ...) {
  static const auto real = lookup(&SDL_SetError, "SDL_SetError");
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  return real != nullptr ? real("%s", message) : -1;
}
