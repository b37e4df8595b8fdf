// The allocator of a document's element sequence: sized once ahead of parsing, filled soon
// after, never written where it is not filled.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace menuconv {

// A block of at least `bytes` bytes; throws std::bad_alloc. FreeElementBlock gives it back,
// with the size it was asked for. A block of a large page or more is made of whole large pages
// where the system has them, its last one included: that one holds the end of the second part
// of a text read in two parts, which in small pages took a page fault every 4 KiB, some
// hundred of them on a 30 MB document, and ended that much later than the first part.
void* AllocateElementBlock(std::size_t bytes);
void FreeElementBlock(void* block, std::size_t bytes) noexcept;

// Its blocks come from AllocateElementBlock, and growing the vector leaves the new records'
// bytes as they are instead of writing each, so that pages of room never filled are never
// touched and cost no memory.
template <class T>
class ElementAllocator {
 public:
  using value_type = T;
  template <class U>
  struct rebind {
    using other = ElementAllocator<U>;
  };

  ElementAllocator() = default;
  template <class U>
  ElementAllocator(const ElementAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateElementBlock(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t count) noexcept { FreeElementBlock(block, count * sizeof(T)); }

  // Made without a value: default-initialised, which for a plain record writes nothing.
  template <class U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    static_assert(std::is_trivially_default_constructible_v<U>, "only plain records are left unwritten");
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }

  template <class U>
  bool operator==(const ElementAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const ElementAllocator<U>&) const noexcept {
    return false;
  }
};

}  // namespace menuconv
