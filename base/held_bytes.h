// Bytes held for reading only: a buffer of their own, or memory that an owner keeps (a mapped
// file) for as long as the bytes are held.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

#include "base/byte_buffer.h"

namespace menuconv {

class HeldBytes {
 public:
  // Whatever keeps borrowed bytes where they are.
  class Owner {
   public:
    virtual ~Owner() = default;
    // True once the bytes were cut short under the owner (a mapped file another process
    // truncated): what was made from them since is not to be kept.
    virtual bool CutShort() const { return false; }
  };

  HeldBytes() = default;
  explicit HeldBytes(ByteBuffer buffer) : buffer_(std::move(buffer)) { view_ = buffer_.view(); }
  HeldBytes(std::string_view bytes, std::unique_ptr<Owner> owner) : owner_(std::move(owner)), view_(bytes) {}
  HeldBytes(HeldBytes&& other) noexcept { Swap(other); }
  HeldBytes& operator=(HeldBytes&& other) noexcept {
    HeldBytes(std::move(other)).Swap(*this);
    return *this;
  }

  const char* data() const { return view_.data(); }
  std::size_t size() const { return view_.size(); }
  std::string_view view() const { return view_; }
  bool empty() const { return view_.empty(); }
  bool CutShort() const { return owner_ != nullptr && owner_->CutShort(); }
  void Clear() { HeldBytes().Swap(*this); }

 private:
  void Swap(HeldBytes& other) noexcept {
    buffer_.Swap(other.buffer_);
    owner_.swap(other.owner_);
    std::swap(view_, other.view_);
  }

  ByteBuffer buffer_;
  std::unique_ptr<Owner> owner_;
  std::string_view view_;
};

}  // namespace menuconv
