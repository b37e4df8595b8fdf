// The last step of a successful run: merges the two text tables that stand beside the input
// document and rewrites the second of them.
#pragma once

#include <cstddef>
#include <string>

#include "base/status.h"

namespace menuconv {

// The base of the text-table names: the input path before its last ".", searched over the
// whole path (folder names included). False when the path holds no ".".
bool TextTableBase(const std::string& inputPath, std::string& base);

// What the step did, for the run to report.
struct TextTableOutcome {
  bool ran = false;   // the input path holds a "."; without one nothing is read or written
  std::string table;  // BASE"_txts.txt", the table that is rewritten
  // A table that is there but cannot be read (permission, a folder, an I/O error): its name,
  // and the system's reason. The step then stops: nothing is merged or rewritten.
  std::string unreadable;
  Status load;
  // Reading `table`. A failure means it is there but not a table: it is left as it was, and
  // the run warns "TABLE: not rewritten: REASON".
  Status read;
  // Rewriting `table`; a failure leaves the file as it was. Ok when not attempted.
  Status write;
  std::size_t recordsMerged = 0;   // records of the merged table, each key once
  std::size_t recordsWritten = 0;  // records of the rewritten file; 0 when it was not rewritten
};

// Merges BASE".txt", then BASE"_txts.txt" (see TextTable::AddFile) and rewrites
// BASE"_txts.txt" from the merged table, so a key of the ".txt" file wins over the same key
// of the "_txts.txt" file. A missing file contributes nothing; one that is there but cannot
// be read stops the step (see `load`). A ".txt" file that is read but is not a table
// contributes the records read before the reading stopped, if any, and is not reported. Without `rewrite` everything
// but the writing is done. Shows nothing: the caller reports the outcome.
TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite);

}  // namespace menuconv
