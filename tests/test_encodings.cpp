// The encoding table, the choice of a document's code page, the conversions between file
// bytes and the UTF-8 text held in memory, and the UTF-8 repair.
//
// Expected bytes are typed from the published code charts of each code page (windows-125x,
// Windows' 932 table, JIS X 0208 / KS X 1001 row-cell codes for the ISO-2022 forms) and from
// the UTF-7 and UTF-8 encoding rules.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#endif

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/utf8.h"
#include "platform/codepage.h"
#include "tests/test_support.h"
#include "xml/encodings.h"
#include "xml/xml_document.h"

namespace menuconv {
namespace {

using namespace std::string_literals;

// "41 42 ..." for failure messages.
constexpr auto Hex = testing_support::HexOf;

uint32_t Detect(std::string_view fileBytes, std::string_view encodingName, uint32_t before = 437) {
  XmlDocument doc;
  doc.SetEncoding(Encoding{before});
  DetectEncoding(doc, fileBytes, encodingName);
  return doc.GetEncoding().codePage;
}

// ---------------------------------------------------------------------------------------------
// The table

TEST(EncodingTable, TenRowsInFixedOrder) {
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"utf-8", 65001},       {"utf-7", 65000},       {"windows-1250", 1250}, {"windows-1251", 1251},
      {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254}, {"shift_jis", 932},
      {"csISO2022JP", 50221}, {"iso-2022-kr", 50225}};
  ASSERT_EQ(EncodingTable.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(EncodingTable[i].name, expected[i].first) << "row " << i;
    EXPECT_EQ(EncodingTable[i].codePage, expected[i].second) << "row " << i;
  }
}

TEST(EncodingTable, LookupByNameIsExact) {
  struct Case {
    std::string name;
    const EncodingRow* row;
  };
  const std::vector<Case> cases = {
      {"utf-8", &EncodingTable[0]},
      {"utf-7", &EncodingTable[1]},
      {"windows-1250", &EncodingTable[2]},
      {"windows-1254", &EncodingTable[6]},
      {"shift_jis", &EncodingTable[7]},
      {"csISO2022JP", &EncodingTable[8]},
      {"iso-2022-kr", &EncodingTable[9]},
      {"UTF-8", nullptr},
      {"csiso2022jp", nullptr},
      {"Shift_JIS", nullptr},
      {"utf-8 ", nullptr},
      {"utf-", nullptr},
      {"utf-8\0"s, nullptr},
      {"", nullptr},
      {"koi8-r", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(FindEncodingByName(c.name), c.row) << "name [" << c.name << "]";
}

TEST(EncodingTable, LookupByCodePage) {
  for (const EncodingRow& row : EncodingTable) {
    EXPECT_EQ(FindEncodingByCodePage(row.codePage), &row) << row.codePage;
  }
  for (uint32_t missing : {0u, 437u, 1200u, 1255u, 20866u, 50220u, 50222u, 65002u}) {
    EXPECT_EQ(FindEncodingByCodePage(missing), nullptr) << missing;
  }
}

TEST(EncodingName, NameOfTheFirstRowWithTheCodePage) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {{65001, "utf-8"},
                                                               {65000, "utf-7"},
                                                               {1250, "windows-1250"},
                                                               {1251, "windows-1251"},
                                                               {1252, "windows-1252"},
                                                               {1253, "windows-1253"},
                                                               {1254, "windows-1254"},
                                                               {932, "shift_jis"},
                                                               {50221, "csISO2022JP"},
                                                               {50225, "iso-2022-kr"},
                                                               {437, ""},
                                                               {0, ""},
                                                               {50220, ""},
                                                               {1200, ""}};
  for (const auto& [codePage, name] : cases) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{codePage});
    EXPECT_EQ(EncodingName(doc), name) << codePage;
  }
}

// ---------------------------------------------------------------------------------------------
// Choosing the code page

struct DetectCase {
  const char* label;
  std::string file;
  std::string name;  // the caller's encoding name
  uint32_t codePage;
};

TEST(EncodingDetect, OutcomeTable) {
  const std::string utf8Decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>";
  const std::vector<DetectCase> cases = {
      // The caller's name wins over the declaration and is taken as it is.
      {"caller names a row", utf8Decl, "windows-1252", 1252},
      {"caller names row 8", utf8Decl, "csISO2022JP", 50221},
      {"caller names shift_jis", "<a/>", "shift_jis", 932},
      {"caller name in capitals", "<?xml encoding=\"windows-1251\"?>", "Windows-1251", 65001},
      {"caller names no row", "<?xml encoding=\"windows-1251\"?>", "koi8-r", 65001},
      {"caller name with a blank", "<a/>", "utf-7 ", 65001},
      // The declaration of each row.
      {"declares utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "", 65001},
      {"declares utf-7", "<?xml version=\"1.0\" encoding=\"utf-7\"?>", "", 65000},
      {"declares windows-1250", "<?xml version=\"1.0\" encoding=\"windows-1250\"?>", "", 1250},
      {"declares windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>", "", 1251},
      {"declares windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "", 1252},
      {"declares windows-1253", "<?xml version=\"1.0\" encoding=\"windows-1253\"?>", "", 1253},
      {"declares windows-1254", "<?xml version=\"1.0\" encoding=\"windows-1254\"?>", "", 1254},
      {"declares shift_jis", "<?xml version=\"1.0\" encoding=\"shift_jis\"?>", "", 932},
      {"declares iso-2022-kr", "<?xml version=\"1.0\" encoding=\"iso-2022-kr\"?>", "", 50225},
      // Row 8 is never chosen by a declaration: lowered, its name matches no row.
      {"declares csISO2022JP", "<?xml version=\"1.0\" encoding=\"csISO2022JP\"?>", "", 65001},
      {"declares csiso2022jp", "<?xml version=\"1.0\" encoding=\"csiso2022jp\"?>", "", 65001},
      {"declares CSISO2022JP", "<?xml version=\"1.0\" encoding=\"CSISO2022JP\"?>", "", 65001},
      // Capitals are lowered.
      {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "", 65001},
      {"Windows-1251", "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>", "", 1251},
      {"SHIFT_JIS", "<?xml version=\"1.0\" encoding=\"SHIFT_JIS\"?>", "", 932},
      {"ISO-2022-KR", "<?xml version=\"1.0\" encoding=\"ISO-2022-KR\"?>", "", 50225},
      {"WINDOWS-1253", "<?xml version=\"1.0\" encoding=\"WINDOWS-1253\"?>", "", 1253},
      // No usable declaration: windows-1251.
      {"no declaration", "<menu ctr=\"1\"/>", "", 1251},
      {"declaration without encoding", "<?xml version=\"1.0\"?><a/>", "", 1251},
      {"no closing quote", "<?xml version=\"1.0\" encoding=\"utf-8?><a/>", "", 1251},
      {"marker is the last bytes", "<a/>encoding=\"", "", 1251},
      {"single quotes", "<?xml version='1.0' encoding='windows-1252'?>", "", 1251},
      {"blanks around the equals sign", "<?xml version=\"1.0\" encoding = \"windows-1252\"?>", "", 1251},
      {"blank before the equals sign", "<?xml encoding =\"utf-8\"?>", "", 1251},
      {"marker in capitals", "<?xml version=\"1.0\" ENCODING=\"utf-8\"?>", "", 1251},
      {"empty file", "", "", 1251},
      // A name in no row, the empty name included: utf-8.
      {"empty value", "<?xml version=\"1.0\" encoding=\"\"?>", "", 65001},
      {"KOI8-R", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>", "", 65001},
      {"blank inside the value", "<?xml version=\"1.0\" encoding=\" utf-8\"?>", "", 65001},
      {"utf-16", "<?xml version=\"1.0\" encoding=\"utf-16\"?>", "", 65001},
      // The first occurrence counts, wherever it stands.
      {"attribute name ending in encoding", "<?xml version=\"1.0\" myencoding=\"x\" encoding=\"windows-1252\"?>", "",
       65001},
      {"earlier attribute names a row", "<?xml version=\"1.0\" xencoding=\"windows-1250\" encoding=\"utf-8\"?>", "",
       1250},
      {"declared deep inside the file", "<root><item a=\"1\"/><item encoding=\"windows-1253\"/></root>", "", 1253},
      {"two declarations", "<?xml encoding=\"windows-1254\"?><?xml encoding=\"windows-1250\"?>", "", 1254},
      {"behind a zero byte", "<a/>\0<?xml encoding=\"windows-1252\"?>"s, "", 1252},
      {"value runs to a later quote", "<?xml encoding=\"utf-8?><a b=\"1\"/>", "", 65001},
  };
  for (const DetectCase& c : cases) EXPECT_EQ(Detect(c.file, c.name), c.codePage) << c.label;
}

TEST(EncodingDetect, OnlyAsciiCapitalsAreLowered) {
  // Only 0x41 to 0x5A gain 0x20. A lowering that set the 0x20 bit of every byte would turn
  // "_" into 0x7F, CR into "-" and 0x11 into "1", and so find rows these names do not hold.
  const std::vector<std::pair<std::string, uint32_t>> cases = {
      {"SHIFT_JIS", 932},       {"Shift_Jis", 932},         {"WINDOWS-1252", 1252},
      {"windows\r1252", 65001}, {"windows-125\x11", 65001},
  };
  for (const auto& [declared, codePage] : cases) {
    EXPECT_EQ(Detect("<?xml encoding=\"" + declared + "\"?>", ""), codePage) << Hex(declared);
  }
}

TEST(EncodingDetect, EarlierCodePageDoesNotMatter) {
  for (uint32_t before : {0u, 437u, 1252u, 50221u, 65001u}) {
    EXPECT_EQ(Detect("<a/>", "", before), 1251u) << before;
    EXPECT_EQ(Detect("<?xml encoding=\"nonsense\"?>", "", before), 65001u) << before;
    EXPECT_EQ(Detect("<a/>", "nonsense", before), 65001u) << before;
  }
}

// ---------------------------------------------------------------------------------------------
// Conversions, code page by code page

// On Windows the code pages come from the system, and an emulated one may lack the two
// ISO-2022 code pages; on POSIX every row of the table must convert.
bool SystemLacks(uint32_t codePage) {
#ifdef _WIN32
  return !platform::CodePageConverters().CanConvert(codePage);
#else
  (void)codePage;
  return false;
#endif
}

TEST(EncodingConvert, EmptyTextConvertsToNothing) {
  platform::CodePageConverters converters;
  for (const EncodingRow& row : EncodingTable) {
    if (SystemLacks(row.codePage)) continue;
    XmlDocument doc;
    doc.SetEncoding(Encoding{row.codePage});
    ByteBuffer decoded, encoded;
    EXPECT_TRUE(DecodeToNarrow(converters, doc, "", decoded)) << row.name;
    EXPECT_TRUE(EncodeFromNarrow(converters, doc, "", encoded)) << row.name;
    EXPECT_EQ(decoded.size(), 0u) << row.name;
    EXPECT_EQ(encoded.size(), 0u) << row.name;
    // The empty view of no buffer at all.
    EXPECT_TRUE(DecodeToNarrow(converters, doc, std::string_view(), decoded)) << row.name;
    EXPECT_TRUE(EncodeFromNarrow(converters, doc, std::string_view(), encoded)) << row.name;
    EXPECT_EQ(decoded.size() + encoded.size(), 0u) << row.name;
  }
}

TEST(EncodingConvert, AsciiPassesEveryTableEncoding) {
  platform::CodePageConverters converters;
  // Markup is plain ASCII in every encoding of the table; results are appended.
  for (const EncodingRow& row : EncodingTable) {
    if (SystemLacks(row.codePage)) continue;
    XmlDocument doc;
    doc.SetEncoding(Encoding{row.codePage});
    ByteBuffer decoded;
    decoded.Append("kept");
    ASSERT_TRUE(DecodeToNarrow(converters, doc, "<a b=\"c\">d</a>", decoded)) << row.name;
    EXPECT_EQ(decoded.view(), "kept<a b=\"c\">d</a>") << row.name;
  }
}

// The text held in memory is UTF-8 on POSIX (the ANSI code page on Windows): the cases below
// are written for POSIX and its ICU converters.
#ifndef _WIN32

struct ConvertCase {
  const char* label;
  uint32_t codePage;
  std::string fileBytes;  // in the code page
  std::string text;       // UTF-8, as held in memory
};

// Texts that each code page holds, so that both directions give back the other side exactly.
const std::vector<ConvertCase>& BothWays() {
  static const std::vector<ConvertCase> cases = {
      {"utf-8 Cyrillic", 65001, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"utf-8 four bytes", 65001, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"utf-7 e acute", 65000, "+AOk-", "\xC3\xA9"},
      {"utf-7 Creme", 65000, "Cr+AOg-me", "Cr\xC3\xA8me"},
      {"utf-7 Cyrillic", 65000, "+BB8EQAQ4BDIENQRC-", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"utf-7 plus sign", 65000, "a+-b", "a+b"},
      {"utf-7 plain ASCII", 65000, "<a b=\"c\">x</a>", "<a b=\"c\">x</a>"},
      {"windows-1250", 1250, "\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2",
       "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88"},  // Žluťoučký kůň
      {"windows-1251", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"windows-1251 euro", 1251, "\x88", "\xE2\x82\xAC"},
      {"windows-1252", 1252, "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"windows-1252 quotes", 1252, "\x93x\x94\x8C", "\xE2\x80\x9Cx\xE2\x80\x9D\xC5\x92"},  // “x”Œ
      {"windows-1253", 1253, "\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1",
       "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1"},  // Καλημέρα
      {"windows-1254", 1254, "G\xFCne\xFE \xF0\xDD\xFD", "G\xC3\xBCne\xC5\x9F \xC4\x9F\xC4\xB0\xC4\xB1"},  // Güneş ğİı
      {"932 kanji and half-width katakana", 932, "\x93\xFA\x96\x7B\xB1", "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1"},
      {"932 Cyrillic", 932, "\x84\x47\x84\x70", "\xD0\x96\xD0\xB0"},  // Жа
      {"932 NEC circled digit", 932, "\x87\x40", "\xE2\x91\xA0"},     // ①
      {"932 full-width tilde", 932, "\x81\x60", "\xEF\xBD\x9E"},      // Windows' table: U+FF5E
      {"932 ASCII backslash", 932, "\\~", "\\~"},
      {"ISO-2022-JP kanji", 50221, "\x1B$BF|K\\\x1B(B", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"ISO-2022-JP between ASCII", 50221, "a\x1B$BF|\x1B(Bb",
       "a\xE6\x97\xA5"
       "b"},
      {"ISO-2022-KR", 50225, "\x1B$)C\x0EGQ\x0F", "\xED\x95\x9C"},
      {"ISO-2022-KR between ASCII", 50225,
       "\x1B$)Ca\x0EGQ\x0F"
       "b",
       "a\xED\x95\x9C"
       "b"},
      {"ISO-2022-KR ASCII only", 50225, "\x1B$)C<a/>", "<a/>"},
  };
  return cases;
}

TEST(EncodingConvert, ToAnsiDecodesEachCodePage) {
  platform::CodePageConverters converters;
  for (const ConvertCase& c : BothWays()) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(DecodeToNarrow(converters, doc, c.fileBytes, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.text)) << c.label;
  }
}

TEST(EncodingConvert, FromAnsiEncodesEachCodePage) {
  platform::CodePageConverters converters;
  for (const ConvertCase& c : BothWays()) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(EncodeFromNarrow(converters, doc, c.text, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.fileBytes)) << c.label;
  }
}

TEST(EncodingConvert, ConvertersStartFreshForEveryText) {
  platform::CodePageConverters converters;
  // A converter kept from an earlier call must not carry a shift state or an ISO-2022-KR
  // header over: every text converts as if it were the first.
  for (int round = 0; round < 3; ++round) {
    for (const ConvertCase& c : BothWays()) {
      XmlDocument doc;
      doc.SetEncoding(Encoding{c.codePage});
      ByteBuffer encoded;
      ASSERT_TRUE(EncodeFromNarrow(converters, doc, c.text, encoded)) << c.label;
      EXPECT_EQ(Hex(encoded.view()), Hex(c.fileBytes)) << c.label << " round " << round;
    }
  }
}

TEST(EncodingConvert, DecodeOnlyForms) {
  platform::CodePageConverters converters;
  // Forms that decode but that the encoder does not write itself.
  const std::vector<ConvertCase> cases = {
      {"utf-7 base64 run ended by a blank", 65000, "+AOk x", "\xC3\xA9 x"},
      {"utf-7 base64 run at the end", 65000, "+AOk", "\xC3\xA9"},
      {"utf-7 ASCII given as base64", 65000, "+AGEAYgBj-", "abc"},
      {"ISO-2022-JP half-width katakana", 50221, "\x1B(I1\x1B(B", "\xEF\xBD\xB1"},
      {"ISO-2022-KR without header", 50225, "\x0EGQ\x0F", "\xED\x95\x9C"},
      {"ISO-2022-KR without final SI", 50225, "\x1B$)C\x0EGQ", "\xED\x95\x9C"},
  };
  for (const ConvertCase& c : cases) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(DecodeToNarrow(converters, doc, c.fileBytes, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.text)) << c.label;
  }
}

TEST(EncodingConvert, InvalidInputDecodesToReplacementCharacter) {
  platform::CodePageConverters converters;
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<ConvertCase> cases = {
      {"utf-8 overlong", 65001,
       "a\xC0\x80"
       "b",
       "a" + fffd + fffd + "b"},
      {"utf-8 truncated at the end", 65001, "a\xE6\x97", "a" + fffd},
      {"utf-8 lone continuation", 65001, "\x80x", fffd + "x"},
      {"utf-7 byte above ASCII", 65000,
       "a\x80"
       "b",
       "a" + fffd + "b"},
      {"windows-1253 undefined D2", 1253,
       "a\xD2"
       "b",
       "a" + fffd + "b"},
      {"windows-1253 undefined FF", 1253, "\xFF", fffd},
      {"932 lead byte at the end", 932, "a\x81", "a" + fffd},
      {"932 undefined A0", 932, "\xA0", fffd},
      {"ISO-2022-JP stray SO and SI", 50221,
       "\x0E"
       "1\x0F",
       fffd + "1" + fffd},
  };
  for (const ConvertCase& c : cases) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(DecodeToNarrow(converters, doc, c.fileBytes, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.text)) << c.label;
  }
}

TEST(EncodingConvert, MissingCharactersBecomeQuestionMarksOrFallbacks) {
  platform::CodePageConverters converters;
  const std::vector<ConvertCase> cases = {
      {"Cyrillic into 1252", 1252, "a?b",
       "a\xD0\x96"
       "b"},
      {"Japanese into 1251", 1251, "??", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"emoji into 1250 is one question mark", 1250, "?", "\xF0\x9F\x98\x80"},
      {"emoji into 932", 932, "x?", "x\xF0\x9F\x98\x80"},
      {"emoji into ISO-2022-JP", 50221, "?", "\xF0\x9F\x98\x80"},
      {"Hangul into ISO-2022-JP", 50221, "?", "\xED\x95\x9C"},
      {"Greek into 1254", 1254, "?", "\xCE\xA9"},
      {"932 wave dash by fallback", 932, "\x81\x60", "\xE3\x80\x9C"},   // U+301C
      {"932 minus sign by fallback", 932, "\x81\x7C", "\xE2\x88\x92"},  // U+2212
      // Half-width katakana have no ISO-2022-JP form here: they become the full-width kana.
      {"ISO-2022-JP half-width katakana", 50221, "\x1B$B%\"\x1B(B", "\xEF\xBD\xB1"},
      // Ill-formed UTF-8 in memory reaches the file as "?".
      {"ill-formed memory text into 1251", 1251, "a??b",
       "a\xC0\x80"
       "b"},
      {"ill-formed memory text into utf-8", 65001,
       "a\xEF\xBF\xBD\xEF\xBF\xBD"
       "b",
       "a\xC0\x80"
       "b"},
  };
  for (const ConvertCase& c : cases) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(EncodeFromNarrow(converters, doc, c.text, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.fileBytes)) << c.label;
  }
}

TEST(EncodingConvert, ToAnsiStopsAtTheFirstZeroByte) {
  platform::CodePageConverters converters;
  const std::vector<ConvertCase> cases = {
      {"utf-8", 65001, "ab\0cd"s, "ab"},
      {"windows-1251", 1251, "\xCF\0\xF0"s, "\xD0\x9F"},
      {"932", 932, "\x93\xFA\0\x96\x7B"s, "\xE6\x97\xA5"},
      {"zero first", 1252, "\0abc"s, ""},
      {"terminator only", 65001, "\0"s, ""},
  };
  for (const ConvertCase& c : cases) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.codePage});
    ByteBuffer out;
    ASSERT_TRUE(DecodeToNarrow(converters, doc, c.fileBytes, out)) << c.label;
    EXPECT_EQ(Hex(out.view()), Hex(c.text)) << c.label;
  }
}

TEST(EncodingConvert, FromAnsiAppends) {
  platform::CodePageConverters converters;
  XmlDocument doc;
  doc.SetEncoding(Encoding{1251});
  ByteBuffer encoded;
  encoded.Append("\xFF");
  ASSERT_TRUE(EncodeFromNarrow(converters, doc, "\xD0\x9F", encoded));
  EXPECT_EQ(Hex(encoded.view()), "FF CF");
}

TEST(EncodingConvert, CodePagesOutsideTheTableFail) {
  platform::CodePageConverters converters;
  for (uint32_t codePage : {0u, 437u, 1200u, 1255u, 20866u, 50220u, 0xFFFFFFFFu}) {
    XmlDocument doc;
    doc.SetEncoding(Encoding{codePage});
    ByteBuffer decoded, encoded;
    decoded.Append("x");
    encoded.Append("y");
    EXPECT_FALSE(DecodeToNarrow(converters, doc, "<a/>", decoded)) << codePage;
    EXPECT_FALSE(EncodeFromNarrow(converters, doc, "<a/>", encoded)) << codePage;
    EXPECT_EQ(decoded.view(), "x") << codePage;
    EXPECT_EQ(encoded.view(), "y") << codePage;
  }
}

// Texts far longer than any fixed buffer, and whose encoded form is more than twice as long
// as their UTF-16 form, convert completely.
TEST(EncodingConvert, LongTextsConvertCompletely) {
  platform::CodePageConverters converters;
  struct Unit {
    const char* label;
    uint32_t codePage;
    std::string file;  // the file bytes of one repeated piece
    std::string text;  // its UTF-8 form
    std::string head;  // bytes that start the file once (ISO-2022-KR header)
  };
  const std::vector<Unit> units = {
      {"utf-8 kanji", 65001, "\xE6\x97\xA5", "\xE6\x97\xA5", ""},
      {"windows-1251", 1251, "\xCF", "\xD0\x9F", ""},
      {"932 half-width katakana", 932, "\xB1", "\xEF\xBD\xB1", ""},
      {"932 kanji", 932, "\x93\xFA", "\xE6\x97\xA5", ""},
      // Each piece switches twice: 9 bytes for 2 UTF-16 units.
      {"ISO-2022-JP switching", 50221, "a\x1B$BF|\x1B(B", "a\xE6\x97\xA5", ""},
      {"ISO-2022-KR switching", 50225, "a\x0EGQ\x0F", "a\xED\x95\x9C", "\x1B$)C"},
      {"utf-7 switching", 65000, "a+ZeU-", "a\xE6\x97\xA5", ""},
      {"utf-7 plus signs", 65000, "+-", "+", ""},
  };
  constexpr int kRepeats = 200000;
  for (const Unit& u : units) {
    std::string file = u.head, text;
    for (int i = 0; i < kRepeats; ++i) {
      file += u.file;
      text += u.text;
    }
    XmlDocument doc;
    doc.SetEncoding(Encoding{u.codePage});
    ByteBuffer encoded, decoded;
    ASSERT_TRUE(EncodeFromNarrow(converters, doc, text, encoded)) << u.label;
    EXPECT_EQ(encoded.size(), file.size()) << u.label;
    EXPECT_TRUE(encoded.view() == file) << u.label;
    ASSERT_TRUE(DecodeToNarrow(converters, doc, file, decoded)) << u.label;
    EXPECT_EQ(decoded.size(), text.size()) << u.label;
    EXPECT_TRUE(decoded.view() == text) << u.label;
  }
}

// Large texts in a single-byte code page are decoded in two halves at once; the result is
// what decoding them piece by piece gives.
TEST(EncodingConvert, LargeSingleByteTextsDecodeWhole) {
  platform::CodePageConverters converters;
  std::string bytes((std::size_t{9} << 20) + 3, '\0');
  uint32_t state = 99;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    const auto r = static_cast<unsigned char>(state >> 24);
    c = static_cast<char>(r < 0x20 ? 'a' + r % 26 : r);  // mostly letters of both halves of the table
  }
  for (uint32_t codePage : {1251u, 1252u}) {
    ByteBuffer whole;
    ASSERT_TRUE(converters.ToNarrow(codePage, bytes, whole));
    std::string pieces;
    for (std::size_t at = 0; at < bytes.size(); at += std::size_t{1} << 20) {
      ByteBuffer piece;
      ASSERT_TRUE(converters.ToNarrow(codePage, std::string_view(bytes).substr(at, std::size_t{1} << 20), piece));
      pieces += std::string(piece.view());
    }
    EXPECT_TRUE(whole.view() == pieces) << codePage;
  }
}

// The single-byte code pages decode through tables of their own, without ICU: every byte
// decodes as ICU's converter of the code page decodes it, and counts as invalid where the
// converter finds it invalid.
TEST(EncodingConvert, SingleByteTablesDecodeAsTheConverterDoes) {
  platform::CodePageConverters converters;
  struct Counted {
    std::size_t count = 0;
    std::size_t first = std::string_view::npos;
  };
  const UConverterToUCallback count = [](const void* context, UConverterToUnicodeArgs* args, const char* units,
                                         int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
    auto* counted = static_cast<Counted*>(const_cast<void*>(context));
    if (reason <= UCNV_IRREGULAR && counted->count++ == 0) counted->first = static_cast<std::size_t>(units[0]) & 0xFF;
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, reason, error);
  };
  std::string every;  // each byte but zero, so a byte's position is its value less one
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  for (const EncodingRow& row : EncodingTable) {
    if (!code_page::IsWindows125x(row.codePage)) continue;
    UErrorCode error = U_ZERO_ERROR;
    UConverter* const icu = ucnv_open(std::string(row.name).c_str(), &error);
    ASSERT_TRUE(U_SUCCESS(error)) << row.name;
    ucnv_setFallback(icu, true);
    Counted counted;
    ucnv_setToUCallBack(icu, count, &counted, nullptr, nullptr, &error);
    std::u16string wide(every.size() * 2, u'\0');
    wide.resize(static_cast<std::size_t>(ucnv_toUChars(icu, wide.data(), static_cast<int32_t>(wide.size()),
                                                       every.data(), static_cast<int32_t>(every.size()), &error)));
    ucnv_close(icu);
    std::string expected(wide.size() * 3, '\0');
    int32_t length = 0;
    u_strToUTF8(expected.data(), static_cast<int32_t>(expected.size()), &length, wide.data(),
                static_cast<int32_t>(wide.size()), &error);
    ASSERT_TRUE(U_SUCCESS(error)) << row.name;
    expected.resize(static_cast<std::size_t>(length));

    ByteBuffer decoded;
    platform::DecodeFaults faults;
    ASSERT_TRUE(converters.ToNarrow(row.codePage, every, decoded, &faults)) << row.name;
    EXPECT_EQ(Hex(decoded.view()), Hex(expected)) << row.name;
    EXPECT_EQ(faults.count, counted.count) << row.name;
    if (counted.count > 0) {
      EXPECT_EQ(faults.first + 1, counted.first) << row.name;
    }
  }
}

// The single-byte code pages encode their own characters through a table; whatever it
// holds, each character comes out as the converter itself gives it. A text with one
// character the table lacks goes through the converter whole, which is the reference here.
TEST(EncodingConvert, SingleByteTablesEncodeAsTheConverterDoes) {
  platform::CodePageConverters converters;
  auto utf8 = [](uint32_t cp) {
    std::string s;
    if (cp < 0x800) {
      s += static_cast<char>(0xC0 | (cp >> 6));
    } else {
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    s += static_cast<char>(0x80 | (cp & 0x3F));
    return s;
  };
  for (uint32_t codePage : {1250u, 1251u, 1252u, 1253u, 1254u}) {
    std::string whole;
    std::string oneByOne;
    for (uint32_t cp = 0x80; cp < 0x2300; ++cp) {
      const std::string character = "a" + utf8(cp);
      whole += character;
      ByteBuffer alone;
      ASSERT_TRUE(converters.FromNarrow(codePage, character, alone));
      oneByOne += std::string(alone.view());
    }
    // Forms that are not characters: an overlong one and a cut one.
    for (const char* odd : {"\xE0\x81\x81", "\xD0", "\xE2\x80"}) {
      whole += odd;
      ByteBuffer alone;
      ASSERT_TRUE(converters.FromNarrow(codePage, odd, alone));
      oneByOne += std::string(alone.view());
    }
    ByteBuffer reference;
    ASSERT_TRUE(converters.FromNarrow(codePage, whole + "\xE4\xB8\x80", reference));  // U+4E00 is in none
    EXPECT_EQ(oneByOne + "?", std::string(reference.view())) << codePage;
  }
}

#endif  // _WIN32

// ---------------------------------------------------------------------------------------------
// UTF-8 checks and repair

struct Utf8Case {
  const char* label;
  std::string in;
  std::string repaired;
  std::size_t firstInvalid;  // npos when well-formed
};

const std::vector<Utf8Case>& Utf8Cases() {
  static const std::string r = "\xEF\xBF\xBD";
  static const std::size_t ok = std::string_view::npos;
  static const std::vector<Utf8Case> cases = {
      {"empty", "", "", ok},
      {"ASCII", "plain <ascii/> text", "plain <ascii/> text", ok},
      {"two bytes", "\xC2\x80\xDF\xBF", "\xC2\x80\xDF\xBF", ok},
      {"three bytes", "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF",
       "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", ok},
      {"four bytes", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", ok},
      {"zero byte is well-formed", "a\0b"s, "a\0b"s, ok},
      {"overlong two-byte C0 80", "\xC0\x80", r + r, 0},
      {"overlong two-byte C1 BF", "x\xC1\xBF", "x" + r + r, 1},
      {"overlong three-byte E0 80 80", "\xE0\x80\x80", r + r + r, 0},
      {"overlong three-byte E0 9F BF", "\xE0\x9F\xBF", r + r + r, 0},
      {"overlong four-byte F0 8F BF BF", "\xF0\x8F\xBF\xBF", r + r + r + r, 0},
      {"surrogate ED A0 80", "\xED\xA0\x80", r + r + r, 0},
      {"surrogate ED BF BF", "ab\xED\xBF\xBF", "ab" + r + r + r, 2},
      {"beyond U+10FFFF F4 90 80 80", "\xF4\x90\x80\x80", r + r + r + r, 0},
      {"F5 lead", "\xF5\x80\x80\x80", r + r + r + r, 0},
      {"F8 and FF leads", "\xF8\xFF", r + r, 0},
      {"lone continuation bytes",
       "\x80\xBF"
       "a",
       r + r + "a", 0},
      {"truncated two-byte at the end", "a\xC3", "a" + r, 1},
      {"truncated three-byte at the end", "a\xE6\x97", "a" + r, 1},
      {"truncated four-byte at the end", "a\xF0\x9F\x98", "a" + r, 1},
      {"truncated three-byte before ASCII", "\xE6\x97z", r + "z", 0},
      {"truncated four-byte before a lead", "\xF0\x9F\x98\xE6\x97\xA5", r + "\xE6\x97\xA5", 0},
      // The example sequence of the Unicode standard for maximal subparts.
      {"Unicode example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "\x61" + r + r + r + "\x62" + r + "\x63" + r + r + "\x64", 1},
      {"after a long ASCII run", "abcdefghijklmnopq\x80", "abcdefghijklmnopq" + r, 17},
      {"after eight ASCII bytes", "abcdefgh\xC3\xA9\xFF", "abcdefgh\xC3\xA9" + r, 10},
      {"replacement character itself", "\xEF\xBF\xBD", "\xEF\xBF\xBD", ok},
  };
  return cases;
}

TEST(Utf8Validate, FirstIllFormedPosition) {
  for (const Utf8Case& c : Utf8Cases()) {
    EXPECT_EQ(FindInvalidUtf8(c.in), c.firstInvalid) << c.label;
    EXPECT_EQ(IsValidUtf8(c.in), c.firstInvalid == std::string_view::npos) << c.label;
  }
}

TEST(Utf8Repair, MaximalSubpartsBecomeOneReplacementEach) {
  for (const Utf8Case& c : Utf8Cases()) {
    ByteBuffer out;
    out.Append("<");
    AppendRepairedUtf8(c.in, out);
    EXPECT_EQ(Hex(out.view()), Hex("<" + c.repaired)) << c.label;
    EXPECT_TRUE(IsValidUtf8(out.view())) << c.label;
  }
}

TEST(Utf8Repair, EveryLeadByteAlone) {
  // A byte from 0x80 to 0xFF alone at the end of a text is one ill-formed subpart.
  for (unsigned b = 0x80; b <= 0xFF; ++b) {
    const std::string in = "a" + std::string(1, static_cast<char>(b));
    ByteBuffer out;
    AppendRepairedUtf8(in, out);
    EXPECT_EQ(Hex(out.view()), "61 EF BF BD") << "byte " << b;
    EXPECT_EQ(FindInvalidUtf8(in), 1u) << "byte " << b;
  }
}

}  // namespace
}  // namespace menuconv
