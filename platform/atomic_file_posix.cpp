// Files that appear under their names only complete.
//
// The target is named by a folder descriptor and a name in that folder: the folder is opened
// once, and everything after happens in it. The kernel is first asked whether the user may
// write an existing target; a link, or a target the answer refuses, is opened for writing
// through the kernel, which applies the permissions and the rules for links in shared
// folders, and only the file that open reached is replaced, by a complete file renamed over
// it in its own folder. A new file is written unnamed (O_TMPFILE) and linked in place once complete.
// Where the file system has no unnamed files, a named temporary file takes their place; where
// no file can be made beside an existing target the user may write, the target is overwritten
// in place once the whole new content is ready, with the space for it reserved first and
// interrupts held off meanwhile.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "base/byte_buffer.h"
#include "platform/file_io.h"
#include "platform/folder_beneath_posix.h"
#include "platform/temporary_names.h"

namespace menuconv::platform {

namespace {

Status Failure(int error) { return Status::SystemFailure(error); }

// A descriptor owned, closed when dropped, or one borrowed from its owner.
struct Descriptor {
  int fd = -1;
  bool borrowed = false;
  Descriptor() = default;
  explicit Descriptor(int opened) : fd(opened) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(-1); }
  void Reset(int opened) {
    if (fd >= 0 && !borrowed) ::close(fd);
    fd = opened;
    borrowed = false;
  }
  void Borrow(int held) {
    Reset(held);
    borrowed = true;
  }
};

// The folder part of a path ("" when it has none) and its last name.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string LastName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

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

// A key drawn once from the system's source of randomness (asked of the kernel directly: a
// std::random_device is set up anew each time). Without the call (or interrupted), the time
// and the process still make clashes rare; a name that is taken is drawn again.
uint64_t TemporaryNameKey() {
  static const uint64_t key = [] {
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
      bits = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
             (static_cast<uint64_t>(::getpid()) << 40);
    }
    return bits;
  }();
  return key;
}

// A name for a temporary file that nothing else uses yet: 48 bits of the key and a count of
// the names made, well mixed, so that no other process can tell the next one. A system call
// for each name cost as much as a tenth of writing a small file.
std::string FreshTemporaryName() {
  static std::atomic<uint64_t> made{0};
  uint64_t bits = TemporaryNameKey() + (made.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ull;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBull;
  bits = (bits ^ (bits >> 31)) & 0xFFFFFFFFFFFFull;
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "%012llx", static_cast<unsigned long long>(bits));
  return std::string(".menuconv-") + suffix;
}

bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

Status OpenFolder(const std::string& path, Descriptor& folder) {
  folder.Reset(::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return folder.fd >= 0 ? Status::Success() : Failure(errno);
}

}  // namespace

struct AtomicFile::State {
  Descriptor folder;        // the folder the target lies in; first, so that it is closed last
  std::string target;       // the final name, in `folder`
  int fd = -1;              // what the content goes to, unless it is held for writing in place
  bool unnamed = false;     // fd is a file without a name yet
  bool existed = false;     // the target was there: the new file replaces it
  TemporaryName temporary;  // a named temporary file in `folder`, removed again unless it was put in place
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
  const int folder = state.folder.fd;
  state.fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (state.fd >= 0) {
    state.unnamed = true;
  } else if (NoUnnamedFiles(errno)) {
    state.temporary.Set(FreshTemporaryName(), folder);
    state.fd = ::openat(folder, state.temporary.Name().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (state.fd < 0) state.temporary.Release();
  }
  if (state.fd < 0) return errno;
  // The replaced file's permissions carry over to its successor.
  if (state.existed) (void)::fchmod(state.fd, mode);
  return 0;
}

// The target reached through a link lies where the link led: its folder is opened by that path.
Status MoveToWhereLinkLed(AtomicFile::State& state, int reached) {
  const std::string fallback = DescriptorPath(state.folder.fd) + "/" + state.target;
  const std::string path = PathOfDescriptor(reached, fallback);
  state.target = LastName(path);
  return OpenFolder(FolderOf(path), state.folder);
}

// Whether the kernel lets the user write the file `leaf` of `folder`, itself and not where it
// leads if it is a link, by the same check an open for writing makes (Linux 5.8 and later):
// two system calls fewer for each file than opening it to see. False where it refuses or
// cannot tell: the open then decides.
bool MayWrite(int folder, const char* leaf) {
#ifdef SYS_faccessat2
  return ::syscall(SYS_faccessat2, folder, leaf, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
#else
  (void)folder;
  (void)leaf;
  return false;
#endif
}

// Whether OpenBeside failed because the folder lets nothing be made in it (permissions, a
// read-only file system): a target the user may write is then written in place.
bool NothingCanBeMadeBeside(int error) { return error == EACCES || error == EROFS || error == EPERM; }

// Opens the write of a new file `name` in the folder `state.folder`: nothing is there, not even
// a link that leads nowhere.
Status OpenNew(AtomicFile::State& state, const std::string& name) {
  state.target = name;
  const int error = OpenBeside(state, 0);
  return error == 0 ? Status::Success() : Failure(error);
}

// Opens the write of `name` in the folder `state.folder`.
Status OpenIn(AtomicFile::State& state, const std::string& name) {
  const int folder = state.folder.fd;
  const char* leaf = name.empty() ? "." : name.c_str();
  state.target = name;
  struct stat info;
  if (::fstatat(folder, leaf, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Failure(errno);
    return OpenNew(state, name);  // as most are
  }
  // A link counts as what it leads to.
  const bool link = S_ISLNK(info.st_mode);
  if (!link || ::fstatat(folder, leaf, &info, 0) == 0) {
    if (S_ISDIR(info.st_mode)) return Failure(EISDIR);
    // A device, a FIFO or a socket is neither replaced (the node would be lost) nor written
    // into (a FIFO without a reader would hold the run).
    if (!S_ISREG(info.st_mode)) return Status::Failure(StatusCode::kNotRegularFile, "not a regular file");
  } else if (errno != ENOENT) {
    return Failure(errno);
  }
  if (!link && MayWrite(folder, leaf)) {
    // A file of its own, as most targets are: replaced without being opened, unless nothing
    // can be made beside it; it is then opened below, to be written in place.
    state.existed = true;
    const int error = OpenBeside(state, info.st_mode & 07777);
    if (!NothingCanBeMadeBeside(error)) return error == 0 ? Status::Success() : Failure(error);
  }
  // Through the kernel: it refuses what the user may not write and links it does not follow.
  constexpr int kWrite = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  Descriptor reached(::openat(folder, leaf, kWrite | O_NOFOLLOW));
  const bool throughLink = reached.fd < 0 && errno == ELOOP;
  if (throughLink) reached.Reset(::openat(folder, leaf, kWrite));
  if (reached.fd < 0 && errno != ENOENT) return Failure(errno);
  if (reached.fd < 0 && throughLink) {
    // A link to a file that is not there yet: the kernel makes the file where the link leads.
    Descriptor made(::openat(folder, leaf, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666));
    if (made.fd < 0) return Failure(errno);
    (void)::fstat(made.fd, &state.createdInfo);
    state.created.Set(PathOfDescriptor(made.fd, DescriptorPath(folder) + "/" + name), AT_FDCWD);
    if (Status moved = MoveToWhereLinkLed(state, made.fd); !moved) return moved;
    state.existed = true;
    info = state.createdInfo;
  } else if (reached.fd >= 0) {
    (void)::fstat(reached.fd, &info);
    if (throughLink) {
      if (Status moved = MoveToWhereLinkLed(state, reached.fd); !moved) return moved;
    }
    state.existed = true;
  }
  const int error = OpenBeside(state, info.st_mode & 07777);
  const bool mayWriteOnlyTheTarget = reached.fd >= 0 && NothingCanBeMadeBeside(error);
  if (mayWriteOnlyTheTarget) {
    state.inPlace = std::exchange(reached.fd, -1);
  } else if (error != 0) {
    return Failure(error);
  }
  return Status::Success();
}

}  // namespace

Status AtomicFile::Open(const std::string& path, StatePointer& opened) {
  if (path.empty()) return Failure(ENOENT);
  opened.reset(new State);
  Status status = OpenFolder(FolderOf(path), opened->folder);
  return status ? OpenIn(*opened, LastName(path)) : status;
}

OutputFolder::~OutputFolder() {
  if (handle_ >= 0) ::close(handle_);
}

// A run writes hundreds of files into a folder that is most often empty or holds the run's
// files from before: the names read once tell which targets are new, where asking the system
// about each name cost as much as a fifth of writing a small file. A name the listing does not
// hold is taken as new and written unnamed; if it was made meanwhile, linking it fails and it
// is replaced as any file made between the look and the link always was. Only names of ASCII
// bytes are told this way, compared without case, and only from a listing of ASCII names,
// so that a file system that folds case cannot hold a name the listing misses.
struct OutputFolder::Listing {
  bool usable = false;
  std::unordered_set<std::string> names;  // lower-cased
  void Read(int folder);
};

void OutputFolder::ListingDeleter::operator()(Listing* listing) const { delete listing; }

namespace {

// Folders larger than this are not listed: a few files written into a folder of many
// thousands ask about each name instead.
constexpr off_t kListedFolderBytes = off_t{1} << 20;

bool AsciiLowered(std::string_view name, std::string& lowered) {
  lowered.assign(name);
  for (char& c : lowered) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return true;
}

}  // namespace

void OutputFolder::Listing::Read(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* const dir = ::fdopendir(fd);
  struct stat info;
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  if (::fstat(fd, &info) != 0 || info.st_size > kListedFolderBytes) {
    ::closedir(dir);
    return;
  }
  bool ascii = true;
  std::string lowered;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    ascii = ascii && AsciiLowered(entry->d_name, lowered);
    if (!ascii) break;
    names.insert(lowered);
  }
  usable = ascii && errno == 0;
  if (!usable) names.clear();
  ::closedir(dir);
}

bool OutputFolder::KnownNew(const std::string& name) {
  if (!listing_) {
    listing_.reset(new Listing);
    listing_->Read(handle_);
  }
  std::string lowered;
  if (!listing_->usable || !AsciiLowered(name, lowered)) return false;
  // Written from now on: a second file of the name is not new.
  return listing_->names.insert(lowered).second;
}

Status AtomicFile::Open(OutputFolder& folder, const std::string& name, StatePointer& opened) {
  if (name.empty()) return Failure(ENOENT);
  opened.reset(new State);
  if (folder.handle_ < 0) {
    Descriptor base;
    if (Status status = OpenFolder(folder.Path(), base); !status) return status;
    folder.handle_ = std::exchange(base.fd, -1);
  }
  const std::string within = FolderOf(name);
  if (within.empty()) {
    opened->folder.Borrow(folder.handle_);
    // Nothing there when the folder was read: a new file, as most are.
    if (folder.KnownNew(name)) return OpenNew(*opened, name);
  } else {
    const Result<int> beneath = OpenFolderBeneath(folder.handle_, within);
    if (!beneath) return beneath.status();
    opened->folder.Reset(*beneath);
  }
  return OpenIn(*opened, LastName(name));
}

Status AtomicFile::Write(State& state, const std::vector<std::string_view>& pieces) {
  if (state.inPlace < 0) return WriteAllTo(state.fd, pieces);
  for (std::string_view piece : pieces) state.held.Append(piece);
  return Status::Success();
}

namespace {

// Links the file behind `fd` as `name` in `folder`; 0 or the system's error. By its
// descriptor where the system lets any user do that (Linux 6.10 and later), else by the name
// the system shows it under.
int LinkDescriptor(int fd, int folder, const char* name) {
  if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM && errno != EINVAL) return errno;
  const std::string self = DescriptorPath(fd);
  return ::linkat(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Gives the unnamed file the target's name, or a temporary name to be renamed over it.
Status LinkUnnamed(AtomicFile::State& state) {
  const int folder = state.folder.fd;
  if (!state.existed) {
    const int error = LinkDescriptor(state.fd, folder, state.target.c_str());
    if (error == 0) return Status::Success();
    if (error != EEXIST) return Failure(error);
    // Made meanwhile by someone else: replaced like any existing file.
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    // Known before it exists, so that an interruption in between removes it too.
    state.temporary.Set(FreshTemporaryName(), folder);
    const char* name = state.temporary.Name().c_str();
    const int error = LinkDescriptor(state.fd, folder, name);
    if (error == 0) {
      if (::renameat(folder, name, folder, state.target.c_str()) != 0) return Failure(errno);
      state.temporary.Release();
      return Status::Success();
    }
    state.temporary.Release();
    if (error != EEXIST) return Failure(error);
  }
  return Failure(EEXIST);
}

// Writes the bytes at `offset`, all of them, or gives the system's error.
int WriteAt(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return 0;
}

// Makes room for `size` bytes in the file of `oldSize` bytes before any old byte is touched,
// so that a full disk or a file size limit fails here and leaves the old content whole. Where
// the file system reserves no space ahead, the file is extended by writing `tail` (the new
// content past `oldSize`) at its end and flushed to the disk, which finds a full disk as
// well; what was added is cut off again on failure.
int ReserveSpace(int fd, off_t oldSize, std::string_view content) {
  const auto size = static_cast<off_t>(content.size());
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur) {
    return EFBIG;
  }
  if (size == 0) return 0;
  int error = 0;
  do {
    error = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0 ? 0 : errno;
  } while (error == EINTR);
  if (error != EOPNOTSUPP && error != ENOSYS) return error;
  if (size <= oldSize) return 0;
  error = WriteAt(fd, content.substr(static_cast<std::size_t>(oldSize)), oldSize);
  if (error == 0 && ::fdatasync(fd) != 0) error = errno;
  if (error != 0) (void)::ftruncate(fd, oldSize);
  return error;
}

// Overwrites the target with what is held. SIGKILL or a power cut between the first and the
// last write leaves a mix of old and new content: the one case where a file is cut.
Status OverwriteInPlace(AtomicFile::State& state) {
  const int fd = state.inPlace;
  const std::string_view content = state.held.view();
  struct stat info;
  int error = ::fstat(fd, &info) == 0 ? 0 : errno;
  {
    const InterruptsHeldOff holdOff;
    if (error == 0) error = ReserveSpace(fd, info.st_size, content);
    if (error == 0) error = WriteAt(fd, content, 0);
    if (error == 0 && info.st_size > static_cast<off_t>(content.size()) &&
        ::ftruncate(fd, static_cast<off_t>(content.size())) != 0) {
      error = errno;
    }
  }
  if (::close(std::exchange(state.inPlace, -1)) != 0 && error == 0) error = errno;
  return error == 0 ? Status::Success() : Failure(error);
}

}  // namespace

Status AtomicFile::Commit(State& state) {
  Status status;
  if (state.inPlace >= 0) {
    status = OverwriteInPlace(state);
  } else if (state.unnamed) {
    // An unnamed file is gone once closed: it gets its name first.
    status = LinkUnnamed(state);
    if (::close(std::exchange(state.fd, -1)) != 0 && status) status = Failure(errno);
  } else if (::close(std::exchange(state.fd, -1)) != 0) {
    status = Failure(errno);
  } else if (::renameat(state.folder.fd, state.temporary.Name().c_str(), state.folder.fd, state.target.c_str()) != 0) {
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

void AtomicFile::StartWriteOut(State& state) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (state.fd >= 0) (void)::sync_file_range(state.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)state;
#endif
}

void AtomicFile::Abandon(State& state) {
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
