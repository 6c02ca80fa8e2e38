// The one process-wide input stream: a window buffer over the current file with byte-order
// aware, block, formatted and bit-level reads. A read that starts at or past the end of the
// file sets g_error 2 and yields 0. Only one stream is open at a time.
#pragma once
#include <cstdint>
#include <cstdio>

#include "io/file_map.h"

// Files of at least this size are read through a window of the caller's limit.
constexpr int64_t kStreamWholeFileBelow = 10485760;

int stream_open(const char* path, int32_t window_limit);  // 0 ok, 1 cannot open
void stream_close();
// Reads `size` bytes held in memory (a copy is taken) as if they were a whole file, until
// stream_end_memory() returns to the file that was open before. Not nested.
void stream_begin_memory(const uint8_t* data, int64_t size);
void stream_end_memory();
bool stream_is_open();
void stream_seek(int64_t offset, int whence);  // 0 absolute, 1 relative, 2 back from the end
int64_t stream_tell();
int64_t stream_size();

uint32_t stream_get_u8();
uint32_t stream_get_u16be();
uint32_t stream_get_u16le();
uint32_t stream_get_u32be();
uint32_t stream_get_u32le();
// Indexed by byte order: 0 little-endian ("II"), 1 big-endian ("MM").
extern uint32_t (*const stream_get_u16[2])();
extern uint32_t (*const stream_get_u32[2])();

void stream_read(void* dest, int64_t count);
void stream_read_at(void* dest, int64_t offset, int64_t count);
void stream_scan(const char* format, void* out);

// Direct access for decoders that parse the bytes themselves. When the window holds the
// whole file, gives the file's bytes (followed by two zero bytes) and its size.
bool stream_whole_file(const uint8_t** data, int64_t* size);
// Gives back the memory holding the file's bytes before `offset` where the whole file is
// mapped; a decoder that is done with them calls it. Reading them again stays correct.
void stream_release_before(int64_t offset);
// Moves the position to an absolute offset after a decoder consumed bytes directly.
inline void stream_set_position(int64_t offset) { stream_seek(offset, 0); }
