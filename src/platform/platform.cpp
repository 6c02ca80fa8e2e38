#include "platform/platform.h"

namespace {
PlatformBackend* g_backend = nullptr;
}

void platform_set_backend(PlatformBackend* backend) { g_backend = backend; }

PlatformBackend* platform() { return g_backend; }
