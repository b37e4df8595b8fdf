// The command line as a build pipeline uses it: each option through the real executable, in
// a fresh folder holding the shipped example (three screens in windows-1251 and its two text
// tables), every file compared byte for byte afterwards.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
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
  const std::string tryHelp = "Try 'menuconv --help' for more information.\n";
  const std::vector<CliCase> cases = {
      {"plain run", {"menus.xml"}, 0, "", "", "", true},
      {"no argument at all", {}, 2, "", "menuconv: no input document\n" + tryHelp, "-", false},
      {"options without a path", {"--strict"}, 2, "", "menuconv: no input document\n" + tryHelp, "-", false},
      {"unknown option", {"-x", "menus.xml"}, 2, "", "menuconv: invalid option -- 'x'\n" + tryHelp, "-", false},
      {"unknown long option",
       {"--outputs=out", "menus.xml"},
       2,
       "",
       "menuconv: unrecognized option '--outputs'\n" + tryHelp,
       "-",
       false},
      {"unknown option in a bundle",
       {"-vx", "menus.xml"},
       2,
       "",
       "menuconv: invalid option -- 'x'\n" + tryHelp,
       "-",
       false},
      {"ambiguous abbreviation",
       {"--ver", "menus.xml"},
       2,
       "",
       "menuconv: option '--ver' is ambiguous\n" + tryHelp,
       "-",
       false},
      {"value given to a switch",
       {"--strict=yes", "menus.xml"},
       2,
       "",
       "menuconv: option '--strict' doesn't allow an argument\n" + tryHelp,
       "-",
       false},
      {"-o without a folder", {"-o"}, 2, "", "menuconv: option requires an argument -- 'o'\n" + tryHelp, "-", false},
      {"--texts-out without a file", {"menus.xml", "--texts-out"}, 1, "", "Error: Cannot load file", "-", false},
      {"--depfile at the end",
       {"--depfile"},
       2,
       "",
       "menuconv: option '--depfile' requires an argument\n" + tryHelp,
       "-",
       false},
      {"empty folder",
       {"-o", "", "menus.xml"},
       2,
       "",
       "menuconv: option '-o' requires a non-empty argument\n" + tryHelp,
       "-",
       false},
      {"empty table name",
       {"--texts-out=", "menus.xml"},
       2,
       "",
       "menuconv: option '--texts-out' requires a non-empty argument\n" + tryHelp,
       "-",
       false},
      {"output folder that is not there",
       {"-o", "missing", "menus.xml"},
       2,
       "",
       "menuconv: the output folder missing is not a folder\n" + tryHelp,
       "-",
       false},
      {"- alone is a path", {"-v", "-", "menus.xml"}, 1, "", "Error: Cannot load file", "-", false},
      {"-oDIR", {"-oout", "menus.xml"}, 0, "", "", "out", true},
      {"bundled -vo DIR",
       {"-vo", "out", "menus.xml"},
       0,
       "",
       "menuconv: 3 screens converted, 4 files written",
       "out",
       true},
      {"--output-dir DIR", {"--output-dir", "out", "menus.xml"}, 0, "", "", "out", true},
      {"abbreviated --output", {"--output=out", "menus.xml"}, 0, "", "", "out", true},
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
    if (c.errStart.empty() || c.exitStatus == 2) {
      EXPECT_EQ(outcome.err, c.errStart);  // usage errors are one line and the hint, whole
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

#ifdef MENUCONV_ICU_LIBRARY
// ICU is loaded when a code page without a table of its own is first converted. Where it
// cannot be (here: a file of its name that is no library comes first on the search path), a
// Shift-JIS document fails to load with the reason and nothing is written; a windows-1251 and
// a UTF-8 one convert as ever.
TEST(CommandLine, CodePageWithoutItsLibraryFailsCleanly) {
  testing_support::TempFolder folder("menuconv-cli");
  WriteBytes(folder.PathOf(MENUCONV_ICU_LIBRARY), "not a library");
  for (const char* name : {"menus.xml", "menus.txt", "menus_txts.txt"}) {
    WriteBytes(folder.PathOf(name), *ReadBytes((kExample / name).string()));
  }
  WriteBytes(folder.PathOf("utf8.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\"?><MENU_MODULE>m</MENU_MODULE>");
  WriteBytes(folder.PathOf("sjis.xml"), "<?xml version=\"1.0\" encoding=\"shift_jis\"?><MENU_MODULE>s</MENU_MODULE>");
  const char* const kept = std::getenv("LD_LIBRARY_PATH");
  const std::string saved = kept ? kept : "";
  ::setenv("LD_LIBRARY_PATH", folder.path().c_str(), 1);
  const auto shiftJis = testing_support::RunMenuconv(folder.path(), {"sjis.xml"});
  const auto windows1251 = testing_support::RunMenuconv(folder.path(), {"--texts-out", "merged.txt", "menus.xml"});
  const auto utf8 = testing_support::RunMenuconv(folder.path(), {"utf8.xml"});
  kept ? ::setenv("LD_LIBRARY_PATH", saved.c_str(), 1) : ::unsetenv("LD_LIBRARY_PATH");

  EXPECT_EQ(shiftJis.exitStatus, 1) << shiftJis.err;
  EXPECT_EQ(shiftJis.err,
            "Error: Cannot load file, check file exist!\n  sjis.xml: the code page 932 cannot be converted\n");
  EXPECT_FALSE(fs::exists(folder.path() / "s.xml"));
  EXPECT_EQ(windows1251.exitStatus, 0) << windows1251.err;
  for (const std::string& screen : kScreens) {
    EXPECT_EQ(ReadBytes(folder.PathOf(screen)), ReadBytes((kExample / "expected" / screen).string())) << screen;
  }
  EXPECT_EQ(ReadBytes(folder.PathOf("merged.txt")), ReadBytes((kExample / "expected" / "menus_txts.txt").string()));
  EXPECT_EQ(utf8.exitStatus, 0) << utf8.err;
  EXPECT_TRUE(ReadBytes(folder.PathOf("m.xml")).has_value());
}
#endif

// The options a build step uses: the table into the build folder, a dependency file, and
// outputs that did not change left alone, time stamps included; nothing beside the input is
// written.
TEST(CommandLine, BuildStepWritesOnlyIntoTheBuildFolder) {
  testing_support::TempFolder folder("menuconv-cli");
  fs::create_directories(folder.path() / "src");
  for (const char* name : {"menus.xml", "menus.txt", "menus_txts.txt"}) {
    WriteBytes(folder.PathOf(std::string("src/") + name), *ReadBytes((kExample / name).string()));
  }
  fs::create_directories(folder.path() / "b u#i$ld");
  const auto sources = FilesBelow(folder.path() / "src");
  const std::vector<std::string> args = {"--keep-unchanged", "-o",         "b u#i$ld",     "--texts-out=b u#i$ld/t.txt",
                                         "--depfile",        "b u#i$ld/d", "src/menus.xml"};
  const auto first = testing_support::RunMenuconv(folder.path(), args);
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_EQ(FilesBelow(folder.path() / "src"), sources);
  const auto built = FilesBelow(folder.path() / "b u#i$ld");
  EXPECT_EQ(built.at("t.txt"), *ReadBytes((kExample / "expected" / "menus_txts.txt").string()));
  for (const std::string& screen : kScreens) {
    EXPECT_EQ(built.at(screen), *ReadBytes((kExample / "expected" / screen).string())) << screen;
  }
  EXPECT_EQ(built.at("d"),
            "b\\ u\\#i$$ld/main_menu.xml \\\n b\\ u\\#i$$ld/options.xml \\\n b\\ u\\#i$$ld/loading.xml \\\n"
            " b\\ u\\#i$$ld/t.txt: \\\n src/menus.xml \\\n src/menus.txt \\\n src/menus_txts.txt\n");

  // A second run over the same input keeps every output as it is.
  std::map<std::string, fs::file_time_type> stamps;
  for (const auto& [name, bytes] : built) {
    if (name != "d") fs::last_write_time(folder.path() / "b u#i$ld" / name, fs::file_time_type{});
    stamps[name] = fs::last_write_time(folder.path() / "b u#i$ld" / name);
  }
  const auto second = testing_support::RunMenuconv(folder.path(), args);
  ASSERT_EQ(second.exitStatus, 0) << second.err;
  EXPECT_EQ(FilesBelow(folder.path() / "b u#i$ld"), built);
  for (const auto& [name, stamp] : stamps) {
    if (name != "d") {
      EXPECT_EQ(fs::last_write_time(folder.path() / "b u#i$ld" / name), stamp) << name;
    }
  }
}

// A listing fails where the run fails, and a list that cannot be written is no success.
TEST(CommandLine, ListingAgreesWithTheRun) {
  testing_support::TempFolder folder("menuconv-cli");
  WriteBytes(folder.PathOf("menus.xml"), "<MENU_MODULE>a</MENU_MODULE><MENU_MODULE>sub/x</MENU_MODULE>");
  for (const bool list : {true, false}) {
    const auto outcome =
        testing_support::RunMenuconv(folder.path(), list ? std::vector<std::string>{"--list-outputs", "menus.xml"}
                                                         : std::vector<std::string>{"menus.xml"});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err,
              "sub/x.xml: Cannot save menu file\n  No such file or directory\nError: Cannot reparsing file!\n");
  }
  fs::remove(folder.PathOf("a.xml"));
  fs::create_directory(folder.path() / "sub");
  const std::string command =
      "cd '" + folder.path().string() + "' && '" + MENUCONV_EXE + "' --list-outputs -v menus.xml >/dev/full 2>err";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::string err = *ReadBytes(folder.PathOf("err"));
  EXPECT_EQ(err.rfind("menuconv: write error: No space left on device\n", 0), 0u) << err;
  EXPECT_NE(err.find(" 3 files would be written,"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(folder.path() / "a.xml"));
}

}  // namespace
}  // namespace menuconv
