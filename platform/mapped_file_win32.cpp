// Windows keeps the reading: a file open for reading there cannot be cut short by another
// process, but mapping it would lock it against the editor saving it.
#include <utility>

#include "platform/file_io.h"
#include "platform/mapped_file.h"

namespace menuconv::platform {

bool MappedInputChanged() { return false; }

Status MappedFile::Open(const std::string& path, std::size_t maxSize) {
  Close();
  if (Status read = ReadWholeFile(path, read_, maxSize); !read) return read;
  read_.Append('\0');
  data_ = read_.data();
  size_ = read_.size() - 1;
  return Status::Success();
}

void MappedFile::Close() {
  read_.Clear();
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::Swap(MappedFile& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  read_.Swap(other.read_);
  std::swap(mappedLength_, other.mappedLength_);
  std::swap(slot_, other.slot_);
}

}  // namespace menuconv::platform
