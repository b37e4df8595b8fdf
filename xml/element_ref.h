// A position in a document's element sequence.
#pragma once

#include <cstdint>

namespace menuconv {

struct ElementRef {
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  uint32_t index = kNone;

  constexpr ElementRef() = default;
  constexpr explicit ElementRef(uint32_t i) : index(i) {}
  static constexpr ElementRef None() { return ElementRef(); }
  constexpr bool IsNone() const { return index == kNone; }
  constexpr explicit operator bool() const { return index != kNone; }
  friend constexpr bool operator==(ElementRef a, ElementRef b) { return a.index == b.index; }
  friend constexpr bool operator!=(ElementRef a, ElementRef b) { return a.index != b.index; }
};

}  // namespace menuconv
