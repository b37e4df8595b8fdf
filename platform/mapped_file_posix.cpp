#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <optional>

#include "platform/large_blocks.h"
#include "platform/mapped_file.h"
#include "platform/read_range_posix.h"

namespace menuconv::platform {

namespace {

// The mapped ranges a fault may hit when another process cuts their file short. The signal
// handler reads this table, so it is a fixed array of lock-free words rather than anything
// that allocates or locks; it is the one process-wide table besides the temporary names, and
// for the same reason: a signal handler has no other way to find it.
struct GuardedRange {
  std::atomic<bool> claimed{false};  // by one mapping, of one thread or another
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<int> cut{0};  // set by the handler: the file was cut short under the range
};
constexpr int kGuardedRanges = 4;
GuardedRange guarded[kGuardedRanges];
std::uintptr_t pageSize = 0;

// Maps a page of zeros over the page at `page`. (mmap is a plain system call on the systems
// that have MAP_ANONYMOUS: it is safe in a signal handler although POSIX does not list it.)
// On Linux the system call is made directly: a tool that watches memory accesses (the thread
// sanitizer) wraps the C library's mmap and counts the new page as written by this thread, so
// that another thread's later read of it, which nothing orders after this one, would count as
// a race. The kernel puts the page in place whole: a reader sees zeros, or faults on the cut
// itself and maps zeros there again.
void* MapZeroPage(void* page) {
#if defined(__linux__) && defined(SYS_mmap) && (defined(__x86_64__) || defined(__aarch64__))
  return reinterpret_cast<void*>(
      ::syscall(SYS_mmap, page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0));
#else
  return ::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
#endif
}

// A fault inside a guarded range is a page whose file was cut short: a page of zeros takes
// its place, and the faulting read, repeated, finds the text ended there. Any other fault
// ends the process as it would have.
extern "C" void ReplaceCutPage(int signal, siginfo_t* info, void*) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0) {
    for (GuardedRange& range : guarded) {
      if (at < range.begin.load() || at >= range.end.load()) continue;
      void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
      if (MapZeroPage(page) != MAP_FAILED) {
        range.cut.store(1);
        return;
      }
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  if (info->si_code <= 0) ::raise(signal);  // sent, not a fault: end as the sender meant
}

// Installs the handler once, and only over the default action: a caller that set its own
// keeps it, and then nothing is mapped.
bool GuardInstalled() {
  static const bool installed = [] {
    pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction current {};
    if (::sigaction(SIGBUS, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return false;
    struct sigaction action {};
    action.sa_sigaction = ReplaceCutPage;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  return installed;
}

int Guard(const char* begin, std::size_t length) {
  for (int i = 0; i < kGuardedRanges; ++i) {
    bool free = false;
    if (!guarded[i].claimed.compare_exchange_strong(free, true)) continue;
    guarded[i].cut.store(0);
    guarded[i].begin.store(reinterpret_cast<std::uintptr_t>(begin));
    guarded[i].end.store(reinterpret_cast<std::uintptr_t>(begin) + length);
    return i;
  }
  return -1;
}

void Unguard(int slot) {
  if (slot < 0) return;
  guarded[slot].end.store(0);
  guarded[slot].begin.store(0);
  guarded[slot].claimed.store(false);
}

// Maps the first `whole` bytes of the file over the range at `begin` (on a large page, see
// MapAlignedRange), with their page table entries made at once. Where the page cache holds
// the file in large pages, as a file read from disk or written in large pieces is held, each
// 2 MiB then takes one entry: touched 4 KiB at a time, a 30 MB input cost 10 to 15 ms.
bool MapWholePages(char* begin, std::size_t whole, int fd) {
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_READ)
  if (::mmap(begin, whole, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) return false;
  // Asked for before the entries are made, so that a file read from disk now comes in large
  // pages too. Only hints: a system without them maps the pages on first touch.
  (void)::madvise(begin, whole, MADV_HUGEPAGE);
  (void)::madvise(begin, whole, MADV_POPULATE_READ);
  return true;
#else
  return ::mmap(begin, whole, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) != MAP_FAILED;
#endif
}

// Files from this size on are copied where their mapping would be in small pages (see Open).
constexpr std::size_t kCopyInSmallPagesFrom = std::size_t{4} << 20;

// Puts fresh memory in large pages over the mapping [begin, begin + whole) and reads the
// file's first `size` bytes into it; the bytes read (fewer where another process cut the
// file meanwhile), or nothing when the memory could not be had or the file not read. The
// pages are asked for whole before the read, which otherwise faults them in one by one and
// may get small ones.
std::optional<std::size_t> CopyIntoLargePages(char* begin, std::size_t whole, int fd, std::size_t size) {
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
  if (::mmap(begin, whole, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
    return std::nullopt;
  }
  (void)::madvise(begin, whole, MADV_HUGEPAGE);
  if (::madvise(begin, whole, MADV_POPULATE_WRITE) != 0) return std::nullopt;
  const ssize_t read = ReadRange(fd, begin, size, 0);
  if (read < 0) return std::nullopt;  // a read error is no end of the file
  return static_cast<std::size_t>(read);
#else
  (void)begin;
  (void)whole;
  (void)fd;
  (void)size;
  return std::nullopt;
#endif
}

}  // namespace

bool MappedFile::WasCut() const { return slot_ >= 0 && guarded[slot_].cut.load() != 0; }

Status MappedFile::Open(const std::string& path, std::size_t maxSize) {
  Close();
  // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Status::SystemFailure(errno);
  struct stat info {};
  Status status;
  if (::fstat(fd, &info) != 0) {
    status = Status::SystemFailure(errno);
  } else if (S_ISDIR(info.st_mode)) {
    status = Status::SystemFailure(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    status = Status::Failure(StatusCode::kNotRegularFile, "not a regular file");
  } else if (static_cast<std::size_t>(info.st_size) > maxSize) {
    status = Status::Failure(StatusCode::kTooLarge, "file too large");
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  if (status && size > 0 && GuardInstalled()) {
    // The whole pages of the file are mapped; its last, partial page is copied into fresh
    // memory behind them, followed by zeros, so that the zero after the bytes stays there
    // even if the file grows meanwhile.
    const std::size_t whole = size & ~(pageSize - 1);
    const std::size_t length = whole + pageSize;
    if (void* region = MapAlignedRange(length)) {
      char* const begin = static_cast<char*>(region);
      bool mapped = whole == 0 || MapWholePages(begin, whole, fd);
      // A mapping in small pages costs more to read than a copy in large pages on machines
      // whose first touch of a page is dear, as in virtual machines that keep page tables of
      // their own (a 30 MB input: 10 to 14 ms to read mapped, 4 to 6 ms to copy and read).
      // Where the system keeps the file in large pages of its cache, the mapping stays; so it
      // does where the copy would take more than a quarter of the memory still available,
      // which the mapping leaves to the page cache.
      if (mapped && whole >= kCopyInSmallPagesFrom && AnonymousLargePagesEnabled() && whole <= AvailableMemory() / 4 &&
          !FileMappedMostlyInLargePages(begin, whole)) {
        if (const std::optional<std::size_t> copied = CopyIntoLargePages(begin, whole, fd, size)) {
          (void)::mprotect(begin, length, PROT_READ);
          data_ = begin;
          size_ = *copied;
          mappedLength_ = length;
          ::close(fd);
          return Status::Success();
        }
        mapped = MapWholePages(begin, whole, fd);
      }
      const int slot = mapped ? Guard(begin, whole) : -1;
      if (slot >= 0) {
        // A file cut shorter meanwhile ends where the read stopped; a fault in its mapped
        // pages is taken care of by the guard. A read error is no end of the file: it fails
        // the open.
        const ssize_t tail = ReadRange(fd, begin + whole, size - whole, whole);
        if (tail >= 0) {
          (void)::mprotect(begin + whole, pageSize, PROT_READ);
          data_ = begin;
          size_ = whole + static_cast<std::size_t>(tail);
          mappedLength_ = length;
          slot_ = slot;
          ::close(fd);
          return Status::Success();
        }
        status = Status::SystemFailure(errno);
        Unguard(slot);
      }
      ::munmap(region, length);
    }
  }
  ::close(fd);
  if (!status) return status;
  // Empty, or where nothing can be mapped: read into fresh memory.
  return Read(path, maxSize);
}

void MappedFile::Close() {
  if (mappedLength_ != 0) {
    Unguard(slot_);
    ::munmap(const_cast<char*>(data_), mappedLength_);
  }
  read_.Clear();
  data_ = nullptr;
  size_ = 0;
  mappedLength_ = 0;
  slot_ = -1;
}

}  // namespace menuconv::platform
