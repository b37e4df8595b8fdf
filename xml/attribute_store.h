// The attribute store of a free-standing element: a map from name to value whose iteration
// order is fixed by the name hash (see attribute_order.h), not by insertion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xml/attribute_order.h"

namespace menuconv {

class AttributeStore {
 public:
  struct Entry {
    std::string name;
    std::string value;
    uint32_t scrambled = 0;  // ScrambledNameHash of the name, which fixes its bucket for any count
  };

  std::optional<std::string_view> Find(std::string_view name) const;
  // Inserts the name, or replaces the value of the existing entry.
  void Set(std::string_view name, std::string_view value);
  // Inserts the name only when it is absent: the first value stays. True when inserted.
  bool Insert(std::string_view name, std::string_view value);
  void Clear();

  std::size_t Size() const { return size_; }
  uint32_t BucketCount() const { return BucketCountFor(size_); }

  // Calls fn(name, value) for every entry in iteration order, worked out on each call: a
  // store is listed about once, when its element is written.
  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (uint32_t i : Order()) fn(std::string_view(entries_[i].name), std::string_view(entries_[i].value));
  }

 private:
  // Stores that grow past this size get a hash index so lookups stay constant-time.
  static constexpr std::size_t kIndexThreshold = 16;

  int64_t IndexOf(std::string_view name) const;
  std::vector<uint32_t> Order() const;

  // Entries in insertion order; those past `size_` are spare, kept so that a store that is
  // cleared and filled again (one working element per widget) reuses their strings.
  std::vector<Entry> entries_;
  std::size_t size_ = 0;
  std::unordered_multimap<uint32_t, uint32_t> index_;  // name hash -> entry, large stores only
};

}  // namespace menuconv
