// The command-line modes that need no window: --info and --export.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// Registers every object type of the loading path (the viewer's start-up does the same and more).
void batch_types_init();
// Prints one line per image (its title) and one per file that fails ("PATH : TEXT") for the
// names, walking directories; returns 1 when any file failed, else 0.
int run_info(const std::vector<std::string>& names, FILE* out);
// Writes the images of a file as displayed at 1:1; returns 0 or 1 (the error text printed).
int run_export(const std::string& out_path, const std::string& name, FILE* out);
