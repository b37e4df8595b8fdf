// The folder is resolved beneath the base descriptor by the kernel (openat2 with
// RESOLVE_BENEATH) where it has that call, else by a walk of openat calls that follows no
// link. A folder reached through a link the two refuse (an absolute one, or one that passes
// outside on its way) is opened by following it, and taken only when the chain of its parents
// leads to the base: every check is made on the descriptor that is then used.
#include "platform/folder_beneath_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_io.h"

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

namespace menuconv::platform {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The kernel's resolution: the descriptor, or -1 with errno set (ENOSYS where it has none).
int OpenBeneathByKernel(int base, const std::string& relative) {
#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
  open_how how{};
  how.flags = static_cast<unsigned long long>(kFolderFlags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0;; ++attempt) {
    // EAGAIN: a rename elsewhere raced with a ".." of a link; the lookup is safe to repeat.
    const long fd = ::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != EAGAIN || attempt == 8) return static_cast<int>(fd);
  }
#else
  (void)base;
  (void)relative;
  errno = ENOSYS;
  return -1;
#endif
}

// The walk: one folder at a time, no link followed. -1 with errno set; ELOOP for a link or a
// ".." met on the way.
int OpenBeneathByWalk(int base, const std::string& relative) {
  int current = ::openat(base, ".", kFolderFlags);
  std::size_t start = 0;
  while (current >= 0 && start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    int next = -1;
    int error = ELOOP;
    if (name != "..") {
      // Without O_DIRECTORY a link opens as itself: what it is, is told by the descriptor.
      next = ::openat(current, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
      error = errno;
      struct stat info {};
      if (next >= 0 && (::fstat(next, &info) != 0 || !S_ISDIR(info.st_mode))) {
        error = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
        ::close(next);
        next = -1;
      }
    }
    ::close(current);
    current = next;
    errno = error;
  }
  return current;
}

// Whether the folder behind `folder` is `base` or lies inside it, by the chain of its parents.
bool LiesInside(int folder, int base) {
  struct stat baseInfo;
  struct stat info;
  if (::fstat(base, &baseInfo) != 0 || ::fstat(folder, &info) != 0) return false;
  int current = ::openat(folder, ".", kFolderFlags);
  bool inside = false;
  for (int depth = 0; current >= 0 && depth < 4096; ++depth) {
    if (SameFile(info, baseInfo)) {
      inside = true;
      break;
    }
    const int parent = ::openat(current, "..", kFolderFlags);
    struct stat parentInfo;
    const bool atRoot = parent < 0 || ::fstat(parent, &parentInfo) != 0 || SameFile(parentInfo, info);
    ::close(current);
    current = parent;
    if (atRoot) break;
    info = parentInfo;
  }
  if (current >= 0) ::close(current);
  return inside;
}

}  // namespace

Result<int> OpenFolderBeneath(int base, std::string_view relative) {
  const std::string path(relative.empty() ? std::string_view(".") : relative);
  int fd = OpenBeneathByKernel(base, path);
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) fd = OpenBeneathByWalk(base, path);  // EPERM: a filter
  if (fd < 0 && (errno == EXDEV || errno == ELOOP)) {
    // Through a link the resolution above does not take: followed, then checked where it led.
    fd = ::openat(base, path.c_str(), kFolderFlags);
    if (fd >= 0 && !LiesInside(fd, base)) {
      ::close(fd);
      return Status::Failure(StatusCode::kNameLeavesFolder, kNameLeavesFolder);
    }
  }
  if (fd < 0) return Status::SystemFailure(errno);
  return fd;
}

}  // namespace menuconv::platform
