// The iteration order of an attribute store: names are spread over B buckets by a scrambled
// hash of their bytes and visited by bucket, then by name. Saved files list attributes in
// this order, so every function here is part of the file format.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace menuconv {

// 32-bit FNV-1 over the name's bytes, each byte sign-extended before it is mixed in.
uint32_t AttributeNameHash(std::string_view name);

// One step of the Park-Miller minimal standard generator on the hash with its top bit
// cleared, computed by Schrage's method.
uint32_t ScrambleHash(uint32_t hash);

// Bucket index of a name in a store of `bucketCount` buckets (a power of two).
inline uint32_t BucketIndex(std::string_view name, uint32_t bucketCount) {
  return ScrambleHash(AttributeNameHash(name)) & (bucketCount - 1);
}

// The bucket count of a store that holds `entryCount` distinct names: 8, raised eightfold
// whenever an insertion makes entries / buckets exceed 4 (in single precision).
uint32_t BucketCountFor(std::size_t entryCount);

// Unsigned byte order; at an equal common part the shorter name comes first.
inline bool NameLess(std::string_view a, std::string_view b) {
  // char_traits<char> compares as unsigned char.
  return a.compare(b) < 0;
}

// The positions 0 .. count-1 of `count` distinct names in iteration order; nameOf(i) gives
// the i-th name.
template <class NameOf>
std::vector<uint32_t> IterationOrder(std::size_t count, NameOf&& nameOf) {
  const uint32_t buckets = BucketCountFor(count);
  std::vector<std::pair<uint32_t, uint32_t>> keyed;  // (bucket, position)
  keyed.reserve(count);
  for (uint32_t i = 0; i < count; ++i) keyed.emplace_back(BucketIndex(nameOf(i), buckets), i);
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return NameLess(nameOf(a.second), nameOf(b.second));
  });
  std::vector<uint32_t> order;
  order.reserve(count);
  for (const auto& k : keyed) order.push_back(k.second);
  return order;
}

}  // namespace menuconv
