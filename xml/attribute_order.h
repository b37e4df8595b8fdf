// The iteration order of an attribute store: names are spread over B buckets by a scrambled
// hash of their bytes and visited by bucket, then by name. Saved files list attributes in
// this order, so every function here is part of the file format.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace menuconv {

// 32-bit FNV-1 over the name's bytes, each byte sign-extended before it is mixed in.
uint32_t AttributeNameHash(std::string_view name);

// One step of the Park-Miller minimal standard generator on the hash with its top bit
// cleared, computed by Schrage's method.
uint32_t ScrambleHash(uint32_t hash);

// The hash that fixes a name's bucket for any bucket count.
inline uint32_t ScrambledNameHash(std::string_view name) { return ScrambleHash(AttributeNameHash(name)); }

// Bucket index of a name in a store of `bucketCount` buckets (a power of two).
inline uint32_t BucketIndex(std::string_view name, uint32_t bucketCount) {
  return ScrambledNameHash(name) & (bucketCount - 1);
}

// The bucket count of a store that holds `entryCount` distinct names: 8, raised eightfold
// whenever an insertion makes entries / buckets exceed 4 (in single precision).
uint32_t BucketCountFor(std::size_t entryCount);

// Unsigned byte order; at an equal common part the shorter name comes first.
inline bool NameLess(std::string_view a, std::string_view b) {
  // char_traits<char> compares as unsigned char.
  return a.compare(b) < 0;
}

// Sorts `positions` of distinct names into the iteration order of a store of `bucketCount`
// buckets: by bucket, then by name. scrambledOf(i) gives the ScrambledNameHash of the i-th
// name and nameOf(i) the name.
template <class ScrambledOf, class NameOf>
void SortInIterationOrder(std::vector<uint32_t>& positions, uint32_t bucketCount, ScrambledOf&& scrambledOf,
                          NameOf&& nameOf) {
  const uint32_t mask = bucketCount - 1;
  std::sort(positions.begin(), positions.end(), [&](uint32_t a, uint32_t b) {
    const uint32_t bucketA = scrambledOf(a) & mask, bucketB = scrambledOf(b) & mask;
    if (bucketA != bucketB) return bucketA < bucketB;
    return NameLess(nameOf(a), nameOf(b));
  });
}

// The positions 0 .. count-1 of `count` distinct names in iteration order; nameOf(i) gives
// the i-th name.
template <class NameOf>
std::vector<uint32_t> IterationOrder(std::size_t count, NameOf&& nameOf) {
  std::vector<uint32_t> scrambled(count);
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) {
    scrambled[i] = ScrambledNameHash(nameOf(i));
    order[i] = i;
  }
  SortInIterationOrder(
      order, BucketCountFor(count), [&scrambled](uint32_t i) { return scrambled[i]; }, nameOf);
  return order;
}

}  // namespace menuconv
