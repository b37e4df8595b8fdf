// The parts of the file layer that are the same on every platform.
#include "platform/file_io.h"

namespace menuconv::platform {

Status WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces) {
  AtomicFile file;
  Status status = file.Open(path);
  if (status) status = file.Write(pieces);
  if (status) status = file.Commit();
  return status;
}

}  // namespace menuconv::platform
