// A hash table whose owner computes the hashes and tests equality: the owner keeps its keys
// where it likes (strings in its own entries, spans into a text, words of a name) and stores
// here, under each key's hash, a small value that leads to the entry (a position, a
// pointer) or that is the entry itself. Open addressing with linear probing; each slot keeps
// the hash beside the value, so that most slots are passed over without an equality test.
// Values are small and copyable (they are copied when the table grows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/byte_scan.h"

namespace menuconv {

template <class Value>
class HashIndex {
 public:
  // Never without slots, so that a lookup need not ask first; as with any moved-from object,
  // Reset one before use.
  HashIndex() { Reset(); }

  // Called with the slots' memory before they are first written, for the owner to prepare it.
  using PrepareSlots = void (*)(void* slots, std::size_t bytes);

  // Empties the table, with room for `count` values before it grows.
  void Reset(std::size_t count = 0, PrepareSlots prepare = nullptr) {
    std::size_t size = kSmallest;
    while (size < 2 * count) size *= 2;
    Resize(size, prepare);
    count_ = 0;
  }
  std::size_t Size() const { return count_; }

  // The value held under `hash` for which equal(value) is true, or null. The table keeps
  // hashes with the lowest bit set (0 marks an empty slot): hashes that differ only in that
  // bit are told apart by `equal` alone.
  template <class Equal>
  const Value* Find(uint64_t hash, Equal&& equal) const {
    const uint64_t kept = Kept(hash);
    for (std::size_t at = Home(kept);; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.hash == kept && equal(slot.value)) return &slot.value;
      if (slot.hash == 0) return nullptr;
    }
  }

  // Asks for the slot where a lookup of `hash` starts to be brought into the cache.
  void Prefetch(uint64_t hash) const { byte_scan::Prefetch(&slots_[Home(Kept(hash))]); }

  // Adds the value under `hash` unless Find(hash, equal) finds one; true when added. The
  // table grows past half full.
  template <class Equal>
  bool Insert(uint64_t hash, const Value& value, Equal&& equal) {
    if (2 * (count_ + 1) > slots_.size()) Grow();
    const uint64_t kept = Kept(hash);
    std::size_t at = Home(kept);
    for (; slots_[at].hash != 0; at = (at + 1) & mask_) {
      if (slots_[at].hash == kept && equal(slots_[at].value)) return false;
    }
    slots_[at] = Slot{kept, value};
    ++count_;
    return true;
  }

  // Calls fn(value) for every value held, in no particular order.
  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (const Slot& slot : slots_) {
      if (slot.hash != 0) fn(slot.value);
    }
  }

 private:
  static constexpr std::size_t kSmallest = 16;
  struct Slot {
    uint64_t hash = 0;  // with the lowest bit set; 0: empty
    Value value{};
  };

  static uint64_t Kept(uint64_t hash) { return hash | 1; }
  // Middle bits of the hash times 2^64 / golden ratio: they depend on every bit of the
  // hash's lower half and little more, so hashes should vary there (the higher bits only
  // tell entries apart once found).
  std::size_t Home(uint64_t kept) const {
    return static_cast<std::size_t>((kept * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }
  void Resize(std::size_t size, PrepareSlots prepare = nullptr) {
    std::vector<Slot> fresh;
    fresh.reserve(size);
    if (prepare) prepare(fresh.data(), size * sizeof(Slot));
    fresh.resize(size);
    slots_.swap(fresh);
    mask_ = size - 1;
  }
  void Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    Resize(old.empty() ? kSmallest : old.size() * 2);
    for (const Slot& slot : old) {
      if (slot.hash == 0) continue;
      std::size_t at = Home(slot.hash);
      while (slots_[at].hash != 0) at = (at + 1) & mask_;
      slots_[at] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace menuconv
