#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/file_io.h"

namespace menuconv::platform {

namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// Follows symbolic links to the file that a write through the path would create or replace.
std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(current.c_str(), target.data(), target.size());
    if (n < 0) return current;
    target.resize(static_cast<std::size_t>(n));
    if (!target.empty() && target[0] != '/') {
      const std::size_t slash = current.rfind('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = target;
  }
  return current;
}

// Writes the pieces in order, as few system calls as the pieces allow.
bool WriteAll(int fd, std::vector<std::string_view> pieces, std::string& reason) {
  std::size_t first = 0;
  std::vector<iovec> vectors;
  while (first < pieces.size()) {
    if (pieces[first].empty()) {
      ++first;
      continue;
    }
    vectors.clear();
    for (std::size_t i = first; i < pieces.size() && vectors.size() < IOV_MAX; ++i) {
      vectors.push_back(iovec{const_cast<char*>(pieces[i].data()), pieces[i].size()});
    }
    const ssize_t n = ::writev(fd, vectors.data(), static_cast<int>(vectors.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = ErrorText(errno);
      return false;
    }
    // Drop what was written: whole pieces, then the written start of the next.
    auto left = static_cast<std::size_t>(n);
    while (first < pieces.size() && left >= pieces[first].size()) left -= pieces[first++].size();
    if (left > 0) pieces[first].remove_prefix(left);
  }
  return true;
}

// Reads [offset, offset + size) of the file into `into`; gives the bytes read, short only at
// the end of the file, or -1 with errno set.
ssize_t ReadRange(int fd, char* into, std::size_t size, std::size_t offset) {
  std::size_t total = 0;
  while (total < size) {
    const ssize_t n = ::pread(fd, into + total, size - total, static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(total);
}

}  // namespace

// Large buffers fill faster in large pages: one fault per 2 MiB instead of one per 4 KiB, and
// the parser's pass over the text misses the address cache less. Only a hint: where the
// system keeps no large pages, nothing changes.
void AdviseLargePages(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  if (size < 4 * kLarge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

bool ReadWholeFile(const std::string& path, ByteBuffer& contents, std::string& reason,
                   std::size_t maxSize) {
  // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = ErrorText(errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    reason = ErrorText(errno);
    ::close(fd);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = ErrorText(EISDIR);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    ::close(fd);
    return false;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size > maxSize) {
    reason = "file too large";
    ::close(fd);
    return false;
  }
  contents.Reserve(size + 1);  // room for the terminator the parser's text carries
  contents.Resize(size);
  AdviseLargePages(contents.data(), size);
  // No more than the measured length is taken, even from a file that grows meanwhile. A
  // large file is read in two halves at once: copying it out of the page cache, and the
  // first touch of the fresh memory it goes to, take half as long on two cores.
  constexpr std::size_t kSplitFrom = 8u << 20;
  std::size_t half = size >= kSplitFrom ? size / 2 : size;
  ssize_t second = 0;
  int secondError = 0;
  std::thread other;
  if (half < size) {
    try {
      other = std::thread([&] {
        second = ReadRange(fd, contents.data() + half, size - half, half);
        if (second < 0) secondError = errno;
      });
    } catch (const std::system_error&) {
      half = size;  // no second thread to be had: all of it here
    }
  }
  const ssize_t first = ReadRange(fd, contents.data(), half, 0);
  const int firstError = errno;
  if (other.joinable()) other.join();
  if (first < 0 || second < 0) {
    reason = ErrorText(first < 0 ? firstError : secondError);
    ::close(fd);
    contents.Clear();
    return false;
  }
  // A file that shrank meanwhile ends where its first half did.
  std::size_t total = static_cast<std::size_t>(first);
  if (total == half) total += static_cast<std::size_t>(second);
  contents.Resize(total);
  ::close(fd);
  return true;
}

struct AtomicFile::State {
  int fd = -1;
  std::string target;   // where the links lead
  std::string written;  // the file being written: the target itself, or a temporary file
};

// Here, where State is complete.
AtomicFile::AtomicFile() = default;
AtomicFile::~AtomicFile() { Abandon(); }

bool AtomicFile::Open(const std::string& path, std::string& reason) {
  Abandon();
  if (path.empty()) {
    reason = ErrorText(ENOENT);
    return false;
  }
  auto state = std::make_unique<State>();
  state->target = ResolveLinks(path);
  struct stat existing;
  const bool exists = ::stat(state->target.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    // A loop of links, a folder on the way that is a file, no permission to look: a write
    // through the path would fail the same way.
    reason = ErrorText(errno);
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    reason = ErrorText(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device, a FIFO or a socket is neither replaced (the node would be lost) nor written
    // into (a FIFO without a reader would hold the run).
    reason = "not a regular file";
    return false;
  }
  // A file that does not exist yet is written in place: exclusive creation keeps anyone
  // else's file from being touched, and a failed write removes what was begun. An existing
  // file is replaced by a complete temporary file renamed over it.
  state->written = state->target;
  if (!exists) {
    state->fd = ::open(state->target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (state->fd < 0 && errno != EEXIST) {
      reason = ErrorText(errno);
      return false;
    }
  }
  if (state->fd < 0) {
    const std::size_t slash = state->target.rfind('/');
    state->written =
        (slash == std::string::npos ? "" : state->target.substr(0, slash + 1)) + ".menuconv-XXXXXX";
    state->fd = ::mkstemp(state->written.data());
    if (state->fd < 0) {
      reason = ErrorText(errno);
      return false;
    }
    // The replaced file's permissions carry over to its successor.
    if (exists) (void)::fchmod(state->fd, existing.st_mode & 07777);
  }
  state_ = std::move(state);
  return true;
}

bool AtomicFile::Write(const std::vector<std::string_view>& pieces, std::string& reason) {
  if (!state_) {
    reason = ErrorText(EBADF);
    return false;
  }
  if (WriteAll(state_->fd, pieces, reason)) return true;
  Abandon();
  return false;
}

bool AtomicFile::Commit(std::string& reason) {
  if (!state_) {
    reason = ErrorText(EBADF);
    return false;
  }
  const int fd = std::exchange(state_->fd, -1);
  bool ok = true;
  if (::close(fd) != 0) {
    reason = ErrorText(errno);
    ok = false;
  }
  if (ok && state_->written != state_->target && ::rename(state_->written.c_str(), state_->target.c_str()) != 0) {
    reason = ErrorText(errno);
    ok = false;
  }
  if (!ok) {
    Abandon();
    return false;
  }
  state_.reset();
  return true;
}

void AtomicFile::Abandon() {
  if (!state_) return;
  if (state_->fd >= 0) ::close(state_->fd);
  ::unlink(state_->written.c_str());
  state_.reset();
}

std::FILE* OpenSharedStream(const std::string& path, StreamMode mode, int& error) {
  int flags = O_CLOEXEC;
  const char* streamMode = "r+b";
  if (mode == StreamMode::kRead) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    flags |= O_RDONLY | O_NONBLOCK;
    streamMode = "rb";
  } else if (mode == StreamMode::kWrite) {
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
    streamMode = "wb";
  } else {
    flags |= O_RDWR;
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

bool SeekStream(std::FILE* stream, int64_t offset, int origin) {
  return ::fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellStream(std::FILE* stream) { return static_cast<int64_t>(::ftello(stream)); }

bool IsRegularStream(std::FILE* stream) {
  struct stat info;
  return ::fstat(::fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
}

std::string_view PathSeparators() { return "/"; }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace menuconv::platform
