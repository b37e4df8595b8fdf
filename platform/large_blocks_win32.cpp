#include <cstdlib>
#include <new>

#include "platform/large_blocks.h"

namespace menuconv::platform {

// Large pages need a privilege that programs are rarely given here: the allocator serves every
// block.
void* AllocateLargeBlock(std::size_t bytes) {
  if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
  throw std::bad_alloc();
}

void FreeLargeBlock(void* block, std::size_t) noexcept { std::free(block); }

void* AllocateInLargePages(std::size_t bytes) { return AllocateLargeBlock(bytes); }

void FreeInLargePages(void* block, std::size_t bytes) noexcept { FreeLargeBlock(block, bytes); }

void AdviseLargePages(char*, std::size_t) {}

void BackWithMemory(void*, std::size_t) {}

}  // namespace menuconv::platform
