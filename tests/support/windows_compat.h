// Included ahead of every test built for Windows: the POSIX calls the tests make that the
// Windows C library spells differently.
#pragma once
#include <direct.h>

inline int mkdir(const char* path, int /*mode*/) { return _mkdir(path); }
