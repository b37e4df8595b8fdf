// Memory for large sequences of plain records that are sized ahead and filled soon after (the
// element sequence). Where the system has large pages, every whole 2 MiB of such a block lies
// in one: filling it then takes one page fault per 2 MiB instead of one per 4 KiB, which on
// some machines is most of the cost of the memory. What is left of a block past its last whole
// large page stays in small pages, so a block never holds more memory than its filled part.
#pragma once

#include <cstddef>

namespace menuconv::platform {

// A block of at least `bytes` bytes, aligned for any record; throws std::bad_alloc.
void* AllocateLargeBlock(std::size_t bytes);
// Gives back a block of AllocateLargeBlock, with the size it was asked for.
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

}  // namespace menuconv::platform
