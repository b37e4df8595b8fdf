// Fault injection and limits for the whole program: every case runs the menuconv executable
// in a fresh folder and compares everything in that folder afterwards with what the case
// expects, entry by entry.
//
//   - write errors (a file size limit set in the child before it starts) while a menu
//     document is saved and while the text table is rewritten,
//   - output targets that are folders, symbolic links, FIFOs or lie in missing folders, and
//     inputs that are folders, FIFOs, devices or broken links,
//   - hostile menu names (parent references, absolute paths, control bytes, names longer
//     than a file name may be),
//   - large inputs at a size that keeps the suite quick (deep nesting, many attributes, huge
//     values and texts, many screens, many text-table records).
//
// A child that does not end within its time is killed and the case fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/run_process.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;

const std::string kLoadFailed = "Error: Cannot load file, check file exist!";
const std::string kConvertFailed = "Error: Cannot reparsing file!";
const std::string kSaveFailed = ": Cannot save menu file";

// ---------------------------------------------------------------------------------------
// Files and folders

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Every entry below the folder (links are not followed), by relative path:
//   "file:" and the bytes, "folder", "link:" and the target, "fifo", or "other".
using Tree = std::map<std::string, std::string>;

std::string Describe(const fs::path& path) {
  const fs::file_status status = fs::symlink_status(path);
  switch (status.type()) {
    case fs::file_type::symlink:
      return "link:" + fs::read_symlink(path).string();
    case fs::file_type::directory:
      return "folder";
    case fs::file_type::regular:
      return "file:" + ReadFile(path);
    case fs::file_type::fifo:
      return "fifo";
    default:
      return "other";
  }
}

Tree TreeOf(const fs::path& folder) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    tree[entry.path().lexically_relative(folder).generic_string()] = Describe(entry.path());
  }
  return tree;
}

std::string File(const std::string& bytes) { return "file:" + bytes; }
std::string Link(const std::string& target) { return "link:" + target; }

// Makes the entries of a tree (files, folders and links) below the folder.
void Lay(const fs::path& folder, const Tree& tree) {
  for (const auto& [name, entry] : tree) {
    const fs::path path = folder / name;
    fs::create_directories(path.parent_path());
    if (entry == "folder") {
      fs::create_directories(path);
    } else if (entry.rfind("file:", 0) == 0) {
      WriteFile(path, entry.substr(5));
    } else if (entry.rfind("link:", 0) == 0) {
      fs::create_symlink(entry.substr(5), path);
    } else {
      throw std::runtime_error("cannot lay " + entry);
    }
  }
}

// Printable excerpt of bytes around a position.
std::string Excerpt(const std::string& bytes, std::size_t at) {
  const std::size_t from = at > 30 ? at - 30 : 0;
  std::ostringstream s;
  for (std::size_t i = from; i < bytes.size() && i < from + 80; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F) {
      s << bytes[i];
    } else {
      static const char* hex = "0123456789ABCDEF";
      s << "\\x" << hex[c >> 4] << hex[c & 15];
    }
  }
  return s.str();
}

std::string Shorten(const std::string& path) {
  return path.size() <= 80 ? path : path.substr(0, 60) + "...(" + std::to_string(path.size()) + " bytes)";
}

// Compares two trees entry by entry; a difference is described briefly, not printed whole.
void ExpectTree(const Tree& got, const Tree& want) {
  for (const auto& [path, entry] : want) {
    const auto found = got.find(path);
    if (found == got.end()) {
      ADD_FAILURE() << "missing: " << Shorten(path);
    } else if (found->second != entry) {
      std::size_t i = 0;
      while (i < entry.size() && i < found->second.size() && entry[i] == found->second[i]) ++i;
      ADD_FAILURE() << Shorten(path) << ": " << found->second.size() << " bytes, want " << entry.size()
                    << "; first difference at " << i << "\n  got:  [" << Excerpt(found->second, i) << "]\n  want: ["
                    << Excerpt(entry, i) << "]";
    }
  }
  for (const auto& [path, entry] : got) {
    if (!want.count(path)) ADD_FAILURE() << "unexpected: " << Shorten(path) << " (" << Excerpt(entry, 0) << ")";
  }
}

// Temporary files of an interrupted write begin with this.
std::vector<std::string> Leftovers(const Tree& tree) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : tree) {
    if (fs::path(path).filename().string().rfind(".menuconv-", 0) == 0) found.push_back(path);
  }
  return found;
}

// ---------------------------------------------------------------------------------------
// Running the program

using testing_support::Outcome;
using testing_support::RunMenuconv;

// A fresh folder with the working folder "run" inside it, removed with everything in it
// afterwards. Nothing may appear beside the working folder.
class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "menuconv-faults-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::create_directory(path());
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  fs::path path() const { return base_ / "run"; }
  fs::path operator/(const std::string& name) const { return path() / name; }

  void ExpectNothingBeside() const {
    for (const auto& entry : fs::directory_iterator(base_)) {
      EXPECT_EQ(entry.path().filename().string(), "run") << "written beside the working folder";
    }
  }

 private:
  fs::path base_;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Documents

// An editor document in UTF-8 whose wrapper's first child is the first screen.
std::string EditorDocument(const std::string& screens) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ROOT>" + screens + "</ROOT>\n";
}

// A screen with one sprite whose left-down x is `x`.
std::string Screen(const std::string& name, const std::string& x = "1") {
  return "<MENU_MODULE ctr=\"1\">" + name + "<SPRITE_MODULE ld.x=\"" + x + "\"/></MENU_MODULE>";
}

// The menu document of Screen(name, x): declaration, the root with its six attributes in
// the store's order, the sprite, and the closing zero byte.
std::string MenuFile(const std::string& x = "1") {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n") +
         "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"1\" on_create_anim=\"\">\r\n" +
         "    <sprite rect=\"" + x + ",,,,,,,\"/>\r\n</menu>" + std::string(1, '\0');
}

// A text table file: FF FE, then per record the key's units, TAB, the text's units, CR LF,
// every unit little-endian. Keys and texts here are ASCII.
std::string TableFile(const std::vector<std::pair<std::string, std::string>>& records) {
  auto units = [](const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
      bytes += c;
      bytes += '\0';
    }
    return bytes;
  };
  std::string file = "\xFF\xFE";
  for (const auto& [key, text] : records) file += units(key) + units("\t") + units(text) + units("\r\n");
  return file;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What stderr must hold: exact lines. A saved menu file that fails shows the file name, the
// message and the reason; then the run shows its own message.
std::vector<std::string> SaveFailure(const std::string& fileName, const std::string& reason) {
  return {fileName + kSaveFailed, "  " + reason, kConvertFailed};
}

std::vector<std::string> TableFailure(const std::string& reason) {
  return {"menus_txts.txt: Cannot save text file", "  " + reason};
}

void ExpectStderr(const Outcome& outcome, const std::vector<std::string>& lines) {
  const std::vector<std::string> got = Lines(outcome.err);
  EXPECT_EQ(got.size(), lines.size()) << "stderr:\n" << Shorten(outcome.err);
  for (std::size_t i = 0; i < got.size() && i < lines.size(); ++i) {
    EXPECT_EQ(Shorten(got[i]), Shorten(lines[i])) << "stderr line " << i;
    if (got[i].size() > 80) {
      EXPECT_TRUE(got[i] == lines[i]) << "stderr line " << i;
    }
  }
}

// After a run the working folder holds what it held before with `changes` applied, no
// temporary file is left, and nothing was written beside the folder.
void ExpectFolderAfterRun(const Workspace& space, const Tree& before, const Tree& changes) {
  Tree want = before;
  for (const auto& [name, entry] : changes) want[name] = entry;
  const Tree after = TreeOf(space.path());
  EXPECT_EQ(Leftovers(after), std::vector<std::string>{});
  ExpectTree(after, want);
  space.ExpectNothingBeside();
}

// ---------------------------------------------------------------------------------------
// 1. Write errors: a file size limit makes writes past it fail with EFBIG.

struct LimitCase {
  const char* name;
  std::string inputName;  // a name without "." runs no text-table step
  std::string input;
  Tree laid;     // besides the input
  rlim_t limit;  // bytes
  int exitStatus;
  std::vector<std::string> stderrLines;
  Tree changes;  // entries that are new or differ afterwards
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

// Sizes of the hand-written files the limits are set against.
const std::size_t kSmallMenu = MenuFile("1").size();
const std::string kWideX(3000, 'w');  // makes a menu document of some 3 KB

std::vector<std::pair<std::string, std::string>> ManyRecords(int count) {
  std::vector<std::pair<std::string, std::string>> records;
  for (int i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "k%04d", i);
    records.emplace_back(key, "text of record " + std::to_string(i));
  }
  return records;
}

const std::string kOldTable = TableFile({{"a", "old"}});
const std::string kFirstTable = TableFile(ManyRecords(300));  // some 20 KB

std::vector<std::pair<std::string, std::string>> MergedRecords() {
  std::vector<std::pair<std::string, std::string>> merged = {{"a", "old"}};
  for (const auto& r : ManyRecords(300)) merged.push_back(r);
  return merged;
}

const std::vector<LimitCase>& LimitCases() {
  static const std::vector<LimitCase> cases = {
      {"new_menu_over_the_limit",
       "screens",
       EditorDocument(Screen("big", kWideX)),
       {},
       1024,
       1,
       SaveFailure("big.xml", "File too large"),
       {}},
      {"existing_menu_over_the_limit_is_kept",
       "screens",
       EditorDocument(Screen("big", kWideX)),
       {{"big.xml", File("the older menu document\n")}},
       1024,
       1,
       SaveFailure("big.xml", "File too large"),
       {}},
      {"existing_menu_one_byte_over_the_limit_is_kept",
       "screens",
       EditorDocument(Screen("menu")),
       {{"menu.xml", File("older")}},
       kSmallMenu - 1,
       1,
       SaveFailure("menu.xml", "File too large"),
       {}},
      {"new_menu_one_byte_over_the_limit",
       "screens",
       EditorDocument(Screen("menu")),
       {},
       kSmallMenu - 1,
       1,
       SaveFailure("menu.xml", "File too large"),
       {}},
      {"menu_exactly_at_the_limit_is_written",
       "screens",
       EditorDocument(Screen("menu")),
       {{"menu.xml", File("older")}},
       kSmallMenu,
       0,
       {},
       {{"menu.xml", File(MenuFile("1"))}}},
      // A new file begun through a link is removed again; the link stays.
      {"new_menu_through_a_link_over_the_limit",
       "screens",
       EditorDocument(Screen("big", kWideX)),
       {{"out", "folder"}, {"big.xml", Link("out/new.xml")}},
       1024,
       1,
       SaveFailure("big.xml", "File too large"),
       {}},
      {"existing_menu_through_a_link_over_the_limit",
       "screens",
       EditorDocument(Screen("big", kWideX)),
       {{"out", "folder"}, {"out/old.xml", File("older")}, {"big.xml", Link("out/old.xml")}},
       1024,
       1,
       SaveFailure("big.xml", "File too large"),
       {}},
      {"second_of_three_over_the_limit",
       "screens",
       EditorDocument(Screen("first") + Screen("big", kWideX) + Screen("third")),
       {{"big.xml", File("older big")}},
       1024,
       1,
       SaveFailure("big.xml", "File too large"),
       {{"first.xml", File(MenuFile("1"))}}},
      // The text table: the menu fits, the merged table does not. The run fails, since a
      // build would otherwise ship stale texts, and the old table stays as it was.
      {"table_over_the_limit_is_kept",
       "menus.xml",
       EditorDocument(Screen("menu")),
       {{"menus.txt", File(kFirstTable)}, {"menus_txts.txt", File(kOldTable)}},
       4096,
       1,
       TableFailure("File too large"),
       {{"menu.xml", File(MenuFile("1"))}}},
      {"new_table_over_the_limit_is_not_left_behind",
       "menus.xml",
       EditorDocument(Screen("menu")),
       {{"menus.txt", File(kFirstTable)}},
       4096,
       1,
       TableFailure("File too large"),
       {{"menu.xml", File(MenuFile("1"))}}},
      {"table_within_the_limit_is_rewritten",
       "menus.xml",
       EditorDocument(Screen("menu")),
       {{"menus.txt", File(kFirstTable)}, {"menus_txts.txt", File(kOldTable)}},
       1 << 20,
       0,
       {},
       {{"menu.xml", File(MenuFile("1"))}, {"menus_txts.txt", File(TableFile(MergedRecords()))}}},
  };
  return cases;
}

class FaultWriteLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(FaultWriteLimitTest, FailsCleanlyAndKeepsOlderFiles) {
  const LimitCase& c = GetParam();
  Workspace space;
  Tree before = c.laid;
  before[c.inputName] = File(c.input);
  Lay(space.path(), before);

  const Outcome outcome = RunMenuconv(space.path(), {c.inputName}, c.limit);
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, c.exitStatus) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  ExpectStderr(outcome, c.stderrLines);

  ExpectFolderAfterRun(space, before, c.changes);
}

INSTANTIATE_TEST_SUITE_P(Fault, FaultWriteLimitTest, ::testing::ValuesIn(LimitCases()),
                         [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

// Names and paths come from the document: whatever bytes they hold, each message and warning
// stays one line of its own (control bytes show as "?") and a warning shows 200 bytes of a
// name at most.
struct ForgedLineCase {
  const char* name;
  std::string input;
  int exitStatus;
  std::vector<std::string> stderrLines;
};

TEST(FaultMessages, DataNeverAddsALineOrSteersTheTerminal) {
  const std::string longName(100000, 'n');
  const std::vector<ForgedLineCase> cases = {
      {"picture name forging an error line",
       "<MENU_MODULE>m<SPRITE_MODULE _keyImg=\"x\nError: Cannot reparsing file!\"/></MENU_MODULE>",
       0,
       {"menus:1:38: warning: the value of attribute \"_keyImg\" holds a line break: is its closing quote missing?",
        "menus:1:15: warning: picture \"x?Error: Cannot reparsing file!\" is not defined in the picture list"}},
      {"escape sequence in a module and a screen name",
       "<MENU_MODULE>\x1b[2Jm<\x1b[2J_MODULE/></MENU_MODULE>",
       0,
       {"menus:1:19: warning: screen \"?[2Jm\": ?[2J_MODULE is not converted"}},
      {"DEL and C1 controls, CSI U+009B among them, as UTF-8 and as undefined windows-1252 bytes",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><MENU_MODULE>m<SPRITE_MODULE _keyImg=\"a\x7F\xC2\x9B"
       "2J\xC2\x85z\xC2\xA0\"/></MENU_MODULE>",
       0,
       {"menus:1:53: warning: picture \"a??2J?z\xC2\xA0\" is not defined in the picture list"}},
      {"C1 bytes of a single-byte code page",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><MENU_MODULE>m<SPRITE_MODULE _keyImg=\"a\x81\x9D\x80\"/>"
       "</MENU_MODULE>",
       0,
       {"menus:1:60: warning: picture \"a??\xE2\x82\xAC\" is not defined in the picture list"}},
      {"long picture name",
       "<MENU_MODULE>m<SPRITE_MODULE _keyImg=\"" + longName + "\"/></MENU_MODULE>",
       0,
       {"menus:1:15: warning: picture \"" + longName.substr(0, 200) + "...\" is not defined in the picture list"}},
      {"control bytes in a file that cannot be saved (blanks leave screen names)",
       "<MENU_MODULE>missing/a\x1b[2J\x07</MENU_MODULE>",
       1,
       {"missing/a?[2J?.xml: Cannot save menu file", "  No such file or directory", kConvertFailed}},
  };
  for (const ForgedLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace space;
    Lay(space.path(), {{"menus", File(c.input)}});
    const Outcome outcome = RunMenuconv(space.path(), {"menus"});
    EXPECT_EQ(outcome.exitStatus, c.exitStatus);
    ExpectStderr(outcome, c.stderrLines);
  }
}

// Memory that runs out anywhere in the run, on either thread, ends in the failure message of
// the step it hit and exit status 1, never in a crash; a run that gets through is complete.
// (The sanitizers reserve more address space than any limit here leaves.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(FaultMemoryLimit, ExhaustedMemoryIsAFailureMessage) {
  std::string widgets;
  for (int i = 0; i < 200000; ++i) widgets += "<SPRITE_MODULE _keyImg=\"p\" ld.x=\"" + std::to_string(i) + "\"/>";
  const std::string input =
      "<MENU_MODULE>big" + widgets +
      "</MENU_MODULE><PICTURES_MODULE><IMAGE_MODULE path=\"p.png\">p</IMAGE_MODULE></PICTURES_MODULE>";
  int failed = 0;
  for (const rlim_t megabytes : {40, 60, 80, 100, 130, 170, 220, 400}) {
    SCOPED_TRACE(std::to_string(megabytes) + " MB");
    Workspace space;
    Lay(space.path(), {{"menus.xml", File(input)}});
    const Outcome outcome = RunMenuconv(space.path(), {"menus.xml"}, std::nullopt, 30, false, megabytes << 20);
    ASSERT_FALSE(outcome.timedOut);
    ASSERT_TRUE(outcome.exitStatus == 0 || outcome.exitStatus == 1) << outcome.exitStatus << "\n" << outcome.err;
    const Tree after = TreeOf(space.path());
    if (outcome.exitStatus == 1) {
      ++failed;
      EXPECT_TRUE(outcome.err.rfind(kLoadFailed + "\n", 0) == 0 || outcome.err.rfind(kConvertFailed + "\n", 0) == 0)
          << outcome.err;
      // Nothing half-written is left: the menu document is there complete or not at all.
      for (const auto& [name, entry] : after) EXPECT_TRUE(name == "menus.xml" || name == "big.xml") << name;
    } else {
      EXPECT_EQ(outcome.err, "");
    }
    if (after.count("big.xml")) {
      const std::string& menu = after.at("big.xml");
      EXPECT_EQ(menu.substr(menu.size() - 8), std::string("</menu>\0", 8)) << "cut short";
    }
  }
  EXPECT_GT(failed, 0) << "no limit was tight enough to exercise the failure";
}
#endif

// A replaced file keeps its permissions; a failed replacement leaves them alone too.
TEST(FaultReplace, KeepsThePermissionsOfTheReplacedFile) {
  struct Case {
    const char* file;
    mode_t mode;
    std::optional<rlim_t> limit;
    std::string want;  // the file's bytes afterwards
  };
  const std::string older = TableFile({{"a", "old"}});
  const std::vector<Case> cases = {
      {"menu.xml", 0600, std::nullopt, MenuFile()},
      {"menu.xml", 0751, std::nullopt, MenuFile()},
      {"menu.xml", 0444, std::nullopt, MenuFile()},
      {"menu.xml", 0640, kSmallMenu - 1, older},
      {"menus_txts.txt", 0600, std::nullopt, TableFile({{"a", "old"}, {"b", "new"}})},
      {"menus_txts.txt", 0604, std::nullopt, TableFile({{"a", "old"}, {"b", "new"}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " mode " + std::to_string(c.mode));
    Workspace space;
    WriteFile(space / "menus.xml", EditorDocument(Screen("menu")));
    WriteFile(space / "menus.txt", TableFile({{"b", "new"}}));
    WriteFile(space / c.file, older);
    ASSERT_EQ(::chmod((space / c.file).c_str(), c.mode), 0);
    const Outcome outcome = RunMenuconv(space.path(), {"menus.xml"}, c.limit);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitStatus, c.limit ? 1 : 0) << outcome.err;
    struct stat info {};
    ASSERT_EQ(::stat((space / c.file).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_TRUE(ReadFile(space / c.file) == c.want);
    EXPECT_EQ(Leftovers(TreeOf(space.path())), std::vector<std::string>{});
  }
}

// An input larger than the program reads (4 GiB) is refused before anything is read: a
// sparse file costs no disk.
TEST(FaultInputLimit, InputBeyondFourGibibytesIsRefused) {
  Workspace space;
  const std::uintmax_t size = (std::uintmax_t{5} << 30) + 7;
  WriteFile(space / "menus.xml", EditorDocument(Screen("menu")));
  fs::resize_file(space / "menus.xml", size);
  const Outcome outcome = RunMenuconv(space.path(), {"menus.xml"});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, 1);
  ExpectStderr(outcome, {kLoadFailed, "  menus.xml: file too large"});
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(space.path())) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"menus.xml"});
  EXPECT_EQ(fs::file_size(space / "menus.xml"), size);
}

// Started with stdout and stderr closed, the run writes the same files: no message or
// warning lands in a file that happens to take the number of stderr.
TEST(FaultClosedOutputs, FilesAreWrittenAsUsual) {
  struct Case {
    const char* name;
    std::string input;
    int exitStatus;
    Tree written;
  };
  const std::string warned = "<MENU_MODULE ctr=\"1\">a<UNKNOWN_MODULE/><SPRITE_MODULE ld.x=\"1\"/></MENU_MODULE>";
  const std::vector<Case> cases = {
      {"warnings",
       EditorDocument(warned + warned),
       0,
       {{"a.xml", File(MenuFile())}, {"menus_txts.txt", File(TableFile({{"a", "A"}, {"b", "B"}}))}}},
      {"failed_save", EditorDocument(Screen("first") + Screen("missing/second")), 1, {{"first.xml", File(MenuFile())}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace space;
    Tree want = {{"menus.xml", File(c.input)},
                 {"menus.txt", File(TableFile({{"b", "B"}}))},
                 {"menus_txts.txt", File(TableFile({{"a", "A"}}))}};
    Lay(space.path(), want);
    const Outcome outcome = RunMenuconv(space.path(), {"menus.xml"}, std::nullopt, 10, true);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitStatus, c.exitStatus);
    for (const auto& [name, entry] : c.written) want[name] = entry;
    ExpectTree(TreeOf(space.path()), want);
  }
}

// ---------------------------------------------------------------------------------------
// 2. Odd output targets and odd inputs.

struct TargetCase {
  const char* name;
  std::string inputName;
  std::string input;  // empty: the case's preparation makes the input
  std::function<void(const fs::path&)> prepare;
  int exitStatus;
  std::vector<std::string> stderrLines;
  Tree changes;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

void MakeFolder(const fs::path& p) { fs::create_directories(p); }
void MakeLink(const std::string& target, const fs::path& link) { fs::create_symlink(target, link); }
void MakeFifo(const fs::path& p) {
  if (::mkfifo(p.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
}

const std::vector<TargetCase>& TargetCases() {
  static const std::vector<TargetCase> cases = {
      // Menu documents.
      {"menu_name_is_a_folder",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "screen.xml");
         WriteFile(run / "screen.xml" / "inside.txt", "kept");
       },
       1,
       SaveFailure("screen.xml", "Is a directory"),
       {}},
      {"menu_name_links_into_a_missing_folder",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeLink("missing/target.xml", run / "screen.xml"); },
       1,
       SaveFailure("screen.xml", "No such file or directory"),
       {}},
      {"menu_name_links_to_a_new_file_in_a_folder",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "out");
         MakeLink("out/new.xml", run / "screen.xml");
       },
       0,
       {},
       {{"out/new.xml", File(MenuFile())}}},
      {"menu_name_links_to_an_existing_file",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "out");
         WriteFile(run / "out" / "old.xml", "older");
         MakeLink("out/old.xml", run / "screen.xml");
       },
       0,
       {},
       {{"out/old.xml", File(MenuFile())}}},
      {"menu_name_links_to_a_folder",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "out");
         MakeLink("out", run / "screen.xml");
       },
       1,
       SaveFailure("screen.xml", "Is a directory"),
       {}},
      // A link that leads nowhere is not replaced, whether it dangles or loops.
      {"menu_name_is_a_link_to_itself",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeLink("screen.xml", run / "screen.xml"); },
       1,
       SaveFailure("screen.xml", "Too many levels of symbolic links"),
       {}},
      {"menu_in_a_missing_folder",
       "screens",
       EditorDocument(Screen("nofolder/screen")),
       [](const fs::path&) {},
       1,
       SaveFailure("nofolder/screen.xml", "No such file or directory"),
       {}},
      {"menu_in_a_folder_that_is_a_file",
       "screens",
       EditorDocument(Screen("plain/screen")),
       [](const fs::path& run) { WriteFile(run / "plain", "a file"); },
       1,
       SaveFailure("plain/screen.xml", "Not a directory"),
       {}},
      // Only regular files are replaced: a FIFO of the name stays, and the save fails instead
      // of waiting for a reader.
      {"menu_name_is_a_fifo",
       "screens",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeFifo(run / "screen.xml"); },
       1,
       SaveFailure("screen.xml", "not a regular file"),
       {}},
      // Inputs.
      {"input_is_a_folder",
       "menus.xml",
       "",
       [](const fs::path& run) { MakeFolder(run / "menus.xml"); },
       1,
       {kLoadFailed, "  menus.xml: Is a directory"},
       {}},
      {"input_is_a_fifo_without_writer",
       "menus.xml",
       "",
       [](const fs::path& run) { MakeFifo(run / "menus.xml"); },
       1,
       {kLoadFailed, "  menus.xml: not a regular file"},
       {}},
      {"input_is_a_dangling_link",
       "menus.xml",
       "",
       [](const fs::path& run) { MakeLink("missing/menus.xml", run / "menus.xml"); },
       1,
       {kLoadFailed, "  menus.xml: No such file or directory"},
       {}},
      {"input_is_a_link_to_itself",
       "menus.xml",
       "",
       [](const fs::path& run) { MakeLink("menus.xml", run / "menus.xml"); },
       1,
       {kLoadFailed, "  menus.xml: Too many levels of symbolic links"},
       {}},
      {"input_is_a_device",
       "/dev/null",
       "",
       [](const fs::path&) {},
       1,
       {kLoadFailed, "  /dev/null: not a regular file"},
       {}},
      {"input_through_a_link_is_read",
       "menus.xml",
       "",
       [](const fs::path& run) {
         MakeFolder(run / "in");
         WriteFile(run / "in" / "real.xml", EditorDocument(Screen("screen")));
         MakeLink("in/real.xml", run / "menus.xml");
       },
       0,
       {},
       {{"screen.xml", File(MenuFile())}, {"menus_txts.txt", File("\xFF\xFE")}}},
      // The text tables beside the input.
      {"table_is_a_folder",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "menus_txts.txt");
         WriteFile(run / "menus_txts.txt" / "inside.txt", "kept");
       },
       1,
       {"menus_txts.txt: Cannot load text file", "  Is a directory"},
       {{"screen.xml", File(MenuFile())}}},
      {"table_is_a_fifo",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeFifo(run / "menus_txts.txt"); },
       1,
       {"menus_txts.txt: Cannot load text file", "  not a regular file"},
       {{"screen.xml", File(MenuFile())}}},
      {"first_table_is_a_fifo",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFifo(run / "menus.txt");
         WriteFile(run / "menus_txts.txt", TableFile({{"b", "B"}, {"a", "A"}}));
       },
       1,
       {"menus.txt: Cannot load text file", "  not a regular file"},
       {{"screen.xml", File(MenuFile())}}},
      {"first_table_is_a_folder",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "menus.txt");
         WriteFile(run / "menus_txts.txt", TableFile({{"b", "B"}, {"a", "A"}}));
       },
       1,
       {"menus.txt: Cannot load text file", "  Is a directory"},
       {{"screen.xml", File(MenuFile())}}},
      {"table_is_a_link_to_itself",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeLink("menus_txts.txt", run / "menus_txts.txt"); },
       1,
       {"menus_txts.txt: Cannot load text file", "  Too many levels of symbolic links"},
       {{"screen.xml", File(MenuFile())}}},
      {"table_links_into_a_missing_folder",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) { MakeLink("missing/t.txt", run / "menus_txts.txt"); },
       1,
       TableFailure("No such file or directory"),
       {{"screen.xml", File(MenuFile())}}},
      {"table_links_to_an_existing_file",
       "menus.xml",
       EditorDocument(Screen("screen")),
       [](const fs::path& run) {
         MakeFolder(run / "out");
         WriteFile(run / "out" / "t.txt", TableFile({{"z", "Z"}, {"y", "Y"}}));
         MakeLink("out/t.txt", run / "menus_txts.txt");
       },
       0,
       {},
       {{"screen.xml", File(MenuFile())}, {"out/t.txt", File(TableFile({{"y", "Y"}, {"z", "Z"}}))}}},
  };
  return cases;
}

class FaultTargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(FaultTargetTest, ReportsAndDoesNotHang) {
  const TargetCase& c = GetParam();
  Workspace space;
  if (!c.input.empty()) WriteFile(space / c.inputName, c.input);
  c.prepare(space.path());
  const Tree before = TreeOf(space.path());

  const Outcome outcome = RunMenuconv(space.path(), {c.inputName});
  ASSERT_FALSE(outcome.timedOut) << "menuconv did not end";
  EXPECT_EQ(outcome.exitStatus, c.exitStatus) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  ExpectStderr(outcome, c.stderrLines);

  ExpectFolderAfterRun(space, before, c.changes);
}

INSTANTIATE_TEST_SUITE_P(Fault, FaultTargetTest, ::testing::ValuesIn(TargetCases()),
                         [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

// A menu name that links to a character device (here a node like /dev/full, made in the
// working folder) must leave the device in place: the save fails, as a write into a full
// device does, instead of a regular file taking the node's place.
TEST(FaultDeviceTarget, LinkToADeviceKeepsTheDevice) {
  Workspace space;
  if (::mknod((space / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  }
  MakeLink("full", space / "screen.xml");
  WriteFile(space / "screens", EditorDocument(Screen("screen")));
  const Outcome outcome = RunMenuconv(space.path(), {"screens"});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, 1);
  const std::vector<std::string> lines = Lines(outcome.err);
  ASSERT_EQ(lines.size(), 3u) << outcome.err;
  EXPECT_EQ(lines[0], "screen.xml" + kSaveFailed);
  EXPECT_EQ(lines[2], kConvertFailed);
  struct stat info {};
  ASSERT_EQ(::lstat((space / "full").c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(info.st_rdev, ::makedev(1, 7));
  EXPECT_EQ(Describe(space / "screen.xml"), "link:full");
  EXPECT_EQ(Leftovers(TreeOf(space.path())), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------
// 3. Hostile menu names. "@RUN@" stands for the working folder's absolute path.

struct NameCase {
  const char* name;
  std::string screenText;            // as it stands in the editor document
  std::vector<std::string> folders;  // made before the run
  Tree laid;                         // laid before the run
  // Where the menu document goes (relative to the working folder), or empty when the save
  // must fail with `reason`.
  std::string savedAs;
  std::string reason;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

const std::string kLeaves = "the name leaves the current folder";
const std::string kTooLong = "File name too long";

// 251 bytes and ".xml" make the longest name a folder entry can have.
const std::string kLongest(251, 'n');

std::string DeepPath(std::size_t bytes) {
  std::string path;
  while (path.size() + 2 <= bytes) path += "d/";
  return path + "x";
}

const std::vector<NameCase>& NameCases() {
  static const std::vector<NameCase> cases = {
      {"parent_first", "../up", {}, {}, "", kLeaves},
      {"parent_inside", "sub/../../up", {"sub"}, {}, "", kLeaves},
      {"parent_after_a_folder", "sub/..", {"sub"}, {}, "sub/...xml", ""},
      {"two_dots_alone", "..", {}, {}, "...xml", ""},
      {"one_dot_alone", ".", {}, {}, "..xml", ""},
      {"three_dots_folder", ".../x", {"..."}, {}, ".../x.xml", ""},
      {"backslash_parent_is_a_plain_name", "..\\up", {}, {}, "..\\up.xml", ""},
      {"absolute", "@RUN@/abs", {}, {}, "", kLeaves},
      {"absolute_double_slash", "//@RUN@/abs", {}, {}, "", kLeaves},
      {"empty", "", {}, {}, ".xml", ""},
      {"trailing_slash", "sub/", {"sub"}, {}, "sub/.xml", ""},
      {"doubled_slash", "sub//x", {"sub"}, {}, "sub/x.xml", ""},
      {"control_byte",
       "a\x01"
       "b",
       {},
       {},
       "a\x01"
       "b.xml",
       ""},
      {"escape_sequence", "\x1B[31mred\x1B[0m", {}, {}, "\x1B[31mred\x1B[0m.xml", ""},
      {"delete_byte", "a\x7F", {}, {}, "a\x7F.xml", ""},
      {"longest_file_name", kLongest, {}, {}, kLongest + ".xml", ""},
      {"longest_file_name_replaced", kLongest, {}, {{kLongest + ".xml", File("older")}}, kLongest + ".xml", ""},
      {"one_byte_too_long", kLongest + "n", {}, {}, "", kTooLong},
      {"300_bytes", std::string(300, 'n'), {}, {}, "", kTooLong},
      {"5000_bytes", std::string(5000, 'n'), {}, {}, "", kTooLong},
      {"path_of_5000_bytes", DeepPath(5000), {}, {}, "", kTooLong},
  };
  return cases;
}

class FaultNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FaultNameTest, SavesOrFailsCleanly) {
  const NameCase& c = GetParam();
  Workspace space;
  const std::string run = space.path().string();
  for (const std::string& folder : c.folders) MakeFolder(space / folder);
  Lay(space.path(), c.laid);
  const std::string text = Replace(c.screenText, "@RUN@", run);
  WriteFile(space / "screens", EditorDocument(Screen(text)));
  const Tree before = TreeOf(space.path());

  const Outcome outcome = RunMenuconv(space.path(), {"screens"});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.out, "");
  Tree changes;
  if (!c.savedAs.empty()) {
    EXPECT_EQ(outcome.exitStatus, 0);
    ExpectStderr(outcome, {});
    changes[c.savedAs] = File(MenuFile());
  } else {
    EXPECT_EQ(outcome.exitStatus, 1);
    ExpectStderr(outcome, SaveFailure(text + ".xml", c.reason));
  }
  ExpectFolderAfterRun(space, before, changes);
}

INSTANTIATE_TEST_SUITE_P(Fault, FaultNameTest, ::testing::ValuesIn(NameCases()),
                         [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// 4. Large inputs, at sizes that keep the suite quick. Outputs are checked, not times.

constexpr std::size_t kDeep = 100000;
constexpr std::size_t kMany = 100000;
constexpr std::size_t kHuge = 10u << 20;

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// `count` attributes named x0, x1, ... (or with another prefix) each with the value v.
std::string Attributes(std::size_t count, const std::string& prefix = "x") {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " " + prefix + std::to_string(i) + "=\"v\"";
  return out;
}

// The menu document of one screen with ctr `ctr` and the given children lines.
std::string MenuWith(const std::string& ctr, const std::string& children) {
  std::string file =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
      "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"" +
      ctr + "\" on_create_anim=\"\"";
  file += children.empty() ? "/>" : ">" + children + "\r\n</menu>";
  file += '\0';
  return file;
}

// A screen and a sprite with many attributes each, the sprite's in two runs of names.
std::string ManyAttributesDocument() {
  return EditorDocument("<MENU_MODULE" + Attributes(kMany) + " ctr=\"9\">wide<SPRITE_MODULE ld.x=\"5\"" +
                        Attributes(kMany / 2) + " _colObj=\"0\"" + Attributes(kMany / 2, "y") +
                        " ld.y=\"6\" ld.x=\"late\"/></MENU_MODULE>");
}

struct ExtremeCase {
  const char* name;
  std::string inputName;
  std::function<Tree()> lay;      // the files before the run (the input among them)
  std::function<Tree()> written;  // the files the run creates or rewrites
  std::function<std::vector<std::string>()> warnings = [] { return std::vector<std::string>(); };  // stderr
};

void PrintTo(const ExtremeCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ExtremeCase>& ExtremeCases() {
  static const std::vector<ExtremeCase> cases = {
      {"deep_nesting_before_a_widget", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">deep" + Repeat("<a>", kDeep) +
                                             Repeat("</a>", kDeep) + "<SPRITE_MODULE ld.x=\"2\"/></MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"deep.xml", File(MenuWith("1", "\r\n    <sprite rect=\"2,,,,,,,\"/>"))}};
       }},
      {"deep_nesting_inside_a_widget", "screens",
       [] {
         return Tree{{"screens", File(EditorDocument(
                                     "<MENU_MODULE ctr=\"1\">deep<SPRITE_MODULE ld.x=\"3\">t" +
                                     Repeat("<SPRITE_MODULE>", kDeep) + Repeat("</SPRITE_MODULE>", kDeep) +
                                     "</SPRITE_MODULE><SPRITE_MODULE ld.x=\"8\"/></MENU_MODULE>" + Screen("after")))}};
       },
       [] {
         return Tree{{"deep.xml", File(MenuWith("1",
                                                "\r\n    <sprite rect=\"3,,,,,,,\">t</sprite>"
                                                "\r\n    <sprite rect=\"8,,,,,,,\"/>"))},
                     {"after.xml", File(MenuFile())}};
       }},
      {"screen_at_the_end_of_a_deep_chain", "screens",
       [] {
         return Tree{{"screens", File("<?xml version=\"1.0\" encoding=\"utf-8\"?>" + Repeat("<a>", kDeep) +
                                      Screen("chain", "4") + Repeat("</a>", kDeep))}};
       },
       [] {
         return Tree{{"chain.xml", File(MenuFile("4"))}};
       }},
      {"many_attributes", "screens",
       [] {
         return Tree{{"screens", File(ManyAttributesDocument())}};
       },
       [] {
         return Tree{{"wide.xml", File(MenuWith("9", "\r\n    <sprite color=\"255,0,0,0\" rect=\"5,6,,,,,,\"/>"))}};
       },
       [] {
         // One repeated name among them all, on the second line: its first value counts.
         const std::string document = ManyAttributesDocument();
         const std::size_t line = document.find('\n') + 1;
         const std::size_t column = document.find("ld.x=\"late\"") - line + 1;
         return std::vector<std::string>{"screens:2:" + std::to_string(column) +
                                         ": warning: attribute \"ld.x\" given again: its first value \"5\" counts, "
                                         "not \"late\""};
       }},
      {"many_children", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">many" +
                                             Repeat("<SPRITE_MODULE ld.x=\"1\"/>", kMany) + "</MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"many.xml", File(MenuWith("1", Repeat("\r\n    <sprite rect=\"1,,,,,,,\"/>", kMany)))}};
       }},
      {"huge_attribute_value", "screens",
       [] {
         return Tree{{"screens", File(EditorDocument(Screen("huge", Repeat("0123456789", kHuge / 10))))}};
       },
       [] {
         return Tree{{"huge.xml", File(MenuFile(Repeat("0123456789", kHuge / 10)))}};
       }},
      // The blanks of an element text are dropped, however long the text.
      {"huge_text", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">long<SPRITE_MODULE>" +
                                             Repeat("012345678 ", kHuge / 10) + "</SPRITE_MODULE></MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"long.xml", File(MenuWith("1", "\r\n    <sprite rect=\",,,,,,,\">" +
                                                         Repeat("012345678", kHuge / 10) + "</sprite>"))}};
       }},
      {"many_screens", "screens",
       [] {
         std::string screens;
         for (std::size_t i = 0; i < 5000; ++i) screens += Screen("s" + std::to_string(i));
         return Tree{{"screens", File(EditorDocument(screens))}};
       },
       [] {
         Tree files;
         for (std::size_t i = 0; i < 5000; ++i) files["s" + std::to_string(i) + ".xml"] = File(MenuFile());
         return files;
       }},
      // Records in descending order come out ascending.
      {"many_records", "menus.xml",
       [] {
         std::vector<std::pair<std::string, std::string>> records;
         for (std::size_t i = kMany; i-- > 0;)
           records.emplace_back("k" + std::to_string(1000000 + i), "t" + std::to_string(i));
         return Tree{{"menus.xml", File(EditorDocument(Screen("menu")))}, {"menus.txt", File(TableFile(records))}};
       },
       [] {
         std::vector<std::pair<std::string, std::string>> records;
         for (std::size_t i = 0; i < kMany; ++i)
           records.emplace_back("k" + std::to_string(1000000 + i), "t" + std::to_string(i));
         return Tree{{"menu.xml", File(MenuFile())}, {"menus_txts.txt", File(TableFile(records))}};
       }},
      {"long_keys", "menus.xml",
       [] {
         return Tree{{"menus.xml", File(EditorDocument(Screen("menu")))},
                     {"menus.txt", File(TableFile({{std::string(kMany, 'K') + "b", "second"},
                                                   {std::string(kMany, 'K'), "first"},
                                                   {"A", std::string(kMany, 'T')}}))}};
       },
       [] {
         return Tree{{"menu.xml", File(MenuFile())},
                     {"menus_txts.txt", File(TableFile({{"A", std::string(kMany, 'T')},
                                                        {std::string(kMany, 'K'), "first"},
                                                        {std::string(kMany, 'K') + "b", "second"}}))}};
       }},
  };
  return cases;
}

class FaultExtremeTest : public ::testing::TestWithParam<ExtremeCase> {};

TEST_P(FaultExtremeTest, ConvertsWhole) {
  const ExtremeCase& c = GetParam();
  Workspace space;
  Tree want = c.lay();
  Lay(space.path(), want);

  const Outcome outcome = RunMenuconv(space.path(), {c.inputName}, std::nullopt, 120);
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.out, "");
  ExpectStderr(outcome, c.warnings());
  for (auto& [name, entry] : c.written()) want[name] = std::move(entry);
  ExpectTree(TreeOf(space.path()), want);
  space.ExpectNothingBeside();
}

INSTANTIATE_TEST_SUITE_P(Fault, FaultExtremeTest, ::testing::ValuesIn(ExtremeCases()),
                         [](const ::testing::TestParamInfo<ExtremeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace menuconv
