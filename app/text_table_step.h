// The last step of a successful run: merges the two text tables that stand beside the input
// document and rewrites the second of them.
#pragma once

#include <string>

#include "platform/file_io.h"
#include "texts/text_table.h"

namespace menuconv {

// The base of the text-table names: the input path before its last ".", searched over the
// whole path (folder names included). False when the path holds no ".".
bool TextTableBase(const std::string& inputPath, std::string& base);

// Merges BASE".txt", then BASE"_txts.txt" into the table, and rewrites BASE"_txts.txt"
// from it, so a key of the ".txt" file wins over the same key of the "_txts.txt" file.
// Without a "." in the path nothing is read or written. A "_txts.txt" file that is there,
// not empty, but cannot be read as a text table is left as it is, with one warning
// "FILE: not rewritten: REASON". A table that cannot be written leaves the file unchanged.
void RunTextTableStep(const std::string& inputPath, TextTable& table);
void RunTextTableStep(const std::string& inputPath);  // with ProcessTextTable()

// The step in two halves, so that the reading and merging can be done while the document is
// converted: the first half reads and merges and shows nothing; the second shows the warning
// or writes the file, unless either file changed since it was read (the conversion may write
// through a link to one of them), in which case the whole step is done again.
struct PreparedTextTables {
  bool hasBase = false;
  std::string first;      // BASE".txt"
  std::string rewritten;  // BASE"_txts.txt"
  MergeResult second;
  std::string serialized;  // the rewritten file's bytes, unless it is not to be rewritten
  platform::FileStamp firstStamp;
  platform::FileStamp rewrittenStamp;
};
PreparedTextTables PrepareTextTableStep(const std::string& inputPath, TextTable& table);
void FinishTextTableStep(const std::string& inputPath, const PreparedTextTables& prepared, TextTable& table);

}  // namespace menuconv
