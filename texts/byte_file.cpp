#include "texts/byte_file.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#ifdef _WIN32
#include <share.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace menuconv {

namespace {

#ifdef _WIN32

// Files are opened with a share mode that denies others neither reading nor writing.
std::FILE* OpenStream(const std::string& path, unsigned mode, int& error) {
  const char* streamMode = (mode & ByteFile::ModeRead)    ? "rb"
                           : (mode & ByteFile::ModeWrite) ? "wb"
                                                          : "r+b";
  std::FILE* stream = _fsopen(path.c_str(), streamMode, _SH_DENYNO);
  if (stream == nullptr) error = errno;
  return stream;
}

bool SeekTo(std::FILE* stream, std::int64_t offset, int origin) {
  return _fseeki64(stream, offset, origin) == 0;
}

std::int64_t Tell(std::FILE* stream) { return _ftelli64(stream); }

bool IsRegularFile(std::FILE*) { return true; }

#else

std::FILE* OpenStream(const std::string& path, unsigned mode, int& error) {
  int flags = O_CLOEXEC;
  const char* streamMode = nullptr;
  if (mode & ByteFile::ModeRead) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    flags |= O_RDONLY | O_NONBLOCK;
    streamMode = "rb";
  } else if (mode & ByteFile::ModeWrite) {
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
    streamMode = "wb";
  } else {
    flags |= O_RDWR;
    streamMode = "r+b";
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
    ::close(fd);
    return nullptr;
  }
  if (flags & O_NONBLOCK) {
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1) (void)::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  }
  std::FILE* stream = ::fdopen(fd, streamMode);
  if (stream == nullptr) {
    error = errno;
    ::close(fd);
  }
  return stream;
}

bool SeekTo(std::FILE* stream, std::int64_t offset, int origin) {
  return ::fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

std::int64_t Tell(std::FILE* stream) { return static_cast<std::int64_t>(::ftello(stream)); }

bool IsRegularFile(std::FILE* stream) {
  struct stat info;
  return ::fstat(::fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
}

#endif

}  // namespace

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
  handle_ = OpenStream(path, mode, error_);
  if (handle_ == nullptr) return false;
  path_ = path;
  return true;
}

std::uint64_t ByteFile::Size() {
  if (handle_ == nullptr) return size_;
  std::int64_t end = -1;
  if (SeekTo(handle_, 0, SEEK_END)) end = Tell(handle_);
  SeekTo(handle_, 0, SEEK_SET);
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
  if (!IsRegularFile(handle_)) {
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
