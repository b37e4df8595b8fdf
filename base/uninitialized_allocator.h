// An allocator for vectors of plain records that are sized ahead and filled later: growing
// the vector leaves the new records' bytes as they are instead of writing each, so that
// pages of room never filled are never touched and cost no memory.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace menuconv {

template <class T>
class UninitializedAllocator : public std::allocator<T> {
 public:
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };

  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

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
};

}  // namespace menuconv
