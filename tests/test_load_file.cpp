// Loading documents: the encodings on disk, how far a text was read, failures, and files
// of great size or depth.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/large_blocks.h"
#include "tests/test_support.h"
#include "tests/xml_file_support.h"
#include "xml/encodings.h"
#include "xml/held_text.h"
#include "xml/xml_document.h"
#include "xml/xml_file.h"

namespace menuconv {
namespace {

using namespace xml_file_tests;
using namespace std::string_literals;
namespace fs = std::filesystem;

// Loading

struct LoadCase {
  const char* label;
  std::string file;
  std::string encodingName;
  uint32_t codePage;
  std::string value;  // attribute v of the first element, UTF-8
};

#ifndef _WIN32
// Texts held in memory are UTF-8 on POSIX (the ANSI code page on Windows).
TEST(LoadFile, DecodesTheChosenEncoding) {
  const std::vector<LoadCase> cases = {
      {"no declaration reads windows-1251", "<a v=\"\xCF\xF0\"/>", "", 1251, "\xD0\x9F\xD1\x80"},
      {"declared utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a v=\"\xD0\x9F\"/>", "", 65001, "\xD0\x9F"},
      {"declared in capitals", "<?xml version=\"1.0\" encoding=\"WINDOWS-1252\"?><a v=\"\xE9\"/>", "", 1252,
       "\xC3\xA9"},
      {"single-quoted declaration reads windows-1251", "<?xml version='1.0' encoding='windows-1252'?><a v=\"\xE9\"/>",
       "", 1251, "\xD0\xB9"},
      {"unknown declared name reads utf-8", "<?xml encoding=\"KOI8-R\"?><a v=\"\xD0\x9F\"/>", "", 65001, "\xD0\x9F"},
      {"caller's name wins", "<?xml encoding=\"utf-8\"?><a v=\"\xE9\"/>", "windows-1252", 1252, "\xC3\xA9"},
      {"caller names row 8", "<a v=\"\x1B$BF|\x1B(B\"/>", "csISO2022JP", 50221, "\xE6\x97\xA5"},
      {"ill-formed utf-8 is repaired", "<?xml encoding=\"utf-8\"?><a v=\"x\xC0\x80y\"/>", "", 65001,
       "x\xEF\xBF\xBD\xEF\xBF\xBDy"},
      {"declaration behind a zero byte still counts", "<a v=\"\xE9\"/>\0<?xml encoding=\"windows-1252\"?>"s, "", 1252,
       "\xC3\xA9"},
  };
  for (const LoadCase& c : cases) {
    Folder folder;
    WriteBytes(folder / "in.xml", c.file);
    XmlDocument doc;
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, folder / "in.xml", c.encodingName)) << c.label << ": " << status.message();
    EXPECT_EQ(doc.GetEncoding().codePage, c.codePage) << c.label;
    ASSERT_FALSE(doc.FirstElement().IsNone()) << c.label;
    EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "a") << c.label;
    EXPECT_EQ(Hex(doc.Element(doc.FirstElement()).GetAttribute("v")), Hex(c.value)) << c.label;
  }
}
#endif

#ifdef __linux__
// Ranges that span a large page start on one, whether the system placed them so by itself
// (whole large pages) or the range was cut from a larger one; every byte is writable.
TEST(LoadFile, AlignedRangesStartOnALargePage) {
  const std::size_t large = std::size_t{2} << 20;
  for (const std::size_t length : {large, 3 * large, large + 4096, 5 * large / 2, std::size_t{64} << 10}) {
    SCOPED_TRACE(length);
    char* const begin = static_cast<char*>(platform::MapAlignedRange(length));
    ASSERT_NE(begin, nullptr);
    if (length >= large) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(begin) % large, 0u);
    }
    begin[0] = 'a';
    begin[length - 1] = 'z';
    EXPECT_EQ(begin[0] + begin[length - 1], 'a' + 'z');
    ::munmap(begin, length);
  }
}

// Whether a mapped input lies mostly in large pages decides whether it is copied: the scan of
// the mapping's own page table entries must agree with the system's account of all mappings.
TEST(LoadFile, LargePageShareOfAMappingAgreesWithTheSystemsAccount) {
  testing_support::TempFolder folder("menuconv-pages");
  const std::string path = (folder.path() / "input.xml").string();
  const std::size_t whole = std::size_t{8} << 20;
  {
    // Written in large pieces, as an editor saves, so that the page cache may hold it in large pages.
    const std::string piece(std::size_t{4} << 20, 'x');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(::write(fd, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
    ::close(fd);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char* const begin = static_cast<char*>(platform::MapAlignedRange(whole));
  ASSERT_NE(begin, nullptr);
  ASSERT_NE(::mmap(begin, whole, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0), MAP_FAILED);
  ::close(fd);
  (void)::madvise(begin, whole, MADV_HUGEPAGE);
  volatile char sum = 0;
  for (std::size_t at = 0; at < whole; at += 4096) sum = static_cast<char>(sum + begin[at]);
  const bool mostly = platform::FileMappedMostlyInLargePages(begin, whole);
  // The mapping's entry in the account: "begin-end ..." and, among its fields, "FilePmdMapped: N kB".
  std::ifstream maps("/proc/self/smaps");
  const std::string account((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  char head[32];
  std::snprintf(head, sizeof head, "%lx-", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(begin)));
  const std::size_t entry = account.find(head);
  ASSERT_NE(entry, std::string::npos);
  const std::size_t field = account.find("FilePmdMapped:", entry);
  ASSERT_NE(field, std::string::npos);
  const std::size_t kilobytes = std::stoul(account.substr(field + 14));
  EXPECT_EQ(mostly, kilobytes * 1024 >= whole / 2) << kilobytes << " kB in large pages";
  ::munmap(begin, whole);
}
#endif

TEST(LoadFile, OnlyBytesBeforeTheFirstZeroAreParsed) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<a></a>\0<b></b>"s);
  XmlDocument doc;
  ASSERT_TRUE(Load(doc, folder / "in.xml", ""));
  ASSERT_EQ(doc.ElementCount(), 1u);
  EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "a");
}

TEST(LoadFile, Utf16FileIsCutAtItsFirstZeroByte) {
  Folder folder;
  // "<a/>" in UTF-16 little-endian with a byte-order mark: decoding stops at the first zero.
  WriteBytes(folder / "in.xml", "\xFF\xFE<\0a\0/\0>\0"s);
  XmlDocument doc;
  LoadResult status;
  EXPECT_TRUE(status.Load(doc, folder / "in.xml", ""));
  EXPECT_EQ(doc.GetEncoding().codePage, 1251u);
  EXPECT_EQ(doc.ElementCount(), 0u);
}

#ifndef _WIN32
// Texts held in memory are UTF-8 on POSIX (the ANSI code page on Windows).
TEST(LoadFile, Utf8MarkMeansUtf8) {
  const std::string mark = "\xEF\xBB\xBF";
  const std::vector<LoadCase> cases = {
      {"mark and no declaration", mark + "<a v=\"\xD0\x9F\"/>", "", 65001, "\xD0\x9F"},
      {"mark beats a declared windows-1251",
       mark + "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a v=\"\xD0\x9F\"/>", "", 65001, "\xD0\x9F"},
      {"mark beats a declared shift_jis", mark + "<?xml encoding=\"shift_jis\"?><a v=\"\xE6\x97\xA5\"/>", "", 65001,
       "\xE6\x97\xA5"},
      {"caller's name beats the mark", mark + "<a v=\"\xCF\"/>", "windows-1251", 1251, "\xD0\x9F"},
  };
  for (const LoadCase& c : cases) {
    Folder folder;
    WriteBytes(folder / "in.xml", c.file);
    XmlDocument doc;
    ASSERT_TRUE(Load(doc, folder / "in.xml", c.encodingName)) << c.label;
    EXPECT_EQ(doc.GetEncoding().codePage, c.codePage) << c.label;
    ASSERT_FALSE(doc.FirstElement().IsNone()) << c.label;
    EXPECT_EQ(Hex(doc.Element(doc.FirstElement()).GetAttribute("v")), Hex(c.value)) << c.label;
  }
}
#endif

// A windows-1251 file may be held as its own bytes: its names leave the document as narrow
// text, and its bytes go into a windows-1251 file unchanged, into a utf-8 file converted.
TEST(LoadFile, HeldAsFileBytesWhereTheCodePageRoundTrips) {
  // "Пр" as narrow text; well-formed UTF-8 is kept as it is on every platform, and where
  // narrow text is not UTF-8 the document says so.
  const std::string narrow = platform::NarrowIsUtf8() ? "\xD0\x9F\xD1\x80" : "\xCF\xF0";
  const std::string utf8 = "\xD0\x9F\xD1\x80";
  struct HeldCase {
    const char* label;
    std::string file;
    uint32_t heldCodePage;  // 0: held as narrow text
    std::string value;      // attribute v as held
    std::string shown;      // the same through NarrowText
  };
  const std::vector<HeldCase> cases = {
      {"declared windows-1251", "<?xml encoding=\"windows-1251\"?><a v=\"\xCF\xF0\"/>", 1251, "\xCF\xF0", narrow},
      {"undeclared, so windows-1251", "<a v=\"\xCF\xF0\"/>", 1251, "\xCF\xF0", narrow},
      {"utf-8 is kept as it is", "<?xml encoding=\"utf-8\"?><a v=\"\xD0\x9F\xD1\x80\"/>",
       platform::NarrowIsUtf8() ? 0u : 65001u, utf8, narrow},
  };
  platform::CodePageConverters converters;
  for (const HeldCase& c : cases) {
    Folder folder;
    WriteBytes(folder / "in.xml", c.file);
    XmlDocument doc;
    ASSERT_TRUE(Load(doc, folder / "in.xml", "", HeldText::kFileBytes).ok()) << c.label;
    const Encoding& held = doc.GetEncoding();
    EXPECT_EQ(held.IsNarrowText() ? 0u : held.heldCodePage, c.heldCodePage) << c.label;
    const std::string value = doc.Element(doc.FirstElement()).GetAttribute("v");
    EXPECT_EQ(Hex(value), Hex(c.value)) << c.label;
    EXPECT_EQ(Hex(NarrowText(converters, doc, value)), Hex(c.shown)) << c.label;
  }

  Folder folder;
  WriteBytes(folder / "in.xml", "<a v=\"\xCF\xF0\"/>");
  XmlDocument doc;
  ASSERT_TRUE(Load(doc, folder / "in.xml", "", HeldText::kFileBytes).ok());
  ASSERT_TRUE(Save(doc, folder / "same.xml", "windows-1251").ok());
  EXPECT_BYTES(FileBytes(folder / "same.xml"), Declaration("windows-1251") + "\r\n<a v=\"\xCF\xF0\"/>\0"s);
  ASSERT_TRUE(Save(doc, folder / "utf8.xml", "utf-8").ok());
  EXPECT_BYTES(FileBytes(folder / "utf8.xml"), Declaration("utf-8") + "\r\n<a v=\"\xD0\x9F\xD1\x80\"/>\0"s);
}

// The status the parser gives for a text, as Load hands texts over: with a zero byte behind.
Status ParseOf(std::string_view text) {
  XmlDocument scratch;
  return ParseDocument(scratch, std::string(text) + '\0');
}

void ExpectSameStatus(const Status& actual, const Status& expected, const std::string& label) {
  EXPECT_EQ(actual.ok(), expected.ok()) << label;
  EXPECT_EQ(actual.code(), expected.code()) << label;
  ASSERT_EQ(actual.place().has_value(), expected.place().has_value()) << label;
  if (actual.place()) {
    EXPECT_EQ(actual.place()->offset, expected.place()->offset) << label;
    EXPECT_EQ(actual.place()->line, expected.place()->line) << label;
    EXPECT_EQ(actual.place()->column, expected.place()->column) << label;
  }
  EXPECT_EQ(actual.message(), expected.message()) << label;
}

#ifndef _WIN32
// Texts held in memory are UTF-8 on POSIX (the ANSI code page on Windows).
TEST(LoadFile, Utf8MarkIsNotPartOfTheText) {
  // An element left open makes the parser report a position in its text. Without a caller's
  // name the mark is gone before parsing; with windows-1251 named, EF BB BF are decoded with
  // the rest ("п»ї", six bytes of UTF-8) and stand ahead of the element.
  struct Case {
    std::string encodingName;
    std::string parsedText;
  };
  const std::vector<Case> cases = {
      {"", "<menu>"},
      {"windows-1251", "\xD0\xBF\xC2\xBB\xD1\x97<menu>"},
  };
  for (const Case& c : cases) {
    Folder folder;
    WriteBytes(folder / "in.xml", "\xEF\xBB\xBF<menu>");
    XmlDocument doc;
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, folder / "in.xml", c.encodingName)) << c.encodingName;
    EXPECT_FALSE(status.parse.ok()) << c.encodingName;
    ExpectSameStatus(status.parse, ParseOf(c.parsedText), "named [" + c.encodingName + "]");
    ASSERT_EQ(doc.ElementCount(), 1u) << c.encodingName;
    EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "menu") << c.encodingName;
  }
}
#endif

TEST(LoadFile, ParserFailureIsReportedButLoadSucceeds) {
  const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<menu ctr=\"1\">\r\n  <a></a>\r\n";
  Folder folder;
  WriteBytes(folder / "in.xml", text);
  XmlDocument doc;
  LoadResult status;
  ASSERT_TRUE(status.Load(doc, folder / "in.xml", ""));
  EXPECT_TRUE(status.message().empty());
  EXPECT_FALSE(status.parse.ok());
  EXPECT_FALSE(status.parse.message().empty());
  ExpectSameStatus(status.parse, ParseOf(text), "unclosed menu");
  // What was read is kept.
  ASSERT_EQ(doc.ElementCount(), 2u);
  EXPECT_EQ(doc.Element(doc.FirstElement()).GetAttribute("ctr"), "1");
  EXPECT_EQ(doc.Element(doc.FirstChild(doc.FirstElement())).Name(), "a");
  EXPECT_EQ(doc.GetEncoding().codePage, 65001u);
}

TEST(LoadFile, WellFormedFileReportsAFinishedParse) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<menu><a></a></menu>");
  XmlDocument doc;
  LoadResult status;
  status.parse = Status::Failure(StatusCode::kTextEndedEarly, "stale");
  status.read = Status::Failure(StatusCode::kSystemError, "stale");
  ASSERT_TRUE(status.Load(doc, folder / "in.xml", ""));
  EXPECT_TRUE(status.parse.ok());
  EXPECT_TRUE(status.message().empty());
}

TEST(LoadFile, TextWithoutElementsStillLoads) {
  Folder folder;
  WriteBytes(folder / "in.xml", "no markup at all");
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("old"));
  EXPECT_TRUE(Load(doc, folder / "in.xml", ""));
  EXPECT_EQ(doc.ElementCount(), 0u);
}

TEST(LoadFile, ReplacesTheEarlierContent) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<new></new>");
  XmlDocument doc;
  const ElementRef old = doc.AppendChild(ElementRef::None(), Element("old"));
  doc.AppendChild(old, Element("child"));
  ASSERT_TRUE(Load(doc, folder / "in.xml", ""));
  ASSERT_EQ(doc.ElementCount(), 1u);
  EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "new");
}

struct LoadFailure {
  const char* label;
  std::function<std::string(const Folder&)> prepare;  // gives the path to load
  int error;                                          // the system error, 0 for a reason of our own
};

TEST(LoadFile, FailuresEmptyTheDocumentAndKeepTheCodePage) {
  std::vector<LoadFailure> cases = {
      {"missing file", [](const Folder& f) { return f / "missing.xml"; }, ENOENT},
      {"missing folder", [](const Folder& f) { return f / "missing/in.xml"; }, ENOENT},
      {"empty file",
       [](const Folder& f) {
         WriteBytes(f / "empty.xml", "");
         return f / "empty.xml";
       },
       0},
      {"a folder",
       [](const Folder& f) {
         fs::create_directory(f / "dir.xml");
         return f / "dir.xml";
       },
       EISDIR},
      {"empty path", [](const Folder&) { return std::string(); }, ENOENT},
  };
#ifndef _WIN32
  // A pipe with no writer would block a plain read for ever.
  cases.push_back({"a named pipe",
                   [](const Folder& f) {
                     ::mkfifo((f / "pipe.xml").c_str(), 0600);
                     return f / "pipe.xml";
                   },
                   0});
#endif
  for (const LoadFailure& c : cases) {
    Folder folder;
    const std::string path = c.prepare(folder);
    XmlDocument doc;
    doc.SetEncoding(Encoding{1253});
    const ElementRef old = doc.AppendChild(ElementRef::None(), Element("old"));
    doc.AppendChild(old, Element("child"));
    LoadResult status;
    EXPECT_FALSE(status.Load(doc, path, "")) << c.label;
    EXPECT_EQ(doc.ElementCount(), 0u) << c.label;
    EXPECT_TRUE(doc.FirstElement().IsNone()) << c.label;
    EXPECT_EQ(doc.GetEncoding().codePage, 1253u) << c.label;
    EXPECT_FALSE(status.message().empty()) << c.label;
    if (c.error != 0) ExpectSystemReason(status.message(), c.error, c.label);
  }
}

// One result: a text that ended early still loads what was read, and says so by its code;
// a file that cannot be read fails with another code.
TEST(LoadFile, OneResultTellsReadingFromParsing) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<a>");
  XmlDocument doc;
  const Status ended = Load(doc, folder / "in.xml", "");
  EXPECT_EQ(ended.code(), StatusCode::kTextEndedEarly);
  EXPECT_TRUE(ended.place().has_value());
  EXPECT_EQ(doc.ElementCount(), 1u);
  const Status missing = Load(doc, folder / "missing.xml", "");
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), StatusCode::kSystemError);
  EXPECT_FALSE(missing.place().has_value());
}

// ---------------------------------------------------------------------------------------------
// Size: no fixed buffers, no recursion

#ifndef _WIN32
// Texts held in memory are UTF-8 on POSIX (the ANSI code page on Windows).
TEST(LoadFile, LongCyrillicAndJapaneseFilesConvertCompletely) {
  struct Case {
    const char* label;
    std::string declared;
    std::string filePiece;
    std::string textPiece;
  };
  const std::vector<Case> cases = {
      {"windows-1251", "windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"shift_jis half-width katakana", "shift_jis", "\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},
      {"shift_jis kanji", "shift_jis", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"utf-8 kanji", "utf-8", "\xE6\x97\xA5", "\xE6\x97\xA5"},
  };
  constexpr int kRepeats = 300000;
  for (const Case& c : cases) {
    std::string file = Declaration(c.declared) + "<t v=\"", value;
    for (int i = 0; i < kRepeats; ++i) {
      file += c.filePiece;
      value += c.textPiece;
    }
    file += "\"/>";
    Folder folder;
    WriteBytes(folder / "big.xml", file);
    XmlDocument doc;
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, folder / "big.xml", "")) << c.label << ": " << status.message();
    ASSERT_EQ(doc.ElementCount(), 1u) << c.label;
    const std::string loaded = doc.Element(doc.FirstElement()).GetAttribute("v");
    EXPECT_EQ(loaded.size(), value.size()) << c.label;
    EXPECT_TRUE(loaded == value) << c.label;

    // And back out in the same encoding, byte for byte.
    ASSERT_TRUE(Save(doc, folder / "out.xml", c.declared).ok()) << c.label;
    const std::string expected =
        Declaration(c.declared) + "\r\n<t v=\"" + file.substr(Declaration(c.declared).size() + 6) + "\0"s;
    const std::string written = FileBytes(folder / "out.xml");
    EXPECT_EQ(written.size(), expected.size()) << c.label;
    EXPECT_TRUE(written == expected) << c.label;
  }
}
#endif

#ifndef _WIN32
// A large input is read where it is mapped, or copied first where the system holds it in small
// pages, as it holds a file written in small pieces: either way it loads whole, its last
// partial page included.
TEST(LoadFile, LargeFileLoadsWholeHoweverItWasWritten) {
  std::string value;
  for (int i = 0; value.size() < (std::size_t{6} << 20); ++i) value += "\xE6\x97\xA5" + std::to_string(i);
  const std::string file = Declaration("utf-8") + "<t v=\"" + value + "\"/><last/>";
  ASSERT_NE(file.size() % 4096, 0u);
  for (const std::size_t piece : {file.size(), std::size_t{4096}}) {
    Folder folder;
    const int fd = ::open((folder / "big.xml").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (std::size_t at = 0; at < file.size(); at += piece) {
      const std::size_t n = std::min(piece, file.size() - at);
      ASSERT_EQ(::write(fd, file.data() + at, n), static_cast<ssize_t>(n));
    }
    ::close(fd);
    XmlDocument doc;
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, folder / "big.xml", "")) << piece << ": " << status.message();
    ASSERT_EQ(doc.ElementCount(), 2u) << piece;
    EXPECT_TRUE(doc.Element(doc.FirstElement()).GetAttribute("v") == value) << piece;
    EXPECT_TRUE(doc.Element(doc.NextSibling(doc.FirstElement())).HasName("last")) << piece;
  }
}
#endif

TEST(LoadFile, MillionDeepDocumentLoadsAndIsDestroyed) {
  constexpr std::size_t kDepth = 1000000;
  Folder folder;
  std::string file;
  file.reserve(kDepth * 7);
  for (std::size_t i = 0; i < kDepth; ++i) file += "<a>";
  for (std::size_t i = 0; i < kDepth; ++i) file += "</a>";
  WriteBytes(folder / "deep.xml", file);
  file.clear();

  bool loaded = false;
  std::size_t count = 0;
  bool linksOk = false;
  RunOnSmallStack([&] {
    XmlDocument doc;
    LoadResult status;
    loaded = status.Load(doc, folder / "deep.xml", "") && status.parse.ok();
    count = doc.ElementCount();
    if (count == kDepth) {
      const ElementRef top = doc.FirstElement();
      const ElementRef second = doc.FirstChild(top);
      const ElementRef last(static_cast<uint32_t>(kDepth - 1));
      linksOk = doc.Parent(top).IsNone() && doc.Parent(second) == top && doc.NextSibling(top).IsNone() &&
                doc.FirstChild(last).IsNone() && doc.Parent(last) == ElementRef(static_cast<uint32_t>(kDepth - 2));
    }
  });  // the document is destroyed on the small stack too
  EXPECT_TRUE(loaded);
  EXPECT_EQ(count, kDepth);
  EXPECT_TRUE(linksOk);
}

}  // namespace
}  // namespace menuconv
