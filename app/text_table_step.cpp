#include "app/text_table_step.h"

#include "platform/messages.h"

namespace menuconv {

bool TextTableBase(const std::string& inputPath, std::string& base) {
  const std::size_t dot = inputPath.rfind('.');
  if (dot == std::string::npos) return false;
  base = inputPath.substr(0, dot);
  return true;
}

PreparedTextTables PrepareTextTableStep(const std::string& inputPath, TextTable& table) {
  PreparedTextTables prepared;
  std::string base;
  if (!TextTableBase(inputPath, base)) return prepared;
  prepared.hasBase = true;
  prepared.first = base + ".txt";
  prepared.rewritten = base + "_txts.txt";
  // Stamped before they are read: a change after the stamp shows, whenever it happened.
  prepared.firstStamp = platform::StampFile(prepared.first);
  prepared.rewrittenStamp = platform::StampFile(prepared.rewritten);
  MergeTextFile(table, prepared.first);
  prepared.second = MergeTextFile(table, prepared.rewritten);
  if (prepared.second.status != TextFileStatus::kNotATable) prepared.serialized = SerializeTextTable(table);
  return prepared;
}

namespace {

void ShowOrWrite(const PreparedTextTables& prepared) {
  if (!prepared.hasBase) return;
  if (prepared.second.status == TextFileStatus::kNotATable) {
    // Rewriting would throw away a file that was never understood.
    platform::ShowWarning(prepared.rewritten + ": not rewritten: " + prepared.second.reason);
    return;
  }
  // Nothing is shown when the table cannot be written; the old file then stays as it was.
  (void)platform::WriteFileAtomically(prepared.rewritten, {prepared.serialized});
}

}  // namespace

void FinishTextTableStep(const std::string& inputPath, const PreparedTextTables& prepared, TextTable& table) {
  if (!prepared.hasBase) return;
  if (platform::StampFile(prepared.first) != prepared.firstStamp ||
      platform::StampFile(prepared.rewritten) != prepared.rewrittenStamp) {
    table.Clear();
    ShowOrWrite(PrepareTextTableStep(inputPath, table));
    return;
  }
  ShowOrWrite(prepared);
}

void RunTextTableStep(const std::string& inputPath, TextTable& table) {
  ShowOrWrite(PrepareTextTableStep(inputPath, table));
}

void RunTextTableStep(const std::string& inputPath) {
  RunTextTableStep(inputPath, ProcessTextTable());
}

}  // namespace menuconv
