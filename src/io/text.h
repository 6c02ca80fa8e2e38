// Token readers shared by the text formats and the command line. The reader functions take
// bytes from a ByteReader and stop at its end; the memory readers advance a cursor through a
// zero-terminated text.
#pragma once
#include <cstdint>

#include "io/byte_reader.h"

enum CharClass : int32_t {
  CHAR_DIGIT = 0,
  CHAR_SIGN = 1,
  CHAR_POINT = 2,
  CHAR_SPACE = 3,
  CHAR_COMMA = 4,
  CHAR_SEMICOLON = 5,
  CHAR_QUOTE = 6,
  CHAR_OTHER = 7,
};
extern const int32_t g_char_class[256];

inline int32_t char_class(uint8_t byte) { return g_char_class[byte]; }

// The next white-space separated token, cut to `max` characters; `after` receives the white
// space that ended it (0 when the data ended it).
void text_read_token(ByteReader& in, int max, char* buffer, uint8_t* after);
// Reads up to and including the next line end.
void text_skip_line(ByteReader& in);
// The next digit's value; 0 when the data ends first.
int32_t text_read_digit(ByteReader& in);
// The next run of digits, of which the first 12 count (64-bit results whatever the size of
// long, 32 bits on Windows); the byte that ends the run is consumed. 0 when none is left.
int64_t text_read_number(ByteReader& in);

void str_read_word(int max, const char** cursor, char* out);
int64_t str_read_int(const char** cursor);
void str_read_quoted(int max, const char** cursor, char* out);
