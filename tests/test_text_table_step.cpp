#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/text_table_step.h"
#include "tests/test_support.h"

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
const char* const kRecordZZ = " 7A 00 09 00 5A 00 0D 00 0A 00";  // z TAB Z CR LF

const std::string kNoMark = "no UTF-16 little-endian byte-order mark (FF FE)";

std::string Table(std::initializer_list<const char*> records) {
  std::string hex = kMark;
  for (const char* record : records) hex += record;
  return Hex(hex);
}

// Runs in a fresh folder that is the current directory.
class TextTableStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::MakeTempFolder("menuconv-step");
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  void TearDown() override {
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
};

TEST_F(TextTableStepTest, BaseIsThePathBeforeItsLastDot) {
  struct Case {
    const char* path;
    std::optional<std::string> base;
  };
  const std::vector<Case> cases = {
      {"menus.xml", "menus"},  {"a.b.c", "a.b"},   {"data.old/menus", "data"}, {"data.old\\menus", "data"},
      {"./menus", ""},         {".\\menus", ""},   {"dir/.menus", "dir/"},     {"menus.", "menus"},
      {"menus", std::nullopt}, {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(TextTableBase(c.path), c.base);
  }
}

TEST_F(TextTableStepTest, MergesAndRewritesTheSecondTable) {
  struct Case {
    const char* name;
    std::optional<std::string> first;   // menus.txt; none: no file
    std::optional<std::string> second;  // menus_txts.txt; none: no file
    std::string rewritten;
    std::size_t records;
  };
  const std::vector<Case> cases = {
      {"neither file", std::nullopt, std::nullopt, Hex("FF FE"), 0},
      {"both mark only", Hex("FF FE"), Hex("FF FE"), Hex("FF FE"), 0},
      {"first file only", Table({kRecordKA}), std::nullopt, Table({kRecordKA}), 1},
      {"second file only", std::nullopt, Table({kRecordKB}), Table({kRecordKB}), 1},
      {"first file wins", Table({kRecordKA}), Table({kRecordKB}), Table({kRecordKA}), 1},
      {"first file wins, other keys stay", Table({kRecordKA}), Table({kRecordKB, kRecordMC}),
       Table({kRecordKA, kRecordMC}), 2},
      {"empty text in the first file", Table({" 6B 00 09 00 0D 00 0A 00"}), Table({kRecordKB}), Table({kRecordKB}), 1},
      {"empty texts disappear", std::nullopt,
       Table({" 61 00 09 00 0D 00 0A 00", kRecordKB, " 7A 00 09 00 0D 00 0A 00"}), Table({kRecordKB}), 1},
      {"sorted by key", std::nullopt, Table({kRecordMC, kRecordKA}), Table({kRecordKA, kRecordMC}), 2},
      {"big-endian first file contributes nothing", Hex("FE FF 00 6B 00 09 00 41 00 0D 00 0A"), Table({kRecordKB}),
       Table({kRecordKB}), 1},
      {"UTF-8 first file contributes nothing", Hex("6B 09 41 0D 0A"), std::nullopt, Hex("FF FE"), 0},
      {"first file stopped by U+0000 contributes the records before",
       Hex("FF FE 7A 00 09 00 5A 00 0D 00 0A 00 00 00 6B 00 09 00 41 00 0D 00 0A 00"), Table({kRecordKB, kRecordMC}),
       Table({kRecordKB, kRecordMC, kRecordZZ}), 3},
      {"empty second file", Table({kRecordKA}), "", Table({kRecordKA}), 1},
      {"last record without CR", std::nullopt, Hex("FF FE 6B 00 09 00 41 00"), Table({kRecordKA}), 1},
      {"CR without LF", std::nullopt, Hex("FF FE 6D 00 09 00 43 00 0D 00 6B 00 09 00 41 00 0D 00"),
       Table({kRecordKA, kRecordMC}), 2},
      {"TAB inside a text", std::nullopt, Hex("FF FE 6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00"),
       Hex("FF FE 6B 00 09 00 41 00 09 00 42 00 0D 00 0A 00"), 1},
      {"non-ASCII keys", std::nullopt, Hex("FF FE 16 04 09 00 41 00 0D 00 0A 00 E9 00 09 00 42 00 0D 00 0A 00"),
       Hex("FF FE E9 00 09 00 42 00 0D 00 0A 00 16 04 09 00 41 00 0D 00 0A 00"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove("menus.txt");
    fs::remove("menus_txts.txt");
    if (c.first) WriteBytes("menus.txt", *c.first);
    if (c.second) WriteBytes("menus_txts.txt", *c.second);
    const TextTableOutcome outcome = RunTextTableStep("menus.xml", true);
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.table, "menus_txts.txt");
    EXPECT_TRUE(outcome.read.ok()) << outcome.read.message();
    EXPECT_TRUE(outcome.write.ok()) << outcome.write.message();
    EXPECT_EQ(outcome.recordsMerged, c.records);
    EXPECT_EQ(outcome.recordsWritten, c.records);
    EXPECT_EQ(ReadBytes("menus_txts.txt"), c.rewritten);
    EXPECT_EQ(ReadBytes("menus.txt"), c.first);
  }
}

TEST_F(TextTableStepTest, SecondTableThatIsNoTableIsNotRewritten) {
  struct Case {
    const char* name;
    std::string second;
    std::string reason;
    std::size_t offset;
  };
  const std::vector<Case> cases = {
      {"UTF-8", Hex("6B 09 41 0D 0A"), kNoMark, 0},
      {"UTF-8 with its mark", Hex("EF BB BF 6B 09 41 0D 0A"), kNoMark, 0},
      {"big-endian", Hex("FE FF 00 6B 00 09 00 41 00 0D 00 0A"), kNoMark, 0},
      {"one byte", Hex("FF"), kNoMark, 0},
      {"U+0000 before the end", Hex("FF FE 6D 00 09 00 43 00 0D 00 0A 00 00 00 6B 00"),
       "reading stopped at a U+0000 unit at byte 12", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes("menus.txt", Table({kRecordKA}));
    WriteBytes("menus_txts.txt", c.second);
    const TextTableOutcome outcome = RunTextTableStep("menus.xml", true);
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.table, "menus_txts.txt");
    EXPECT_FALSE(outcome.read.ok());
    EXPECT_EQ(outcome.read.message(), c.reason);
    EXPECT_EQ(outcome.read.code(), StatusCode::kMalformedInput);
    EXPECT_EQ(outcome.read.place().value_or(InputPlace{}).offset, c.offset);
    EXPECT_TRUE(outcome.write.ok());  // never tried
    EXPECT_EQ(outcome.recordsWritten, 0u);
    EXPECT_EQ(ReadBytes("menus_txts.txt"), c.second);
    EXPECT_EQ(ReadBytes("menus.txt"), Table({kRecordKA}));
  }
}

TEST_F(TextTableStepTest, SecondTableThatIsAFolderStays) {
  fs::create_directory("menus_txts.txt");
  WriteBytes("menus_txts.txt/inside", "keep");
  WriteBytes("menus.txt", Table({kRecordKA}));
  const auto before = Snapshot();
  const TextTableOutcome outcome = RunTextTableStep("menus.xml", true);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(outcome.unreadable, "menus_txts.txt");
  EXPECT_FALSE(outcome.load.ok());
  EXPECT_EQ(outcome.load.message(), std::strerror(testing_support::kDirectoryError));
  EXPECT_FALSE(outcome.load.place().has_value());
  EXPECT_EQ(outcome.recordsWritten, 0u);
}

TEST_F(TextTableStepTest, TableThatCannotBeWrittenIsReportedAndLeftAlone) {
  // The folder of the tables does not exist: nothing is read, the write fails.
  const auto before = Snapshot();
  const TextTableOutcome outcome = RunTextTableStep("missing/menus.xml", true);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.table, "missing/menus_txts.txt");
  EXPECT_TRUE(outcome.read.ok());
  EXPECT_FALSE(outcome.write.ok());
  EXPECT_NE(outcome.write.message(), "");
  EXPECT_EQ(outcome.recordsMerged, 0u);
  EXPECT_EQ(outcome.recordsWritten, 0u);
}

TEST_F(TextTableStepTest, LastDotInsideAFolderName) {
  fs::create_directory("data.old");
  WriteBytes("data.txt", Table({kRecordKA}));
  WriteBytes("data_txts.txt", Table({kRecordKB, kRecordMC}));
  const TextTableOutcome outcome = RunTextTableStep("data.old/menus", true);
  EXPECT_EQ(outcome.table, "data_txts.txt");
  EXPECT_EQ(ReadBytes("data_txts.txt"), Table({kRecordKA, kRecordMC}));
  EXPECT_EQ(ReadBytes("data.txt"), Table({kRecordKA}));
  EXPECT_TRUE(fs::is_empty("data.old"));
}

TEST_F(TextTableStepTest, CurrentFolderMarkGivesAnEmptyBase) {
  WriteBytes(".txt", Table({kRecordKA}));
  WriteBytes("menus.txt", Table({kRecordMC}));
  const TextTableOutcome outcome = RunTextTableStep("./menus", true);
  EXPECT_EQ(outcome.table, "_txts.txt");
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
  const TextTableOutcome outcome = RunTextTableStep("menus", true);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(outcome.ran);
  EXPECT_EQ(outcome.table, "");
  EXPECT_TRUE(outcome.read.ok());
  EXPECT_TRUE(outcome.write.ok());
  EXPECT_EQ(outcome.recordsMerged, 0u);
  EXPECT_EQ(outcome.recordsWritten, 0u);
}

// Each step reads the files as they are when it runs and keeps nothing for the next.
TEST_F(TextTableStepTest, StepsShareNothing) {
  WriteBytes("one.txt", Table({kRecordKA}));
  RunTextTableStep("one.xml", true);
  EXPECT_EQ(ReadBytes("one_txts.txt"), Table({kRecordKA}));
  WriteBytes("two.txt", Table({kRecordMC, kRecordKB}));
  RunTextTableStep("two.xml", true);
  EXPECT_EQ(ReadBytes("two_txts.txt"), Table({kRecordKB, kRecordMC}));
  // The first table changed since: the next step sees the change, and its own output.
  WriteBytes("one.txt", Table({kRecordZZ}));
  const TextTableOutcome outcome = RunTextTableStep("one.xml", true);
  EXPECT_EQ(outcome.recordsMerged, 2u);
  EXPECT_EQ(ReadBytes("one_txts.txt"), Table({kRecordKA, kRecordZZ}));
}

// With keepUnchanged the table there is compared while the merged one is written, and left as
// it is at the end only if it held the same bytes and nothing wrote it since.
TEST_F(TextTableStepTest, KeepUnchangedLeavesOnlyATableNotWrittenSince) {
  struct Case {
    const char* name;
    std::string there;                     // the table before the step
    std::optional<std::string> meanwhile;  // written over it between merging and putting in place
    bool kept;
  };
  const std::string merged = Table({kRecordKA, kRecordMC});
  const Case cases[] = {
      {"same bytes", merged, std::nullopt, true},
      {"other bytes", Table({kRecordKA}), std::nullopt, false},
      {"written meanwhile", merged, Table({kRecordZZ}), false},
  };
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const Case& c : cases) {
    WriteBytes("menus.txt", Table({kRecordMC, kRecordKA}));
    WriteBytes("menus_txts.txt", c.there);
    fs::last_write_time("menus_txts.txt", old);
    const auto stamped = fs::last_write_time("menus_txts.txt");  // as the file system keeps it
    MergedTextTables step = MergeTextTables("menus.xml", true, "", true);
    if (c.meanwhile) WriteBytes("menus_txts.txt", *c.meanwhile);
    const TextTableOutcome outcome = CommitMergedTable(std::move(step));
    EXPECT_TRUE(outcome.write.ok()) << c.name;
    EXPECT_EQ(outcome.kept, c.kept) << c.name;
    EXPECT_EQ(outcome.recordsWritten, c.kept ? 0u : 2u) << c.name;
    EXPECT_EQ(ReadBytes("menus_txts.txt"), merged) << c.name;
    EXPECT_EQ(fs::last_write_time("menus_txts.txt") == stamped, c.kept) << c.name;
    EXPECT_EQ(Snapshot().size(), 2u) << c.name;  // no file left behind
  }
}

}  // namespace
}  // namespace menuconv
