#include "app/text_table_step.h"

#include <filesystem>
#include <utility>

#include "app/unchanged_check.h"
#include "texts/byte_file.h"
#include "texts/text_table.h"

namespace menuconv {

std::optional<std::string> TextTableBase(const std::string& inputPath) {
  const std::size_t dot = inputPath.rfind('.');
  if (dot == std::string::npos) return std::nullopt;
  return inputPath.substr(0, dot);
}

namespace {

// Reads the table at `path` into `table`: fails when it is there but cannot be read; else
// `merged` says what merging its bytes gave.
Status ReadTable(const std::string& path, TextTable& table, Status& merged) {
  ByteBuffer bytes;
  if (Status read = ReadFileBytes(path, bytes); !read) return read;
  merged = table.AddBytes(std::move(bytes));
  return Status::Success();
}

bool SameBytes(const TextTable& table, const std::string& path) {
  UnchangedCheck check(path);
  (void)SerializeTextTable(table, check);  // comparing never fails
  return check.Unchanged();
}

}  // namespace

MergedTextTables MergeTextTables(const std::string& inputPath, const std::string& destination) {
  MergedTextTables merged;
  TextTableOutcome& outcome = merged.outcome;
  const std::optional<std::string> found = TextTableBase(inputPath);
  if (!found) return merged;
  const std::string& base = *found;
  outcome.ran = true;
  outcome.second = base + "_txts.txt";
  outcome.table = destination.empty() ? outcome.second : destination;
  for (const std::string& name : {base + ".txt", outcome.second}) {
    std::error_code error;
    if (std::filesystem::exists(name, error)) outcome.found.push_back(name);
  }
  Status first;  // contributes what it can; nothing else depends on it
  for (const auto& [path, result] : {std::pair{base + ".txt", &first}, std::pair{outcome.second, &outcome.read}}) {
    outcome.load = ReadTable(path, merged.table, *result);
    if (!outcome.load) {
      outcome.unreadable = path;
      return merged;
    }
  }
  outcome.recordsMerged = merged.table.Size();
  return merged;
}

TextTableOutcome WriteMergedTable(MergedTextTables merged, bool rewrite, bool keepUnchanged) {
  TextTableOutcome& outcome = merged.outcome;
  // Rewriting would throw away a file that was never understood.
  if (!outcome.ran || !outcome.load || !outcome.read.ok() || !rewrite) return std::move(outcome);
  if (keepUnchanged && SameBytes(merged.table, outcome.table)) {
    outcome.kept = true;
    return std::move(outcome);
  }
  outcome.write = WriteTextTable(merged.table, outcome.table);
  if (outcome.write.ok()) outcome.recordsWritten = merged.table.Size();
  return std::move(outcome);
}

TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite, const std::string& destination,
                                  bool keepUnchanged) {
  return WriteMergedTable(MergeTextTables(inputPath, destination), rewrite, keepUnchanged);
}

}  // namespace menuconv
