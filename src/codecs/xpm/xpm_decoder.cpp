// X pixmap decoder. The C-source form (a declaration, then double-quoted strings in braces,
// closed by "};") is read by a state machine driven by a byte-class table, a transition
// table and action codes. The first string gives the size, the colour count and the
// characters per pixel; the colour strings fill the palette; the pixel strings the rows.
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/raster_common.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"
#include "io/text.h"

namespace {

enum ByteClass : uint8_t { C_SPACE, C_QUOTE, C_STAR, C_COMMA, C_SLASH, C_SEMI, C_OPEN, C_CLOSE, C_OTHER, kClasses };

enum State : uint8_t {
  S_OUTSIDE, S_COMMENT_OPEN, S_COMMENT, S_COMMENT_STAR, S_WORD, S_IN_BRACES, S_VALUES_START,
  S_VALUES, S_STRING, S_AFTER_STRING, S_BRACE_COMMENT_OPEN, S_BRACE_COMMENT,
  S_BRACE_COMMENT_STAR, S_AFTER_BRACE, kStates
};

enum Action : uint8_t { A_NONE, A_APPEND, A_VALUES, A_STRING, A_FINISH, A_FAIL };

constexpr uint8_t byte_class(int b) {
  switch (b) {
    case 9: case 10: case 13: case 32: return C_SPACE;
    case '"': return C_QUOTE;
    case '*': return C_STAR;
    case ',': return C_COMMA;
    case '/': return C_SLASH;
    case ';': return C_SEMI;
    case '{': return C_OPEN;
    case '}': return C_CLOSE;
    default: return C_OTHER;
  }
}

struct ClassTable {
  uint8_t v[256];
  constexpr ClassTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = byte_class(i);
  }
};
constexpr ClassTable kClassOf;

// A cell: the action in the high nibble, the next state in the low one.
constexpr uint8_t T(State next, Action action = A_NONE) { return static_cast<uint8_t>(action << 4 | next); }
constexpr uint8_t F = T(S_OUTSIDE, A_FAIL);
constexpr uint8_t kNext[kStates][kClasses] = {
    //           space                       quote                       star                       comma                     slash                       semi                      open                     close                     other
    /*Outside*/ {T(S_OUTSIDE), T(S_STRING), T(S_WORD), F, T(S_COMMENT_OPEN), F, T(S_IN_BRACES), T(S_AFTER_BRACE), T(S_WORD)},
    /*CommentOpen*/ {F, F, T(S_COMMENT), F, F, F, F, F, F},
    /*Comment*/ {T(S_COMMENT), T(S_COMMENT), T(S_COMMENT_STAR), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT)},
    /*CommentStar*/ {T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_OUTSIDE), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT), T(S_COMMENT)},
    /*Word*/ {T(S_OUTSIDE), F, T(S_WORD), F, F, F, F, F, T(S_WORD)},
    /*InBraces*/ {T(S_IN_BRACES), T(S_VALUES_START), F, F, T(S_BRACE_COMMENT_OPEN), F, F, F, F},
    /*ValuesStart*/ {T(S_VALUES_START), F, F, F, F, F, F, F, T(S_VALUES, A_APPEND)},
    /*Values*/ {T(S_VALUES, A_APPEND), T(S_AFTER_STRING, A_VALUES), F, F, F, F, F, F, T(S_VALUES, A_APPEND)},
    /*String*/ {T(S_STRING, A_APPEND), T(S_AFTER_STRING, A_STRING), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND), T(S_STRING, A_APPEND)},
    /*AfterString*/ {T(S_AFTER_STRING), F, F, T(S_OUTSIDE), F, F, F, T(S_AFTER_BRACE), F},
    /*BraceCommentOpen*/ {F, F, T(S_BRACE_COMMENT), F, F, F, F, F, F},
    /*BraceComment*/ {T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT_STAR), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT)},
    /*BraceCommentStar*/ {T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_IN_BRACES), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT), T(S_BRACE_COMMENT)},
    /*AfterBrace*/ {T(S_AFTER_BRACE), F, F, F, F, T(S_OUTSIDE, A_FINISH), F, F, F},
};

constexpr int kWordMax = 31;
constexpr int kTextStep = 512;

// One decode: the string being read, the values, and the colour keys.
struct XpmDecode {
  ImageRecord* image = nullptr;
  Handle group = 0;
  int64_t file_size = 0;
  char* text = nullptr;
  int64_t text_length = 0;
  int64_t text_capacity = 0;
  int64_t ncolors = 0;
  int64_t chars_per_pixel = 0;
  int64_t colours_read = 0;
  int64_t rows_read = 0;
  char* keys = nullptr;
  int16_t* lookup = nullptr;  // keys of one or two characters -> first palette entry, -1 for none
  XpmDecode() = default;
  XpmDecode(const XpmDecode&) = delete;
  XpmDecode& operator=(const XpmDecode&) = delete;
  ~XpmDecode() {
    mem_free(&text);
    mem_free(&keys);
    mem_free(&lookup);
  }
};

void text_append(XpmDecode& s, uint8_t byte) {
  if (s.text_capacity - s.text_length < 2) {
    // Long pixel strings grow the buffer geometrically rather than 512 bytes at a time.
    s.text_capacity += s.text_capacity > kTextStep ? s.text_capacity : kTextStep;
    if (mem_realloc(&s.text, static_cast<size_t>(s.text_capacity)) == nullptr) return;
  }
  s.text[s.text_length++] = static_cast<char>(byte);
  s.text[s.text_length] = '\0';
}

void text_clear(XpmDecode& s) {
  s.text_length = 0;
  if (s.text != nullptr) s.text[0] = '\0';
}

void action_values(XpmDecode& s) {
  ImageRecord* image = s.image;
  // Only one picture per file: a second values string is not a pixmap this reader knows.
  if (image->pixels != nullptr) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  const char* cursor = s.text;
  const int64_t width = str_read_int(&cursor);
  const int64_t height = str_read_int(&cursor);
  s.ncolors = str_read_int(&cursor);
  s.chars_per_pixel = str_read_int(&cursor);
  if (s.ncolors > 256) {
    g_error = ERR_UNKNOWN_FORMAT;
    return;
  }
  if (s.chars_per_pixel <= 0 || s.chars_per_pixel > INT32_MAX || width <= 0 || height <= 0) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  if (mem_alloc(&s.keys, static_cast<size_t>(s.chars_per_pixel * (s.ncolors > 0 ? s.ncolors : 1))) == nullptr)
    return;
  image->bits = 8;
  image->pixel_bytes = 1;
  image->planes = 1;
  image->description = DESC_XPM;
  const int64_t row_bytes = raster_row_bytes(width, 1, true);
  if (row_bytes < 0) {
    g_error = ERR_MEMORY;
    return;
  }
  // Every pixel takes at least one character of the file.
  if (!raster_plausible(row_bytes * height, s.file_size, 8)) return;
  if (!raster_alloc(image, s.group, width, height, row_bytes, 1)) return;
  std::memset(image->pixels, 0, image->pixel_size);
  text_clear(s);
}

// Hex digits after "#": two per channel, or the top two of each channel's digits when the
// colour is written with 1, 3 or 4 digits a channel.
void set_hex_colour(ImageRecord* image, int64_t entry, const char* hex) {
  int digits[12];
  int n = 0;
  for (; hex[n] != '\0' && n < 13; ++n) {
    char c = hex[n];
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
          : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (v < 0) break;
    if (n < 12) digits[n] = v;
  }
  int channel[3];
  if (n == 3) {
    for (int i = 0; i < 3; ++i) channel[i] = digits[i] * 17;
  } else if (n == 9 || n == 12) {
    const int per = n / 3;
    for (int i = 0; i < 3; ++i) channel[i] = digits[i * per] * 16 + digits[i * per + 1];
  } else if (n >= 6) {
    for (int i = 0; i < 3; ++i) channel[i] = digits[2 * i] * 16 + digits[2 * i + 1];
  } else {
    return;
  }
  image->palette_red[entry] = static_cast<uint8_t>(channel[0]);
  image->palette_green[entry] = static_cast<uint8_t>(channel[1]);
  image->palette_blue[entry] = static_cast<uint8_t>(channel[2]);
}

int visual_priority(const char* key) {
  if (std::strcmp(key, "c") == 0) return 4;
  if (std::strcmp(key, "g") == 0) return 3;
  if (std::strcmp(key, "g4") == 0) return 2;
  if (std::strcmp(key, "m") == 0) return 1;
  if (std::strcmp(key, "s") == 0) return 0;
  return -1;
}

void colour_string(XpmDecode& s) {
  ImageRecord* image = s.image;
  const int64_t entry = s.colours_read;
  const int64_t cpp = s.chars_per_pixel;
  char* key = s.keys + entry * cpp;
  const int64_t have = s.text_length < cpp ? s.text_length : cpp;
  std::memset(key, 0, static_cast<size_t>(cpp));
  std::memcpy(key, s.text, static_cast<size_t>(have));
  const char* cursor = s.text + have;
  int applied = 0;
  char visual[kWordMax + 1];
  char value[kWordMax + 1];
  for (;;) {
    str_read_word(kWordMax, &cursor, visual);
    if (visual[0] == '\0') break;
    str_read_word(kWordMax, &cursor, value);
    if (value[0] == '\0') break;
    const int priority = visual_priority(visual);
    if (priority <= applied) continue;
    applied = priority;
    if (value[0] == '#') {
      set_hex_colour(image, entry, value + 1);
    } else if (std::strcmp(value, "None") == 0) {
      image->has_transparent = 1;
      image->transparent[0] = static_cast<uint8_t>(entry);
      image->palette_red[entry] = image->palette_green[entry] = image->palette_blue[entry] = 255;
    }
    // "%" (HSV) values and colour names leave the entry as it is.
  }
}

bool build_lookup(XpmDecode& s) {
  if (s.chars_per_pixel > 2) return true;
  const size_t size = s.chars_per_pixel == 1 ? 256 : 65536;
  if (mem_alloc(&s.lookup, size * sizeof(int16_t)) == nullptr) return false;
  std::memset(s.lookup, 0xFF, size * sizeof(int16_t));
  for (int64_t i = s.ncolors - 1; i >= 0; --i) {
    const uint8_t* k = reinterpret_cast<const uint8_t*>(s.keys + i * s.chars_per_pixel);
    s.lookup[s.chars_per_pixel == 1 ? k[0] : (k[0] << 8 | k[1])] = static_cast<int16_t>(i);
  }
  return true;
}

void pixel_string(XpmDecode& s) {
  ImageRecord* image = s.image;
  if (s.rows_read == 0 && s.lookup == nullptr && !build_lookup(s)) return;
  const int64_t cpp = s.chars_per_pixel;
  int64_t n = s.text_length / cpp;
  if (n > image->width) n = image->width;
  uint8_t* out = image->pixels + s.rows_read * image->row_bytes;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s.text);
  for (int64_t x = 0; x < n; ++x, p += cpp) {
    int index = -1;
    if (cpp == 1) {
      index = s.lookup[p[0]];
    } else if (cpp == 2) {
      index = s.lookup[p[0] << 8 | p[1]];
    } else {
      for (int64_t i = 0; i < s.ncolors; ++i) {
        if (std::memcmp(s.keys + i * cpp, p, static_cast<size_t>(cpp)) == 0) {
          index = static_cast<int>(i);
          break;
        }
      }
    }
    if (index >= 0) out[x] = static_cast<uint8_t>(index);
  }
}

void action_string(XpmDecode& s) {
  if (s.ncolors == 0 || s.keys == nullptr) {
    g_error = ERR_LOADING;
    return;
  }
  if (s.colours_read < s.ncolors) {
    colour_string(s);
    ++s.colours_read;
  } else {
    if (s.rows_read < s.image->height) pixel_string(s);
    ++s.rows_read;
  }
  text_clear(s);
}

void run(XpmDecode& s, const uint8_t* p, const uint8_t* end) {
  uint8_t state = S_OUTSIDE;
  for (; p < end; ++p) {
    const uint8_t cell = kNext[state][kClassOf.v[*p]];
    state = cell & 15;
    switch (cell >> 4) {
      case A_NONE: continue;
      case A_APPEND: text_append(s, *p); break;
      case A_VALUES: action_values(s); break;
      case A_STRING: action_string(s); break;
      case A_FINISH: return;
      case A_FAIL: g_error = ERR_INVALID_FILE; break;
    }
    if (g_error != 0) return;
  }
  g_error = ERR_FILE_ACCESS;  // the file ends before "};"
}

}  // namespace

void decode_xpm(ImageRecord* image, Handle group, ByteReader& in) {
  XpmDecode s;
  s.file_size = in.size();
  s.image = image;
  s.group = group;
  if (mem_alloc(&s.text, kTextStep) != nullptr) {
    s.text_capacity = kTextStep;
    text_clear(s);
    run(s, in.data(), in.data() + in.size());
  }
  // A file that closed its braces without any values string holds no picture.
  if (g_error == 0 && image->pixels == nullptr) g_error = ERR_INVALID_FILE;
}
