#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_io.h"
#include "platform/folder_beneath_posix.h"
#include "platform/halves.h"
#include "platform/large_blocks.h"
#include "platform/read_range_posix.h"
#include "platform/temporary_names.h"

namespace menuconv::platform {

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

Status WriteAllTo(int fd, std::vector<std::string_view> pieces) {
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
      return Status::SystemFailure(errno);
    }
    // Drop what was written: whole pieces, then the written start of the next.
    auto left = static_cast<std::size_t>(n);
    while (first < pieces.size() && left >= pieces[first].size()) left -= pieces[first++].size();
    if (left > 0) pieces[first].remove_prefix(left);
  }
  return Status::Success();
}

Status ReadWholeFile(const std::string& path, ByteBuffer& contents, std::size_t maxSize) {
  // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Status::SystemFailure(errno);
  auto fail = [fd](Status why) {
    ::close(fd);
    return why;
  };
  struct stat info;
  if (fstat(fd, &info) != 0) return fail(Status::SystemFailure(errno));
  if (S_ISDIR(info.st_mode)) return fail(Status::SystemFailure(EISDIR));
  if (!S_ISREG(info.st_mode)) return fail(Status::Failure(StatusCode::kNotRegularFile, "not a regular file"));
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size > maxSize) return fail(Status::Failure(StatusCode::kTooLarge, "file too large"));
  contents.Reserve(size + 1);  // room for the terminator the parser's text carries
  contents.Resize(size);
  AdviseLargePages(contents.data(), size);
  // No more than the measured length is taken, even from a file that grows meanwhile. A
  // large file is read in two halves at once: copying it out of the page cache, and the
  // first touch of the fresh memory it goes to, take half as long on two cores.
  constexpr std::size_t kSplitFrom = 8u << 20;
  std::size_t ends[2] = {size, size};  // where a half found the file to end
  int errors[2] = {0, 0};
  InTwoHalves(size, kSplitFrom, [&](Half half) {
    const ssize_t n = ReadRange(fd, contents.data() + half.begin, half.size(), half.begin);
    if (n < 0) {
      errors[half.index] = errno;
    } else if (static_cast<std::size_t>(n) < half.size()) {
      ends[half.index] = half.begin + static_cast<std::size_t>(n);
    }
  });
  if (errors[0] != 0 || errors[1] != 0) {
    contents.Clear();
    return fail(Status::SystemFailure(errors[0] != 0 ? errors[0] : errors[1]));
  }
  // A file that shrank meanwhile ends where the first short half did.
  const std::size_t total = std::min(ends[0], ends[1]);
  contents.Resize(total);
  ::close(fd);
  return Status::Success();
}

std::string_view PathSeparators() { return "/"; }

bool StaysInside(const std::string& base, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;
  const int baseFolder = ::open(base.empty() ? "." : base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (baseFolder < 0) return true;  // writing there fails anyway
  const Result<int> opened = OpenFolderBeneath(baseFolder, path.substr(0, slash));
  ::close(baseFolder);
  if (opened) ::close(*opened);
  return opened || opened.status().code() != StatusCode::kNameLeavesFolder;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace menuconv::platform
