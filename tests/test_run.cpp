// End-to-end runs of the menuconv executable.
//
// Each case of tests/data/e2e/<case>/ has
//   input/     the files laid into a fresh working folder before the run (sub-folders too;
//              "@TMP@" in them stands for the working folder's absolute path), and
//   expected/  every file the run must create or rewrite, byte for byte.
// The run takes place in that working folder as its current folder. Afterwards every file in
// it must be either an expected file with the expected bytes, or an input file left exactly
// as it was laid, and no file may appear beside the working folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/run_process.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;

const fs::path kCaseRoot = fs::path(MENUCONV_TEST_DATA) / "e2e";
const fs::path kExampleFolder = fs::path(MENUCONV_TEST_DATA) / ".." / ".." / "examples";
constexpr const char* kTmpMark = "@TMP@";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Every regular file below the folder: relative path (with "/") to its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).generic_string()] = ReadFile(entry.path());
    }
  }
  return files;
}

// Where two byte strings part, for a readable failure.
std::string FirstDifference(const std::string& got, const std::string& want) {
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  std::ostringstream s;
  s << "sizes " << got.size() << " (got) and " << want.size() << " (want), first difference at byte " << i
    << "\n  got:  [" << got.substr(i > 40 ? i - 40 : 0, 100) << "]\n  want: [" << want.substr(i > 40 ? i - 40 : 0, 100)
    << "]";
  return s.str();
}

// '*' matches any run of bytes.
bool GlobMatch(const std::string& pattern, const std::string& text) {
  std::size_t p = 0, t = 0, star = std::string::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

using RunResult = testing_support::Outcome;

// A fresh folder with the working folder "run" inside it, removed afterwards.
class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "menuconv-run-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::create_directory(run());
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  fs::path base() const { return base_; }
  fs::path run() const { return base_ / "run"; }

  // Runs the executable with the arguments, in the working folder.
  RunResult Run(const std::vector<std::string>& args) const {
    RunResult result = testing_support::RunMenuconv(run(), args);
    EXPECT_FALSE(result.timedOut) << "menuconv did not end";
    return result;
  }

 private:
  fs::path base_;
};

struct RunCase {
  const char* name;               // folder under tests/data/e2e
  std::vector<std::string> args;  // "@TMP@" stands for the working folder
  int exitStatus;
  // The whole of stderr, line by line, as patterns ('*' matches anything, for the system's
  // reasons; "@TMP@" the working folder).
  std::vector<std::string> err;
  // How many of those lines point at a place in the document, as compilers write it.
  std::size_t located = 0;
};

// Failures name the case, not its bytes.
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

const std::string kLoadFailed = "Error: Cannot load file, check file exist!";
const std::string kConvertFailed = "Error: Cannot reparsing file!";

// What an editor or a CI annotator looks for to point at a line.
const std::regex kLocatedMessage("^[^:]+:[0-9]+:[0-9]+: (warning|error): ");

const std::vector<RunCase>& Cases() {
  static const std::vector<RunCase> cases = {
      // Translations, one screen each; input paths without "." run no text-table step.
      {"widget_kinds", {"menus"}, 0, {}},
      {"sprite_colours", {"menus"}, 0, {}},
      {"modes_and_grids",
       {"menus"},
       0,
       {"menus:10:1: warning: picture \"Lower\" is not defined in the picture list",
        "menus:14:1: warning: picture \"deep\" is not defined in the picture list",
        "menus:15:1: warning: picture \"small\" is not defined in the picture list",
        "menus:16:1: warning: picture \"two words\" is not defined in the picture list"},
       4},
      {"joined_values",
       {"menus"},
       0,
       {"menus:17:1: warning: picture \"nopic\" is not defined in the picture list",
        "menus:19:1: warning: picture \"nomask\" is not defined in the picture list"},
       2},
      {"control_details",
       {"menus"},
       0,
       {"menus:7:1: warning: picture \"nobar\" is not defined in the picture list",
        "menus:8:1: warning: picture \"nocenter\" is not defined in the picture list"},
       2},
      {"quoting",
       {"menus"},
       0,
       {"menus:6:40: warning: the value of attribute \"_keyText\" holds \"<\": is its closing quote missing?"},
       1},
      // Screens, the root and the walk.
      {"root_and_screens", {"menus"}, 0, {}},
      {"skipped_modules",
       {"menus"},
       0,
       {"menus:5:1: warning: screen \"skipped\": UNKNOWN_MODULE is not converted",
        "menus:6:1: warning: screen \"skipped\": IMAGE_MODULE is not converted"},
       2},
      {"duplicate_screens",
       {"menus"},
       0,
       {"menus:5:1: warning: this screen writes same.xml again and replaces an earlier screen's file",
        "menus:6:1: warning: this screen writes ./other.xml again and replaces an earlier screen's file"},
       2},
      {"walk_nested",
       {"menus"},
       0,
       {"menus:4:74: warning: picture \"other\" is not defined in the picture list",
        "menus:4:122: warning: picture \"far\" is not defined in the picture list"},
       2},
      {"walk_top_level", {"menus"}, 0, {}},
      {"undeclared_encoding", {"menus"}, 0, {}},
      // A UTF-8 document's screen name is the file's name in the narrow encoding.
      {"cyrillic_utf8", {"menus"}, 0, {}},
      // A windows-1251 document's names reach the messages as narrow text.
      {"cyrillic_warnings",
       {"menus"},
       0,
       {"menus:4:1: warning: picture \"фон\" is not defined in the picture list",
        "menus:6:1: warning: screen \"меню\": ЩИТ_MODULE is not converted"},
       2},
      {"blank_in_path", {"my", "menus"}, 0, {}},
      {"text_tables", {"menus.xml"}, 0, {}},
      {"subfolder_names", {"menus"}, 0, {}},
      // Warnings point at the "<" of the module, the first use of a picture, the later screen;
      // the line break inside the screen's text "fi rst" still counts, and a tab is one column.
      {"located_warnings",
       {"menus"},
       0,
       {"menus:6:3: warning: picture \"nopic\" is not defined in the picture list",
        "menus:8:3: warning: screen \"first\": FOO_MODULE is not converted",
        "menus:11:2: warning: this screen writes first.xml again and replaces an earlier screen's file"},
       3},
      // What the parser reads past: the outputs are what they were, the warnings say where.
      {"parser_repairs",
       {"menus"},
       0,
       {"menus:4:27: warning: attribute \"ld.x\" given again: its first value \"1\" counts, not \"2\"",
        "menus:5:36: warning: the value of attribute \"_keyText\" holds \"<\": is its closing quote missing?",
        "menus:5:42: warning: end tag \"TEXT\" closes the element \"TEXT_MODULE\"",
        "menus:6:35: warning: the value of attribute \"_keyText\" holds a line break: is its closing quote missing?"},
       4},
      // A misspelt windows-1251 is read as utf-8: five Cyrillic bytes, five invalid sequences.
      {"unknown_encoding",
       {"--strict", "menus"},
       1,
       {"menus:1:30: warning: unknown encoding \"windows1251\", read as utf-8",
        "menus:2:14: warning: 5 byte sequences invalid in utf-8 were replaced, the first here",
        "menuconv: 2 warnings fail the run (--strict)"},
       2},
      // A warning about a whole file names the file alone.
      {"table_left_alone",
       {"menus.xml"},
       0,
       {"menus_txts.txt: warning: not rewritten: no UTF-16 little-endian byte-order mark (FF FE)"}},
      // Failures.
      {"missing_file", {"nosuch.xml"}, 1, {kLoadFailed, "  nosuch.xml: *"}},
      // An empty word is an empty path (no word at all is a usage error).
      {"empty_path", {""}, 1, {kLoadFailed, "  : *"}},
      {"quoted_path", {"\"menus.xml\""}, 1, {kLoadFailed, "  \"menus.xml\": *"}},
      {"empty_file", {"menus.xml"}, 1, {kLoadFailed, "  menus.xml: the file is empty"}},
      {"no_menu_module",
       {"menus.xml"},
       1,
       {kConvertFailed, "  menus.xml: no MENU_MODULE on the chain of first elements"}},
      {"no_element", {"menus.xml"}, 1, {kConvertFailed, "  menus.xml: the document holds no element"}},
      {"save_fails_second_of_three",
       {"menus.xml"},
       1,
       {"missing/second.xml: Cannot save menu file", "  *", kConvertFailed}},
      // A value that is never closed is pointed at by its opening quote.
      {"truncated_input",
       {"menus.xml"},
       1,
       {kConvertFailed, "menus.xml:4:51: error: the text ended inside an attribute value"},
       1},
      // Columns count the file's bytes: five Cyrillic letters are five windows-1251 bytes.
      {"truncated_1251",
       {"menus.xml"},
       1,
       {kConvertFailed, "menus.xml:2:45: error: the text ended inside an attribute value"},
       1},
      {"unclosed_comment", {"menus"}, 1, {kConvertFailed, "menus:3:3: error: the text ended inside a comment"}, 1},
      {"unclosed_element",
       {"menus"},
       1,
       {kConvertFailed, "menus:2:1: error: the text ended inside the element \"ROOT\""},
       1},
      {"unclosed_tag_name", {"menus"}, 1, {kConvertFailed, "menus:4:3: error: the text ended inside a tag name"}, 1},
      {"name_absolute", {"menus.xml"}, 1, {"@TMP@/absolute.xml: Cannot save menu file", "  *", kConvertFailed}},
      {"name_parent_inside",
       {"menus.xml"},
       1,
       {"sub/../escaped.xml: Cannot save menu file", "  the name leaves the current folder", kConvertFailed}},
      {"name_parent_first",
       {"menus.xml"},
       1,
       {"../escaped.xml: Cannot save menu file", "  the name leaves the current folder", kConvertFailed}},
  };
  return cases;
}

void CheckRun(const RunCase& c, const fs::path& caseFolder) {
  Workspace space;
  const std::string tmp = space.run().string();
  const auto input = FilesBelow(caseFolder / "input");
  const auto expected = FilesBelow(caseFolder / "expected");
  std::map<std::string, std::string> laid;
  for (const auto& [name, bytes] : input) {
    if (fs::path(name).filename() == ".keep") {
      fs::create_directories(space.run() / fs::path(name).parent_path());
      continue;  // only keeps an otherwise empty folder in the source tree
    }
    laid[name] = Replace(bytes, kTmpMark, tmp);
    WriteFile(space.run() / name, laid[name]);
  }
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(Replace(a, kTmpMark, tmp));

  const RunResult result = space.Run(args);
  SCOPED_TRACE(std::string("case ") + c.name + "\nstderr:\n" + result.err);

  EXPECT_EQ(result.exitStatus, c.exitStatus);
  EXPECT_EQ(result.out, "") << "a run prints nothing on stdout";

  // Messages and warnings: the whole of stderr, and every message that points into the
  // document is found by the pattern editors and CI annotators use.
  const std::vector<std::string> lines = Lines(result.err);
  ASSERT_EQ(lines.size(), c.err.size());
  std::size_t located = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(GlobMatch(Replace(c.err[i], kTmpMark, tmp), lines[i]))
        << "line " << i << ": [" << lines[i] << "] does not match [" << c.err[i] << "]";
    located += std::regex_search(lines[i], kLocatedMessage) ? 1 : 0;
  }
  EXPECT_EQ(located, c.located);

  // Files.
  const auto after = FilesBelow(space.run());
  for (const auto& [name, bytes] : after) {
    const auto want = expected.find(name);
    if (want != expected.end()) {
      EXPECT_TRUE(bytes == want->second) << name << ": " << FirstDifference(bytes, want->second);
      continue;
    }
    const auto before = laid.find(name);
    if (before == laid.end()) {
      ADD_FAILURE() << "unexpected file " << name;
    } else {
      EXPECT_TRUE(bytes == before->second)
          << "input " << name << " was changed: " << FirstDifference(bytes, before->second);
    }
  }
  for (const auto& [name, bytes] : expected) {
    EXPECT_EQ(after.count(name), 1u) << "missing file " << name;
  }
  for (const auto& [name, bytes] : laid) {
    if (!expected.count(name)) {
      EXPECT_EQ(after.count(name), 1u) << "input " << name << " was removed";
    }
  }
  // Nothing beside the working folder but the captured output.
  for (const auto& entry : fs::directory_iterator(space.base())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "run") << "written outside: " << name;
  }
}

class RunEndToEndTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunEndToEndTest, WritesExactlyTheExpectedFiles) {
  const RunCase& c = GetParam();
  const fs::path folder = kCaseRoot / c.name;
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  CheckRun(c, folder);
}

INSTANTIATE_TEST_SUITE_P(RunCases, RunEndToEndTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// Every case folder has its row, so that no golden file goes unused.
TEST(RunEndToEndCases, EveryCaseFolderIsRun) {
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(kCaseRoot)) {
    if (entry.is_directory()) folders.push_back(entry.path().filename().string());
  }
  std::vector<std::string> listed;
  for (const RunCase& c : Cases()) listed.emplace_back(c.name);
  std::sort(folders.begin(), folders.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(folders, listed);
}

struct OptionCase {
  std::vector<std::string> args;
  const char* stdoutPattern;
};

TEST(RunOptions, HelpAndVersionPrintAndWriteNothing) {
  const std::vector<OptionCase> cases = {
      {{"--help"}, "usage: menuconv *"},
      {{"-h"}, "usage: menuconv *"},
      {{"--version"}, "menuconv *"},
  };
  for (const OptionCase& c : cases) {
    Workspace space;
    // Taken for a path, the option would name this document and write "written.xml".
    WriteFile(space.run() / c.args[0], "<MENU_MODULE>written</MENU_MODULE>");
    const RunResult result = space.Run(c.args);
    EXPECT_EQ(result.exitStatus, 0) << c.args[0];
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_FALSE(lines.empty()) << c.args[0];
    EXPECT_TRUE(GlobMatch(c.stdoutPattern, lines[0])) << c.args[0] << ": " << lines[0];
    EXPECT_EQ(result.err, "") << c.args[0];
    EXPECT_EQ(FilesBelow(space.run()).size(), 1u) << c.args[0];
  }
}

// The example shipped beside the sources: three screens in windows-1251 and the two text
// tables; its expected output is kept in examples/expected.
TEST(ExampleDocument, ConvertsToTheShippedExpectedFiles) {
  Workspace space;
  for (const char* name : {"menus.xml", "menus.txt", "menus_txts.txt"}) {
    WriteFile(space.run() / name, ReadFile(kExampleFolder / name));
  }
  const RunResult result = space.Run({"menus.xml"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  const auto expected = FilesBelow(kExampleFolder / "expected");
  ASSERT_EQ(expected.size(), 4u);
  const auto after = FilesBelow(space.run());
  EXPECT_EQ(after.size(), 6u);  // the three inputs (one rewritten) and three menus
  for (const auto& [name, bytes] : expected) {
    const auto got = after.find(name);
    ASSERT_NE(got, after.end()) << "missing " << name;
    EXPECT_TRUE(got->second == bytes) << name << ": " << FirstDifference(got->second, bytes);
  }
  EXPECT_TRUE(after.at("menus.txt") == ReadFile(kExampleFolder / "menus.txt"));
  EXPECT_TRUE(after.at("menus.xml") == ReadFile(kExampleFolder / "menus.xml"));
}

}  // namespace
}  // namespace menuconv
