// The bytes a decoder reads: a whole file (mapped or read into memory) or a block held in
// memory, always followed by two readable zero bytes, and a cursor over them.
//
// The end-of-data rule, the same for every read: a read that starts at or past the end sets
// g_error to ERR_FILE_ACCESS and yields zero (a block read leaves its destination as it was);
// a read that starts inside and runs past the end gives the bytes there are and zeros beyond,
// without an error.
#pragma once
#include <cstddef>
#include <cstdint>

// Byte order of multi-byte values, as TIFF's "II" and "MM" name them.
enum ByteOrder : int32_t { LITTLE_ENDIAN_ORDER = 0, BIG_ENDIAN_ORDER = 1 };

class ByteReader {
 public:
  ByteReader() = default;
  // `data` must be followed by two readable zero bytes (FileBytes and PaddedBytes are).
  ByteReader(const uint8_t* data, int64_t size, bool mapped = false)
      : data_(data), size_(size < 0 ? 0 : size), mapped_(mapped) {}

  const uint8_t* data() const { return data_; }
  int64_t size() const { return size_; }
  int64_t tell() const { return position_; }
  bool at_end() const { return position_ >= size_; }
  int64_t remaining() const { return position_ < size_ ? size_ - position_ : 0; }
  // Positions may lie anywhere, before the start or past the end: reads there follow the rule.
  void seek(int64_t offset) { position_ = offset; }
  void skip(int64_t count) { position_ += count; }

  uint32_t u8();
  uint32_t u16be();
  uint32_t u16le();
  uint32_t u32be();
  uint32_t u32le();
  uint32_t u16(ByteOrder order) { return order == BIG_ENDIAN_ORDER ? u16be() : u16le(); }
  uint32_t u32(ByteOrder order) { return order == BIG_ENDIAN_ORDER ? u32be() : u32le(); }
  void read(void* dest, int64_t count);
  // Copies `count` bytes at `offset` without moving the cursor. Only a block that lies wholly
  // inside the data and ends before its last byte is copied; any other sets ERR_FILE_ACCESS.
  void read_at(void* dest, int64_t offset, int64_t count);
  // Gives back the memory of the data's bytes before `offset` where they are a file's mapping,
  // for decoders that are done with them; reading them again stays correct.
  void release_before(int64_t offset) const;

 private:
  bool starts_inside();  // the rule's first half, setting the error
  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
  bool mapped_ = false;
};

// A file's bytes for the length of a decode: mapped where the system allows it, else read into
// memory.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() { close(); }
  bool open(const char* path);  // false when the file cannot be opened or read
  void close();
  ByteReader reader() const { return ByteReader(data_, size_, mapped_ != 0); }

 private:
  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  size_t mapped_ = 0;  // extent of the mapping, 0 when the bytes were read
  uint8_t* owned_ = nullptr;
};

// A copy of a block with the two zero bytes readers expect after it. Where the copy cannot be
// allocated, ok() is false and g_error is ERR_MEMORY.
class PaddedBytes {
 public:
  PaddedBytes(const uint8_t* data, int64_t size);
  PaddedBytes(const PaddedBytes&) = delete;
  PaddedBytes& operator=(const PaddedBytes&) = delete;
  ~PaddedBytes();
  bool ok() const { return bytes_ != nullptr; }
  ByteReader reader() const { return ByteReader(bytes_, size_); }

 private:
  uint8_t* bytes_ = nullptr;
  int64_t size_;
};
