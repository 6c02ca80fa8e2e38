// Most-significant-first bit reader over a strip or tile, as LZW and CCITT read them: a
// 64-bit buffer refilled eight bytes at a time; bits past the data's end read as 0, and the
// reader knows when it has run past them.
#pragma once
#include <cstdint>

class TiffBits {
 public:
  TiffBits(const uint8_t* data, int64_t size) : data_(data), size_(size) {}

  // The next `n` bits (1 to 32) without taking them.
  uint32_t peek(int n) {
    if (count_ < n) refill();
    return static_cast<uint32_t>(buffer_ >> (64 - n));
  }
  void skip(int n) {
    buffer_ <<= n;
    count_ -= n;
  }
  uint32_t get(int n) {
    const uint32_t value = peek(n);
    skip(n);
    return value;
  }
  // Bits taken so far.
  int64_t consumed() const { return next_ * 8 - count_; }
  bool exhausted() const { return consumed() >= size_ * 8; }
  // Moves to the start of the next byte.
  void align() {
    const int rest = static_cast<int>(consumed() % 8);
    if (rest != 0) {
      peek(8);
      skip(8 - rest);
    }
  }

 private:
  // Tops the buffer up to at least 56 bits. With eight bytes at hand they are loaded at once
  // and the whole ones that fit are taken; the bits of a part-taken byte stand below the
  // count and are loaded again, unchanged, by the next refill.
  void refill() {
    if (size_ - next_ >= 8) {
      uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word = (word << 8) | data_[next_ + i];
      buffer_ |= word >> count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      const uint64_t byte = next_ < size_ ? data_[next_] : 0;
      ++next_;
      buffer_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* data_;
  int64_t size_;
  int64_t next_ = 0;  // the next byte to load
  uint64_t buffer_ = 0;
  int count_ = 0;     // bits in the buffer, from its most significant bit
};
