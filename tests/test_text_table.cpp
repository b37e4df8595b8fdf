#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "texts/text_table.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

using Records = std::vector<std::pair<std::u16string, std::u16string>>;

// Bytes written as hexadecimal pairs, blanks ignored: "FF FE 6B 00".
constexpr auto Hex = testing_support::BytesFromHex;

const std::string kNoMark = "no UTF-16 little-endian byte-order mark (FF FE)";

// Little-endian bytes of the units, for inputs too large to write out by hand.
void AppendUnits(std::string& bytes, std::u16string_view units) {
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
}

// A table file as the step writes it: FF FE, then KEY TAB TEXT CR LF per record.
std::string TableBytes(const Records& records) {
  std::string bytes = Hex("FF FE");
  for (const auto& [key, text] : records) {
    AppendUnits(bytes, key);
    AppendUnits(bytes, u"\t");
    AppendUnits(bytes, text);
    AppendUnits(bytes, u"\r\n");
  }
  return bytes;
}

Records RecordsOf(const TextTable& table) {
  Records records;
  for (const TextRecord& record : table.Records()) {
    records.emplace_back(record.key().ToU16String(), record.text().ToU16String());
  }
  return records;
}

std::string BytesOf(const ByteBuffer& buffer) { return std::string(buffer.view()); }

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
      {"last record without CR", "6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 42 00", {{u"k", u"A"}, {u"m", u"B"}}, 8},
      {"last record ends in CR", "6B 00 09 00 41 00 0D 00", {{u"k", u"A"}}, 4},
      {"last record with an empty text", "6B 00 09 00", {{u"k", u""}}, 2},
      {"CR without LF keeps the next key whole",
       "6B 00 09 00 41 00 0D 00 6D 00 09 00 42 00 0D 00 0A 00",
       {{u"k", u"A"}, {u"m", u"B"}},
       9},
      {"only an LF is skipped after a CR",
       "6B 00 09 00 41 00 0D 00 0D 00 6D 00 09 00 42 00 0D 00 0A 00",
       {{u"k", u"A"}, {u"\rm", u"B"}},
       10},
      {"TAB inside a text", "6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00", {{u"k", u"A\tB"}}, 7},
      {"LF inside a text", "6B 00 09 00 41 00 0A 00 42 00 0D 00 0A 00", {{u"k", u"A\nB"}}, 7},
      {"line without TAB joins the next key",
       "41 00 0D 00 0A 00 6B 00 09 00 42 00 0D 00 0A 00",
       {{u"A\r\nk", u"B"}},
       8},
      {"empty key", "09 00 41 00 0D 00 0A 00", {{u"", u"A"}}, 4},
      {"empty text", "6B 00 09 00 0D 00 0A 00", {{u"k", u""}}, 4},
      {"blanks are kept", "20 00 6B 00 20 00 09 00 20 00 41 00 20 00 0D 00 0A 00", {{u" k ", u" A "}}, 9},
      {"U+0000 in a text ends it and the reading",
       "6B 00 09 00 41 00 00 00 42 00 0D 00 0A 00 6D 00 09 00 43 00 0D 00 0A 00",
       {{u"k", u"A"}},
       3},
      {"U+0000 in a key", "6B 00 00 00 09 00 41 00 0D 00 0A 00", {}, 1},
      {"U+0000 between records", "6B 00 09 00 41 00 0D 00 0A 00 00 00 6D 00 09 00 42 00", {{u"k", u"A"}}, 5},
      {"no TAB at all", "6B 00 41 00", {}, 2},
      {"a final odd byte is no unit", "6B 00 09 00 41 00 0D", {{u"k", u"A"}}, 3},
      {"no data", "", {}, 0},
      {"units above 0xFF", "16 04 E9 00 09 00 3D D8 00 DE 0D 00 0A 00", {{u"\u0416\u00E9", u"\U0001F600"}}, 7},
      {"units 0xFF80 and up", "80 FF FF FF 09 00 FE FF 0D 00 0A 00", {{u"\uFF80\uFFFF", u"\uFFFE"}}, 6},
      // Long enough that the units are looked at several at a time.
      {"TAB, CR and U+0000 at every place of a group of units",
       "61 00 62 00 63 00 64 00 65 00 09 00 31 00 32 00 33 00 34 00 35 00 36 00 37 00 0D 00 0A 00"
       " 61 00 62 00 63 00 64 00 09 00 31 00 32 00 33 00 34 00 35 00 36 00 37 00 38 00 0D 00"
       " 61 00 62 00 63 00 64 00 65 00 66 00 09 00 31 00 32 00 33 00 34 00 00 00 35 00",
       {{u"abcde", u"1234567"}, {u"abcd", u"12345678"}, {u"abcdef", u"1234"}},
       40},
      {"units that are TAB, CR or U+0000 in one byte only",
       "09 01 00 09 0D 01 00 0D 01 00 00 01 09 00 0D 0D 09 09 0D 00 0A 00",
       {{u"\u0109\u0900\u010D\u0D00\u0001\u0100", u"\u0D0D\u0909"}},
       11},
  };
  const char sentinel[] = "sentinel";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Hex(c.data);
    std::size_t position = 0;
    TextRecord record(sentinel, 1, 1);
    Records records;
    while (ReadTextLine(data, position, record)) {
      records.emplace_back(record.key().ToU16String(), record.text().ToU16String());
      ASSERT_LE(records.size(), c.records.size() + 1);
    }
    EXPECT_EQ(records, c.records);
    EXPECT_EQ(position, c.stop);
    // The record that was read last is left as it was; so is the sentinel without any.
    if (c.records.empty()) {
      EXPECT_EQ(record.key().bytes().data(), sentinel);
    } else {
      EXPECT_EQ(record.key().ToU16String(), c.records.back().first);
      EXPECT_EQ(record.text().ToU16String(), c.records.back().second);
    }
    // Reading on from where it stopped finds nothing more.
    EXPECT_FALSE(ReadTextLine(data, position, record));
    EXPECT_EQ(position, c.stop);
  }
}

TEST(TextTableTest, FilesReadLikeRecordByRecord) {
  // Tables of every kind of unit that ends a key or a text, ends a record or stops the reading,
  // and of units that hold their bytes only in one half, across blocks of units: a table reads
  // as ReadTextLine reads its records one after the other.
  const std::u16string units = {u'\t', u'\t', u'\r',  u'\r',  u'\n',  u'\n', u'a',
                                u'b',  0,     0x0D09, 0x090D, 0x0900, 0x0A0D};
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = Hex("FF FE");
    const std::size_t length = random() % 300;
    std::u16string body;
    for (std::size_t i = 0; i < length; ++i) {
      // Mostly plain units, so that records are long enough to cross a block now and then.
      body += random() % 4 == 0 ? units[random() % units.size()] : static_cast<char16_t>(u'a' + random() % 3);
    }
    if (random() % 3 != 0) body.erase(std::remove(body.begin(), body.end(), u'\0'), body.end());
    AppendUnits(bytes, body);
    if (random() % 5 == 0) bytes.push_back('x');  // a final odd byte
    std::map<std::u16string, std::u16string> expected;
    std::size_t position = 1;
    TextRecord record;
    while (ReadTextLine(bytes, position, record)) {
      if (!record.text().empty()) expected.emplace(record.key().ToU16String(), record.text().ToU16String());
    }
    ByteBuffer held;
    held.Append(bytes);
    TextTable table;
    const Status status = table.AddBytes(HeldBytes(std::move(held)));
    ASSERT_EQ(RecordsOf(table), Records(expected.begin(), expected.end())) << "round " << round;
    const bool stopped = position < bytes.size() / 2;
    ASSERT_EQ(status.ok(), !stopped) << "round " << round;
    if (stopped) {
      ASSERT_EQ(status.message(), "reading stopped at a U+0000 unit at byte " + std::to_string(2 * position));
    }
  }
}

TEST(TextTableTest, ReadTextLineStartsAtThePosition) {
  const std::string data = Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00");
  TextRecord record;
  std::size_t position = 1;
  ASSERT_TRUE(ReadTextLine(data, position, record));
  EXPECT_EQ(record.key().ToU16String(), u"k");
  EXPECT_EQ(record.text().ToU16String(), u"A");
  EXPECT_EQ(record.key().bytes().data(), data.data() + 2);  // a view into the data, no copy
  EXPECT_EQ(position, 6u);
  position = 40;
  EXPECT_FALSE(ReadTextLine(data, position, record));
  EXPECT_EQ(position, 6u);
}

// --- The order of keys -----------------------------------------------------------------

TEST(TextTableTest, KeysCompareAsUnsignedUnitsShorterFirst) {
  // Each key comes before every one after it.
  const std::vector<std::u16string> ordered = {
      u"",
      u"B",
      u"a",
      u"ab",
      u"abc",
      u"abcc",
      u"abcd",
      u"abcda",
      u"abcdabcd",
      u"abcdabcd\u0001",
      u"abcdabce",
      u"abcdb",
      u"b",
      u"\u00E9",
      u"\u0100",
      u"\u0416",
      u"\u0417\u0001",
      u"\u0417\u0100",
      u"\U0001F600",
      u"\uFF21",
      u"\uFF80a",
      u"\uFFFF",
  };
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    std::string a;
    AppendUnits(a, ordered[i]);
    const TextUnits x(a.data(), ordered[i].size());
    EXPECT_EQ(CompareUnits(x, x), 0);
    for (std::size_t j = i + 1; j < ordered.size(); ++j) {
      SCOPED_TRACE(testing_support::HexOf(a) + " before " + std::to_string(j));
      std::string b;
      AppendUnits(b, ordered[j]);
      const TextUnits y(b.data(), ordered[j].size());
      EXPECT_LT(CompareUnits(x, y), 0);
      EXPECT_GT(CompareUnits(y, x), 0);
      EXPECT_TRUE(UnitsLess(x, y));
      EXPECT_FALSE(UnitsLess(y, x));
      EXPECT_FALSE(UnitsEqual(x, y));
    }
  }
}

TEST(TextTableTest, KeysCompareAsStringsOfUnitsDo) {
  // Keys sharing starts of every length, differing in one unit at any place, in either byte.
  std::mt19937 random(11);
  const std::u16string alphabet = u"\u0001\u0061\u0100\u0161\u6100\uFFFF";
  for (int round = 0; round < 20000; ++round) {
    std::u16string a;
    for (std::size_t n = random() % 12; n > 0; --n) a += alphabet[random() % alphabet.size()];
    std::u16string b = a.substr(0, random() % (a.size() + 1));
    for (std::size_t n = random() % 4; n > 0; --n) b += alphabet[random() % alphabet.size()];
    std::string x;
    std::string y;
    AppendUnits(x, a);
    AppendUnits(y, b);
    const int expected = a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
    const int order = CompareUnits(TextUnits(x.data(), a.size()), TextUnits(y.data(), b.size()));
    ASSERT_EQ((order > 0) - (order < 0), expected) << testing_support::HexOf(x) << " / " << testing_support::HexOf(y);
    ASSERT_EQ(UnitsEqual(TextUnits(x.data(), a.size()), TextUnits(y.data(), b.size())), a == b);
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

  // The bytes of the table merged from files of the given bytes, in order.
  // With `sizedAhead`, the table makes room for all the files first, as the run does.
  std::string Merged(const std::vector<std::string>& files, bool sizedAhead = false) {
    TextTable table;
    std::size_t total = 0;
    for (const std::string& file : files) total += file.size();
    if (sizedAhead) table.ReserveFor(total);
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string path = PathOf("merged" + std::to_string(i) + ".txt");
      WriteBytes(path, files[i]);
      const Status status = table.AddFile(path);
      EXPECT_TRUE(status.ok()) << status.message();
    }
    return BytesOf(SerializeTextTable(table));
  }

  testing_support::TempFolder temp_{"menuconv-texttable"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(TextTableFileTest, AddFileReadsOnlyTables) {
  const std::string stopped = "reading stopped at a U+0000 unit at byte ";
  struct Case {
    const char* name;
    std::optional<const char*> bytes;  // none: no file
    Status status;
    Records records;
  };
  auto stoppedAt = [&](std::size_t offset, std::size_t line, std::size_t column) {
    return Status::Failure(StatusCode::kMalformedInput, stopped + std::to_string(offset),
                           InputPlace{offset, line, column});
  };
  const std::vector<Case> cases = {
      {"missing file", std::nullopt, Status::Success(), {}},
      {"empty file", "", Status::Success(), {}},
      {"mark only", "FF FE", Status::Success(), {}},
      {"mark and an odd byte", "FF FE 6B", Status::Success(), {}},
      {"one byte", "FF", Status::Failure(StatusCode::kMalformedInput, kNoMark), {}},
      {"big-endian mark",
       "FE FF 00 6B 00 09 00 41 00 0D 00 0A",
       Status::Failure(StatusCode::kMalformedInput, kNoMark),
       {}},
      {"UTF-8 without mark", "6B 09 41 0D 0A", Status::Failure(StatusCode::kMalformedInput, kNoMark), {}},
      {"UTF-8 with its mark", "EF BB BF 6B 09 41 0D 0A", Status::Failure(StatusCode::kMalformedInput, kNoMark), {}},
      {"UTF-16 without mark",
       "6B 00 09 00 41 00 0D 00 0A 00",
       Status::Failure(StatusCode::kMalformedInput, kNoMark),
       {}},
      {"well-formed",
       "FF FE 6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 42 00 0D 00 0A 00",
       Status::Success(),
       {{u"k", u"A"}, {u"m", u"B"}}},
      {"first record of a key wins, empty texts are passed over",
       "FF FE 6B 00 09 00 0D 00 0A 00"
       " 6B 00 09 00 41 00 0D 00 0A 00"
       " 6B 00 09 00 42 00 0D 00 0A 00"
       " 6D 00 09 00 0D 00 0A 00",
       Status::Success(),
       {{u"k", u"A"}}},
      {"last record without CR", "FF FE 6B 00 09 00 41 00", Status::Success(), {{u"k", u"A"}}},
      {"U+0000 stops the reading",
       "FF FE 6B 00 09 00 41 00 0D 00 0A 00 00 00 6D 00 09 00 42 00 0D 00 0A 00",
       stoppedAt(12, 2, 1),
       {{u"k", u"A"}}},
      {"U+0000 ends a text", "FF FE 6B 00 09 00 41 00 00 00 42 00 0D 00 0A 00", stoppedAt(8, 1, 9), {{u"k", u"A"}}},
      {"U+0000 right after the mark", "FF FE 00 00 6B 00 09 00 41 00", stoppedAt(2, 1, 3), {}},
      {"U+0000 on a later line, after a CR without LF",
       "FF FE 6D 00 09 00 43 00 0D 00 0A 00 6B 00 09 00 41 00 0D 00 7A 00 09 00 5A 00 00 00",
       stoppedAt(26, 2, 15),
       {{u"k", u"A"}, {u"m", u"C"}, {u"z", u"Z"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf("table.txt");
    fs::remove(path);
    if (c.bytes) WriteBytes(path, Hex(*c.bytes));
    TextTable table;
    const Status status = table.AddFile(path);
    EXPECT_EQ(status.code(), c.status.code());
    EXPECT_EQ(status.message(), c.status.message());
    EXPECT_EQ(status.place(), c.status.place());
    EXPECT_EQ(RecordsOf(table), c.records);
    EXPECT_EQ(table.Size(), c.records.size());
    EXPECT_EQ(BytesOf(SerializeTextTable(table)), TableBytes(c.records));
    // Reading never changes the file.
    EXPECT_EQ(ReadBytes(path), c.bytes ? std::optional<std::string>(Hex(*c.bytes)) : std::nullopt);
  }
}

TEST_F(TextTableFileTest, AddFileOnWhatIsNoFile) {
  fs::create_directory(PathOf("folder.txt"));
  WriteBytes(PathOf("plain"), TableBytes({{u"k", u"A"}}));
  struct Case {
    const char* name;
    std::string path;
    Status status;
  };
  const std::vector<Case> cases = {
      {"folder", PathOf("folder.txt"), Status::SystemFailure(testing_support::kDirectoryError)},
      {"in a missing folder", PathOf("missing/table.txt"), Status::Success()},
#ifndef _WIN32
      {"below a file", PathOf("plain/table.txt"), Status::SystemFailure(ENOTDIR)},
#endif
      {"empty path", "", Status::Success()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextTable table;
    const Status status = table.AddFile(c.path);
    EXPECT_EQ(status.code(), c.status.code());
    EXPECT_EQ(status.message(), c.status.message());
    EXPECT_FALSE(status.place().has_value());
    EXPECT_TRUE(table.Empty());
  }
  EXPECT_TRUE(fs::is_directory(PathOf("folder.txt")));
}

TEST_F(TextTableFileTest, KeysAreWrittenInOrderOfTheirUnits) {
  // Every record is kept as it was; only the order changes.
  const Records unordered = {
      {u"b", u"2"}, {u"a", u"1"},  {u"\uFF21", u"9"},  {u"\U0001F600", u"8"}, {u"\u0416", u"7"},    {u"\u00E9", u"6"},
      {u"B", u"3"}, {u"ab", u"4"}, {u"t", u"x\ty\nz"}, {u"", u"5"},           {u"abcdabcd", u"10"}, {u"abcdabc", u"11"},
  };
  EXPECT_EQ(Merged({TableBytes(unordered)}),
            Hex("FF FE"
                " 09 00 35 00 0D 00 0A 00"
                " 42 00 09 00 33 00 0D 00 0A 00"
                " 61 00 09 00 31 00 0D 00 0A 00"
                " 61 00 62 00 09 00 34 00 0D 00 0A 00"
                " 61 00 62 00 63 00 64 00 61 00 62 00 63 00 09 00 31 00 31 00 0D 00 0A 00"
                " 61 00 62 00 63 00 64 00 61 00 62 00 63 00 64 00 09 00 31 00 30 00 0D 00 0A 00"
                " 62 00 09 00 32 00 0D 00 0A 00"
                " 74 00 09 00 78 00 09 00 79 00 0A 00 7A 00 0D 00 0A 00"
                " E9 00 09 00 36 00 0D 00 0A 00"
                " 16 04 09 00 37 00 0D 00 0A 00"
                " 3D D8 00 DE 09 00 38 00 0D 00 0A 00"
                " 21 FF 09 00 39 00 0D 00 0A 00"));
}

TEST_F(TextTableFileTest, FileMergedFirstWins) {
  const std::string first =
      Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00"  // k A
          " 6E 00 09 00 0D 00 0A 00");           // n (empty)
  const std::string second =
      Hex("FF FE 6B 00 09 00 42 00 0D 00 0A 00"  // k B
          " 6D 00 09 00 43 00 0D 00 0A 00"       // m C
          " 6E 00 09 00 44 00 0D 00 0A 00");     // n D
  const std::string merged = TableBytes({{u"k", u"A"}, {u"m", u"C"}, {u"n", u"D"}});
  EXPECT_EQ(Merged({first, second}), merged);
  // Merging a file again changes nothing.
  EXPECT_EQ(Merged({first, second, second}), merged);
  EXPECT_EQ(Merged({first, second, first}), merged);
  EXPECT_EQ(Merged({second, first}), TableBytes({{u"k", u"B"}, {u"m", u"C"}, {u"n", u"D"}}));
}

TEST_F(TextTableFileTest, NonAsciiKeysRoundTripUnchanged) {
  const std::string sorted =
      "FF FE"
      " 41 00 09 00 61 00 0D 00 0A 00"              // A a
      " E9 00 09 00 E9 00 0D 00 0A 00"              // U+00E9 U+00E9
      " FF 00 09 00 FF 00 0D 00 0A 00"              // U+00FF U+00FF
      " 10 04 16 04 09 00 16 04 17 04 0D 00 0A 00"  // U+0410 U+0416, U+0416 U+0417
      " 3D D8 00 DE 09 00 3D D8 00 DE 0D 00 0A 00"  // U+1F600 (a surrogate pair) twice
      " E9 FF 09 00 80 FF 0D 00 0A 00";             // U+FFE9 U+FF80
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
    EXPECT_TRUE(table.AddFile(input).ok());
    const Status written = WriteTextTable(table, output);
    ASSERT_TRUE(written.ok()) << written.message();
    EXPECT_EQ(ReadBytes(output), Hex(sorted));
  }
}

TEST_F(TextTableFileTest, WriteTextTableReplacesTheWholeFile) {
  const std::string input = PathOf("in.txt");
  WriteBytes(input, TableBytes({{u"m", u"C"}, {u"k", u"A"}}));
  TextTable table;
  ASSERT_TRUE(table.AddFile(input).ok());
  const std::string path = PathOf("out_txts.txt");
  const std::string expected = Hex("FF FE 6B 00 09 00 41 00 0D 00 0A 00 6D 00 09 00 43 00 0D 00 0A 00");
  // A new file, then a longer file that must not keep its tail.
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed);
    if (existed) WriteBytes(path, std::string(100, 'x'));
    const Status status = WriteTextTable(table, path);
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(status.message(), "");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.txt", "out_txts.txt"}));
  }
  ASSERT_TRUE(WriteTextTable(TextTable(), path).ok());
  EXPECT_EQ(ReadBytes(path), Hex("FF FE"));
}

TEST_F(TextTableFileTest, WriteTextTableFailureLeavesTargetAlone) {
  const std::string input = PathOf("in.txt");
  WriteBytes(input, TableBytes({{u"k", u"A"}}));
  TextTable table;
  ASSERT_TRUE(table.AddFile(input).ok());
  const std::string folder = PathOf("out_txts.txt");
  fs::create_directory(folder);
  WriteBytes(PathOf("out_txts.txt/inside"), "keep");
  Status status = WriteTextTable(table, folder);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message(), "");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(ReadBytes(PathOf("out_txts.txt/inside")), "keep");
  // No temporary file is left behind.
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.txt", "out_txts.txt"}));

  status = WriteTextTable(table, PathOf("missing/out_txts.txt"));
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message(), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.txt", "out_txts.txt"}));
}

TEST_F(TextTableFileTest, SerializedInPiecesThatMakeTheWhole) {
  // Records small and large against the pieces of some 64 KiB the serialiser hands over.
  Records records;
  for (int i = 0; i < 20000; ++i)
    records.emplace_back(
        u"k" + std::u16string(i % 7, u'x') + u"\u0416" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
            std::u16string(i / 26 % 26 + 1, u'z') + std::u16string(1, static_cast<char16_t>(0x100 + i)),
        std::u16string(i % 40 + 1, u'T'));
  records.emplace_back(u"large", std::u16string(100000, u'\u0416'));
  records.emplace_back(std::u16string(40000, u'~'), u"after a large key");
  std::sort(records.begin(), records.end());
  records.erase(
      std::unique(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
      records.end());
  const std::string expected = TableBytes(records);
  const std::string path = PathOf("table.txt");
  std::string reversed = TableBytes(Records(records.rbegin(), records.rend()));
  WriteBytes(path, reversed);
  TextTable table;
  ASSERT_TRUE(table.AddFile(path).ok());

  // Counts the pieces it is handed, and refuses the one numbered `refused`.
  struct CountingSink final : ByteSink {
    std::string joined;
    std::size_t pieces = 0;
    std::size_t refused = SIZE_MAX;
    Status Write(const std::vector<std::string_view>& bytes) override {
      for (std::string_view piece : bytes) {
        EXPECT_FALSE(piece.empty());
        if (pieces++ == refused) return Status::Failure(StatusCode::kSystemError, "refused");
        joined.append(piece);
      }
      return Status::Success();
    }
  };
  CountingSink all;
  EXPECT_TRUE(SerializeTextTable(table, all).ok());
  EXPECT_TRUE(all.joined == expected);
  EXPECT_GT(all.pieces, 20u);  // some 2 MB in all
  EXPECT_TRUE(BytesOf(SerializeTextTable(table)) == expected);

  // No piece after the one refused, and the refusal is the result.
  for (const std::size_t refused : {std::size_t{0}, std::size_t{3}}) {
    CountingSink sink;
    sink.refused = refused;
    EXPECT_EQ(SerializeTextTable(table, sink).message(), "refused");
    EXPECT_EQ(sink.pieces, refused + 1);
  }
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
  const Status status = table.AddFile(path);
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(table.Size(), static_cast<std::size_t>(kRecords) + 1);
  ASSERT_TRUE(WriteTextTable(table, path).ok());
  const std::optional<std::string> written = ReadBytes(path);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->size(), expected.size());
  EXPECT_TRUE(*written == expected);
}

// Files' bytes as another process may leave them: cut short under the table, or not.
class CutOwner final : public HeldBytes::Owner {
 public:
  explicit CutOwner(std::string bytes, bool cut) : bytes_(std::move(bytes)), cut_(cut) {}
  std::string_view Bytes() const { return bytes_; }
  bool CutShort() const override { return cut_; }

 private:
  std::string bytes_;
  bool cut_;
};

HeldBytes Held(const std::string& bytes, bool cut) {
  auto owner = std::make_unique<CutOwner>(bytes, cut);
  const std::string_view view = owner->Bytes();
  return HeldBytes(view, std::move(owner));
}

// The file cut short is named by its place among the files added, whether or not those before
// it contributed records: the run names the wrong table otherwise.
TEST(TextTableTest, CutShortFileCountsEveryFileAdded) {
  const std::string table = TableBytes({{u"k", u"t"}});
  struct Case {
    const char* name;
    std::string first;
    bool firstCut;
    bool secondCut;
    std::optional<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {"none cut", table, false, false, std::nullopt},
      {"first cut", table, true, false, 0},
      {"second cut", table, false, true, 1},
      {"second cut after an empty first", "", false, true, 1},
      {"second cut after a first that is no table", "not a table", false, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextTable merged;
    (void)merged.AddBytes(Held(c.first, c.firstCut));
    ASSERT_TRUE(merged.AddBytes(Held(table, c.secondCut)).ok());
    EXPECT_EQ(merged.CutShortFile(), c.expected);
  }
}

// Records come in files that are sorted (as a rewritten table is) or in no order at all, with
// keys repeated within a file and across files and texts that are empty; whatever the mix,
// the table holds the first record with a text of each key, in key order. Every other round
// the table is sized ahead, and some rounds' files are large enough for its records and their
// sorting to take room of their own, which records shorter than expected outgrow.
TEST_F(TextTableFileTest, MergedLikeAnOrderedMapOfFirstRecords) {
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    const std::size_t fileCount = 1 + random() % 4;
    const bool large = round % 10 >= 8;
    std::vector<Records> files(fileCount);
    std::map<std::u16string, std::u16string> expected;
    for (std::size_t f = 0; f < fileCount; ++f) {
      const std::size_t count = large ? 20000 + random() % 40000 : random() % 3 == 0 ? random() % 4 : random() % 3000;
      // Half the files share a start of every key, as tables of one prefix do.
      const std::u16string start = random() % 2 == 0 ? u"txt_" : u"";
      for (std::size_t i = 0; i < count; ++i) {
        std::u16string key = start;
        for (std::size_t n = random() % 10; n > 0; --n) key += static_cast<char16_t>(u'a' + random() % 3);
        if (random() % 4 == 0) key += static_cast<char16_t>(0xD800 + random() % 0x2800);  // high units sort last
        std::u16string text;
        if (random() % 8 != 0) {
          text = u"f" + std::u16string(1, static_cast<char16_t>(u'0' + f)) + u"#";
          for (const char c : std::to_string(i)) text += static_cast<char16_t>(c);
        }
        files[f].emplace_back(key, text);
      }
      if (random() % 2 == 0) {
        // A sorted file; of the records of one key the first stays first.
        std::stable_sort(files[f].begin(), files[f].end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
      }
      for (const auto& [key, text] : files[f]) {
        if (!text.empty()) expected.emplace(key, text);
      }
    }
    std::vector<std::string> bytes;
    for (const Records& file : files) bytes.push_back(TableBytes(file));
    ASSERT_TRUE(Merged(bytes, round % 2 == 1) == TableBytes(Records(expected.begin(), expected.end())))
        << "round " << round;
  }
}

}  // namespace
}  // namespace menuconv
