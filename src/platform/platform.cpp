#include "platform/platform.h"

#include <cstdlib>

namespace {
// One windowing system serves the process, and code far from the viewer (the redraw, error
// exits) reaches it: the current backend is process-wide.
PlatformBackend* g_backend = nullptr;
}

void platform_set_backend(PlatformBackend* backend) { g_backend = backend; }

PlatformBackend* platform() { return g_backend; }

void platform_exit(int code) {
  if (g_backend != nullptr) g_backend->exit_process(code);
  std::_Exit(code);
}
