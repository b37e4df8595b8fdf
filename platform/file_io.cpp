// The parts of the file layer that are the same on every platform.
#include "platform/file_io.h"

namespace menuconv::platform {

bool WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces,
                         std::string& reason) {
  AtomicFile file;
  return file.Open(path, reason) && file.Write(pieces, reason) && file.Commit(reason);
}

}  // namespace menuconv::platform
