// Saving documents: the exact bytes of saved files in every encoding, and what a failed
// save leaves behind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "tests/test_support.h"
#include "tests/xml_file_support.h"
#include "xml/encodings.h"
#include "xml/xml_document.h"
#include "xml/xml_file.h"

namespace menuconv {
namespace {

using namespace xml_file_tests;
using namespace std::string_literals;
namespace fs = std::filesystem;

// Saving: exact bytes

TEST(SaveFile, DocumentedExample) {
  Folder folder;
  XmlDocument doc;
  BuildExample(doc);
  const Status saved = Save(doc, folder / "menu.xml", "windows-1251");
  ASSERT_TRUE(saved.ok()) << saved.message();
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\r\n"
      "<menu ctr=\"1\">\r\n"
      "    <sprite img=\"back\"/>\r\n"
      "    <button>OK</button>\r\n"
      "</menu>\0"s;
  EXPECT_BYTES(FileBytes(folder / "menu.xml"), expected);
  EXPECT_EQ(doc.GetEncoding().codePage, 1251u);
}

TEST(SaveFile, EmptyDocumentIsDeclarationAndZeroByte) {
  Folder folder;
  XmlDocument doc;
  ASSERT_TRUE(Save(doc, folder / "empty.xml", "").ok());
  EXPECT_BYTES(FileBytes(folder / "empty.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\0"s);
}

TEST(SaveFile, EmptyDocumentInEveryEncoding) {
  for (const EncodingRow& row : EncodingTable) {
    Folder folder;
    XmlDocument doc;
    ASSERT_TRUE(Save(doc, folder / "e.xml", row.name).ok()) << row.name;
    EXPECT_BYTES(FileBytes(folder / "e.xml"), Declaration(row.name) + "\0"s) << row.name;
  }
}

#ifndef _WIN32
// Texts held in memory are UTF-8 on POSIX (the ANSI code page on Windows).

// Each encoding with a value it can hold, the file bytes typed from the code charts.
struct EncodedFile {
  std::string name;
  uint32_t codePage;
  std::string value;  // UTF-8 in memory
  std::string body;   // the converted body, without the final zero byte
};

const std::vector<EncodedFile>& EncodedFiles() {
  static const std::vector<EncodedFile> cases = {
      {"utf-8", 65001, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5",
       "\r\n<t v=\"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\"/>"},
      {"utf-7", 65000, "Cr\xC3\xA8me", "\r\n<t v=\"Cr+AOg-me\"/>"},
      {"windows-1250", 1250, "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88",
       "\r\n<t v=\"\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2\"/>"},
      {"windows-1251", 1251, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
       "\r\n<t v=\"\xCF\xF0\xE8\xE2\xE5\xF2\"/>"},
      {"windows-1252", 1252, "caf\xC3\xA9 \xE2\x82\xAC", "\r\n<t v=\"caf\xE9 \x80\"/>"},
      {"windows-1253", 1253, "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1",
       "\r\n<t v=\"\xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1\"/>"},
      {"windows-1254", 1254, "G\xC3\xBCne\xC5\x9F \xC4\x9F\xC4\xB0\xC4\xB1", "\r\n<t v=\"G\xFCne\xFE \xF0\xDD\xFD\"/>"},
      {"shift_jis", 932, "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1", "\r\n<t v=\"\x93\xFA\x96\x7B\xB1\"/>"},
      {"csISO2022JP", 50221, "\xE6\x97\xA5\xE6\x9C\xAC", "\r\n<t v=\"\x1B$BF|K\\\x1B(B\"/>"},
      {"iso-2022-kr", 50225, "\xED\x95\x9C", "\x1B$)C\r\n<t v=\"\x0EGQ\x0F\"/>"},
  };
  return cases;
}

TEST(SaveFile, EachEncodingWritesItsBytesAndDeclaresItsName) {
  for (const EncodedFile& c : EncodedFiles()) {
    Folder folder;
    XmlDocument doc;
    doc.AppendChild(ElementRef::None(), Element("t", "", {{"v", c.value}}));
    const Status saved = Save(doc, folder / "t.xml", c.name);
    ASSERT_TRUE(saved.ok()) << c.name << ": " << saved.message();
    EXPECT_EQ(doc.GetEncoding().codePage, c.codePage) << c.name;
    EXPECT_BYTES(FileBytes(folder / "t.xml"), Declaration(c.name) + c.body + "\0"s) << c.name;
  }
}

TEST(LoadFile, EachEncodingReadsBackWhatWasSaved) {
  for (const EncodedFile& c : EncodedFiles()) {
    Folder folder;
    const std::string path = folder / "t.xml";
    WriteBytes(path, Declaration(c.name) + c.body + "\0"s);
    XmlDocument doc;
    // A declaration never selects csISO2022JP: that file is read by naming it.
    const std::string_view name = c.codePage == 50221 ? std::string_view(c.name) : std::string_view();
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, path, name)) << c.name << ": " << status.message();
    EXPECT_TRUE(status.parse.ok()) << c.name << ": " << status.parse.message();
    EXPECT_EQ(doc.GetEncoding().codePage, c.codePage) << c.name;
    ASSERT_EQ(doc.ElementCount(), 1u) << c.name;
    EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "t") << c.name;
    EXPECT_EQ(Hex(doc.Element(doc.FirstElement()).GetAttribute("v")), Hex(c.value)) << c.name;
  }
}

TEST(SaveFile, ElementTextInTheFileEncoding) {
  Folder folder;
  XmlDocument doc;
  const ElementRef root = doc.AppendChild(ElementRef::None(), Element("menu"));
  doc.AppendChild(root, Element("text", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));  // Привет
  ASSERT_TRUE(Save(doc, folder / "m.xml", "windows-1251").ok());
  EXPECT_BYTES(FileBytes(folder / "m.xml"),
               Declaration("windows-1251") + "\r\n<menu>\r\n    <text>\xCF\xF0\xE8\xE2\xE5\xF2</text>\r\n</menu>\0"s);

  XmlDocument back;
  ASSERT_TRUE(Load(back, folder / "m.xml", ""));
  const ElementRef text = back.FirstChild(back.FirstElement());
  ASSERT_FALSE(text.IsNone());
  EXPECT_EQ(back.Element(text).Text(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

#ifndef _WIN32
// A loaded UTF-8 document goes out as it was checked; an element added afterwards brings text
// that nobody checked, and its ill-formed bytes are replaced.
TEST(SaveFile, TextAddedToALoadedDocumentIsRepaired) {
  Folder folder;
  WriteBytes(folder / "in.xml", Declaration("utf-8") + "<menu><text>\xD0\x96</text></menu>");
  XmlDocument doc;
  ASSERT_TRUE(Load(doc, folder / "in.xml", ""));
  ASSERT_TRUE(Save(doc, folder / "kept.xml", "utf-8").ok());
  const std::string kept = Declaration("utf-8") + "\r\n<menu>\r\n    <text>\xD0\x96</text>\r\n</menu>";
  EXPECT_BYTES(FileBytes(folder / "kept.xml"), kept + "\0"s);

  doc.AppendChild(doc.FirstElement(), Element("text", "a\xFF\xD0"));
  ASSERT_TRUE(Save(doc, folder / "added.xml", "utf-8").ok());
  EXPECT_BYTES(FileBytes(folder / "added.xml"),
               kept.substr(0, kept.size() - 9) + "\r\n    <text>a\xEF\xBF\xBD\xEF\xBF\xBD</text>\r\n</menu>\0"s);
}
#endif

TEST(SaveFile, EncodingNameChoosesTheCodePage) {
  struct Case {
    const char* label;
    uint32_t before;
    std::string name;
    uint32_t after;
    std::string file;
  };
  // The value is "Жé": windows-1251 holds only the first, windows-1252 only the second.
  const std::string body = "\r\n<t v=\"";
  const std::vector<Case> cases = {
      {"empty name writes utf-8", 1251, "", 65001, Declaration("utf-8") + body + "\xD0\x96\xC3\xA9\"/>\0"s},
      {"UTF-8 in capitals keeps 1251", 1251, "UTF-8", 1251, Declaration("windows-1251") + body + "\xC6?\"/>\0"s},
      {"UTF-8 in capitals keeps 1252", 1252, "UTF-8", 1252, Declaration("windows-1252") + body + "?\xE9\"/>\0"s},
      {"unknown name keeps utf-8", 65001, "koi8-r", 65001, Declaration("utf-8") + body + "\xD0\x96\xC3\xA9\"/>\0"s},
      {"lowered row 8 is no row", 1251, "csiso2022jp", 1251, Declaration("windows-1251") + body + "\xC6?\"/>\0"s},
      {"a row's name replaces the code page", 1251, "windows-1252", 1252,
       Declaration("windows-1252") + body + "?\xE9\"/>\0"s},
  };
  for (const Case& c : cases) {
    Folder folder;
    XmlDocument doc;
    doc.SetEncoding(Encoding{c.before});
    doc.AppendChild(ElementRef::None(), Element("t", "", {{"v", "\xD0\x96\xC3\xA9"}}));
    ASSERT_TRUE(Save(doc, folder / "t.xml", c.name).ok()) << c.label;
    EXPECT_EQ(doc.GetEncoding().codePage, c.after) << c.label;
    EXPECT_BYTES(FileBytes(folder / "t.xml"), c.file) << c.label;
  }
}

TEST(SaveFile, Iso2022JpFileIsReadBackAsUtf8WithoutTheName) {
  Folder folder;
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("t", "", {{"v", "\xE6\x97\xA5\xE6\x9C\xAC"}}));
  ASSERT_TRUE(Save(doc, folder / "jp.xml", "csISO2022JP").ok());

  XmlDocument back;
  ASSERT_TRUE(Load(back, folder / "jp.xml", ""));
  EXPECT_EQ(back.GetEncoding().codePage, 65001u);
  // The escape sequences are plain ASCII, so they reach the text unchanged.
  EXPECT_EQ(back.Element(back.FirstElement()).GetAttribute("v"), "\x1B$BF|K\\\x1B(B");
}
#endif  // _WIN32

#ifndef _WIN32
// POSIX file modes and symbolic links.
TEST(SaveFile, ReplacesAnExistingFileCompletely) {
  Folder folder;
  const std::string path = folder / "out.xml";
  WriteBytes(path, std::string(5000, 'x'));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a"));
  const Status saved = Save(doc, path, "utf-8");
  ASSERT_TRUE(saved.ok()) << saved.message();
  EXPECT_BYTES(FileBytes(path), Declaration("utf-8") + "\r\n<a/>\0"s);
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}

TEST(SaveFile, ThroughASymbolicLinkReplacesItsTarget) {
  Folder folder;
  const std::string real = folder / "real.xml";
  const std::string link = folder / "link.xml";
  WriteBytes(real, "old");
  ASSERT_EQ(::symlink("real.xml", link.c_str()), 0);
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a"));
  ASSERT_TRUE(Save(doc, link, "").ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_BYTES(FileBytes(real), Declaration("utf-8") + "\r\n<a/>\0"s);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"link.xml", "real.xml"}));
}
#endif

TEST(SaveFile, RelativePathWritesIntoTheCurrentFolder) {
  Folder folder;
  const fs::path previous = fs::current_path();
  fs::current_path(folder.path());
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a"));
  const bool saved = Save(doc, "plain.xml", "").ok();
  fs::current_path(previous);
  ASSERT_TRUE(saved);
  EXPECT_BYTES(FileBytes(folder / "plain.xml"), Declaration("utf-8") + "\r\n<a/>\0"s);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"plain.xml"}));
}

// ---------------------------------------------------------------------------------------------
// Saving: failures leave the disk as it was

struct SaveFailure {
  const char* label;
  std::function<std::string(const Folder&)> prepare;  // gives the target path
  int error;                                          // the system error the reason names
};

TEST(SaveFile, UnwritableTargetsFailAndLeaveTheFolderAsItWas) {
  std::vector<SaveFailure> cases = {
      {"missing folder", [](const Folder& f) { return f / "no-such-folder/out.xml"; }, ENOENT},
      {"a file stands for a folder",
       [](const Folder& f) {
         WriteBytes(f / "plain", "keep");
         return f / "plain/out.xml";
       },
       ENOTDIR},
      {"target is a folder",
       [](const Folder& f) {
         fs::create_directory(f / "target.xml");
         WriteBytes(f / "target.xml/inside", "keep");
         return f / "target.xml";
       },
       EISDIR},
      {"empty path", [](const Folder&) { return std::string(); }, ENOENT},
  };
#ifndef _WIN32
  cases.push_back({"target is a link to a folder",
                   [](const Folder& f) {
                     fs::create_directory(f / "dir");
                     fs::create_directory_symlink("dir", f / "link.xml");
                     return f / "link.xml";
                   },
                   EISDIR});
#endif
  for (const SaveFailure& c : cases) {
    Folder folder;
    const std::string path = c.prepare(folder);
    const std::set<std::string> before = folder.Entries();
    XmlDocument doc;
    doc.SetEncoding(Encoding{1251});
    doc.AppendChild(ElementRef::None(), Element("a", "text"));
    const Status saved = Save(doc, path, "windows-1252");
    EXPECT_FALSE(saved.ok()) << c.label;
    ExpectSystemReason(saved.message(), c.error, c.label);
    EXPECT_EQ(folder.Entries(), before) << c.label;
    EXPECT_EQ(doc.GetEncoding().codePage, 1251u) << c.label;  // nothing was written: the document is unchanged
  }
}

// Written in steps, a file replaces an existing one only once committed; abandoned, or
// dropped before its commit, it leaves the target as it was and nothing beside it.
TEST(SaveFile, FileWrittenInStepsReplacesOnlyWhenCommitted) {
  enum class End { kCommit, kAbandon, kDrop };
  struct Case {
    const char* label;
    bool existed;
    End end;
  };
  const std::vector<Case> cases = {
      {"new, committed", false, End::kCommit},      {"new, abandoned", false, End::kAbandon},
      {"new, dropped", false, End::kDrop},          {"existing, committed", true, End::kCommit},
      {"existing, abandoned", true, End::kAbandon}, {"existing, dropped", true, End::kDrop},
  };
  for (const Case& c : cases) {
    Folder folder;
    const std::string path = folder / "out.xml";
    if (c.existed) WriteBytes(path, "old");
    {
      platform::AtomicFile file;
      const Status opened = file.Open(path);
      ASSERT_TRUE(opened.ok()) << c.label << ": " << opened.message();
      ASSERT_TRUE(file.Write({"one ", "", "two "}).ok()) << c.label;
      ASSERT_TRUE(file.Write({"three"}).ok()) << c.label;
      if (c.existed) {
        EXPECT_EQ(FileBytes(path), "old") << c.label;  // not yet replaced
      }
      if (c.end == End::kCommit) {
        ASSERT_TRUE(file.Commit().ok()) << c.label;
      }
      if (c.end == End::kAbandon) file.Abandon();
      EXPECT_EQ(file.IsOpen(), c.end == End::kDrop) << c.label;
    }
    const bool written = c.end == End::kCommit;
    if (written || c.existed) {
      EXPECT_EQ(FileBytes(path), written ? "one two three" : "old") << c.label;
      EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"})) << c.label;
    } else {
      EXPECT_EQ(folder.Entries(), std::set<std::string>{}) << c.label;
    }
  }
}

#ifndef _WIN32
// POSIX only: the text is held as UTF-8 there, repaired where it is ill-formed.
// A large UTF-8 file is checked in two halves at once; an ill-formed byte on either side, or
// a character cut by the middle, still gets the text repaired as a whole.
TEST(LoadFile, LargeUtf8FilesAreCheckedWhole) {
  Folder folder;
  const std::string letter = "\xD0\xB6";  // two bytes
  std::string payload;
  while (payload.size() < (std::size_t{9} << 20)) payload += letter + "x" + letter + letter;
  const std::string prefix = "<a>";
  struct Case {
    const char* label;
    std::ptrdiff_t at;  // where the ill-formed byte goes, from the middle of the file
  };
  const std::vector<Case> cases = {{"well-formed", 0},
                                   {"early in the first half", -4000000},
                                   {"late in the second half", 4000000},
                                   {"right before the middle", -1},
                                   {"at the middle", 0},
                                   {"right after the middle", 1}};
  for (const Case& c : cases) {
    std::string text = payload;
    if (std::string(c.label) != "well-formed") {
      const auto middle =
          static_cast<std::ptrdiff_t>((prefix.size() + text.size()) / 2) - static_cast<std::ptrdiff_t>(prefix.size());
      text[static_cast<std::size_t>(middle + c.at)] = '\xFF';
    }
    const std::string path = folder / "big.xml";
    WriteBytes(path, prefix + text + "</a>");
    XmlDocument doc;
    LoadResult status;
    ASSERT_TRUE(status.Load(doc, path, "utf-8")) << c.label;
    ByteBuffer repaired;
    AppendRepairedUtf8(text, repaired);
    EXPECT_TRUE(doc.Element(doc.FirstElement()).Text() == repaired.view()) << c.label;
  }
}
#endif

// Large files are read in parts at once; every byte must land where it belongs.
TEST(ReadFile, LargeFilesArriveWhole) {
  Folder folder;
  for (const std::size_t size : {std::size_t{8} << 20, (std::size_t{9} << 20) + 7}) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 24);
    }
    const std::string path = folder / "big.bin";
    WriteBytes(path, bytes);
    ByteBuffer contents;
    const Status read = platform::ReadWholeFile(path, contents);
    ASSERT_TRUE(read.ok()) << read.message();
    ASSERT_EQ(contents.size(), size);
    EXPECT_TRUE(contents.view() == bytes) << size;
  }
}

TEST(SaveFile, DirectoryAsTargetKeepsItsContent) {
  Folder folder;
  fs::create_directory(folder / "target.xml");
  WriteBytes(folder / "target.xml/inside", "keep");
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a"));
  EXPECT_FALSE(Save(doc, folder / "target.xml", "").ok());
  EXPECT_TRUE(fs::is_directory(folder / "target.xml"));
  EXPECT_EQ(FileBytes(folder / "target.xml/inside"), "keep");
  EXPECT_EQ(fs::directory_iterator(folder / "target.xml")->path().filename(), "inside");
}

#ifndef _WIN32
// POSIX only: file size limits and modes; code page 437 converts on Windows.
TEST(SaveFile, WriteFailingMidwayKeepsTheOldFileAndLeavesNoTemporary) {
  Folder folder;
  const std::string path = folder / "out.xml";
  const std::string old = Declaration("utf-8") + "\r\n<old/>\0"s;
  WriteBytes(path, old);
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a", "", {{"v", std::string(200000, 'x')}}));

  // Files may not grow past 4 KiB while the document is saved: the write of the temporary
  // file fails with EFBIG after its first bytes.
  const Status result = testing_support::WithFileSizeLimit(4096, [&] { return Save(doc, path, ""); });
  const bool saved = result.ok();
  const std::string& reason = result.message();

  EXPECT_FALSE(saved);
  EXPECT_EQ(reason, std::strerror(EFBIG));
  EXPECT_BYTES(FileBytes(path), old);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}

TEST(SaveFile, UnconvertibleCodePageKeepsTheOldFile) {
  Folder folder;
  const std::string path = folder / "out.xml";
  const std::string old = Declaration("utf-8") + "\r\n<old/>\0"s;
  WriteBytes(path, old);
  XmlDocument doc;
  doc.SetEncoding(Encoding{437});  // in no row of the table, and not convertible
  doc.AppendChild(ElementRef::None(), Element("a", "text"));
  const Status saved = Save(doc, path, "UTF-8");
  EXPECT_FALSE(saved.ok());  // no row: the code page stays 437
  EXPECT_FALSE(saved.message().empty());
  EXPECT_EQ(doc.GetEncoding().codePage, 437u);
  EXPECT_BYTES(FileBytes(path), old);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}

TEST(SaveFile, UnconvertibleCodePageCreatesNoFile) {
  Folder folder;
  XmlDocument doc;
  doc.SetEncoding(Encoding{437});
  const Status saved = Save(doc, folder / "new.xml", "ibm437");
  EXPECT_FALSE(saved.ok());
  EXPECT_FALSE(saved.message().empty());
  EXPECT_TRUE(folder.Entries().empty());
}

// Where no file can be made beside it, a file the user may write is overwritten in place once
// the whole new content is ready; a new file cannot be made there at all.
TEST(SaveFile, ReadOnlyFolderOverwritesAWritableFileInPlace) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  Folder folder;
  const std::string path = folder / "out.xml";
  WriteBytes(path, "old");
  ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("a"));
  const Status saved = Save(doc, path, "");
  const Status created = Save(doc, folder / "new.xml", "");
  ::chmod(folder.path().c_str(), 0755);  // so that the folder can be removed
  EXPECT_TRUE(saved.ok()) << saved.message();
  EXPECT_EQ(FileBytes(path), std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<a/>") + '\0');
  EXPECT_EQ(created.message(), std::strerror(EACCES));
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}

// An output folder is listed once, when the run first writes in it, to tell new names without
// asking about each. What was there before keeps its treatment (permissions carried over); what
// another writer makes under a name after the listing is replaced whole or refused, as what
// appears between the look and the link always was; a name written twice is not new twice.
TEST(SaveFile, OutputFolderListedOnceTellsNewNames) {
  struct Case {
    const char* label;
    std::function<void(Folder&)> before;  // before the folder is first written in
    std::function<void(Folder&)> after;   // after that, before out.xml is written
    bool saved;
    std::set<std::string> entries;
  };
  const auto file = [](const char* name, mode_t mode) {
    return [name, mode](Folder& f) {
      WriteBytes(f / name, "old");
      ASSERT_EQ(::chmod((f / name).c_str(), mode), 0);
    };
  };
  const auto nothing = [](Folder&) {};
  const std::vector<Case> cases = {
      {"new", nothing, nothing, true, {"first.xml", "out.xml"}},
      {"there before, read-only for others", file("out.xml", 0640), nothing, true, {"first.xml", "out.xml"}},
      {"there before in other case", file("OUT.XML", 0600), nothing, true, {"OUT.XML", "first.xml", "out.xml"}},
      {"there before beside a name of other bytes",
       [&file](Folder& f) {
         file("out.xml", 0640)(f);
         WriteBytes(f / "\xC3\xA9.xml", "");
       },
       nothing,
       true,
       {"\xC3\xA9.xml", "first.xml", "out.xml"}},
      {"made by another writer after the listing", nothing, file("out.xml", 0600), true, {"first.xml", "out.xml"}},
      {"a folder made after the listing",
       nothing,
       [](Folder& f) { fs::create_directory(f / "out.xml"); },
       false,
       {"first.xml", "out.xml"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Folder folder;
    c.before(folder);
    struct stat old {};
    const bool existed = ::stat((folder / "out.xml").c_str(), &old) == 0;
    platform::OutputFolder out(folder.path());
    const auto write = [&out](const std::string& name, std::string_view bytes) {
      platform::AtomicFile atomic;
      Status status = atomic.Open(out, name);
      if (status) status = atomic.Write({bytes});
      if (status) status = atomic.Commit();
      return status;
    };
    ASSERT_TRUE(write("first.xml", "first").ok());
    c.after(folder);
    const Status saved = write("out.xml", "new");
    EXPECT_EQ(saved.ok(), c.saved) << saved.message();
    EXPECT_EQ(folder.Entries(), c.entries);
    if (c.saved) {
      EXPECT_EQ(FileBytes(folder / "out.xml"), "new");
    }
    struct stat now {};
    if (c.saved && existed && ::stat((folder / "out.xml").c_str(), &now) == 0) {
      EXPECT_EQ(now.st_mode & 07777, old.st_mode & 07777);
    }
    // Written again, the name takes the look it takes for an existing file.
    if (c.saved) {
      ASSERT_EQ(::chmod((folder / "out.xml").c_str(), 0604), 0);
      ASSERT_TRUE(write("out.xml", "again").ok());
      EXPECT_EQ(FileBytes(folder / "out.xml"), "again");
      ASSERT_EQ(::stat((folder / "out.xml").c_str(), &now), 0);
      EXPECT_EQ(now.st_mode & 07777, 0604u);
    }
  }
}
#endif

TEST(SaveFile, DeepDocumentSavesOnASmallStack) {
  constexpr std::size_t kDepth = 3000;
  XmlDocument doc;
  BuildChain(doc, kDepth);
  Folder folder;
  const std::string path = folder / "deep.xml";
  Status result;
  RunOnSmallStack([&] { result = Save(doc, path, "windows-1252"); });
  ASSERT_TRUE(result.ok()) << result.message();
  const std::string written = FileBytes(path);
  const std::string declaration = Declaration("windows-1252");
  ASSERT_GT(written.size(), declaration.size() + 1);
  EXPECT_EQ(written.substr(0, declaration.size()), declaration);
  EXPECT_EQ(written.back(), '\0');
  const std::string_view body =
      std::string_view(written).substr(declaration.size(), written.size() - declaration.size() - 1);
  EXPECT_EQ(MatchChain(body, kDepth), body.size());
}

}  // namespace
}  // namespace menuconv
