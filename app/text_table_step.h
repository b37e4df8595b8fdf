// The last step of a successful run: merges the two text tables that stand beside the input
// document and rewrites the second of them, or writes the merged table elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file_io.h"

namespace menuconv {

// The base of the text-table names: the input path before its last ".", searched over the
// whole path (folder names included). None when the path holds no ".".
std::optional<std::string> TextTableBase(const std::string& inputPath);

// What the step did, for the run to report.
struct TextTableOutcome {
  bool ran = false;    // the input path holds a "."; without one nothing is read or written
  std::string table;   // the table that is written: BASE"_txts.txt", or the destination given
  std::string second;  // BASE"_txts.txt", the second table read
  // A table that is there but cannot be read (permission, a folder, an I/O error): its name,
  // and the system's reason. The step then stops: nothing is merged or written.
  std::string unreadable;
  Status load;
  // Reading `second`. A failure means it is there but not a table: it is left as it was, and
  // nothing is written.
  Status read;
  // Writing `table`; a failure leaves the file as it was. Ok when not attempted.
  Status write;
  bool kept = false;               // `table` already held the merged table's bytes and was left alone
  std::vector<std::string> found;  // the tables that were there to be read
  std::size_t recordsMerged = 0;   // records of the merged table, each key once
  std::size_t recordsWritten = 0;  // records of the rewritten file; 0 when it was not rewritten
};

// Merges BASE".txt", then BASE"_txts.txt" (see TextTable::AddFile) and rewrites
// BASE"_txts.txt" from the merged table, so a key of the ".txt" file wins over the same key
// of the "_txts.txt" file. A missing file contributes nothing; one that is there but cannot
// be read stops the step (see `load`). A ".txt" file that is read but is not a table
// contributes the records read before the reading stopped, if any, and is not reported.
// Without `rewrite` everything but the writing is done. Shows nothing: the caller reports the
// outcome. A non-empty `destination` receives the merged table instead, and the tables beside
// the input are only read. With `keepUnchanged` a table whose bytes would not change is not
// written.
TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite, const std::string& destination = "",
                                  bool keepUnchanged = false);

// The size of a file and the time of its last write, to tell whether it was written since.
struct FileStamp {
  std::uintmax_t size = 0;
  std::filesystem::file_time_type written;
  bool operator==(const FileStamp& other) const { return size == other.size && written == other.written; }
};

// The step in two halves, so that the reading can go on beside other work and the file only
// take its place once it may: the merging, which also writes the new file under no name yet
// (and, with `keepUnchanged`, compares its bytes with the table there), then putting it in
// place. A merge that is dropped leaves every file as it was.
struct MergedTextTables {
  TextTableOutcome outcome;
  bool toWrite = false;                      // the table is to be written
  std::unique_ptr<platform::FileSink> file;  // written, to be put in place
  // With keepUnchanged, where the table there held the new bytes: what it was before it was
  // compared. Still so at the end, it is kept; written since, it is replaced.
  std::optional<FileStamp> sameAsWritten;
};
MergedTextTables MergeTextTables(const std::string& inputPath, bool rewrite, const std::string& destination = "",
                                 bool keepUnchanged = false);
TextTableOutcome CommitMergedTable(MergedTextTables merged);

}  // namespace menuconv
