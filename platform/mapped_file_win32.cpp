// Windows keeps the reading: a file open for reading there cannot be cut short by another
// process, but mapping it would lock it against the editor saving it.
#include "platform/mapped_file.h"

namespace menuconv::platform {

bool MappedFile::WasCut() const { return false; }  // read, never mapped

Status MappedFile::Open(const std::string& path, std::size_t maxSize) {
  Close();
  return Read(path, maxSize);
}

void MappedFile::Close() {
  read_.Clear();
  data_ = nullptr;
  size_ = 0;
}

}  // namespace menuconv::platform
