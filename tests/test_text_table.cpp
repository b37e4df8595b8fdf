#include "texts/text_table.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

using Records = std::vector<std::pair<std::u16string, std::u16string>>;

// Bytes written as hexadecimal pairs, blanks ignored: "FF FE 6B 00".
constexpr auto Hex = testing_support::BytesFromHex;

// Little-endian bytes of the units, for inputs too large to write out by hand.
void AppendUnits(std::string& bytes, std::u16string_view units) {
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
}

Records RecordsOf(const TextTable& table) {
  Records records;
  for (const auto& [key, text] : table) records.emplace_back(key, text);
  return records;
}

TextTable TableOf(const Records& records) {
  TextTable table;
  for (const auto& [key, text] : records) table.Insert(key, text);
  return table;
}

// --- The table -------------------------------------------------------------------------

TEST(TextTableTest, FirstInsertOfAKeyWins) {
  TextTable table;
  EXPECT_TRUE(table.Empty());
  EXPECT_TRUE(table.Insert(u"k", u"A"));
  EXPECT_FALSE(table.Insert(u"k", u"B"));
  EXPECT_TRUE(table.Insert(u"K", u"C"));
  ASSERT_NE(table.Find(u"k"), nullptr);
  EXPECT_EQ(*table.Find(u"k"), u"A");
  EXPECT_EQ(*table.Find(u"K"), u"C");
  EXPECT_EQ(table.Find(u"k "), nullptr);
  EXPECT_EQ(table.Size(), 2u);
  table.Clear();
  EXPECT_TRUE(table.Empty());
  EXPECT_EQ(table.Find(u"k"), nullptr);
}

TEST(TextTableTest, ProcessTableIsOneInstance) {
  EXPECT_EQ(&ProcessTextTable(), &ProcessTextTable());
}

// --- Reading records -------------------------------------------------------------------

TEST(TextTableTest, ReadTextLineSplitsRecords) {
  struct Case {
    const char* name;
    const char* data;  // units from position 0 on
    Records records;
    std::size_t stop;  // the unit where the reading stopped
  };
  const std::vector<Case> cases = {
      {"well-formed record", "6B 00 09 00 41 00 0D 00 0A 00", {{u"k", u"A"}}, 5},
      {"last record without CR", "6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 42 00",
       {{u"k", u"A"}, {u"m", u"B"}}, 8},
      {"last record ends in CR", "6B 00 09 00 41 00 0D 00", {{u"k", u"A"}}, 4},
      {"last record with an empty text", "6B 00 09 00", {{u"k", u""}}, 2},
      {"CR without LF keeps the next key whole",
       "6B 00 09 00 41 00 0D 00 6D 00 09 00 42 00 0D 00 0A 00", {{u"k", u"A"}, {u"m", u"B"}}, 9},
      {"only an LF is skipped after a CR",
       "6B 00 09 00 41 00 0D 00 0D 00 6D 00 09 00 42 00 0D 00 0A 00",
       {{u"k", u"A"}, {u"\rm", u"B"}}, 10},
      {"TAB inside a text", "6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00", {{u"k", u"A\tB"}}, 7},
      {"LF inside a text", "6B 00 09 00 41 00 0A 00 42 00 0D 00 0A 00", {{u"k", u"A\nB"}}, 7},
      {"line without TAB joins the next key",
       "41 00 0D 00 0A 00 6B 00 09 00 42 00 0D 00 0A 00", {{u"A\r\nk", u"B"}}, 8},
      {"empty key", "09 00 41 00 0D 00 0A 00", {{u"", u"A"}}, 4},
      {"empty text", "6B 00 09 00 0D 00 0A 00", {{u"k", u""}}, 4},
      {"blanks are kept", "20 00 6B 00 20 00 09 00 20 00 41 00 20 00 0D 00 0A 00",
       {{u" k ", u" A "}}, 9},
      {"U+0000 in a text ends it and the reading",
       "6B 00 09 00 41 00 00 00 42 00 0D 00 0A 00 6D 00 09 00 43 00 0D 00 0A 00",
       {{u"k", u"A"}}, 3},
      {"U+0000 in a key", "6B 00 00 00 09 00 41 00 0D 00 0A 00", {}, 1},
      {"U+0000 between records", "6B 00 09 00 41 00 0D 00 0A 00 00 00 6D 00 09 00 42 00",
       {{u"k", u"A"}}, 5},
      {"no TAB at all", "6B 00 41 00", {}, 2},
      {"a final odd byte is no unit", "6B 00 09 00 41 00 0D", {{u"k", u"A"}}, 3},
      {"no data", "", {}, 0},
      {"units above 0xFF", "16 04 E9 00 09 00 3D D8 00 DE 0D 00 0A 00",
       {{u"\u0416\u00E9", u"\U0001F600"}}, 7},
      {"units 0xFF80 and up", "80 FF FF FF 09 00 FE FF 0D 00 0A 00", {{u"\uFF80\uFFFF", u"\uFFFE"}},
       6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Hex(c.data);
    std::size_t position = 0;
    std::u16string key = u"stale";
    std::u16string text = u"stale";
    Records records;
    while (ReadTextLine(data, position, key, text)) {
      records.emplace_back(key, text);
      ASSERT_LE(records.size(), c.records.size() + 1);
    }
    EXPECT_EQ(records, c.records);
    EXPECT_EQ(position, c.stop);
    // Reading on from where it stopped finds nothing more.
    EXPECT_FALSE(ReadTextLine(data, position, key, text));
    EXPECT_EQ(position, c.stop);
  }
}

TEST(TextTableTest, ReadTextLineStartsAtThePosition) {
  const std::string data = Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00");
  std::u16string key;
  std::u16string text;
  std::size_t position = 1;
  ASSERT_TRUE(ReadTextLine(data, position, key, text));
  EXPECT_EQ(key, u"k");
  EXPECT_EQ(text, u"A");
  EXPECT_EQ(position, 6u);
  position = 40;
  EXPECT_FALSE(ReadTextLine(data, position, key, text));
  EXPECT_EQ(position, 6u);
}

// --- Writing ---------------------------------------------------------------------------

TEST(TextTableTest, SerializeSortsByUnits) {
  struct Case {
    const char* name;
    Records inserted;
    const char* bytes;
  };
  const std::vector<Case> cases = {
      {"empty table", {}, "FF FE"},
      {"one entry", {{u"k", u"A"}}, "FF FE 6B 00 09 00 41 00 0D 00 0A 00"},
      {"sorted by unit value, the shorter key first",
       {{u"b", u"2"},
        {u"a", u"1"},
        {u"\uFF21", u"9"},
        {u"\U0001F600", u"8"},
        {u"\u0416", u"7"},
        {u"\u00E9", u"6"},
        {u"B", u"3"},
        {u"ab", u"4"},
        {u"t", u"x\ty\nz"},
        {u"", u"5"}},
       "FF FE"
       " 09 00 35 00 0D 00 0A 00"
       " 42 00 09 00 33 00 0D 00 0A 00"
       " 61 00 09 00 31 00 0D 00 0A 00"
       " 61 00 62 00 09 00 34 00 0D 00 0A 00"
       " 62 00 09 00 32 00 0D 00 0A 00"
       " 74 00 09 00 78 00 09 00 79 00 0A 00 7A 00 0D 00 0A 00"
       " E9 00 09 00 36 00 0D 00 0A 00"
       " 16 04 09 00 37 00 0D 00 0A 00"
       " 3D D8 00 DE 09 00 38 00 0D 00 0A 00"
       " 21 FF 09 00 39 00 0D 00 0A 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SerializeTextTable(TableOf(c.inserted)), Hex(c.bytes));
  }
}

// --- Files -----------------------------------------------------------------------------

class TextTableFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return temp_.PathOf(name); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testing_support::TempFolder temp_{"menuconv-texttable"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(TextTableFileTest, MergeTextFileReadsOnlyTables) {
  const std::string mark = "no UTF-16 little-endian byte-order mark (FF FE)";
  struct Case {
    const char* name;
    std::optional<const char*> bytes;  // none: no file
    TextFileStatus status;
    std::string reason;
    Records records;
  };
  const std::vector<Case> cases = {
      {"missing file", std::nullopt, TextFileStatus::kMissing, "", {}},
      {"empty file", "", TextFileStatus::kEmpty, "", {}},
      {"mark only", "FF FE", TextFileStatus::kMerged, "", {}},
      {"mark and an odd byte", "FF FE 6B", TextFileStatus::kMerged, "", {}},
      {"one byte", "FF", TextFileStatus::kNotATable, mark, {}},
      {"big-endian mark", "FE FF 00 6B 00 09 00 41 00 0D 00 0A", TextFileStatus::kNotATable,
       mark, {}},
      {"UTF-8 without mark", "6B 09 41 0D 0A", TextFileStatus::kNotATable, mark, {}},
      {"UTF-8 with its mark", "EF BB BF 6B 09 41 0D 0A", TextFileStatus::kNotATable, mark, {}},
      {"UTF-16 without mark", "6B 00 09 00 41 00 0D 00 0A 00", TextFileStatus::kNotATable, mark,
       {}},
      {"well-formed", "FF FE 6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 42 00 0D 00 0A 00",
       TextFileStatus::kMerged, "", {{u"k", u"A"}, {u"m", u"B"}}},
      {"first record of a key wins, empty texts are passed over",
       "FF FE 6B 00 09 00 0D 00 0A 00"
       " 6B 00 09 00 41 00 0D 00 0A 00"
       " 6B 00 09 00 42 00 0D 00 0A 00"
       " 6D 00 09 00 0D 00 0A 00",
       TextFileStatus::kMerged, "", {{u"k", u"A"}}},
      {"last record without CR", "FF FE 6B 00 09 00 41 00", TextFileStatus::kMerged, "",
       {{u"k", u"A"}}},
      {"U+0000 stops the reading",
       "FF FE 6B 00 09 00 41 00 0D 00 0A 00 00 00 6D 00 09 00 42 00 0D 00 0A 00",
       TextFileStatus::kNotATable, "reading stopped at a U+0000 unit at byte 12", {{u"k", u"A"}}},
      {"U+0000 ends a text",
       "FF FE 6B 00 09 00 41 00 00 00 42 00 0D 00 0A 00", TextFileStatus::kNotATable,
       "reading stopped at a U+0000 unit at byte 8", {{u"k", u"A"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf("table.txt");
    fs::remove(path);
    if (c.bytes) WriteBytes(path, Hex(*c.bytes));
    TextTable table;
    const MergeResult result = MergeTextFile(table, path);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(result.added, c.records.size());
    EXPECT_EQ(RecordsOf(table), c.records);
    // Reading never changes the file.
    EXPECT_EQ(ReadBytes(path), c.bytes ? std::optional<std::string>(Hex(*c.bytes)) : std::nullopt);
  }
}

TEST_F(TextTableFileTest, MergeTextFileOnADirectory) {
  fs::create_directory(PathOf("table.txt"));
  TextTable table;
  const MergeResult result = MergeTextFile(table, PathOf("table.txt"));
  EXPECT_EQ(result.status, TextFileStatus::kNotATable);
  EXPECT_EQ(result.reason, std::strerror(testing_support::kDirectoryError));
  EXPECT_TRUE(table.Empty());
}

TEST_F(TextTableFileTest, FileMergedFirstWins) {
  const std::string first = PathOf("first.txt");
  const std::string second = PathOf("second.txt");
  WriteBytes(first,
             Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00"      // k A
                 " 6E 00 09 00 0D 00 0A 00"));              // n (empty)
  WriteBytes(second,
             Hex("FF FE 6B 00 09 00 42 00 0D 00 0A 00"      // k B
                 " 6D 00 09 00 43 00 0D 00 0A 00"           // m C
                 " 6E 00 09 00 44 00 0D 00 0A 00"));        // n D
  TextTable table;
  EXPECT_EQ(MergeTextFile(table, first).added, 1u);
  EXPECT_EQ(MergeTextFile(table, second).added, 2u);
  EXPECT_EQ(RecordsOf(table), (Records{{u"k", u"A"}, {u"m", u"C"}, {u"n", u"D"}}));
  // Merging again adds nothing.
  EXPECT_EQ(MergeTextFile(table, second).added, 0u);
  EXPECT_EQ(table.Size(), 3u);
}

TEST_F(TextTableFileTest, NonAsciiKeysRoundTripUnchanged) {
  const std::string sorted =
      "FF FE"
      " 41 00 09 00 61 00 0D 00 0A 00"                   // A a
      " E9 00 09 00 E9 00 0D 00 0A 00"                   // U+00E9 U+00E9
      " FF 00 09 00 FF 00 0D 00 0A 00"                   // U+00FF U+00FF
      " 10 04 16 04 09 00 16 04 17 04 0D 00 0A 00"       // U+0410 U+0416, U+0416 U+0417
      " 3D D8 00 DE 09 00 3D D8 00 DE 0D 00 0A 00"       // U+1F600 (a surrogate pair) twice
      " E9 FF 09 00 80 FF 0D 00 0A 00";                  // U+FFE9 U+FF80
  struct Case {
    const char* name;
    const char* input;
  };
  const std::vector<Case> cases = {
      {"sorted input", sorted.c_str()},
      {"reversed input, CR without LF, no final CR",
       "FF FE"
       " E9 FF 09 00 80 FF 0D 00"
       " 3D D8 00 DE 09 00 3D D8 00 DE 0D 00 0A 00"
       " 10 04 16 04 09 00 16 04 17 04 0D 00 0A 00"
       " FF 00 09 00 FF 00 0D 00"
       " E9 00 09 00 E9 00 0D 00 0A 00"
       " 41 00 09 00 61 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = PathOf("in.txt");
    const std::string output = PathOf("out.txt");
    WriteBytes(input, Hex(c.input));
    TextTable table;
    EXPECT_EQ(MergeTextFile(table, input).status, TextFileStatus::kMerged);
    ASSERT_TRUE(WriteTextTable(table, output));
    EXPECT_EQ(ReadBytes(output), Hex(sorted));
  }
}

TEST_F(TextTableFileTest, WriteTextTableReplacesTheWholeFile) {
  const std::string path = PathOf("out_txts.txt");
  const TextTable table = TableOf({{u"m", u"C"}, {u"k", u"A"}});
  const std::string expected =
      Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 43 00 0D 00 0A 00");
  // A new file, then a longer file that must not keep its tail.
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed);
    if (existed) WriteBytes(path, std::string(100, 'x'));
    std::string reason;
    EXPECT_TRUE(WriteTextTable(table, path, &reason));
    EXPECT_EQ(reason, "");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(Names(), std::vector<std::string>{"out_txts.txt"});
  }
  ASSERT_TRUE(WriteTextTable(TextTable(), path));
  EXPECT_EQ(ReadBytes(path), Hex("FF FE"));
}

TEST_F(TextTableFileTest, WriteTextTableFailureLeavesTargetAlone) {
  const std::string folder = PathOf("out_txts.txt");
  fs::create_directory(folder);
  WriteBytes(PathOf("out_txts.txt/inside"), "keep");
  const TextTable table = TableOf({{u"k", u"A"}});
  std::string reason;
  EXPECT_FALSE(WriteTextTable(table, folder, &reason));
  EXPECT_NE(reason, "");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(ReadBytes(PathOf("out_txts.txt/inside")), "keep");
  // No temporary file is left behind.
  EXPECT_EQ(Names(), std::vector<std::string>{"out_txts.txt"});

  reason.clear();
  EXPECT_FALSE(WriteTextTable(table, PathOf("missing/out_txts.txt"), &reason));
  EXPECT_NE(reason, "");
  EXPECT_EQ(Names(), std::vector<std::string>{"out_txts.txt"});
}

TEST_F(TextTableFileTest, LargeTablesAndKeys) {
  // A million records in falling key order, a key and a text of a million units each.
  constexpr int kRecords = 1000000;
  const std::u16string longKey(1000000, u'z');
  const std::u16string longText(1000000, u'\u0416');
  auto keyOf = [](int i) {
    std::u16string key = u"k0000000";
    for (int pos = 7; pos >= 1; --pos, i /= 10) key[pos] = static_cast<char16_t>(u'0' + i % 10);
    return key;
  };
  auto recordOf = [](std::string& bytes, std::u16string_view key, std::u16string_view text) {
    AppendUnits(bytes, key);
    AppendUnits(bytes, u"\t");
    AppendUnits(bytes, text);
    AppendUnits(bytes, u"\r\n");
  };
  std::string input = Hex("FF FE");
  recordOf(input, longKey, longText);
  for (int i = kRecords - 1; i >= 0; --i) recordOf(input, keyOf(i), keyOf(i).substr(1));
  std::string expected = Hex("FF FE");
  for (int i = 0; i < kRecords; ++i) recordOf(expected, keyOf(i), keyOf(i).substr(1));
  recordOf(expected, longKey, longText);

  const std::string path = PathOf("large_txts.txt");
  WriteBytes(path, input);
  input.clear();
  TextTable table;
  const MergeResult result = MergeTextFile(table, path);
  EXPECT_EQ(result.status, TextFileStatus::kMerged);
  EXPECT_EQ(result.added, static_cast<std::size_t>(kRecords) + 1);
  ASSERT_TRUE(WriteTextTable(table, path));
  const std::optional<std::string> written = ReadBytes(path);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->size(), expected.size());
  EXPECT_TRUE(*written == expected);
}

// Entries come in sorted runs (one per merged file) or in no order at all; either way the
// table reads in key order.
TEST(TextTable, ReadsInKeyOrderWhateverTheOrderOfInsertion) {
  std::mt19937 random(7);
  for (const std::size_t runs : {1u, 2u, 3u, 8u, 9u, 40u, 5000u}) {
    std::vector<std::u16string> keys;
    for (int i = 0; i < 5000; ++i) {
      std::u16string key;
      for (std::size_t n = random() % 6; n > 0; --n) key += static_cast<char16_t>(u'a' + random() % 3);
      if (random() % 4 == 0) key += static_cast<char16_t>(0xD800 + random() % 0x2800);  // high units sort last
      keys.push_back(key);
    }
    // Each run sorted on its own, as a sorted file is.
    const std::size_t length = keys.size() / runs;
    for (std::size_t r = 0; r < runs; ++r) {
      const auto first = keys.begin() + static_cast<std::ptrdiff_t>(r * length);
      std::sort(first, r + 1 == runs ? keys.end() : first + static_cast<std::ptrdiff_t>(length));
    }
    TextTable table;
    std::set<std::u16string> expected;
    for (const std::u16string& key : keys) {
      EXPECT_EQ(table.Insert(key, u"t"), expected.insert(key).second);
    }
    std::vector<std::u16string> read;
    for (const auto& [key, text] : table) read.push_back(key);
    EXPECT_EQ(read, std::vector<std::u16string>(expected.begin(), expected.end())) << runs << " runs";
  }
}

}  // namespace
}  // namespace menuconv
