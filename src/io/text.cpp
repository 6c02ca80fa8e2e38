#include "io/text.h"

#include <cstdlib>
#include <cstring>


namespace {

constexpr int32_t make_class(int byte) {
  if (byte >= '0' && byte <= '9') return CHAR_DIGIT;
  if (byte == '+' || byte == '-') return CHAR_SIGN;
  if (byte == '.') return CHAR_POINT;
  if (byte == 9 || byte == 10 || byte == 13 || byte == 32) return CHAR_SPACE;
  if (byte == ',') return CHAR_COMMA;
  if (byte == ';') return CHAR_SEMICOLON;
  if (byte == '"') return CHAR_QUOTE;
  return CHAR_OTHER;
}

struct ClassTable {
  int32_t v[256];
  constexpr ClassTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = make_class(i);
  }
};
constexpr ClassTable kClasses;

bool is_space(uint8_t byte) { return char_class(byte) == CHAR_SPACE; }

}  // namespace

const int32_t g_char_class[256] = {
#define K(i) kClasses.v[i]
#define K8(i) K(i), K(i + 1), K(i + 2), K(i + 3), K(i + 4), K(i + 5), K(i + 6), K(i + 7)
#define K64(i) K8(i), K8(i + 8), K8(i + 16), K8(i + 24), K8(i + 32), K8(i + 40), K8(i + 48), K8(i + 56)
    K64(0), K64(64), K64(128), K64(192)
#undef K64
#undef K8
#undef K
};

void text_read_token(ByteReader& in, int max, char* buffer, uint8_t* after) {
  int kept = 0;
  *after = 0;
  uint8_t byte = ' ';
  while (is_space(byte)) {
    if (in.at_end()) {
      buffer[0] = '\0';
      return;
    }
    byte = static_cast<uint8_t>(in.u8());
  }
  for (;;) {
    if (kept < max) buffer[kept++] = static_cast<char>(byte);
    if (in.at_end()) break;
    byte = static_cast<uint8_t>(in.u8());
    if (is_space(byte)) {
      *after = byte;
      break;
    }
  }
  buffer[kept] = '\0';
}

void text_skip_line(ByteReader& in) {
  while (!in.at_end()) {
    const uint32_t byte = in.u8();
    if (byte == '\n' || byte == '\r') return;
  }
}

int32_t text_read_digit(ByteReader& in) {
  while (!in.at_end()) {
    const uint8_t byte = static_cast<uint8_t>(in.u8());
    if (char_class(byte) == CHAR_DIGIT) return byte - '0';
  }
  return 0;
}

int64_t text_read_number(ByteReader& in) {
  uint8_t byte = 0;
  bool found = false;
  while (!in.at_end()) {
    byte = static_cast<uint8_t>(in.u8());
    if (char_class(byte) == CHAR_DIGIT) {
      found = true;
      break;
    }
  }
  if (!found) return 0;
  char digits[13];
  int kept = 0;
  for (;;) {
    if (kept < 12) digits[kept++] = static_cast<char>(byte);
    if (in.at_end()) break;
    byte = static_cast<uint8_t>(in.u8());
    if (char_class(byte) != CHAR_DIGIT) break;  // the byte that ends the digits is consumed
  }
  digits[kept] = '\0';
  return std::atoll(digits);
}

void str_read_word(int max, const char** cursor, char* out) {
  const char* p = *cursor;
  while (*p != '\0' && is_space(static_cast<uint8_t>(*p))) ++p;
  *cursor = p;
  size_t length = 0;
  while (p[length] != '\0' && !is_space(static_cast<uint8_t>(p[length]))) ++length;
  if (length + 1 > static_cast<size_t>(max)) {
    if (max > 0) out[0] = '\0';
    return;
  }
  std::memcpy(out, p, length);
  out[length] = '\0';
  *cursor = p + length;
}

int64_t str_read_int(const char** cursor) {
  const char* p = *cursor;
  while (*p != '\0' && char_class(static_cast<uint8_t>(*p)) != CHAR_DIGIT) ++p;
  *cursor = p;
  size_t length = 0;
  while (char_class(static_cast<uint8_t>(p[length])) == CHAR_DIGIT && p[length] != '\0') ++length;
  if (length == 0 || length >= 15) return 0;
  char digits[16];
  std::memcpy(digits, p, length);
  digits[length] = '\0';
  *cursor = p + length;
  return std::atoll(digits);
}

void str_read_quoted(int max, const char** cursor, char* out) {
  const char* p = std::strchr(*cursor, '"');
  out[0] = '\0';
  if (p == nullptr) {
    *cursor += std::strlen(*cursor);
    return;
  }
  ++p;
  int kept = 0;
  while (*p != '\0' && *p != '"') {
    if (kept < max) out[kept++] = *p;
    ++p;
  }
  out[kept] = '\0';
  *cursor = *p == '"' ? p + 1 : p;
}
