#include "app/text_table_step.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

// Bytes written as hexadecimal pairs, blanks ignored: "FF FE 6B 00".
constexpr auto Hex = testing_support::BytesFromHex;

// Records as they appear in the files.
const char* const kMark = "FF FE";
const char* const kRecordKA = " 6B 00 09 00 41 00 0D 00 0A 00";  // k TAB A CR LF
const char* const kRecordKB = " 6B 00 09 00 42 00 0D 00 0A 00";  // k TAB B CR LF
const char* const kRecordMC = " 6D 00 09 00 43 00 0D 00 0A 00";  // m TAB C CR LF

std::string Table(std::initializer_list<const char*> records) {
  std::string hex = kMark;
  for (const char* record : records) hex += record;
  return Hex(hex);
}

// Runs in a fresh folder that is the current directory, with a fresh process-wide table
// and the warnings recorded.
class TextTableStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::MakeTempFolder("menuconv-step");
    previous_ = fs::current_path();
    fs::current_path(folder_);
    ProcessTextTable().Clear();
    platform::SetWarningSink([this](const std::string& text) { warnings_.push_back(text); });
  }
  void TearDown() override {
    platform::SetWarningSink({});
    ProcessTextTable().Clear();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Every file below the folder with its bytes; folders map to "<dir>".
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      const std::string name = fs::relative(entry.path(), folder_).string();
      files[name] = entry.is_directory() ? "<dir>" : ReadBytes(entry.path().string()).value();
    }
    return files;
  }

  fs::path folder_;
  fs::path previous_;
  std::vector<std::string> warnings_;
};

TEST_F(TextTableStepTest, BaseIsThePathBeforeItsLastDot) {
  struct Case {
    const char* path;
    std::optional<std::string> base;
  };
  const std::vector<Case> cases = {
      {"menus.xml", "menus"},
      {"a.b.c", "a.b"},
      {"data.old/menus", "data"},
      {"data.old\\menus", "data"},
      {"./menus", ""},
      {".\\menus", ""},
      {"dir/.menus", "dir/"},
      {"menus.", "menus"},
      {"menus", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string base = "stale";
    EXPECT_EQ(TextTableBase(c.path, base), c.base.has_value());
    if (c.base) {
      EXPECT_EQ(base, *c.base);
    }
  }
}

TEST_F(TextTableStepTest, MergesAndRewritesTheSecondTable) {
  struct Case {
    const char* name;
    std::optional<std::string> first;   // menus.txt; none: no file
    std::optional<std::string> second;  // menus_txts.txt; none: no file
    std::string rewritten;
  };
  const std::vector<Case> cases = {
      {"neither file", std::nullopt, std::nullopt, Hex("FF FE")},
      {"both mark only", Hex("FF FE"), Hex("FF FE"), Hex("FF FE")},
      {"first file only", Table({kRecordKA}), std::nullopt, Table({kRecordKA})},
      {"second file only", std::nullopt, Table({kRecordKB}), Table({kRecordKB})},
      {"first file wins", Table({kRecordKA}), Table({kRecordKB}), Table({kRecordKA})},
      {"first file wins, other keys stay", Table({kRecordKA}), Table({kRecordKB, kRecordMC}), Table({kRecordKA, kRecordMC})},
      {"empty text in the first file", Table({" 6B 00 09 00 0D 00 0A 00"}), Table({kRecordKB}),
       Table({kRecordKB})},
      {"empty texts disappear", std::nullopt,
       Table({" 61 00 09 00 0D 00 0A 00", kRecordKB, " 7A 00 09 00 0D 00 0A 00"}), Table({kRecordKB})},
      {"sorted by key", std::nullopt, Table({kRecordMC, kRecordKA}), Table({kRecordKA, kRecordMC})},
      {"big-endian first file contributes nothing",
       Hex("FE FF 00 6B 00 09 00 41 00 0D 00 0A"), Table({kRecordKB}), Table({kRecordKB})},
      {"UTF-8 first file contributes nothing", Hex("6B 09 41 0D 0A"), std::nullopt, Hex("FF FE")},
      {"empty second file", Table({kRecordKA}), "", Table({kRecordKA})},
      {"last record without CR", std::nullopt, Hex("FF FE 6B 00 09 00 41 00"), Table({kRecordKA})},
      {"CR without LF", std::nullopt,
       Hex("FF FE 6D 00 09 00 43 00 0D 00 6B 00 09 00 41 00 0D 00"), Table({kRecordKA, kRecordMC})},
      {"TAB inside a text", std::nullopt,
       Hex("FF FE 6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00"),
       Hex("FF FE 6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00")},
      {"non-ASCII keys", std::nullopt,
       Hex("FF FE 16 04 09 00 41 00 0D 00 0A 00 E9 00 09 00 42 00 0D 00 0A 00"),
       Hex("FF FE E9 00 09 00 42 00 0D 00 0A 00 16 04 09 00 41 00 0D 00 0A 00")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessTextTable().Clear();
    fs::remove("menus.txt");
    fs::remove("menus_txts.txt");
    if (c.first) WriteBytes("menus.txt", *c.first);
    if (c.second) WriteBytes("menus_txts.txt", *c.second);
    RunTextTableStep("menus.xml");
    EXPECT_EQ(ReadBytes("menus_txts.txt"), c.rewritten);
    EXPECT_EQ(ReadBytes("menus.txt"), c.first);
    EXPECT_EQ(warnings_, std::vector<std::string>{});
  }
}

// The step's reading may happen long before its writing (while the document is converted).
// Whatever happened to the files in between, the outcome is that of the step done at the end.
TEST_F(TextTableStepTest, FilesChangedBetweenReadingAndWritingAreReadAgain) {
  struct Case {
    const char* name;
    std::function<void()> change;  // what happens between the halves
    std::string rewritten;         // menus_txts.txt afterwards
    std::vector<std::string> warnings;
  };
  const std::string notATable = "<?xml version=\"1.0\"?>";
  const std::vector<Case> cases = {
      {"nothing changes", [] {}, Table({kRecordKA, kRecordMC}), {}},
      {"the first file is replaced by a menu document",
       [&] { WriteBytes("menus.txt.new", notATable); fs::rename("menus.txt.new", "menus.txt"); },
       Table({kRecordKB, kRecordMC}), {}},
      {"the second file is replaced by a menu document",
       [&] { WriteBytes("menus_txts.txt.new", notATable); fs::rename("menus_txts.txt.new", "menus_txts.txt"); },
       notATable,
       {"menus_txts.txt: not rewritten: no UTF-16 little-endian byte-order mark (FF FE)"}},
      {"the first file is removed", [] { fs::remove("menus.txt"); }, Table({kRecordKB, kRecordMC}), {}},
      {"the first file is rewritten in place with other records",
       [] { WriteBytes("menus.txt", Table({kRecordMC, " 7A 00 09 00 5A 00 0D 00 0A 00"})); },
       Table({kRecordKB, kRecordMC, " 7A 00 09 00 5A 00 0D 00 0A 00"}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessTextTable().Clear();
    warnings_.clear();
    WriteBytes("menus.txt", Table({kRecordKA}));
    WriteBytes("menus_txts.txt", Table({kRecordKB, kRecordMC}));
    const PreparedTextTables prepared = PrepareTextTableStep("menus.xml", ProcessTextTable());
    c.change();
    FinishTextTableStep("menus.xml", prepared, ProcessTextTable());
    EXPECT_EQ(ReadBytes("menus_txts.txt"), c.rewritten);
    EXPECT_EQ(warnings_, c.warnings);
  }
}

TEST_F(TextTableStepTest, SecondTableThatIsNoTableIsNotRewritten) {
  struct Case {
    const char* name;
    std::string second;
    std::string reason;
  };
  const std::string mark = "no UTF-16 little-endian byte-order mark (FF FE)";
  const std::vector<Case> cases = {
      {"UTF-8", Hex("6B 09 41 0D 0A"), mark},
      {"UTF-8 with its mark", Hex("EF BB BF 6B 09 41 0D 0A"), mark},
      {"big-endian", Hex("FE FF 00 6B 00 09 00 41 00 0D 00 0A"), mark},
      {"one byte", Hex("FF"), mark},
      {"U+0000 before the end", Hex("FF FE 6D 00 09 00 43 00 0D 00 0A 00 00 00 6B 00"),
       "reading stopped at a U+0000 unit at byte 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessTextTable().Clear();
    warnings_.clear();
    WriteBytes("menus.txt", Table({kRecordKA}));
    WriteBytes("menus_txts.txt", c.second);
    RunTextTableStep("menus.xml");
    EXPECT_EQ(ReadBytes("menus_txts.txt"), c.second);
    EXPECT_EQ(ReadBytes("menus.txt"), Table({kRecordKA}));
    EXPECT_EQ(warnings_, std::vector<std::string>{"menus_txts.txt: not rewritten: " + c.reason});
  }
}

TEST_F(TextTableStepTest, SecondTableThatIsAFolderStays) {
  fs::create_directory("menus_txts.txt");
  WriteBytes("menus_txts.txt/inside", "keep");
  WriteBytes("menus.txt", Table({kRecordKA}));
  const auto before = Snapshot();
  RunTextTableStep("menus.xml");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(warnings_, std::vector<std::string>{"menus_txts.txt: not rewritten: " +
                                                std::string(std::strerror(testing_support::kDirectoryError))});
}

TEST_F(TextTableStepTest, TableThatCannotBeWrittenIsSkippedQuietly) {
  // The folder of the tables does not exist: nothing is read, the write fails.
  const auto before = Snapshot();
  RunTextTableStep("missing/menus.xml");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(warnings_, std::vector<std::string>{});
}

TEST_F(TextTableStepTest, LastDotInsideAFolderName) {
  fs::create_directory("data.old");
  WriteBytes("data.txt", Table({kRecordKA}));
  WriteBytes("data_txts.txt", Table({kRecordKB, kRecordMC}));
  RunTextTableStep("data.old/menus");
  EXPECT_EQ(ReadBytes("data_txts.txt"), Table({kRecordKA, kRecordMC}));
  EXPECT_EQ(ReadBytes("data.txt"), Table({kRecordKA}));
  EXPECT_TRUE(fs::is_empty("data.old"));
  EXPECT_EQ(warnings_, std::vector<std::string>{});
}

TEST_F(TextTableStepTest, CurrentFolderMarkGivesAnEmptyBase) {
  WriteBytes(".txt", Table({kRecordKA}));
  WriteBytes("menus.txt", Table({kRecordMC}));
  RunTextTableStep("./menus");
  EXPECT_EQ(ReadBytes("_txts.txt"), Table({kRecordKA}));
  EXPECT_EQ(ReadBytes("menus.txt"), Table({kRecordMC}));
  EXPECT_FALSE(fs::exists("menus_txts.txt"));
}

TEST_F(TextTableStepTest, PathWithoutDotReadsAndWritesNothing) {
  WriteBytes("menus.txt", Table({kRecordKA}));
  WriteBytes("menus_txts.txt", Table({kRecordKB}));
  WriteBytes(".txt", Table({kRecordMC}));
  WriteBytes("_txts.txt", Hex("6B 09 41"));
  const auto before = Snapshot();
  RunTextTableStep("menus");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(ProcessTextTable().Empty());
  EXPECT_EQ(warnings_, std::vector<std::string>{});
}

TEST_F(TextTableStepTest, ProcessTableGrowsOverSteps) {
  WriteBytes("one.txt", Table({kRecordKA}));
  RunTextTableStep("one.xml");
  EXPECT_EQ(ReadBytes("one_txts.txt"), Table({kRecordKA}));
  WriteBytes("two.txt", Table({kRecordMC, kRecordKB}));
  RunTextTableStep("two.xml");
  // The table is never emptied: k keeps the text of the first step.
  EXPECT_EQ(ReadBytes("two_txts.txt"), Table({kRecordKA, kRecordMC}));
  ASSERT_NE(ProcessTextTable().Find(u"m"), nullptr);
  EXPECT_EQ(*ProcessTextTable().Find(u"m"), u"C");
}

TEST_F(TextTableStepTest, LocalTableLeavesTheProcessTableAlone) {
  WriteBytes("menus.txt", Table({kRecordKA}));
  TextTable local;
  RunTextTableStep("menus.xml", local);
  EXPECT_EQ(local.Size(), 1u);
  EXPECT_TRUE(ProcessTextTable().Empty());
  EXPECT_EQ(ReadBytes("menus_txts.txt"), Table({kRecordKA}));
}

}  // namespace
}  // namespace menuconv
