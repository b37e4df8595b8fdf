#include "app/text_table_step.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "app/unchanged_check.h"
#include "base/byte_sink.h"
#include "platform/file_io.h"
#include "platform/mapped_file.h"
#include "texts/byte_file.h"
#include "texts/text_table.h"

namespace menuconv {

std::optional<std::string> TextTableBase(const std::string& inputPath) {
  const std::size_t dot = inputPath.rfind('.');
  if (dot == std::string::npos) return std::nullopt;
  return inputPath.substr(0, dot);
}

namespace {

std::optional<FileStamp> StampOf(const std::string& path) {
  std::error_code error;
  FileStamp stamp;
  stamp.size = std::filesystem::file_size(path, error);
  if (!error) stamp.written = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  return stamp;
}

// Writes the file and compares it with the one there as it goes.
class WriteAndCompare final : public ByteSink {
 public:
  WriteAndCompare(platform::FileSink& file, UnchangedCheck& check) : file_(file), check_(check) {}
  Status Write(const std::vector<std::string_view>& bytes) override {
    (void)check_.Write(bytes);  // comparing never fails
    return file_.Write(bytes);
  }

 private:
  platform::FileSink& file_;
  UnchangedCheck& check_;
};

}  // namespace

MergedTextTables MergeTextTables(const std::string& inputPath, bool rewrite, const std::string& destination,
                                 bool keepUnchanged) {
  MergedTextTables merged;
  TextTableOutcome& outcome = merged.outcome;
  const std::optional<std::string> found = TextTableBase(inputPath);
  if (!found) return merged;
  const std::string& base = *found;
  outcome.ran = true;
  outcome.second = base + "_txts.txt";
  outcome.table = destination.empty() ? outcome.second : destination;
  const std::string paths[2] = {base + ".txt", outcome.second};
  for (const std::string& name : paths) {
    std::error_code error;
    if (std::filesystem::exists(name, error)) outcome.found.push_back(name);
  }
  // Both files are read before either is merged, so that the table is sized once for both.
  HeldBytes bytes[2];
  for (int i = 0; i < 2; ++i) {
    outcome.load = ReadFileBytes(paths[i], bytes[i]);
    if (!outcome.load) {
      outcome.unreadable = paths[i];
      return merged;
    }
  }
  TextTable table;
  table.ReserveFor(bytes[0].size() + bytes[1].size());
  // The first contributes what it can; nothing else depends on how its reading ended.
  (void)table.AddBytes(std::move(bytes[0]));
  outcome.read = table.AddBytes(std::move(bytes[1]));
  outcome.recordsMerged = table.Size();
  // Rewriting would throw away a file that was never understood.
  merged.toWrite = outcome.read.ok() && rewrite;
  if (merged.toWrite) {
    // Written as it is serialised: no copy of the whole file is held.
    merged.file = std::make_unique<platform::FileSink>(outcome.table);
    if (keepUnchanged) {
      // Stamped before it is compared: a write during the comparison changes the stamp too.
      const std::optional<FileStamp> before = StampOf(outcome.table);
      UnchangedCheck check(outcome.table);
      WriteAndCompare both(*merged.file, check);
      outcome.write = SerializeTextTable(table, both);
      if (outcome.write && before && check.Unchanged()) merged.sameAsWritten = before;
    } else {
      outcome.write = SerializeTextTable(table, *merged.file);
    }
    if (!outcome.write) merged.file.reset();
    // Written out meanwhile, where replacing the table at the end would wait for it.
    if (merged.file && !merged.sameAsWritten) merged.file->StartWriteOut();
  }
  // A file cut short under the table since it was read gave records of zeros where it was:
  // nothing made from them is kept.
  if (const std::optional<std::size_t> cut = table.CutShortFile()) {
    outcome.load = platform::CutShortFailure();
    outcome.unreadable = paths[*cut];
    merged.toWrite = false;
    merged.file.reset();
  }
  return merged;
}

TextTableOutcome CommitMergedTable(MergedTextTables merged) {
  TextTableOutcome& outcome = merged.outcome;
  if (!merged.toWrite || !outcome.write) return std::move(outcome);
  // Left as it is only if nothing wrote it since it was found to hold the same bytes: the
  // run's own screens included.
  if (merged.sameAsWritten && StampOf(outcome.table) == merged.sameAsWritten) {
    merged.file->Abandon();
    outcome.kept = true;
    return std::move(outcome);
  }
  outcome.write = merged.file->Commit();
  if (outcome.write.ok()) outcome.recordsWritten = outcome.recordsMerged;
  return std::move(outcome);
}

TextTableOutcome RunTextTableStep(const std::string& inputPath, bool rewrite, const std::string& destination,
                                  bool keepUnchanged) {
  return CommitMergedTable(MergeTextTables(inputPath, rewrite, destination, keepUnchanged));
}

}  // namespace menuconv
