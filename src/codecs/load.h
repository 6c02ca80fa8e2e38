// The load dispatch: an identified file descriptor becomes an image record in a group.
#pragma once
#include "core/registry.h"

void image_load(Handle descriptor, Handle* group);
