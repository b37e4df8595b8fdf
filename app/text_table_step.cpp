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

TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite, const std::string& destination,
                                  bool keepUnchanged) {
  TextTableOutcome outcome;
  const std::optional<std::string> found = TextTableBase(inputPath);
  if (!found) return outcome;
  const std::string& base = *found;
  outcome.ran = true;
  outcome.second = base + "_txts.txt";
  outcome.table = destination.empty() ? outcome.second : destination;
  TextTable table;
  for (const std::string& name : {base + ".txt", outcome.second}) {
    std::error_code error;
    if (std::filesystem::exists(name, error)) outcome.found.push_back(name);
  }
  Status first;  // contributes what it can; nothing else depends on it
  for (const auto& [path, merged] : {std::pair{base + ".txt", &first}, std::pair{outcome.second, &outcome.read}}) {
    outcome.load = ReadTable(path, table, *merged);
    if (!outcome.load) {
      outcome.unreadable = path;
      return outcome;
    }
  }
  outcome.recordsMerged = table.Size();
  // Rewriting would throw away a file that was never understood.
  if (!outcome.read.ok() || !rewrite) return outcome;
  if (keepUnchanged && SameBytes(table, outcome.table)) {
    outcome.kept = true;
    return outcome;
  }
  outcome.write = WriteTextTable(table, outcome.table);
  if (outcome.write.ok()) outcome.recordsWritten = table.Size();
  return outcome;
}

}  // namespace menuconv
