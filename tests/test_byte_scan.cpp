// The word-at-a-time byte helpers, at every length and position around their word sizes,
// and the searches of sixteen bytes at a time against their plain forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/byte_buffer.h"
#include "base/byte_scan.h"

namespace menuconv {
namespace {

TEST(ByteScan, ContainsFindsTheByteAtEveryPositionAndNothingElse) {
  for (std::size_t length = 0; length <= 70; ++length) {
    // Surrounded by the byte looked for, which must not be seen outside the text.
    std::string padded(length + 16, '"');
    for (std::size_t i = 0; i < length; ++i) padded[8 + i] = static_cast<char>('a' + i % 26);
    const char* text = padded.data() + 8;
    EXPECT_FALSE(byte_scan::Contains(text, length, '"')) << "length " << length;
    EXPECT_EQ(byte_scan::HoldsWhich(text, length, '"', '\''), 0u) << "length " << length;
    for (std::size_t at = 0; at < length; ++at) {
      padded[8 + at] = '"';
      EXPECT_TRUE(byte_scan::Contains(text, length, '"')) << "length " << length << " at " << at;
      EXPECT_EQ(byte_scan::HoldsWhich(text, length, '"', '\''), 1u) << "length " << length << " at " << at;
      // The other byte anywhere else too.
      const std::size_t other = (at * 7 + 3) % length;
      if (other != at) {
        padded[8 + other] = '\'';
        EXPECT_EQ(byte_scan::HoldsWhich(text, length, '"', '\''), 3u) << "length " << length << " at " << at;
        EXPECT_EQ(byte_scan::HoldsWhich(text, length, '\'', '"'), 3u) << "length " << length << " at " << at;
        padded[8 + other] = static_cast<char>('a' + other % 26);
      }
      padded[8 + at] = '\xA2';  // '"' with the high bit set is another byte
      EXPECT_FALSE(byte_scan::Contains(text, length, '"')) << "length " << length << " at " << at;
      EXPECT_EQ(byte_scan::HoldsWhich(text, length, '\'', '"'), 0u) << "length " << length << " at " << at;
      padded[8 + at] = static_cast<char>('a' + at % 26);
    }
  }
}

TEST(ByteScan, CopyMovesExactlyTheBytesAskedFor) {
  // Every length up to past the last one copied inline (64).
  for (std::size_t length = 0; length <= 72; ++length) {
    std::string from(length, ' ');
    for (std::size_t i = 0; i < length; ++i) from[i] = static_cast<char>('A' + i % 26);
    std::string to(length + 16, '#');
    ByteBuffer::Copy(to.data() + 8, from.data(), length);
    EXPECT_EQ(to, std::string(8, '#') + from + std::string(8, '#')) << "length " << length;
  }
}

TEST(ByteScan, SameBytesTellsEveryDifferingByteAndNoneOutside) {
  for (std::size_t length = 0; length <= 40; ++length) {
    // Each text has bytes of its own on both sides, which must not count.
    std::string a = "<" + std::string(length, 'x') + ">";
    std::string b = "[" + std::string(length, 'x') + "]";
    const std::string_view left(a.data() + 1, length);
    const std::string_view right(b.data() + 1, length);
    EXPECT_TRUE(byte_scan::SameBytes(left, right)) << "length " << length;
    EXPECT_FALSE(byte_scan::SameBytes(left, std::string_view(b.data() + 1, length + 1))) << "length " << length;
    for (std::size_t at = 0; at < length; ++at) {
      b[1 + at] = 'y';
      EXPECT_FALSE(byte_scan::SameBytes(left, right)) << "length " << length << " at " << at;
      b[1 + at] = 'x';
    }
  }
}

// Counters of sixteen bytes at a time overflow after 255 matches each unless summed in time:
// texts made of nothing but "<" fill them fastest.
TEST(ByteScan, CountsEveryStartTagOfLongTexts) {
  for (std::size_t length : {4079u, 4080u, 4081u, 4097u, 65536u + 17u}) {
    const std::string text(length, '<');
    EXPECT_EQ(byte_scan::CountStartTags(text.data(), text.data() + length), length) << length;
    const std::string pairs = std::string(length / 2, '<') + std::string(length - length / 2, '/');
    EXPECT_EQ(byte_scan::CountStartTags(pairs.data(), pairs.data() + length), length / 2 - 1) << length;
    // Processing instructions are no elements: a "<" before "?" is not counted.
    std::string instructions;
    while (instructions.size() + 2 <= length) instructions += "<?";
    EXPECT_EQ(byte_scan::CountStartTags(instructions.data(), instructions.data() + instructions.size()), 0u) << length;
  }
}

TEST(ByteScan, SearchesGiveWhatTheirPlainFormsGive) {
  // Texts of the bytes the searches stop at among runs of others, searched from every
  // position; each text ends where its memory does, so no search may look past it.
  std::mt19937 random(5150u);
  const std::vector<std::string> pieces = {"<",  ">",  "/",  "=", "\"",  "'",     " ",
                                           "\t", "\r", "\n", "?", "=\"", "=\"\"", "/>"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (std::size_t length = random() % 80; text.size() < length;) {
      text += random() % 2 ? std::string(random() % 24, 'a') : pieces[random() % pieces.size()];
    }
    const auto copy = std::make_unique<char[]>(text.size());
    char* const p = copy.get();
    const char* const end = std::copy(text.begin(), text.end(), p);
    for (char* at = p; at <= end; ++at) {
      const std::string where = "\"" + text + "\" from " + std::to_string(at - p);
      for (char c : std::string("<=\"'")) {
        EXPECT_EQ(byte_scan::FindNear(at, end, c), byte_scan::plain::FindNear(at, end, c)) << where;
      }
      EXPECT_EQ(byte_scan::FindNameEnd(at, end), byte_scan::plain::FindNameEnd(at, end)) << where;
      const auto textEnd = byte_scan::FindTextEnd(at, end);
      const auto plainEnd = byte_scan::plain::FindTextEnd(at, end);
      EXPECT_EQ(textEnd.lt, plainEnd.lt) << where;
      EXPECT_EQ(textEnd.blankFree, plainEnd.blankFree) << where;
      const auto marks = byte_scan::ShortAttribute(at, end);
      const auto plainMarks = byte_scan::plain::ShortAttribute(at, end);
      EXPECT_EQ(marks.equals, plainMarks.equals) << where;
      EXPECT_EQ(marks.close, plainMarks.close) << where;
      EXPECT_EQ(byte_scan::ShortAttribute<true>(at, end).suspect,
                byte_scan::plain::ShortAttribute<true>(at, end).suspect)
          << where;
      EXPECT_EQ(byte_scan::CountStartTags(at, end), byte_scan::plain::CountStartTags(at, end)) << where;
      if (end - at >= 64) {
        const auto window = byte_scan::MarkWindow64(at);
        const auto plainWindow = byte_scan::plain::MarkWindow64(at);
        EXPECT_EQ(window.equals, plainWindow.equals) << where;
        EXPECT_EQ(window.quotes, plainWindow.quotes) << where;
      }
    }
  }
}

}  // namespace
}  // namespace menuconv
