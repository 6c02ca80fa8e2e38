// Errors on screen: the placeholder pictures, and the error display that puts a placeholder
// with a message into the next group, shown like any file.
#pragma once
#include <string>

#include "viewer/viewer.h"

void placeholders_load(Viewer& viewer, const std::string& error_name, const std::string& unknown_name);
// The placeholder of an error code (codes past the table show the error picture).
Handle placeholder_of(const Viewer& viewer, int32_t code);
// Queues `placeholder` (0: an empty image) with `text` into the next group; reports the
// pending error code and clears it.
void error_display(Viewer& viewer, Handle placeholder, const char* text);
// Shows a pending error code, with its category message, and clears it.
void error_display_pending(Viewer& viewer);
[[noreturn]] void system_exit(const char* text);
