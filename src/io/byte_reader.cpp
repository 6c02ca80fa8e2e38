#include "io/byte_reader.h"

#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "io/file_map.h"

namespace {

// Allocates `size` bytes followed by the two zero bytes readers expect; null (g_error 1) when
// the block cannot be had.
uint8_t* alloc_padded(uint8_t** slot, int64_t size) {
  uint8_t* block = mem_alloc(slot, static_cast<size_t>(size) + 2);
  if (block != nullptr) block[size] = block[size + 1] = 0;
  return block;
}

}  // namespace

bool ByteReader::starts_inside() {
  if (position_ >= 0 && position_ < size_) return true;
  g_error = ERR_FILE_ACCESS;
  return false;
}

uint32_t ByteReader::u8() {
  if (!starts_inside()) return 0;
  return data_[position_++];
}

void ByteReader::read(void* dest, int64_t count) {
  if (count <= 0 || !starts_inside()) return;
  const int64_t inside = count < size_ - position_ ? count : size_ - position_;
  std::memcpy(dest, data_ + position_, static_cast<size_t>(inside));
  std::memset(static_cast<uint8_t*>(dest) + inside, 0, static_cast<size_t>(count - inside));
  position_ += count;
}

uint32_t ByteReader::u16be() {
  uint8_t b[2] = {};
  read(b, 2);
  return (uint32_t{b[0]} << 8) | b[1];
}

uint32_t ByteReader::u16le() {
  uint8_t b[2] = {};
  read(b, 2);
  return (uint32_t{b[1]} << 8) | b[0];
}

uint32_t ByteReader::u32be() {
  uint8_t b[4] = {};
  read(b, 4);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint32_t ByteReader::u32le() {
  uint8_t b[4] = {};
  read(b, 4);
  return (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
}

void ByteReader::read_at(void* dest, int64_t offset, int64_t count) {
  if (offset < 0 || count < 0 || offset + count >= size_) {
    g_error = ERR_FILE_ACCESS;
    return;
  }
  std::memcpy(dest, data_ + offset, static_cast<size_t>(count));
}

void ByteReader::release_before(int64_t offset) const {
  if (mapped_ && offset > 0) mem_release_pages(data_, 0, static_cast<size_t>(offset < size_ ? offset : size_));
}

bool FileBytes::open(const char* path) {
  close();
  FILE* fp = file_open(path, "rb");
  if (fp == nullptr) return false;
  bool ok = std::fseek(fp, 0, SEEK_END) == 0;
  const long end = ok ? std::ftell(fp) : -1;
  size_ = end < 0 ? 0 : end;
  ok = ok && end >= 0;
  if (ok && size_ > 0) data_ = file_map(fp, size_, &mapped_);
  if (ok && data_ == nullptr) {
    // Not mappable (or empty): the bytes are read, with the two zero bytes after them.
    ok = alloc_padded(&owned_, size_) != nullptr && std::fseek(fp, 0, SEEK_SET) == 0 &&
         std::fread(owned_, 1, static_cast<size_t>(size_), fp) == static_cast<size_t>(size_);
    data_ = owned_;
  }
  std::fclose(fp);
  if (!ok) close();
  return ok;
}

void FileBytes::close() {
  if (mapped_ != 0) file_unmap(data_, mapped_);
  mem_free(&owned_);
  data_ = nullptr;
  size_ = 0;
  mapped_ = 0;
}

PaddedBytes::PaddedBytes(const uint8_t* data, int64_t size) : size_(size < 0 ? 0 : size) {
  if (alloc_padded(&bytes_, size_) == nullptr) {
    size_ = 0;
    return;
  }
  if (size_ > 0) std::memcpy(bytes_, data, static_cast<size_t>(size_));
}

PaddedBytes::~PaddedBytes() { mem_free(&bytes_); }
