// Memory for large sequences of plain records that are sized ahead and filled soon after (the
// element sequence), and large buffers about to be filled (a file read, a text decoded).
// Where the system has large pages, every whole 2 MiB of such a block lies in one: filling it
// then takes one page fault per 2 MiB instead of one per 4 KiB, which on some machines is most
// of the cost of the memory. What is left of a block past its last whole large page stays in
// small pages when it is less than half a large page, and takes a whole one otherwise, so
// that a block holds at most 1 MiB more than its filled part.
#pragma once

#include <cstddef>

namespace menuconv::platform {

// A block of at least `bytes` bytes, aligned for any record; throws std::bad_alloc.
void* AllocateLargeBlock(std::size_t bytes);
// Gives back a block of AllocateLargeBlock, with the size it was asked for.
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

// The same for a buffer allocated otherwise, about to be filled from `data` on, `size` bytes of
// it: where it holds whole large pages, they are asked for. Only a hint.
void AdviseLargePages(char* data, std::size_t size);

// Asks the system to back the whole small pages of [data, data + size) with memory at once, in
// one call, for room about to be written all over (a hash table's slots): written first, each
// page took a page fault of its own, which on some machines costs more than the writing. Less
// than 64 KiB is left as it is: a few pages are not worth the call. Only a hint.
void BackWithMemory(void* data, std::size_t size);

// A block of at least `bytes` bytes made of whole large pages where the system has them, its
// last one included: it may hold up to 2 MiB more than its filled part, for one page fault per
// 2 MiB. For room that is filled in good part at once (a table's records and the room they are
// sorted in, a document's element sequence). Throws std::bad_alloc; FreeInLargePages gives it
// back, with the size asked for.
void* AllocateInLargePages(std::size_t bytes);
void FreeInLargePages(void* block, std::size_t bytes) noexcept;

#ifndef _WIN32
// Asks the allocator to keep the memory the run frees for the run's later allocations, instead
// of giving it back to the system at once: a run frees and allocates buffers of like sizes all
// the time (the pieces of a screen being built), and memory given back is faulted in again page
// by page, which on some machines costs more than what the buffer is used for. The run's peak
// stays what it was: what is kept was in use before. Called once at start.
void KeepFreedMemoryForReuse();

// A private, writable anonymous range of `length` bytes (a whole number of small pages) that
// starts on a large page when it spans one, or nullptr; given back with munmap. A file mapped
// over it with MAP_FIXED lies on large-page boundaries too, so that where the system keeps
// the file in large pages of its page cache, the mapping takes one page fault per 2 MiB.
void* MapAlignedRange(std::size_t length);

// Whether at least half of the file mapping that starts at `begin`, `length` bytes long, lies
// in large pages, as the system's account of the process's mappings tells; false where it
// cannot be told.
bool FileMappedMostlyInLargePages(const void* begin, std::size_t length);

// Whether anonymous memory advised for large pages gets them: the system has them and does
// not refuse them to every range.
bool AnonymousLargePagesEnabled();

// The memory the system could give the process without swapping, as it estimates it; 0 where
// it cannot be told.
std::size_t AvailableMemory();
#endif

}  // namespace menuconv::platform
