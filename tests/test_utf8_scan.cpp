// The UTF-8 check reads long texts 32 bytes at a time where the processor has AVX2, and
// otherwise ASCII in blocks and the common two- and three-byte forms on a short path: every
// kind of sequence is placed at every offset around the block edges here, and random texts
// are compared with a decoder that works one code point at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/byte_scan.h"
#include "base/utf8.h"
#include "tests/test_support.h"

namespace menuconv {
namespace {

constexpr auto Hex = testing_support::HexOf;

// Each test runs with the widest vectors the check may use: 64 bytes (AVX-512), 32 (AVX2) and
// none, each as far as the processor has them.
class Utf8Scan : public testing::TestWithParam<int> {
 protected:
  void SetUp() override { LimitUtf8Vectors(GetParam()); }
  void TearDown() override { LimitUtf8Vectors(64); }
  // The edge between the check's first two blocks.
  static std::size_t BlockEdge() { return GetParam() == 64 ? 64 : 32; }
};
constexpr std::size_t kFine = std::string_view::npos;

// The first byte that does not begin a well-formed sequence, found by decoding each code
// point and checking its value: too small for its length, a surrogate, or past U+10FFFF.
std::size_t FirstInvalidByDecoding(std::string_view text) {
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return i;
    uint32_t value = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return i;
      value = value << 6 | (next & 0x3Fu);
    }
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return i;
    i += length;
  }
  return kFine;
}

std::string Encode(uint32_t value) {
  std::string out;
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | value >> 6);
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | value >> 12);
    out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | value >> 18);
    out += static_cast<char>(0x80 | (value >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
  return out;
}

TEST_P(Utf8Scan, EverySequenceAtEveryOffsetAroundTheBlocks) {
  static const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* label;
    std::string bytes;
    std::size_t firstInvalid;  // within `bytes`
    std::string repaired;
  };
  const std::vector<Case> cases = {
      {"Cyrillic word", "\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x8E", kFine, "\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x8E"},
      {"two bytes, lowest and highest", "\xC2\x80\xDF\xBF", kFine, "\xC2\x80\xDF\xBF"},
      {"three bytes after E0", "\xE0\xA0\x80\xE0\xBF\xBF", kFine, "\xE0\xA0\x80\xE0\xBF\xBF"},
      {"three bytes after ED", "\xED\x80\x80\xED\x9F\xBF", kFine, "\xED\x80\x80\xED\x9F\xBF"},
      {"three bytes, other leads", "\xE1\x80\x80\xEC\xBF\xBF\xEE\x80\x80\xEF\xBF\xBF", kFine,
       "\xE1\x80\x80\xEC\xBF\xBF\xEE\x80\x80\xEF\xBF\xBF"},
      {"four bytes", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", kFine, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {"overlong two bytes", "\xD0\xBC\xC1\xBF", 2, "\xD0\xBC" + r + r},
      {"two-byte lead before ASCII", "\xD0\xBC\xD0z", 2, "\xD0\xBC" + r + "z"},
      {"two-byte lead before a lead", "\xD0\xD0\xBC", 0, r + "\xD0\xBC"},
      {"lone continuation byte", "\xD0\xBC\xBC", 2, "\xD0\xBC" + r},
      {"overlong three bytes", "\xE0\x9F\xBF", 0, r + r + r},
      {"surrogate", "\xD0\xBC\xED\xA0\x80", 2, "\xD0\xBC" + r + r + r},
      {"three-byte lead, one continuation, ASCII", "\xE6\x97z", 0, r + "z"},
      {"three-byte lead, ASCII", "\xE6z", 0, r + "z"},
      {"three bytes, the third not a continuation", "\xE6\x97\xE6\x97\xA5", 0, r + "\xE6\x97\xA5"},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0, r + r + r + r},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 0, r + r + r + r},
      {"F5 and FF leads", "\xF5\xFF", 0, r + r},
  };
  // Texts that follow the case: none, ASCII, a long ASCII run, more two-byte characters.
  const std::vector<std::string> tails = {"", "z", std::string(70, 'z'), "\xD0\xB6\xD0\xB6\xD0\xB6"};
  for (const Case& c : cases) {
    for (std::size_t lead = 0; lead <= 80; ++lead) {
      for (const std::string& tail : tails) {
        const std::string ascii(lead, 'a');
        const std::string text = ascii + c.bytes + tail;
        SCOPED_TRACE(std::string(c.label) + " after " + std::to_string(lead) + " ASCII bytes, tail " +
                     std::to_string(tail.size()));
        const std::size_t expected = c.firstInvalid == kFine ? kFine : lead + c.firstInvalid;
        ASSERT_EQ(FindInvalidUtf8(text), expected);
        ASSERT_EQ(IsValidUtf8(text), expected == kFine);
        ByteBuffer out;
        AppendRepairedUtf8(text, out);
        ASSERT_EQ(Hex(out.view()), Hex(ascii + c.repaired + tail));
      }
    }
  }
}

TEST_P(Utf8Scan, EveryPairAndFourOfTheEdgeBytesAcrossABlockEdge) {
  // Every two bytes placed so that they straddle the edge between two 16-byte lanes of a
  // block of the check or between two blocks, and every four of the bytes where the rules
  // change across the block edge, in a text long enough to be checked in blocks: the first
  // fault agrees with decoding.
  const std::vector<unsigned char> edges = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                            0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                            0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};
  const std::size_t edge = BlockEdge();
  std::string text(3 * edge, 'a');
  const auto agrees = [&text] { return FindInvalidUtf8(text) == FirstInvalidByDecoding(text); };
  for (std::size_t at = 15; at <= edge; at += at % 16 == 15 ? 1 : 15) {
    for (unsigned first = 0; first < 256; ++first) {
      for (unsigned second = 0; second < 256; ++second) {
        text[at] = static_cast<char>(first);
        text[at + 1] = static_cast<char>(second);
        ASSERT_TRUE(agrees()) << at << ": " << Hex(text.substr(at - 3, 8));
      }
    }
    text[at] = text[at + 1] = 'a';
  }
  for (std::size_t at : {edge - 2, edge - 1}) {
    for (const unsigned char first : edges) {
      for (const unsigned char second : edges) {
        for (const unsigned char third : edges) {
          for (const unsigned char fourth : edges) {
            text[at - 1] = static_cast<char>(first);
            text[at] = static_cast<char>(second);
            text[at + 1] = static_cast<char>(third);
            text[at + 2] = static_cast<char>(fourth);
            ASSERT_TRUE(agrees()) << Hex(text.substr(edge - 4, 8));
          }
        }
      }
    }
  }
}

TEST_P(Utf8Scan, SequencesCutByTheEndOfTheText) {
  // Every proper prefix of a multi-byte character is ill-formed at its lead byte, wherever
  // the text ends relative to the blocks.
  for (const uint32_t value : {0x80u, 0x43Cu, 0x7FFu, 0x800u, 0x65E5u, 0xFFFDu, 0x10000u, 0x10FFFFu}) {
    const std::string character = Encode(value);
    for (std::size_t cut = 1; cut < character.size(); ++cut) {
      for (std::size_t lead = 0; lead <= 70; ++lead) {
        const std::string text = std::string(lead, 'a') + character.substr(0, cut);
        ASSERT_EQ(FindInvalidUtf8(text), lead) << Hex(text);
        ASSERT_EQ(FindInvalidUtf8(text + character), lead) << Hex(text);
      }
    }
  }
}

TEST_P(Utf8Scan, TheTextBeforeAZeroByteAtEveryOffsetWithAFaultBeforeOrAfterIt) {
  // A zero byte ends the text: what lies after it, a fault included, does not count, and a
  // character it cuts short does.
  const std::string cyrillic = "\xD0\xB6\xD0\xB0\xD0\xB1";
  std::string base;
  while (base.size() < 130) base += cyrillic + "ab";
  for (std::size_t zero = 0; zero <= base.size(); ++zero) {
    for (const std::size_t fault : {kFine, zero / 2, zero + 1, zero + 40}) {
      std::string text = base;
      if (fault < text.size()) text[fault] = '\xFF';
      if (zero < text.size()) text[zero] = '\0';
      const Utf8UpToZero checked = CheckUtf8UpToZero(text);
      const std::size_t end = std::min(zero, text.size());
      ASSERT_EQ(checked.size, end) << Hex(text);
      ASSERT_EQ(checked.valid, FirstInvalidByDecoding(std::string_view(text).substr(0, end)) == kFine) << Hex(text);
    }
  }
}

TEST_P(Utf8Scan, RandomTextsAgreeWithDecoding) {
  // Mostly well-formed texts of mixed ASCII runs and characters of every length, some of
  // them damaged by a changed, lost, added or cut byte.
  std::mt19937 random(4242u);
  const std::vector<uint32_t> edges = {0x7F,   0x80,   0x7FF,   0x800,   0xFFF,    0x1000,  0xD7FF,
                                       0xE000, 0xFFFF, 0x10000, 0x3FFFF, 0x100000, 0x10FFFF};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int pieces = static_cast<int>(random() % 40);
    for (int i = 0; i < pieces; ++i) {
      switch (random() % 6) {
        case 0:
          text += std::string(random() % 70, 'x');
          break;
        case 1:
          text += Encode(0x410 + random() % 0x40);
          break;
        case 2:
          text += Encode(0x800 + random() % (0xD800 - 0x800));
          break;
        case 3:
          text += Encode(0x10000 + random() % 0x100000);
          break;
        case 4:
          text += Encode(edges[random() % edges.size()]);
          break;
        default:
          text += Encode(0x20 + random() % 0x5F);
          break;
      }
    }
    const int damage = static_cast<int>(random() % 3);
    for (int i = 0; i < damage && !text.empty(); ++i) {
      const std::size_t at = random() % text.size();
      switch (random() % 4) {
        case 0:
          text[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          text.erase(at, 1);
          break;
        case 2:
          text.insert(at, 1, static_cast<char>(0x80 + random() % 0x80));
          break;
        default:
          text.resize(at);
          break;
      }
    }
    const std::size_t expected = FirstInvalidByDecoding(text);
    ASSERT_EQ(FindInvalidUtf8(text), expected) << Hex(text);
    // The text up to a zero byte put anywhere in it, checked in one pass.
    std::string cut = text;
    cut.insert(random() % (cut.size() + 1), 1, '\0');
    for (const std::string& t : {text, cut}) {
      const Utf8UpToZero checked = CheckUtf8UpToZero(t);
      const std::size_t zero = std::min(t.find('\0'), t.size());
      ASSERT_EQ(checked.size, zero) << Hex(t);
      ASSERT_EQ(checked.valid, FirstInvalidByDecoding(t.substr(0, zero)) == kFine) << Hex(t);
    }
    if (expected != kFine) {
      // The repair keeps the well-formed start as it is and yields well-formed text.
      ByteBuffer out;
      AppendRepairedUtf8(text, out);
      ASSERT_EQ(out.view().substr(0, expected), std::string_view(text).substr(0, expected)) << Hex(text);
      ASSERT_EQ(FindInvalidUtf8(out.view()), kFine) << Hex(text);
    }
  }
}

TEST_P(Utf8Scan, StartTagsCountedInThePassToTheZeroByteAgreeWithCountingThem) {
  // Several blocks of counts, with "<" before "/", "?", other bytes and a character at every
  // kind of place, block edges included, and a zero byte that ends the text (or none).
  std::mt19937 random(777u);
  const std::vector<std::string> pieces = {"<", "</", "<?", "<a", "/", "?", "\xD0\xB6", "x", "\n"};
  constexpr std::size_t kBlock = byte_scan::StartTagCounts::kBlock;
  for (const std::size_t size : {kBlock - 1, 3 * kBlock + 5, 5 * kBlock}) {
    std::string text;
    while (text.size() < size) text += pieces[random() % pieces.size()];
    text.resize(size);
    for (std::size_t k = 1; k * kBlock < size; ++k) text.replace(k * kBlock - 1, 2, "</");  // a pair cut by an edge
    // Halves of characters that the cuts left are made ASCII.
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool lead = text[i] == '\xD0';
      const bool continuation = text[i] == '\xB6';
      if ((lead && (i + 1 == text.size() || text[i + 1] != '\xB6')) ||
          (continuation && (i == 0 || text[i - 1] != '\xD0'))) {
        text[i] = 'x';
      }
    }
    for (const std::size_t zero : {size, size - size / 3}) {
      std::string t = text;
      if (zero < t.size()) t[zero] = '\0';
      t.push_back('\0');  // the parser's text ends with a zero byte
      byte_scan::StartTagCounts counts;
      const Utf8UpToZero checked = CheckUtf8UpToZero(std::string_view(t.data(), t.size() - 1), &counts);
      ASSERT_TRUE(checked.valid);
      const char* const readable = t.data() + checked.size + 1;
      std::vector<std::size_t> places = {0, checked.size, checked.size + 1};
      for (std::size_t k = 1; k * kBlock < checked.size; ++k) {
        for (std::size_t at = k * kBlock - 3; at <= k * kBlock + 2; ++at) places.push_back(at);
      }
      for (int i = 0; i < 200; ++i) places.push_back(random() % checked.size);
      // Each "<" counted with the byte after it, the zero byte that ends the text included.
      std::vector<std::size_t> before(checked.size + 2, 0);
      for (std::size_t p = 0; p <= checked.size; ++p) {
        before[p + 1] = before[p] + (t[p] == '<' && t[p + 1] != '/' && t[p + 1] != '?');
      }
      // The same counts from the pass that only finds the zero byte.
      byte_scan::StartTagCounts unchecked;
      ASSERT_EQ(SizeUpToZero(std::string_view(t.data(), t.size() - 1), unchecked), checked.size);
      for (const std::size_t at : places) {
        ASSERT_EQ(counts.Before(t.data(), at, readable), before[at]) << "size " << size << " at " << at;
        ASSERT_EQ(unchecked.Before(t.data(), at, readable), before[at]) << "size " << size << " at " << at;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, Utf8Scan, testing::Values(64, 32, 0));

}  // namespace
}  // namespace menuconv
