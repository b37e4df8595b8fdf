// Odd output targets (folders, symbolic links, FIFOs, devices, missing folders) and odd
// inputs (folders, FIFOs, devices, broken links).
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

}  // namespace
}  // namespace menuconv
