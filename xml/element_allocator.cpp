#include "xml/element_allocator.h"

#include "platform/large_blocks.h"

namespace menuconv {

namespace {

// A sequence smaller than a large page comes from the allocator as any other: a whole large
// page for it would hold up to 2 MiB the document never fills.
constexpr std::size_t kWholePagesFrom = std::size_t{2} << 20;

}  // namespace

void* AllocateElementBlock(std::size_t bytes) {
  return bytes >= kWholePagesFrom ? platform::AllocateInLargePages(bytes) : platform::AllocateLargeBlock(bytes);
}

void FreeElementBlock(void* block, std::size_t bytes) noexcept {
  if (bytes >= kWholePagesFrom) {
    platform::FreeInLargePages(block, bytes);
  } else {
    platform::FreeLargeBlock(block, bytes);
  }
}

}  // namespace menuconv
