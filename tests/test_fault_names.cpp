// Hostile menu names: parent references, absolute paths, control bytes, names longer than a
// file name may be.
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

}  // namespace
}  // namespace menuconv
