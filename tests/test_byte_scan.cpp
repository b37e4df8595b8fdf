// The word-at-a-time byte helpers, at every length and position around their word sizes.
#include <gtest/gtest.h>

#include <string>

#include "base/byte_buffer.h"
#include "base/byte_scan.h"

namespace menuconv {
namespace {

TEST(ByteScan, ContainsFindsTheByteAtEveryPositionAndNothingElse) {
  for (std::size_t length = 0; length <= 40; ++length) {
    // Surrounded by the byte looked for, which must not be seen outside the text.
    std::string padded(length + 16, '"');
    for (std::size_t i = 0; i < length; ++i) padded[8 + i] = static_cast<char>('a' + i % 26);
    const char* text = padded.data() + 8;
    EXPECT_FALSE(byte_scan::Contains(text, length, '"')) << "length " << length;
    for (std::size_t at = 0; at < length; ++at) {
      padded[8 + at] = '"';
      EXPECT_TRUE(byte_scan::Contains(text, length, '"')) << "length " << length << " at " << at;
      padded[8 + at] = '\xA2';  // '"' with the high bit set is another byte
      EXPECT_FALSE(byte_scan::Contains(text, length, '"')) << "length " << length << " at " << at;
      padded[8 + at] = static_cast<char>('a' + at % 26);
    }
  }
}

TEST(ByteScan, CopyMovesExactlyTheBytesAskedFor) {
  for (std::size_t length = 0; length <= 40; ++length) {
    std::string from(length, ' ');
    for (std::size_t i = 0; i < length; ++i) from[i] = static_cast<char>('A' + i % 26);
    std::string to(length + 16, '#');
    ByteBuffer::Copy(to.data() + 8, from.data(), length);
    EXPECT_EQ(to, std::string(8, '#') + from + std::string(8, '#')) << "length " << length;
  }
}

}  // namespace
}  // namespace menuconv
