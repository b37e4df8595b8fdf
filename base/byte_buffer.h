// A growable byte buffer that does not zero what it allocates: large buffers cost only the
// pages that are actually written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace menuconv {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t size) { Resize(size); }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept { Swap(other); }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    ByteBuffer(std::move(other)).Swap(*this);
    return *this;
  }
  ~ByteBuffer() { std::free(data_); }

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(data_, size_); }

  void Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
  }
  // New bytes are left uninitialised.
  void Resize(std::size_t size) {
    Reserve(size);
    size_ = size;
  }
  void Append(std::string_view bytes) {
    if (size_ + bytes.size() > capacity_) Reserve(std::max(size_ + bytes.size(), capacity_ * 2));
    Copy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  // memcpy, with the short copies that serialising does all the time kept inline: two
  // overlapping moves instead of a library call.
  static void Copy(char* to, const char* from, std::size_t n) {
    if (n > 16 && n <= 32) {
      std::memcpy(to, from, 16);
      std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n > 32 && n <= 64) {
      std::memcpy(to, from, 32);
      std::memcpy(to + n - 32, from + n - 32, 32);
    } else if (n >= 8 && n <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
      std::memcpy(to, from, n);
    }
  }
  void Append(char c) { Append(std::string_view(&c, 1)); }
  // Makes room for `count` more bytes at the end and gives where they start; the caller
  // writes all of them.
  char* Grow(std::size_t count) {
    if (size_ + count > capacity_) Reserve(std::max(size_ + count, capacity_ * 2));
    char* at = data_ + size_;
    size_ += count;
    return at;
  }
  // Gives back unused capacity (cheap for large blocks, which the allocator remaps).
  void ShrinkToFit() {
    if (capacity_ == size_ || size_ == 0) return;
    if (void* shrunk = std::realloc(data_, size_)) {
      data_ = static_cast<char*>(shrunk);
      capacity_ = size_;
    }
  }
  // Empties the buffer and keeps its memory, to be filled again.
  void Rewind() { size_ = 0; }
  void Clear() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
  }
  void Swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace menuconv
