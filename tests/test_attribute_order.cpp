#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/attribute_order.h"
#include "xml/xml_element.h"

namespace menuconv {
namespace {

// Expected values computed with plain 64-bit arithmetic: FNV-1 with sign-extended bytes,
// then (16807 * x) mod (2^31 - 1).
struct HashCase {
  std::string name;
  uint32_t hash;
  uint32_t scrambled;
};

TEST(AttributeOrder, HashAndScrambleOfKnownNames) {
  const std::vector<HashCase> cases = {
      {"", 2166136261u, 2109337876u},
      {"a", 84696446u, 1858993608u},
      {"\x80", 4210270879u, 288994249u},
      {"\xE0", 4210270975u, 290607721u},  // enters as 2^32 - 32, not as 224
      {"\xFF", 4210270944u, 290086704u},
      {"\xE0"
       "A",
       210343724u, 488886306u},
      {"ctr", 630686386u, 2114291557u},
      {"on_create_anim", 3566830799u, 719215981u},
  };
  for (const HashCase& c : cases) {
    EXPECT_EQ(AttributeNameHash(c.name), c.hash) << "name of " << c.name.size() << " bytes";
    EXPECT_EQ(ScrambleHash(AttributeNameHash(c.name)), c.scrambled);
  }
}

TEST(AttributeOrder, HighBytesEnterSignExtended) {
  // For every byte from 0x80 to 0xFF the one-byte hash mixes in 0xFFFFFF00 | byte.
  for (unsigned b = 0x80; b <= 0xFF; ++b) {
    const std::string name(1, static_cast<char>(b));
    const uint32_t expected = (2166136261u * 16777619u) ^ (0xFFFFFF00u | b);
    EXPECT_EQ(AttributeNameHash(name), expected) << "byte " << b;
  }
}

TEST(AttributeOrder, SchrageMatchesDirectModulo) {
  const std::vector<uint32_t> inputs = {0u,          1u,          127772u,     127773u,    127774u,    2147483646u,
                                        2147483647u, 2147483648u, 0xFFFFFFFFu, 123456789u, 0x80000001u};
  for (uint32_t h : inputs) {
    const uint64_t x = h & 2147483647u;
    EXPECT_EQ(ScrambleHash(h), static_cast<uint32_t>((16807u * x) % 2147483647u)) << h;
  }
  EXPECT_EQ(ScrambleHash(2147483647u), 0u);
}

TEST(AttributeOrder, BucketCountGrowsEightfold) {
  const std::vector<std::pair<std::size_t, uint32_t>> cases = {{0, 8},    {1, 8},     {32, 8},     {33, 64},
                                                               {256, 64}, {257, 512}, {2048, 512}, {2049, 4096}};
  for (const auto& [count, buckets] : cases) EXPECT_EQ(BucketCountFor(count), buckets) << count;
}

std::vector<std::string> Order(const XmlElement& e) {
  std::vector<std::string> names;
  e.attributes.ForEach([&](std::string_view n, std::string_view) { names.emplace_back(n); });
  return names;
}

TEST(AttributeOrder, WorkedOrdersHoldForAnyInsertionOrder) {
  const std::vector<std::string> rootNames = {"on_create_anim", "on_del_anim", "ctr", "dtr", "cdur", "ddur"};
  const std::vector<std::string> rootOrder = {"ddur", "dtr", "on_del_anim", "cdur", "ctr", "on_create_anim"};
  std::vector<std::string> names = rootNames;
  std::sort(names.begin(), names.end());
  do {
    XmlElement e;
    for (const auto& n : names) e.SetAttribute(n, "v");
    ASSERT_EQ(Order(e), rootOrder);
  } while (std::next_permutation(names.begin(), names.end()));

  XmlElement letters;
  for (const char* n : {"y", "x", "c", "b", "a"}) letters.SetAttribute(n, "1");
  EXPECT_EQ(Order(letters), (std::vector<std::string>{"a", "y", "b", "c", "x"}));
  EXPECT_EQ(BucketIndex("", 8), 4u);
}

TEST(AttributeOrder, ThirtyThirdNameRaisesBucketsAndClearReturnsToEight) {
  XmlElement e;
  for (int i = 0; i < 32; ++i) e.SetAttribute("n" + std::to_string(i), "v");
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  e.SetAttribute("n32", "v");
  EXPECT_EQ(e.attributes.BucketCount(), 64u);
  // Whole order recomputed with the mask 63: by bucket, then by unsigned bytes.
  std::vector<std::string> order = Order(e);
  for (std::size_t i = 1; i < order.size(); ++i) {
    const uint32_t a = ScrambleHash(AttributeNameHash(order[i - 1])) & 63;
    const uint32_t b = ScrambleHash(AttributeNameHash(order[i])) & 63;
    EXPECT_TRUE(a < b || (a == b && order[i - 1] < order[i])) << order[i - 1] << " " << order[i];
  }
  EXPECT_EQ(BucketIndex("n0", 64), 41u);
  EXPECT_EQ(BucketIndex("n1", 64), 2u);
  e.ClearAttributes();
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  EXPECT_EQ(e.attributes.Size(), 0u);
}

TEST(AttributeOrder, UnsignedByteComparisonWithinABucket) {
  EXPECT_TRUE(NameLess("B", "a"));
  EXPECT_TRUE(NameLess("ab", "abc"));
  EXPECT_TRUE(NameLess("z", "\xE0"));  // 0xE0 sorts after ASCII
}

}  // namespace
}  // namespace menuconv
