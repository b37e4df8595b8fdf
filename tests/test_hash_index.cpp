// The hash index over a caller's entries: hashes that spread, that many keys share, or that
// all keys share, with enough entries to make the index grow several times.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/hash_index.h"

namespace menuconv {
namespace {

TEST(HashIndex, FindsFirstOccurrencesWhateverTheHashes) {
  struct Case {
    const char* label;
    std::function<uint64_t(uint32_t)> hashOfKey;
  };
  const std::vector<Case> cases = {
      {"spread", [](uint32_t key) { return key * 0xD6E8FEB86659FD93ull; }},
      {"eight hashes", [](uint32_t key) { return uint64_t{key & 7} << 61; }},
      {"differing in the lowest bit only", [](uint32_t key) { return uint64_t{key & 1}; }},
      {"one hash", [](uint32_t) { return uint64_t{42}; }},
  };
  // Keys 0..299, then each again: the repeats must find the first position.
  constexpr uint32_t kKeys = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint32_t> entries;  // the key at each position
    HashIndex<uint32_t> index;      // positions in `entries`
    for (uint32_t round = 0; round < 2; ++round) {
      for (uint32_t key = 0; key < kKeys; ++key) {
        const auto position = static_cast<uint32_t>(entries.size());
        entries.push_back(key);
        const bool added = index.Insert(c.hashOfKey(key), position, [&](uint32_t i) { return entries[i] == key; });
        ASSERT_EQ(added, round == 0) << key;
      }
    }
    ASSERT_EQ(index.Size(), kKeys);
    for (uint32_t key = 0; key < kKeys + 10; ++key) {
      const uint32_t* found = index.Find(c.hashOfKey(key), [&](uint32_t i) { return entries[i] == key; });
      ASSERT_EQ(found ? int64_t{*found} : -1, key < kKeys ? int64_t{key} : -1);  // the first occurrence
    }
    std::set<uint32_t> listed;
    index.ForEach([&](uint32_t position) { listed.insert(position); });
    ASSERT_EQ(listed.size(), kKeys);
    ASSERT_EQ(*listed.rbegin(), kKeys - 1);
    index.Reset(4);
    ASSERT_EQ(index.Find(c.hashOfKey(0), [](uint32_t) { return true; }), nullptr);
  }
}

}  // namespace
}  // namespace menuconv
