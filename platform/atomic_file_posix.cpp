// Files that appear under their names only complete.
//
// An existing target is first opened for writing through the kernel, which applies the
// permissions and the rules for links in shared folders; only the file that open reached is
// replaced, by a complete file renamed over it in its own folder. A new file is written
// unnamed (O_TMPFILE) and linked in place once complete. Where the file system has no unnamed
// files, a named temporary file takes their place; where no file can be made beside an
// existing target the user may write, the target is overwritten in place once the whole new
// content is ready.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "base/byte_buffer.h"
#include "platform/file_io.h"
#include "platform/temporary_names.h"

namespace menuconv::platform {

namespace {

Status Failure(int error) { return Status::SystemFailure(error); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name under which the system shows the file behind a descriptor, unnamed ones too.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Where the file behind a descriptor lies, links resolved.
std::string PathOfDescriptor(int fd, const std::string& fallback) {
  char link[PATH_MAX];
  const ssize_t n = ::readlink(DescriptorPath(fd).c_str(), link, sizeof link - 1);
  if (n > 0 && link[0] == '/') return std::string(link, static_cast<std::size_t>(n));
  char resolved[PATH_MAX];
  return ::realpath(fallback.c_str(), resolved) ? std::string(resolved) : fallback;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A name for a temporary file beside `target` that nothing else uses yet.
std::string TemporaryNameBeside(const std::string& target) {
  static std::mt19937_64 random{std::random_device{}()};
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return FolderOf(target) + "/.menuconv-" + suffix;
}

bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

}  // namespace

struct AtomicFile::State {
  int fd = -1;              // what the content goes to, unless it is held for writing in place
  bool unnamed = false;     // fd is a file without a name yet
  bool existed = false;     // the target was there: the new file replaces it
  std::string target;       // the final name: the file the kernel reached, or the new file's path
  TemporaryName temporary;  // a named temporary file, removed again unless it was put in place
  int inPlace = -1;         // the target itself, overwritten at Commit with what is held
  ByteBuffer held;
  TemporaryName created;  // a file made through a link that led nowhere, removed on failure
  struct stat createdInfo {};
};

void AtomicFile::StateDeleter::operator()(State* state) const { delete state; }

Status AtomicFile::NotOpen() { return Failure(EBADF); }

namespace {

// Opens the file the new content goes to, in the target's folder; 0 or the system's error.
int OpenBeside(AtomicFile::State& state, mode_t mode) {
  const std::string folder = FolderOf(state.target);
  state.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (state.fd >= 0) {
    state.unnamed = true;
  } else if (NoUnnamedFiles(errno)) {
    state.temporary.Set(TemporaryNameBeside(state.target));
    state.fd = ::open(state.temporary.Name().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (state.fd < 0) state.temporary.Release();
  }
  if (state.fd < 0) return errno;
  // The replaced file's permissions carry over to its successor.
  if (state.existed) (void)::fchmod(state.fd, mode);
  return 0;
}

}  // namespace

Status AtomicFile::Begin(const std::string& path, StatePointer& opened) {
  if (path.empty()) return Failure(ENOENT);
  StatePointer state(new State);
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return Failure(EISDIR);
    // A device, a FIFO or a socket is neither replaced (the node would be lost) nor written
    // into (a FIFO without a reader would hold the run).
    if (!S_ISREG(info.st_mode)) return Status::Failure("not a regular file");
  } else if (errno != ENOENT) {
    return Failure(errno);
  }
  // Through the kernel: it refuses what the user may not write and links it does not follow.
  const int reached = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (reached < 0 && errno != ENOENT) return Failure(errno);
  struct stat linkInfo;
  if (reached < 0 && ::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    // A link to a file that is not there yet: the kernel makes the file where the link leads.
    const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (made < 0) return Failure(errno);
    state->created.Set(PathOfDescriptor(made, path));
    (void)::fstat(made, &state->createdInfo);
    ::close(made);
    state->target = state->created.Name();
    state->existed = true;
    info = state->createdInfo;
  } else if (reached >= 0) {
    (void)::fstat(reached, &info);
    state->target = PathOfDescriptor(reached, path);
    state->existed = true;
  } else {
    state->target = path;
  }
  const int error = OpenBeside(*state, info.st_mode & 07777);
  const bool mayWriteOnlyTheTarget = reached >= 0 && (error == EACCES || error == EROFS || error == EPERM);
  if (mayWriteOnlyTheTarget) {
    state->inPlace = reached;
  } else if (reached >= 0) {
    ::close(reached);
  }
  if (error != 0 && !mayWriteOnlyTheTarget) {
    Discard(*state);
    return Failure(error);
  }
  opened = std::move(state);
  return Status::Success();
}

Status AtomicFile::Put(State& state, const std::vector<std::string_view>& pieces) {
  if (state.inPlace < 0) return WriteAllTo(state.fd, pieces);
  for (std::string_view piece : pieces) state.held.Append(piece);
  return Status::Success();
}

namespace {

// Gives the unnamed file the target's name, or a temporary name to be renamed over it.
Status LinkUnnamed(AtomicFile::State& state) {
  const std::string self = DescriptorPath(state.fd);
  if (!state.existed) {
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, state.target.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return Status::Success();
    if (errno != EEXIST) return Failure(errno);
    // Made meanwhile by someone else: replaced like any existing file.
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    // Known before it exists, so that an interruption in between removes it too.
    state.temporary.Set(TemporaryNameBeside(state.target));
    const char* name = state.temporary.Name().c_str();
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) {
      if (::rename(name, state.target.c_str()) != 0) return Failure(errno);
      state.temporary.Release();
      return Status::Success();
    }
    const int error = errno;
    state.temporary.Release();
    if (error != EEXIST) return Failure(error);
  }
  return Failure(EEXIST);
}

Status OverwriteInPlace(AtomicFile::State& state) {
  if (::ftruncate(state.inPlace, 0) != 0) return Failure(errno);
  Status status = WriteAllTo(state.inPlace, {state.held.view()});
  if (::close(std::exchange(state.inPlace, -1)) != 0 && status) status = Failure(errno);
  return status;
}

}  // namespace

Status AtomicFile::Place(State& state) {
  Status status;
  if (state.inPlace >= 0) {
    status = OverwriteInPlace(state);
  } else if (state.unnamed) {
    // An unnamed file is gone once closed: it gets its name first.
    status = LinkUnnamed(state);
    if (::close(std::exchange(state.fd, -1)) != 0 && status) status = Failure(errno);
  } else if (::close(std::exchange(state.fd, -1)) != 0) {
    status = Failure(errno);
  } else if (::rename(state.temporary.Name().c_str(), state.target.c_str()) != 0) {
    status = Failure(errno);
  } else {
    state.temporary.Release();
  }
  if (status) {
    // The file made through a link is the new file now.
    state.created.Release();
  }
  return status;
}

void AtomicFile::Discard(State& state) {
  if (state.fd >= 0) ::close(std::exchange(state.fd, -1));
  if (state.inPlace >= 0) ::close(std::exchange(state.inPlace, -1));
  state.temporary.Remove();
  // Only the file this write made, and only while it is still that file.
  struct stat now;
  if (!state.created.Empty() && ::stat(state.created.Name().c_str(), &now) == 0 && SameFile(now, state.createdInfo)) {
    ::unlink(state.created.Name().c_str());
  }
  state.created.Release();
}

}  // namespace menuconv::platform
