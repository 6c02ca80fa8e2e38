#include "io/stream.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "io/file_map.h"

namespace {

struct Stream {
  FILE* fp = nullptr;
  bool memory = false;       // the buffer holds all the bytes; there is no file
  size_t mapped = 0;         // extent of the file's mapping when the buffer is one, else 0
  int64_t size = 0;
  int64_t window = 0;        // bytes the window holds
  uint8_t* buffer = nullptr;  // window + 2 bytes
  int64_t base = 0;          // file offset of the window's first byte
  int64_t position = 0;      // offset of the next byte within the window
  int64_t loaded = -1;       // base whose bytes the buffer holds, -1 when none
};

Stream g_stream;
Stream g_suspended;  // the file stream while a memory stream is read

void load_window() {
  Stream& s = g_stream;
  // A mapping always holds the file; bytes outside it are never taken from the buffer.
  if (s.base < 0 || s.base > s.size || s.base == s.loaded || s.memory || s.mapped != 0) return;
  size_t got = 0;
  if (std::fseek(s.fp, static_cast<long>(s.base), SEEK_SET) == 0)
    got = std::fread(s.buffer, 1, static_cast<size_t>(s.window), s.fp);
  // Past the end of the file the window reads as zeros.
  std::memset(s.buffer + got, 0, static_cast<size_t>(s.window) + 2 - got);
  s.loaded = s.base;
}

void move_window() {
  Stream& s = g_stream;
  if (s.position >= 0 && s.position < s.window) return;
  if (s.window <= 0) return;
  int64_t steps = s.position >= 0 ? s.position / s.window : -((-s.position + s.window - 1) / s.window);
  s.position -= steps * s.window;
  s.base += steps * s.window;
  load_window();
}

bool at_end() { return g_stream.base + g_stream.position >= g_stream.size; }

void advance(int64_t n) {
  g_stream.position += n;
  move_window();
}

uint8_t current_byte() {
  // Past the end of the file, or with a window that was not read, the byte is 0.
  if (g_stream.base < 0 || g_stream.base >= g_stream.size) return 0;
  return g_stream.buffer[g_stream.position];
}

}  // namespace

int stream_open(const char* path, int32_t window_limit) {
  Stream& s = g_stream;
  if (s.fp != nullptr) stream_close();
  s.fp = file_open(path, "rb");
  if (s.fp == nullptr) return 1;
  std::fseek(s.fp, 0, SEEK_END);
  long size = std::ftell(s.fp);
  s.size = size < 0 ? 0 : size;
  s.window = (s.size >= kStreamWholeFileBelow && window_limit != 0) ? window_limit : s.size;
  s.base = 0;
  s.position = 0;
  s.loaded = -1;
  // A whole file is mapped rather than copied where the system allows it.
  if (s.window == s.size) {
    s.buffer = const_cast<uint8_t*>(file_map(s.fp, s.size, &s.mapped));
    if (s.buffer != nullptr) {
      s.loaded = 0;
      return 0;
    }
  }
  if (mem_alloc(&s.buffer, static_cast<size_t>(s.window) + 2) == nullptr) {
    std::fclose(s.fp);
    s.fp = nullptr;
    return 1;
  }
  load_window();
  return 0;
}

void stream_close() {
  if (g_stream.fp != nullptr) std::fclose(g_stream.fp);
  if (g_stream.mapped != 0) file_unmap(g_stream.buffer, g_stream.mapped);
  else mem_free(&g_stream.buffer);
  g_stream = Stream{};
}

void stream_release_before(int64_t offset) {
  if (g_stream.mapped != 0 && offset > 0)
    file_release_mapped(g_stream.buffer, static_cast<size_t>(offset < g_stream.size ? offset : g_stream.size));
}

void stream_begin_memory(const uint8_t* data, int64_t size) {
  g_suspended = g_stream;
  g_stream = Stream{};
  Stream& s = g_stream;
  s.memory = true;
  s.size = size < 0 ? 0 : size;
  s.window = s.size;
  if (mem_alloc(&s.buffer, static_cast<size_t>(s.size) + 2) == nullptr) {
    s.size = s.window = 0;
    return;
  }
  std::memcpy(s.buffer, data, static_cast<size_t>(s.size));
  s.buffer[s.size] = s.buffer[s.size + 1] = 0;
  s.loaded = 0;
}

void stream_end_memory() {
  mem_free(&g_stream.buffer);
  g_stream = g_suspended;
  g_suspended = Stream{};
}

bool stream_is_open() { return g_stream.fp != nullptr; }

void stream_seek(int64_t offset, int whence) {
  Stream& s = g_stream;
  int64_t target = s.base + s.position;
  if (whence == 0) target = offset;
  else if (whence == 1) target += offset;
  else if (whence == 2) target = s.size - offset;
  s.position = target - s.base;
  move_window();
}

int64_t stream_tell() { return g_stream.base + g_stream.position; }
int64_t stream_size() { return g_stream.size; }

bool stream_whole_file(const uint8_t** data, int64_t* size) {
  if ((g_stream.fp == nullptr && !g_stream.memory) || g_stream.window != g_stream.size) return false;
  g_stream.base = 0;
  load_window();
  *data = g_stream.buffer;
  *size = g_stream.size;
  return true;
}

uint32_t stream_get_u8() {
  if (at_end()) {
    g_error = ERR_FILE_ACCESS;
    return 0;
  }
  if (at_end()) {
    g_error = ERR_FILE_ACCESS;
    return 0;
  }
  uint8_t byte = current_byte();
  advance(1);
  return byte;
}

void stream_read(void* dest, int64_t count) {
  if (at_end()) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  auto* out = static_cast<uint8_t*>(dest);
  while (count > 0) {
    int64_t chunk = g_stream.window - g_stream.position;
    if (chunk > count) chunk = count;
    if (g_stream.base >= 0 && g_stream.base < g_stream.size)
      std::memcpy(out, g_stream.buffer + g_stream.position, static_cast<size_t>(chunk));
    else
      std::memset(out, 0, static_cast<size_t>(chunk));
    out += chunk;
    count -= chunk;
    advance(chunk);
  }
}

namespace {
uint8_t g_bytes[4];
bool read_bytes(int n) {
  int32_t before = g_error;
  g_error = 0;
  stream_read(g_bytes, n);
  bool ok = g_error == 0;
  if (before != 0) g_error = before;
  return ok;
}
}  // namespace

uint32_t stream_get_u16be() { return read_bytes(2) ? (g_bytes[0] << 8) | g_bytes[1] : 0; }
uint32_t stream_get_u16le() { return read_bytes(2) ? (g_bytes[1] << 8) | g_bytes[0] : 0; }
uint32_t stream_get_u32be() {
  return read_bytes(4) ? (uint32_t{g_bytes[0]} << 24) | (g_bytes[1] << 16) | (g_bytes[2] << 8) | g_bytes[3] : 0;
}
uint32_t stream_get_u32le() {
  return read_bytes(4) ? (uint32_t{g_bytes[3]} << 24) | (g_bytes[2] << 16) | (g_bytes[1] << 8) | g_bytes[0] : 0;
}
uint32_t (*const stream_get_u16[2])() = {stream_get_u16le, stream_get_u16be};
uint32_t (*const stream_get_u32[2])() = {stream_get_u32le, stream_get_u32be};

void stream_read_at(void* dest, int64_t offset, int64_t count) {
  Stream& s = g_stream;
  if (offset < 0 || count < 0 || offset + count >= s.size) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  int64_t inside = offset - s.base;
  if (s.mapped != 0) {
    std::memcpy(dest, s.buffer + offset, static_cast<size_t>(count));
    return;
  }
  if (s.loaded == s.base && inside >= 0 && inside + count < s.window) {
    std::memcpy(dest, s.buffer + inside, static_cast<size_t>(count));
    return;
  }
  size_t got = 0;
  if (std::fseek(s.fp, static_cast<long>(offset), SEEK_SET) == 0)
    got = std::fread(dest, 1, static_cast<size_t>(count), s.fp);
  std::memset(static_cast<uint8_t*>(dest) + got, 0, static_cast<size_t>(count) - got);
}

void stream_scan(const char* format, void* out) {
  if (at_end()) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  int width = (format[0] != '\0' && format[1] >= '0' && format[1] <= '9') ? format[1] - '0' : 0;
  // The field is copied out so that the conversion never reads past the window.
  char field[16] = {0};
  int64_t absolute = stream_tell();
  for (int i = 0; i < width && absolute + i < g_stream.size; ++i) {
    int64_t pos = g_stream.position + i;
    if (pos < g_stream.window) field[i] = static_cast<char>(g_stream.buffer[pos]);
  }
  int converted = std::sscanf(field, format, out);
  advance(width);
  if (converted != 1) g_error = ERR_FILE_ACCESS;
}
