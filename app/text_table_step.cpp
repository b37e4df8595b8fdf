#include "app/text_table_step.h"

#include "texts/text_table.h"

namespace menuconv {

bool TextTableBase(const std::string& inputPath, std::string& base) {
  const std::size_t dot = inputPath.rfind('.');
  if (dot == std::string::npos) return false;
  base = inputPath.substr(0, dot);
  return true;
}

TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite) {
  TextTableOutcome outcome;
  std::string base;
  if (!TextTableBase(inputPath, base)) return outcome;
  outcome.ran = true;
  outcome.table = base + "_txts.txt";
  TextTable table;
  (void)table.AddFile(base + ".txt");  // contributes what it can; nothing else depends on it
  outcome.read = table.AddFile(outcome.table);
  outcome.recordsMerged = table.Size();
  // Rewriting would throw away a file that was never understood.
  if (!outcome.read.ok || !rewrite) return outcome;
  outcome.write = WriteTextTable(table, outcome.table);
  if (outcome.write.ok) outcome.recordsWritten = table.Size();
  return outcome;
}

}  // namespace menuconv
