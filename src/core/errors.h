// Process-wide error code, its French texts, and the diagnostic log.
#pragma once
#include <cstdint>

// Error codes. Every operation that fails sets g_error and returns; callers test it.
enum ErrorCode : int32_t {
  ERR_NONE = 0,
  ERR_MEMORY = 1,          // "Pas assez de memoire"
  ERR_FILE_ACCESS = 2,     // "Impossible d'acceder au fichier" (also: read past end of file)
  ERR_UNKNOWN_FORMAT = 3,  // "Format inconnu"
  ERR_COM_OPEN = 4,
  ERR_COM = 5,
  ERR_COORDINATES = 6,
  ERR_LOADING = 7,         // corrupt compressed data
  ERR_DISPLAY = 8,
  ERR_INIT = 9,
  ERR_OBJECT = 10,         // a handle names no object
  ERR_SYSTEM = 11,
  ERR_VALUE = 12,
  ERR_GEOGRAPHIC = 13,
  ERR_INVALID_FILE = 14,   // "Fichier invalide"
  ERR_PARAMETERS = 15,
  ERR_UNHANDLED = 16,      // "Cas non traite"
};

extern int32_t g_error;

const char* error_message();           // message text of the current g_error
const char* error_category_message();  // category text of the current g_error
const char* error_message_for(int32_t code);  // same, for any code (out of range: empty)

// "<cwd>/zz_<tag>.log"; where the working directory cannot be written, the same name in
// $XDG_STATE_HOME/korvela (by default ~/.local/state/korvela), made on the first entry.
void log_set_path(const char* tag);
void log_write(const char* text);      // appends a two-line entry; failures drop the entry
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* log_path();
