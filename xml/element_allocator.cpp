#include "xml/element_allocator.h"

#include "platform/large_blocks.h"

namespace menuconv {

void* AllocateElementBlock(std::size_t bytes) { return platform::AllocateInLargePages(bytes); }
void FreeElementBlock(void* block, std::size_t bytes) noexcept { platform::FreeInLargePages(block, bytes); }

}  // namespace menuconv
