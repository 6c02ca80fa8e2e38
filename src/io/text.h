// Token readers shared by the text formats and the command line. The stream readers take
// bytes from the input stream and count down a byte budget; the memory readers advance a
// cursor through a zero-terminated text.
#pragma once
#include <cstdint>

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

void text_read_token(int max, uint32_t* budget, char* buffer, uint8_t* after);
void text_skip_line(uint32_t* budget);
int32_t text_read_digit(uint32_t* budget);
// Numbers of up to 12 digits: 64-bit results whatever the size of long (32 bits on Windows).
int64_t text_read_number(uint32_t* budget);

void str_read_word(int max, const char** cursor, char* out);
int64_t str_read_int(const char** cursor);
void str_read_quoted(int max, const char** cursor, char* out);
