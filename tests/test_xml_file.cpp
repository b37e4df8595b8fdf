// Loading and saving documents: the exact bytes of saved files, the encodings on disk, and
// what a failed load or save leaves behind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
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
#include "xml/encodings.h"
#include "xml/held_text.h"
#include "xml/serializer.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_file.h"

namespace menuconv {
namespace {

// Load's two outcomes side by side: reading the file, and how far its text was read.
struct LoadResult {
  Status parse;
  std::string reason;
  bool Load(XmlDocument& document, const std::filesystem::path& path, std::string_view encodingName) {
    const Status read = menuconv::Load(document, path.string(), encodingName, &parse);
    reason = read.reason;
    return read.ok;
  }
};

namespace fs = std::filesystem;
using namespace std::string_literals;

[[maybe_unused]] constexpr auto Hex = testing_support::HexOf;

// Printable form of file bytes for failure messages: CR, LF, zero and bytes above 0x7E as
// escapes.
std::string Shown(std::string_view bytes) {
  std::string out;
  char escape[8];
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c > 0x7E) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

#define EXPECT_BYTES(actual, expected) EXPECT_EQ(Shown(actual), Shown(expected))

// The declaration written ahead of every saved body.
std::string Declaration(std::string_view encodingName) {
  return "<?xml version=\"1.0\" encoding=\""s + std::string(encodingName) + "\" ?>";
}

using testing_support::WriteBytes;

// A fresh folder for one test, removed with everything in it afterwards.
class Folder : public testing_support::TempFolder {
 public:
  Folder() : TempFolder("menuconv-xmlfile") {}

  std::string operator/(const std::string& name) const { return PathOf(name); }

  // Every entry of the folder, hidden ones included.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(path())) names.insert(e.path().filename().string());
    return names;
  }
};

// The bytes of a regular file, or a note that stands for none.
std::string FileBytes(const std::string& path) {
  return testing_support::ReadBytes(path).value_or("(no regular file at " + path + ")");
}

// A failure reason names the system's error.
void ExpectSystemReason(const std::string& reason, int error, const std::string& label = {}) {
#ifdef _WIN32
  (void)error;
  EXPECT_FALSE(reason.empty()) << label;
#else
  EXPECT_EQ(reason, std::strerror(error)) << label;
#endif
}

XmlElement Element(std::string name, std::string text = {},
                   std::vector<std::pair<std::string, std::string>> attributes = {}) {
  XmlElement e;
  e.name = std::move(name);
  e.text = std::move(text);
  for (const auto& [key, value] : attributes) e.SetAttribute(key, value);
  return e;
}

// The menu of the documented example: root menu ctr=1 with a sprite img=back and a button
// with the text OK.
void BuildExample(XmlDocument& doc) {
  const ElementRef menu = doc.AppendChild(ElementRef::None(), Element("menu", "", {{"ctr", "1"}}));
  doc.AppendChild(menu, Element("sprite", "", {{"img", "back"}}));
  doc.AppendChild(menu, Element("button", "OK"));
}

// Runs `work` on a thread whose stack is far smaller than usual, so that code that recurses
// once per nesting level overflows it even for moderately deep documents.
void RunOnSmallStack(const std::function<void()>& work) {
#ifdef _WIN32
  work();
#else
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

// ---------------------------------------------------------------------------------------------
// Serialising

TEST(SerializeDocument, EmptyDocumentGivesNothing) {
  XmlDocument doc;
  EXPECT_EQ(SerializeDocument(doc), "");
}

struct SerializeCase {
  const char* label;
  std::function<void(XmlDocument&)> build;
  std::string body;
};

TEST(SerializeDocument, ElementForms) {
  const std::vector<SerializeCase> cases = {
      {"no text, no children", [](XmlDocument& d) { d.AppendChild(ElementRef::None(), Element("leaf")); },
       "\r\n<leaf/>"},
      {"attribute and no text: no blank before />",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("leaf", "", {{"k", "v"}}));
       },
       "\r\n<leaf k=\"v\"/>"},
      {"text only, on one line",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("t", "hello", {{"k", "v"}}));
       },
       "\r\n<t k=\"v\">hello</t>"},
      {"children without text",
       [](XmlDocument& d) {
         const ElementRef p = d.AppendChild(ElementRef::None(), Element("p"));
         d.AppendChild(p, Element("c"));
       },
       "\r\n<p>\r\n    <c/>\r\n</p>"},
      {"text and children",
       [](XmlDocument& d) {
         const ElementRef p = d.AppendChild(ElementRef::None(), Element("p", "T"));
         d.AppendChild(p, Element("c", "x"));
         d.AppendChild(p, Element("d"));
       },
       "\r\n<p>T\r\n    <c>x</c>\r\n    <d/>\r\n</p>"},
      {"several top-level elements, each without indentation",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("a"));
         const ElementRef b = d.AppendChild(ElementRef::None(), Element("b"));
         d.AppendChild(b, Element("c"));
         d.AppendChild(ElementRef::None(), Element("e", "z"));
       },
       "\r\n<a/>\r\n<b>\r\n    <c/>\r\n</b>\r\n<e>z</e>"},
      {"depth 3 is indented by 12 blanks, its closing tag too",
       [](XmlDocument& d) {
         ElementRef e = d.AppendChild(ElementRef::None(), Element("a"));
         e = d.AppendChild(e, Element("b"));
         e = d.AppendChild(e, Element("c"));
         e = d.AppendChild(e, Element("d"));
         d.AppendChild(e, Element("e"));
       },
       "\r\n<a>\r\n    <b>\r\n        <c>\r\n            <d>\r\n                <e/>\r\n            </d>"
       "\r\n        </c>\r\n    </b>\r\n</a>"},
      {"a later sibling after a nested subtree",
       [](XmlDocument& d) {
         const ElementRef a = d.AppendChild(ElementRef::None(), Element("a"));
         const ElementRef b = d.AppendChild(a, Element("b"));
         const ElementRef c = d.AppendChild(b, Element("c"));
         d.AppendChild(c, Element("d", "deep"));
         d.AppendChild(a, Element("f"));
       },
       "\r\n<a>\r\n    <b>\r\n        <c>\r\n            <d>deep</d>\r\n        </c>\r\n    </b>"
       "\r\n    <f/>\r\n</a>"},
      // Nothing is escaped.
      {"markup characters in text and values",
       [](XmlDocument& d) {
         d.AppendChild(ElementRef::None(), Element("t", "a<b>&c\"", {{"k", "1&2<3>"}}));
       },
       "\r\n<t k=\"1&2<3>\">a<b>&c\"</t>"},
  };
  for (const SerializeCase& c : cases) {
    XmlDocument doc;
    c.build(doc);
    EXPECT_BYTES(SerializeDocument(doc), c.body) << c.label;
  }
}

TEST(SerializeDocument, ValueQuoting) {
  struct Case {
    std::string value;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"plain", "k=\"plain\""},
      {"", "k=\"\""},
      {"say \"hi\"", "k='say \"hi\"'"},  // double quotes only: single quotes around
      {"\"", "k='\"'"},
      {"it's", "k=\"it's\""},              // single quote only: double quotes
      {"it's \"x\"", "k=\"it's \"x\"\""},  // both: double quotes, unescaped
      {"'", "k=\"'\""},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    doc.AppendChild(ElementRef::None(), Element("e", "", {{"k", c.value}}));
    EXPECT_BYTES(SerializeDocument(doc), "\r\n<e " + c.written + "/>") << c.value;
  }
}

TEST(SerializeElement, WritesOneSubtreeAndMovesToTheNextSibling) {
  XmlDocument doc;
  const ElementRef a = doc.AppendChild(ElementRef::None(), Element("a"));
  const ElementRef b = doc.AppendChild(a, Element("b"));
  doc.AppendChild(b, Element("x", "1"));
  const ElementRef c = doc.AppendChild(a, Element("c", "t"));

  ElementRef position = b;
  EXPECT_BYTES(SerializeElement(doc, position, 2), "\r\n        <b>\r\n            <x>1</x>\r\n        </b>");
  EXPECT_EQ(position, c);
  EXPECT_BYTES(SerializeElement(doc, position, 0), "\r\n<c>t</c>");
  EXPECT_TRUE(position.IsNone());

  position = a;
  EXPECT_BYTES(SerializeElement(doc, position, 1),
               "\r\n    <a>\r\n        <b>\r\n            <x>1</x>\r\n        </b>\r\n        <c>t</c>\r\n    </a>");
  EXPECT_TRUE(position.IsNone());
}

// ---------------------------------------------------------------------------------------------
// Saving: exact bytes

TEST(SaveFile, DocumentedExample) {
  Folder folder;
  XmlDocument doc;
  BuildExample(doc);
  const Status saved = Save(doc, folder / "menu.xml", "windows-1251");
  ASSERT_TRUE(saved.ok) << saved.reason;
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\r\n"
      "<menu ctr=\"1\">\r\n"
      "    <sprite img=\"back\"/>\r\n"
      "    <button>OK</button>\r\n"
      "</menu>\0"s;
  EXPECT_BYTES(FileBytes(folder / "menu.xml"), expected);
  EXPECT_EQ(doc.codePage, 1251u);
}

TEST(SaveFile, EmptyDocumentIsDeclarationAndZeroByte) {
  Folder folder;
  XmlDocument doc;
  ASSERT_TRUE(Save(doc, folder / "empty.xml", "").ok);
  EXPECT_BYTES(FileBytes(folder / "empty.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\0"s);
}

TEST(SaveFile, EmptyDocumentInEveryEncoding) {
  for (const EncodingRow& row : EncodingTable) {
    Folder folder;
    XmlDocument doc;
    ASSERT_TRUE(Save(doc, folder / "e.xml", row.name).ok) << row.name;
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
    ASSERT_TRUE(saved.ok) << c.name << ": " << saved.reason;
    EXPECT_EQ(doc.codePage, c.codePage) << c.name;
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
    ASSERT_TRUE(status.Load(doc, path, name)) << c.name << ": " << status.reason;
    EXPECT_TRUE(status.parse.ok) << c.name << ": " << status.parse.reason;
    EXPECT_EQ(doc.codePage, c.codePage) << c.name;
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
  ASSERT_TRUE(Save(doc, folder / "m.xml", "windows-1251").ok);
  EXPECT_BYTES(FileBytes(folder / "m.xml"),
               Declaration("windows-1251") + "\r\n<menu>\r\n    <text>\xCF\xF0\xE8\xE2\xE5\xF2</text>\r\n</menu>\0"s);

  XmlDocument back;
  ASSERT_TRUE(Load(back, folder / "m.xml", ""));
  const ElementRef text = back.FirstChild(back.FirstElement());
  ASSERT_FALSE(text.IsNone());
  EXPECT_EQ(back.Element(text).Text(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

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
    doc.codePage = c.before;
    doc.AppendChild(ElementRef::None(), Element("t", "", {{"v", "\xD0\x96\xC3\xA9"}}));
    ASSERT_TRUE(Save(doc, folder / "t.xml", c.name).ok) << c.label;
    EXPECT_EQ(doc.codePage, c.after) << c.label;
    EXPECT_BYTES(FileBytes(folder / "t.xml"), c.file) << c.label;
  }
}

TEST(SaveFile, Iso2022JpFileIsReadBackAsUtf8WithoutTheName) {
  Folder folder;
  XmlDocument doc;
  doc.AppendChild(ElementRef::None(), Element("t", "", {{"v", "\xE6\x97\xA5\xE6\x9C\xAC"}}));
  ASSERT_TRUE(Save(doc, folder / "jp.xml", "csISO2022JP").ok);

  XmlDocument back;
  ASSERT_TRUE(Load(back, folder / "jp.xml", ""));
  EXPECT_EQ(back.codePage, 65001u);
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
  ASSERT_TRUE(saved.ok) << saved.reason;
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
  ASSERT_TRUE(Save(doc, link, "").ok);
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
  const bool saved = Save(doc, "plain.xml", "").ok;
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
    doc.codePage = 1251;
    doc.AppendChild(ElementRef::None(), Element("a", "text"));
    const Status saved = Save(doc, path, "windows-1252");
    EXPECT_FALSE(saved.ok) << c.label;
    ExpectSystemReason(saved.reason, c.error, c.label);
    EXPECT_EQ(folder.Entries(), before) << c.label;
    EXPECT_EQ(doc.codePage, 1251u) << c.label;  // nothing was written: the document is unchanged
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
      ASSERT_TRUE(opened.ok) << c.label << ": " << opened.reason;
      ASSERT_TRUE(file.Write({"one ", "", "two "}).ok) << c.label;
      ASSERT_TRUE(file.Write({"three"}).ok) << c.label;
      if (c.existed) {
        EXPECT_EQ(FileBytes(path), "old") << c.label;  // not yet replaced
      }
      if (c.end == End::kCommit) {
        ASSERT_TRUE(file.Commit().ok) << c.label;
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
    ASSERT_TRUE(read.ok) << read.reason;
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
  EXPECT_FALSE(Save(doc, folder / "target.xml", "").ok);
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
  const bool saved = result.ok;
  const std::string& reason = result.reason;

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
  doc.codePage = 437;  // in no row of the table, and not convertible
  doc.AppendChild(ElementRef::None(), Element("a", "text"));
  const Status saved = Save(doc, path, "UTF-8");
  EXPECT_FALSE(saved.ok);  // no row: the code page stays 437
  EXPECT_FALSE(saved.reason.empty());
  EXPECT_EQ(doc.codePage, 437u);
  EXPECT_BYTES(FileBytes(path), old);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}

TEST(SaveFile, UnconvertibleCodePageCreatesNoFile) {
  Folder folder;
  XmlDocument doc;
  doc.codePage = 437;
  const Status saved = Save(doc, folder / "new.xml", "ibm437");
  EXPECT_FALSE(saved.ok);
  EXPECT_FALSE(saved.reason.empty());
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
  EXPECT_TRUE(saved.ok) << saved.reason;
  EXPECT_EQ(FileBytes(path), std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<a/>") + '\0');
  EXPECT_EQ(created.reason, std::strerror(EACCES));
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"out.xml"}));
}
#endif

// ---------------------------------------------------------------------------------------------
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
    ASSERT_TRUE(status.Load(doc, folder / "in.xml", c.encodingName)) << c.label << ": " << status.reason;
    EXPECT_EQ(doc.codePage, c.codePage) << c.label;
    ASSERT_FALSE(doc.FirstElement().IsNone()) << c.label;
    EXPECT_EQ(doc.Element(doc.FirstElement()).Name(), "a") << c.label;
    EXPECT_EQ(Hex(doc.Element(doc.FirstElement()).GetAttribute("v")), Hex(c.value)) << c.label;
  }
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
  EXPECT_EQ(doc.codePage, 1251u);
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
    EXPECT_EQ(doc.codePage, c.codePage) << c.label;
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
    uint32_t textCodePage;
    std::string value;  // attribute v as held
    std::string shown;  // the same through NarrowText
  };
  const std::vector<HeldCase> cases = {
      {"declared windows-1251", "<?xml encoding=\"windows-1251\"?><a v=\"\xCF\xF0\"/>", 1251, "\xCF\xF0", narrow},
      {"undeclared, so windows-1251", "<a v=\"\xCF\xF0\"/>", 1251, "\xCF\xF0", narrow},
      {"utf-8 is kept as it is", "<?xml encoding=\"utf-8\"?><a v=\"\xD0\x9F\xD1\x80\"/>",
       platform::NarrowIsUtf8() ? 0u : 65001u, utf8, narrow},
  };
  for (const HeldCase& c : cases) {
    Folder folder;
    WriteBytes(folder / "in.xml", c.file);
    XmlDocument doc;
    ASSERT_TRUE(Load(doc, folder / "in.xml", "", nullptr, HeldText::kFileBytes).ok) << c.label;
    EXPECT_EQ(doc.textCodePage, c.textCodePage) << c.label;
    const std::string value = doc.Element(doc.FirstElement()).GetAttribute("v");
    EXPECT_EQ(Hex(value), Hex(c.value)) << c.label;
    EXPECT_EQ(Hex(NarrowText(doc, value)), Hex(c.shown)) << c.label;
  }

  Folder folder;
  WriteBytes(folder / "in.xml", "<a v=\"\xCF\xF0\"/>");
  XmlDocument doc;
  ASSERT_TRUE(Load(doc, folder / "in.xml", "", nullptr, HeldText::kFileBytes).ok);
  ASSERT_TRUE(Save(doc, folder / "same.xml", "windows-1251").ok);
  EXPECT_BYTES(FileBytes(folder / "same.xml"), Declaration("windows-1251") + "\r\n<a v=\"\xCF\xF0\"/>\0"s);
  ASSERT_TRUE(Save(doc, folder / "utf8.xml", "utf-8").ok);
  EXPECT_BYTES(FileBytes(folder / "utf8.xml"), Declaration("utf-8") + "\r\n<a v=\"\xD0\x9F\xD1\x80\"/>\0"s);
}

// The status the parser gives for a text, as Load hands texts over: with a zero byte behind.
Status ParseOf(std::string_view text) {
  XmlDocument scratch;
  return ParseDocument(scratch, std::string(text) + '\0');
}

void ExpectSameStatus(const Status& actual, const Status& expected, const std::string& label) {
  EXPECT_EQ(actual.ok, expected.ok) << label;
  EXPECT_EQ(actual.offset, expected.offset) << label;
  EXPECT_EQ(actual.line, expected.line) << label;
  EXPECT_EQ(actual.column, expected.column) << label;
  EXPECT_EQ(actual.reason, expected.reason) << label;
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
    EXPECT_FALSE(status.parse.ok) << c.encodingName;
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
  EXPECT_TRUE(status.reason.empty());
  EXPECT_FALSE(status.parse.ok);
  EXPECT_FALSE(status.parse.reason.empty());
  ExpectSameStatus(status.parse, ParseOf(text), "unclosed menu");
  // What was read is kept.
  ASSERT_EQ(doc.ElementCount(), 2u);
  EXPECT_EQ(doc.Element(doc.FirstElement()).GetAttribute("ctr"), "1");
  EXPECT_EQ(doc.Element(doc.FirstChild(doc.FirstElement())).Name(), "a");
  EXPECT_EQ(doc.codePage, 65001u);
}

TEST(LoadFile, WellFormedFileReportsAFinishedParse) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<menu><a></a></menu>");
  XmlDocument doc;
  LoadResult status;
  status.parse.ok = false;
  status.reason = "stale";
  ASSERT_TRUE(status.Load(doc, folder / "in.xml", ""));
  EXPECT_TRUE(status.parse.ok);
  EXPECT_TRUE(status.reason.empty());
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
    doc.codePage = 1253;
    const ElementRef old = doc.AppendChild(ElementRef::None(), Element("old"));
    doc.AppendChild(old, Element("child"));
    LoadResult status;
    EXPECT_FALSE(status.Load(doc, path, "")) << c.label;
    EXPECT_EQ(doc.ElementCount(), 0u) << c.label;
    EXPECT_TRUE(doc.FirstElement().IsNone()) << c.label;
    EXPECT_EQ(doc.codePage, 1253u) << c.label;
    EXPECT_FALSE(status.reason.empty()) << c.label;
    if (c.error != 0) ExpectSystemReason(status.reason, c.error, c.label);
  }
}

TEST(LoadFile, WorksWithoutAStatus) {
  Folder folder;
  WriteBytes(folder / "in.xml", "<a>");
  XmlDocument doc;
  EXPECT_TRUE(Load(doc, folder / "in.xml", ""));
  EXPECT_FALSE(Load(doc, folder / "missing.xml", ""));
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
    ASSERT_TRUE(status.Load(doc, folder / "big.xml", "")) << c.label << ": " << status.reason;
    ASSERT_EQ(doc.ElementCount(), 1u) << c.label;
    const std::string loaded = doc.Element(doc.FirstElement()).GetAttribute("v");
    EXPECT_EQ(loaded.size(), value.size()) << c.label;
    EXPECT_TRUE(loaded == value) << c.label;

    // And back out in the same encoding, byte for byte.
    ASSERT_TRUE(Save(doc, folder / "out.xml", c.declared).ok) << c.label;
    const std::string expected =
        Declaration(c.declared) + "\r\n<t v=\"" + file.substr(Declaration(c.declared).size() + 6) + "\0"s;
    const std::string written = FileBytes(folder / "out.xml");
    EXPECT_EQ(written.size(), expected.size()) << c.label;
    EXPECT_TRUE(written == expected) << c.label;
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
    loaded = status.Load(doc, folder / "deep.xml", "") && status.parse.ok;
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

// A chain of `depth` elements named "a", each the only child of the one before.
void BuildChain(XmlDocument& doc, std::size_t depth) {
  ElementRef e = doc.AppendChild(ElementRef::None(), Element("a"));
  for (std::size_t i = 1; i < depth; ++i) e = doc.AppendChild(e, Element("a"));
}

// Checks `bytes` against the serialised chain: an opening line per level, the innermost
// "<a/>", then a closing line per level, each indented by 4 blanks per level. Gives the
// number of bytes that matched; the whole text matched when that is its size.
std::size_t MatchChain(std::string_view bytes, std::size_t depth) {
  std::size_t at = 0;
  auto expect = [&](std::string_view piece) {
    if (bytes.substr(at, piece.size()) != piece) return false;
    at += piece.size();
    return true;
  };
  const std::string blanks(depth * 4, ' ');
  auto line = [&](std::size_t level, std::string_view tag) {
    return expect("\r\n") && expect(std::string_view(blanks).substr(0, level * 4)) && expect(tag);
  };
  for (std::size_t level = 0; level + 1 < depth; ++level) {
    if (!line(level, "<a>")) return at;
  }
  if (!line(depth - 1, "<a/>")) return at;
  for (std::size_t level = depth - 1; level-- > 0;) {
    if (!line(level, "</a>")) return at;
  }
  return at;
}

TEST(SerializeDocument, TwentyThousandDeepChainOnASmallStack) {
  // 1.6 GB of text (the indentation grows with the depth), written without recursion.
  constexpr std::size_t kDepth = 20000;
  XmlDocument doc;
  BuildChain(doc, kDepth);
  ByteBuffer out;
  RunOnSmallStack([&] { SerializeDocument(doc, out); });
  // Opening lines 5 + 4d bytes for d < N-1, the innermost 6 + 4(N-1), closing lines 6 + 4d.
  const std::size_t n = kDepth;
  const std::size_t expectedSize = (n - 1) * 11 + 8 * ((n - 1) * (n - 2) / 2) + 6 + 4 * (n - 1);
  EXPECT_EQ(out.size(), expectedSize);
  EXPECT_EQ(MatchChain(out.view(), kDepth), out.size());
}

TEST(SaveFile, DeepDocumentSavesOnASmallStack) {
  constexpr std::size_t kDepth = 3000;
  XmlDocument doc;
  BuildChain(doc, kDepth);
  Folder folder;
  const std::string path = folder / "deep.xml";
  Status result;
  RunOnSmallStack([&] { result = Save(doc, path, "windows-1252"); });
  ASSERT_TRUE(result.ok) << result.reason;
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
