#include "app/text_table_step.h"

#include "platform/messages.h"

namespace menuconv {

bool TextTableBase(const std::string& inputPath, std::string& base) {
  const std::size_t dot = inputPath.rfind('.');
  if (dot == std::string::npos) return false;
  base = inputPath.substr(0, dot);
  return true;
}

void RunTextTableStep(const std::string& inputPath, TextTable& table) {
  std::string base;
  if (!TextTableBase(inputPath, base)) return;
  MergeTextFile(table, base + ".txt");
  const std::string rewritten = base + "_txts.txt";
  const MergeResult second = MergeTextFile(table, rewritten);
  if (second.status == TextFileStatus::kNotATable) {
    // Rewriting would throw away a file that was never understood.
    platform::ShowWarning(rewritten + ": not rewritten: " + second.reason);
    return;
  }
  // Nothing is shown when the table cannot be written; the old file then stays as it was.
  WriteTextTable(table, rewritten);
}

void RunTextTableStep(const std::string& inputPath) {
  RunTextTableStep(inputPath, ProcessTextTable());
}

}  // namespace menuconv
