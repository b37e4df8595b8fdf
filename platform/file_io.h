// File access of the platform: whole-file reads and atomic whole-file writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"

namespace menuconv::platform {

// Reads a whole regular file (opened with a share mode that denies others neither reading
// nor writing). On failure returns false and sets `reason` to the system's error text.
// Files larger than `maxSize` bytes are refused.
bool ReadWholeFile(const std::string& path, ByteBuffer& contents, std::string& reason,
                   std::size_t maxSize = static_cast<std::size_t>(-1));

// A hint that the bytes from `data` on, `size` of them, are about to be filled: large buffers
// are then given large pages where the system has them.
void AdviseLargePages(char* data, std::size_t size);

// Writes the pieces, in order, to the target. An existing target is replaced only once the
// new content was written completely (to a temporary file in its folder, then renamed over
// it); a new one is removed again when the write fails. On failure the target is exactly as
// it was, no temporary file is left behind, and `reason` says why. Durability against a
// power loss is the file system's: nothing is synced to the disk.
// A target that is a symbolic link is replaced where the link points.
bool WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces,
                         std::string& reason);

// The same write in steps, for content that is produced while it is written: Open, Write as
// often as needed, then Commit. Whatever fails, or an AtomicFile dropped before its Commit,
// leaves the target exactly as it was.
class AtomicFile {
 public:
  AtomicFile();
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& path, std::string& reason);
  bool Write(const std::vector<std::string_view>& pieces, std::string& reason);
  bool Commit(std::string& reason);
  // Drops what was written; the target stays as it was.
  void Abandon();
  bool IsOpen() const { return state_ != nullptr; }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Buffered streams opened in untranslated byte mode with a share mode that denies other
// processes neither reading nor writing: "rb", "wb" (created or truncated) or "r+b".
// Folders are refused, and opening a FIFO for reading does not wait for a writer.
enum class StreamMode { kRead, kWrite, kUpdate };
std::FILE* OpenSharedStream(const std::string& path, StreamMode mode, int& error);
bool SeekStream(std::FILE* stream, int64_t offset, int origin);
int64_t TellStream(std::FILE* stream);
bool IsRegularStream(std::FILE* stream);

// The characters that separate folders in a path, and whether a path names its folder from
// the root (or a drive) rather than from the current folder.
std::string_view PathSeparators();
bool IsAbsolutePath(std::string_view path);

}  // namespace menuconv::platform
