// Shared by the benchmarks: loads a file through our own load path, from a clean registry.
#pragma once
#include <string>

// Identifies and decodes the file, releases everything; returns g_error.
int bench_load(const std::string& path);
