// --screenshot: the viewer started on the headless platform, its first picture written out.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "viewer/viewer.h"

// Runs the viewer headless with a client area of width x height, lets it show its first
// image, and writes the document window to `out_path` as PNG. Returns the exit code: 0, the
// viewer's own code when it ended during start-up (the message box text goes to `err`), or
// 1 when the picture cannot be written.
int run_screenshot(const std::string& out_path, int32_t width, int32_t height, const ViewerOptions& options,
                   FILE* err);
// Parses "WxH" with both sides from 1 to 16384.
bool parse_size(const char* text, int32_t* width, int32_t* height);
