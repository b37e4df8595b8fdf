// Faults and limits of the whole program: write errors (a file size limit set in the child
// before it starts) while a menu document is saved and while the text table is rewritten,
// forged message lines, exhausted memory, permissions of replaced files, closed outputs.
//
// Every case runs the menuconv executable in a fresh folder and compares everything in that
// folder afterwards with what the case expects, entry by entry. A child that does not end
// within its time is killed and the case fails.
#include <gtest/gtest.h>

#include "tests/fault_support.h"

namespace menuconv {
namespace {

using namespace fault_tests;

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
  for (const rlim_t megabytes : {20, 30, 40, 60, 80, 100, 130, 170, 220, 400}) {
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

}  // namespace
}  // namespace menuconv
