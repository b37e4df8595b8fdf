// What both platforms share of holding a file: reading it where it is not mapped.
#include "platform/mapped_file.h"

#include <utility>

#include "platform/file_io.h"

namespace menuconv::platform {

Status MappedFile::Read(const std::string& path, std::size_t maxSize) {
  if (Status read = ReadWholeFile(path, read_, maxSize); !read) return read;
  read_.Append('\0');
  data_ = read_.data();
  size_ = read_.size() - 1;
  return Status::Success();
}

void MappedFile::Swap(MappedFile& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  read_.Swap(other.read_);
  std::swap(mappedLength_, other.mappedLength_);
  std::swap(slot_, other.slot_);
}

}  // namespace menuconv::platform
