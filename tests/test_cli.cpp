// The command line as a build pipeline uses it: each option through the real executable, in
// a fresh folder holding the shipped example (three screens in windows-1251 and its two text
// tables), every file compared byte for byte afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/run_process.h"
#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

const fs::path kExample = fs::path(MENUCONV_TEST_DATA) / ".." / ".." / "examples";
const std::vector<std::string> kScreens = {"main_menu.xml", "options.xml", "loading.xml"};

// Every regular file below the folder: relative path to its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).generic_string()] = *ReadBytes(entry.path());
  }
  return files;
}

struct CliCase {
  const char* label;
  std::vector<std::string> args;
  int exitStatus;
  std::string out;         // stdout, whole
  std::string errStart;    // the start of stderr
  std::string menuFolder;  // where the menus land ("" for the current folder), or "-" for nowhere
  bool tableRewritten;     // menus_txts.txt holds the merged table afterwards
};

TEST(CommandLine, EachOptionDoesWhatItSays) {
  const std::string usage = "usage: menuconv";
  const std::vector<CliCase> cases = {
      {"plain run", {"menus.xml"}, 0, "", "", "", true},
      {"no argument at all", {}, 2, "", "menuconv: no input document\n\n" + usage, "-", false},
      {"options without a path", {"--strict"}, 2, "", "menuconv: no input document", "-", false},
      {"unknown option", {"-x", "menus.xml"}, 2, "", "menuconv: unknown option -x\n\n" + usage, "-", false},
      {"unknown long option",
       {"--outputs=out", "menus.xml"},
       2,
       "",
       "menuconv: unknown option --outputs=out",
       "-",
       false},
      {"-o without a folder", {"-o"}, 2, "", "menuconv: -o needs a folder", "-", false},
      {"output folder that is not there",
       {"-o", "missing", "menus.xml"},
       2,
       "",
       "menuconv: the output folder missing is not a folder",
       "-",
       false},
      {"-o", {"-o", "out", "menus.xml"}, 0, "", "", "out", true},
      {"--output-dir", {"--output-dir=out/", "menus.xml"}, 0, "", "", "out", true},
      {"--list-outputs",
       {"--list-outputs", "menus.xml"},
       0,
       "main_menu.xml\noptions.xml\nloading.xml\nmenus_txts.txt\n",
       "",
       "-",
       false},
      {"--list-outputs with a folder",
       {"--list-outputs", "-o", "out", "menus.xml"},
       0,
       "out/main_menu.xml\nout/options.xml\nout/loading.xml\nmenus_txts.txt\n",
       "",
       "-",
       false},
      {"--verbose",
       {"-v", "menus.xml"},
       0,
       "",
       "menuconv: 3 screens converted, 4 files written, 10 text records merged, 10 written, 0 warnings, ",
       "",
       true},
      {"--strict without warnings", {"--strict", "menus.xml"}, 0, "", "", "", true},
      {"options only at the start", {"menus.xml", "--strict"}, 1, "", "Error: Cannot load file", "-", false},
      {"-- ends the options", {"--", "-v"}, 1, "", "Error: Cannot load file", "-", false},
      {"--help wins", {"--help", "-x"}, 0, usage, "", "-", false},
  };
  const std::string table = *ReadBytes((kExample / "menus_txts.txt").string());
  for (const CliCase& c : cases) {
    SCOPED_TRACE(c.label);
    testing_support::TempFolder folder("menuconv-cli");
    for (const char* name : {"menus.xml", "menus.txt", "menus_txts.txt"}) {
      WriteBytes(folder.PathOf(name), *ReadBytes((kExample / name).string()));
    }
    fs::create_directory(folder.path() / "out");
    const auto outcome = testing_support::RunMenuconv(folder.path(), c.args);
    EXPECT_EQ(outcome.exitStatus, c.exitStatus) << outcome.err;
    if (c.args.size() > 0 && c.args[0] == "--help") {
      EXPECT_EQ(outcome.out.rfind(c.out, 0), 0u) << outcome.out;
    } else {
      EXPECT_EQ(outcome.out, c.out);
    }
    EXPECT_EQ(outcome.err.rfind(c.errStart, 0), 0u) << outcome.err;
    if (c.errStart.empty()) {
      EXPECT_EQ(outcome.err, "");
    }

    std::map<std::string, std::string> expected = {{"menus.xml", *ReadBytes((kExample / "menus.xml").string())},
                                                   {"menus.txt", *ReadBytes((kExample / "menus.txt").string())},
                                                   {"menus_txts.txt", table}};
    if (c.tableRewritten) expected["menus_txts.txt"] = *ReadBytes((kExample / "expected" / "menus_txts.txt").string());
    if (c.menuFolder != "-") {
      const std::string prefix = c.menuFolder.empty() ? "" : c.menuFolder + "/";
      for (const std::string& screen : kScreens) {
        expected[prefix + screen] = *ReadBytes((kExample / "expected" / screen).string());
      }
    }
    const auto after = FilesBelow(folder.path());
    std::vector<std::string> names, wanted;
    for (const auto& entry : after) names.push_back(entry.first);
    for (const auto& entry : expected) wanted.push_back(entry.first);
    EXPECT_EQ(names, wanted);
    for (const auto& [name, bytes] : expected) {
      EXPECT_TRUE(after.count(name) && after.at(name) == bytes) << name << " differs";
    }
  }
}

// --strict fails a run that warned, after it did everything it would have done.
TEST(CommandLine, StrictTurnsWarningsIntoFailure) {
  testing_support::TempFolder folder("menuconv-cli");
  WriteBytes(folder.PathOf("menus"), "<MENU_MODULE>m<SPRITE_MODULE _keyImg=\"nowhere\"/></MENU_MODULE>");
  for (const bool strict : {false, true}) {
    std::vector<std::string> args = {"menus"};
    if (strict) args.insert(args.begin(), "--strict");
    const auto outcome = testing_support::RunMenuconv(folder.path(), args);
    EXPECT_EQ(outcome.exitStatus, strict ? 1 : 0) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("menus:1:15: warning: picture \"nowhere\" is not defined in the picture list\n", 0), 0u)
        << outcome.err;
    EXPECT_EQ(outcome.err.find("menuconv: 1 warnings fail the run (--strict)") != std::string::npos, strict);
    EXPECT_TRUE(ReadBytes(folder.PathOf("m.xml")).has_value());
  }
}

}  // namespace
}  // namespace menuconv
