#include "texts/byte_file.h"

#include <cerrno>

#include "platform/file_io.h"

namespace menuconv {

Status ReadFileBytes(const std::string& path, ByteBuffer& bytes) {
  bytes.Clear();
  Status read = platform::ReadWholeFile(path, bytes);
  if (!read && read.systemError() == ENOENT) return Status::Success();  // not there: no bytes
  if (!read) bytes.Clear();
  return read;
}

}  // namespace menuconv
