#include "xml/attribute_order.h"

namespace menuconv {

uint32_t AttributeNameHash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (char ch : name) {
    // Sign-extend explicitly: plain char is unsigned on some platforms.
    const int32_t signedByte = static_cast<int8_t>(static_cast<uint8_t>(ch));
    h = h * 16777619u;
    h ^= static_cast<uint32_t>(signedByte);
  }
  return h;
}

uint32_t ScrambleHash(uint32_t hash) {
  const int32_t x = static_cast<int32_t>(hash & 2147483647u);
  const int32_t q = x / 127773;
  const int32_t r = x % 127773;
  int32_t v = 16807 * r - 2836 * q;
  if (v < 0) v += 2147483647;
  return static_cast<uint32_t>(v);
}

namespace {

// Growth doubles at most three times, and only while the count is below 268435455.
uint32_t Grow(uint32_t buckets) {
  for (int i = 0; i < 3 && buckets < 268435455u; ++i) buckets *= 2;
  return buckets;
}

}  // namespace

uint32_t BucketCountFor(std::size_t entryCount) {
  uint32_t buckets = 8;
  // The load factor only rises with the count, so the final size is reached by growing
  // while the whole count overflows the current size.
  while (static_cast<float>(entryCount) / static_cast<float>(buckets) > 4.0f) {
    const uint32_t grown = Grow(buckets);
    if (grown == buckets) break;
    buckets = grown;
  }
  return buckets;
}

}  // namespace menuconv
