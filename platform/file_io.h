// File access of the platform: whole-file reads and atomic whole-file writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/byte_sink.h"
#include "base/status.h"

namespace menuconv::platform {

// Reads a whole regular file (opened with a share mode that denies others neither reading
// nor writing). A failure gives the system's error text.
// Files larger than `maxSize` bytes are refused.
Status ReadWholeFile(const std::string& path, ByteBuffer& contents, std::size_t maxSize = static_cast<std::size_t>(-1));

// Writes the pieces, in order, to the target, which appears under its name only complete: an
// existing target is replaced by a complete file put in its place, a new one is named once it
// is complete. A target the user may not write, or a link the system does not follow, is
// refused before anything is written. On failure the target is exactly as it was and no
// temporary file is left behind. Durability against a power loss is the file system's:
// nothing is synced to the disk.
Status WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces);

// The folder that a run writes many files beneath, opened at the first of them and held from
// then on (POSIX: by its descriptor): a folder moved or swapped for a link meanwhile is not
// followed, and each file costs fewer calls to the system. The folders within it that a name
// leads through are still checked file by file. Its names are read once (POSIX), so that a
// file it did not hold is written as a new one without a look first. Used from one thread.
class OutputFolder {
 public:
  explicit OutputFolder(std::string path) : path_(std::move(path)) {}
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Empty for the current folder.
  const std::string& Path() const { return path_; }

 private:
  friend class AtomicFile;
  // The names the folder held when it was first written in (POSIX), to tell a new file
  // without asking the system about each; see atomic_file_posix.cpp.
  struct Listing;
  struct ListingDeleter {
    void operator()(Listing* listing) const;
  };
  // Whether `name`, a name in the folder itself, was not there when the folder was first
  // listed and was not asked about since; false where that cannot be told.
  bool KnownNew(const std::string& name);
  std::string path_;
  int handle_ = -1;  // once opened (POSIX)
  std::unique_ptr<Listing, ListingDeleter> listing_;
};

// The same write in steps, for content that is produced while it is written: Open, Write as
// often as needed, then Commit. Whatever fails, or an AtomicFile dropped before its Commit,
// leaves the target exactly as it was.
class AtomicFile {
 public:
  AtomicFile();
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  Status Open(const std::string& path);
  // Opens `name` (a path relative to `folder`) for the write, where the folder `name` lies in
  // must be `folder` or inside it once links are followed; else the failure's code is
  // kNameLeavesFolder. The folder is checked and then written in by its descriptor (POSIX),
  // so that swapping a folder on the way for a link meanwhile cannot lead the file elsewhere.
  Status Open(OutputFolder& folder, const std::string& name);
  Status Write(const std::vector<std::string_view>& pieces);
  // Asks the system to start writing what was written to the disk, without waiting for it.
  // Only a hint, for a file that is complete long before its commit: a file system may write
  // out a file renamed over another at the rename, so that a crash leaves one of them whole,
  // and the commit then finds that done.
  void StartWriteOut();
  // Puts the file under the target's name.
  Status Commit();
  // Drops what was written; the target stays as it was.
  void Abandon();
  bool IsOpen() const { return state_ != nullptr; }

  // What each platform keeps about the file being written.
  struct State;

 private:
  struct StateDeleter {
    void operator()(State* state) const;
  };
  using StatePointer = std::unique_ptr<State, StateDeleter>;
  // The same verbs, as each platform does them on its state. A failed Open may leave a state
  // behind, which Abandon throws away.
  static Status Open(const std::string& path, StatePointer& state);
  static Status Open(OutputFolder& folder, const std::string& name, StatePointer& state);
  static Status Write(State& state, const std::vector<std::string_view>& pieces);
  static void StartWriteOut(State& state);
  static Status Commit(State& state);
  static void Abandon(State& state);
  static Status NotOpen();

  StatePointer state_;
};

// A sink that writes an AtomicFile opened at the first write: nothing is opened for a write
// that fails before its first byte.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::string path);
  // `name` opened beneath `folder`, as AtomicFile::Open(folder, name) opens it. The folder
  // must outlive the sink.
  FileSink(OutputFolder& folder, std::string name);

  Status Write(const std::vector<std::string_view>& bytes) override;
  // See AtomicFile.
  void StartWriteOut() { file_.StartWriteOut(); }
  // Puts the file under its name (see AtomicFile).
  Status Commit();
  void Abandon() { file_.Abandon(); }
  // Opening, writing or committing the file failed.
  bool Failed() const { return failed_; }

 private:
  Status Open();

  OutputFolder* folder_ = nullptr;  // none: `name_` is a path
  std::string name_;
  bool failed_ = false;
  AtomicFile file_;
};

// The characters that separate folders in a path, and whether a path names its folder from
// the root (or a drive) rather than from the current folder.
std::string_view PathSeparators();
bool IsAbsolutePath(std::string_view path);

// Why a name is refused whose folder leads out of the folder it is written into.
inline constexpr const char* kNameLeavesFolder = "the name leaves the current folder";

// Whether the folder that `path` (relative to `base`) lies in is `base` or inside it once
// links are followed. A folder that is not there counts as inside: writing there fails anyway.
bool StaysInside(const std::string& base, const std::string& path);

}  // namespace menuconv::platform
