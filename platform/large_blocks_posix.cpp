#include <sys/mman.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <fcntl.h>
#include <sys/ioctl.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/large_blocks.h"

namespace menuconv::platform {

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;

std::uintptr_t RoundUp(std::uintptr_t value, std::uintptr_t unit) { return (value + unit - 1) & ~(unit - 1); }

std::uintptr_t SmallPage() {
  static const auto size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

// The length mapped for a block of `bytes` bytes: whole small pages, and a whole large page for
// a last part of half a large page or more, which then holds at most 1 MiB more than it is
// asked to, for up to 512 page faults fewer.
std::uintptr_t BlockLength(std::size_t bytes) {
  const std::uintptr_t length = RoundUp(bytes, SmallPage());
  return length % kLargePage >= kLargePage / 2 ? RoundUp(length, kLargePage) : length;
}

// The whole of a small file of the system's (under /proc or /sys), or "" where it cannot be read.
std::string ReadSystemFile(const char* path) {
  std::string text;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// The size in bytes written "N kB" right after `field` in a listing of the system's, where the
// field stands between `from` and `until`; none where it does not.
std::optional<std::size_t> SizeField(const std::string& text, std::string_view field, std::size_t from = 0,
                                     std::size_t until = std::string::npos) {
  const std::size_t at = text.find(field, from);
  if (at == std::string::npos || at > until) return std::nullopt;
  return static_cast<std::size_t>(std::strtoull(text.c_str() + at + field.size(), nullptr, 10)) * 1024;
}

// Gives the advice for the pages of `unit` bytes that lie whole in [data, data + size); the
// advice is only a hint, and a system that refuses it changes nothing.
[[maybe_unused]] void AdviseWholePages(void* data, std::size_t size, std::uintptr_t unit, int advice) {
  const std::uintptr_t begin = RoundUp(reinterpret_cast<std::uintptr_t>(data), unit);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(unit - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

}  // namespace

void AdviseLargePages(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Buffers of a few large pages gain little against the pages of small ones around them.
  if (size >= 4 * kLargePage) AdviseWholePages(data, size, kLargePage, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

void BackWithMemory(void* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Systems without it refuse it; the pages are then faulted in as they are written.
  if (size >= (std::size_t{64} << 10)) AdviseWholePages(data, size, SmallPage(), MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

void* AllocateLargeBlock(std::size_t bytes) {
  // Smaller blocks cannot hold a whole large page: the allocator serves them as any other.
  if (bytes < kLargePage) {
    if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
    throw std::bad_alloc();
  }
  const std::uintptr_t length = BlockLength(bytes);
  void* const block = MapAlignedRange(length);
  if (block == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Only a hint: where the system keeps no large pages, nothing changes.
  (void)::madvise(block, length & ~(kLargePage - 1), MADV_HUGEPAGE);
#endif
  return block;
}

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
  // Freed memory at the top of a heap stays there, however much of it there is, and blocks of
  // up to 32 MiB come from the heaps rather than from mappings of their own, which are given
  // back whole as soon as they are freed. (Blocks that large or larger are mapped here by the
  // caller, as the element sequence is.)
  (void)::mallopt(M_TRIM_THRESHOLD, INT_MAX);
  (void)::mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

// A large block of whole large pages is mapped and advised whole.
void* AllocateInLargePages(std::size_t bytes) {
  return AllocateLargeBlock(RoundUp(bytes == 0 ? 1 : bytes, kLargePage));
}

void FreeInLargePages(void* block, std::size_t bytes) noexcept {
  FreeLargeBlock(block, RoundUp(bytes == 0 ? 1 : bytes, kLargePage));
}

void* MapAlignedRange(std::size_t length) {
  // Linux places an anonymous mapping of whole large pages on a large page by itself (6.7 and
  // later): one call then, instead of three, each of which takes the lock on the process's
  // memory map that the run's other threads take too as they map and fault in memory.
  if (length >= kLargePage && length % kLargePage == 0) {
    void* region = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    if (reinterpret_cast<std::uintptr_t>(region) % kLargePage == 0) return region;
    ::munmap(region, length);
  }
  const std::uintptr_t spare = length >= kLargePage ? kLargePage - SmallPage() : 0;
  // Mapped with nearly a large page's worth to spare, then cut to a range that starts on one.
  void* region = ::mmap(nullptr, length + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return nullptr;
  const auto at = reinterpret_cast<std::uintptr_t>(region);
  const std::uintptr_t begin = RoundUp(at, spare == 0 ? SmallPage() : kLargePage);
  if (begin > at) ::munmap(region, begin - at);
  if (at + spare > begin) ::munmap(reinterpret_cast<void*>(begin + length), at + spare - begin);
  return reinterpret_cast<void*>(begin);
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kLargePage) {
    std::free(block);
    return;
  }
  ::munmap(block, BlockLength(bytes));
}

namespace {

#ifdef __linux__
// The page table scan of Linux 6.7 and later, as its interface defines it; older headers lack it.
struct ScannedRange {
  uint64_t start;
  uint64_t end;
  uint64_t categories;
};
struct PageScan {
  uint64_t size;
  uint64_t flags;
  uint64_t start;
  uint64_t end;
  uint64_t walkEnd;
  uint64_t ranges;
  uint64_t rangeCount;
  uint64_t maxPages;
  uint64_t categoryInverted;
  uint64_t categoryMask;
  uint64_t categoryAnyOfMask;
  uint64_t returnMask;
};
constexpr unsigned long kPageMapScan = _IOWR('f', 16, PageScan);
constexpr uint64_t kPageIsHuge = uint64_t{1} << 6;
#endif

// How much of [begin, begin + length) is mapped in large pages, as a scan of the process's
// page table tells, or none where the system has no such scan. It reads only the range's own
// entries: the system's account of every mapping took 0.5 ms to read.
std::optional<std::size_t> ScanLargePages(const void* begin, std::size_t length) {
#ifdef __linux__
  const int fd = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::size_t> inLargePages = 0;
  ScannedRange ranges[32];
  uint64_t at = reinterpret_cast<std::uintptr_t>(begin);
  const uint64_t end = at + length;
  while (at < end) {
    PageScan scan{};
    scan.size = sizeof scan;
    scan.start = at;
    scan.end = end;
    scan.ranges = reinterpret_cast<std::uintptr_t>(ranges);
    scan.rangeCount = sizeof ranges / sizeof ranges[0];
    scan.categoryMask = kPageIsHuge;
    scan.returnMask = kPageIsHuge;
    const int found = ::ioctl(fd, kPageMapScan, &scan);
    if (found < 0 || scan.walkEnd <= at) {
      inLargePages = found < 0 ? std::nullopt : inLargePages;
      break;
    }
    for (int i = 0; i < found; ++i) *inLargePages += ranges[i].end - ranges[i].start;
    at = scan.walkEnd;
  }
  ::close(fd);
  return inLargePages;
#else
  (void)begin;
  (void)length;
  return std::nullopt;
#endif
}

}  // namespace

bool FileMappedMostlyInLargePages(const void* begin, std::size_t length) {
  if (const std::optional<std::size_t> scanned = ScanLargePages(begin, length)) return *scanned >= length / 2;
  // The mapping's entry starts with its range in hexadecimal, "begin-end ", and lists among
  // its fields "FilePmdMapped:   N kB", the part of it mapped in large pages.
  const std::string maps = ReadSystemFile("/proc/self/smaps");
  char head[40];
  std::snprintf(head, sizeof head, "%lx-", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(begin)));
  std::size_t at = maps.rfind(std::string("\n") + head);
  if (at == std::string::npos) {
    if (maps.rfind(head, 0) != 0) return false;
    at = 0;
  }
  // Each entry ends with its VmFlags line.
  const std::optional<std::size_t> inLargePages =
      SizeField(maps, "\nFilePmdMapped:", at + 1, maps.find("\nVmFlags:", at + 1));
  return inLargePages && *inLargePages >= length / 2;
}

bool AnonymousLargePagesEnabled() {
  static const bool enabled = [] {
    const std::string mode = ReadSystemFile("/sys/kernel/mm/transparent_hugepage/enabled");
    return mode.find("[always]") != std::string::npos || mode.find("[madvise]") != std::string::npos;
  }();
  return enabled;
}

std::size_t AvailableMemory() { return SizeField(ReadSystemFile("/proc/meminfo"), "MemAvailable:").value_or(0); }

}  // namespace menuconv::platform
