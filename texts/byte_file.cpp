#include "texts/byte_file.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "platform/file_io.h"

namespace menuconv {

ByteFile::~ByteFile() { Close(); }

bool ByteFile::Open(const std::string& path, unsigned mode) {
  Close();
  data_.reset();
  size_ = 0;
  path_.clear();
  error_ = 0;
  if ((mode & (ModeRead | ModeWrite | ModeUpdate)) == 0) {
    error_ = EINVAL;
    return false;
  }
  const platform::StreamMode streamMode = (mode & ModeRead)    ? platform::StreamMode::kRead
                                          : (mode & ModeWrite) ? platform::StreamMode::kWrite
                                                               : platform::StreamMode::kUpdate;
  handle_ = platform::OpenSharedStream(path, streamMode, error_);
  if (handle_ == nullptr) return false;
  path_ = path;
  return true;
}

std::uint64_t ByteFile::Size() {
  if (handle_ == nullptr) return size_;
  std::int64_t end = -1;
  if (platform::SeekStream(handle_, 0, SEEK_END)) end = platform::TellStream(handle_);
  platform::SeekStream(handle_, 0, SEEK_SET);
  size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  return size_;
}

std::size_t ByteFile::Write(const void* bytes, std::size_t count) {
  if (handle_ == nullptr || count == 0) return 0;
  return std::fwrite(bytes, 1, count, handle_);
}

int ByteFile::Flush() { return handle_ != nullptr ? std::fflush(handle_) : EOF; }

void ByteFile::Close() {
  if (handle_ != nullptr) {
    std::fclose(handle_);
    handle_ = nullptr;
  }
}

bool ByteFile::ReadAll(const std::string& path) {
  if (!Open(path, ModeRead)) return false;
  if (!platform::IsRegularStream(handle_)) {
    error_ = kNotRegular;
  } else {
    const std::uint64_t length = Size();
    // An empty file is no failure of the system: the file stays open, nothing is read.
    if (length == 0) return false;
    if (length > std::numeric_limits<std::size_t>::max()) {
      error_ = EFBIG;
    } else {
      const auto count = static_cast<std::size_t>(length);
      data_.reset(new (std::nothrow) unsigned char[count]);
      if (data_ == nullptr) {
        error_ = ENOMEM;
      } else {
        errno = 0;
        const std::size_t total = std::fread(data_.get(), 1, count, handle_);
        if (total == count) {
          Close();
          return true;
        }
        // A read error, or a file that shrank after it was measured.
        error_ = std::ferror(handle_) && errno != 0 ? errno : EIO;
      }
    }
  }
  data_.reset();
  Close();
  size_ = 0;
  path_.clear();
  return false;
}

void ByteFile::ReleaseData() {
  data_.reset();
  size_ = 0;
  path_.clear();
}

std::string ByteFile::ErrorText() const {
  if (error_ == 0) return std::string();
  if (error_ == kNotRegular) return "not a regular file";
  return std::strerror(error_);
}

}  // namespace menuconv
