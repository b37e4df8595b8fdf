#include "texts/table_memory.h"

#include <functional>

#include "platform/large_blocks.h"

namespace menuconv {

namespace {

// Below this, a table's memory is a few hundred small pages at most: not worth holding up to
// 2 MiB more than it fills.
constexpr std::size_t kWorthLargePages = std::size_t{1} << 20;

std::pmr::memory_resource& Upstream() { return *std::pmr::new_delete_resource(); }

}  // namespace

TableMemory::~TableMemory() {
  if (scratch_ != nullptr) deallocate(scratch_, scratchSize_, alignof(std::max_align_t));
  platform::FreeInLargePages(block_, size_);
}

void TableMemory::Reserve(std::size_t bytes) {
  if (block_ != nullptr || bytes < kWorthLargePages) return;
  block_ = static_cast<char*>(platform::AllocateInLargePages(bytes));
  size_ = bytes;
}

char* TableMemory::Scratch(std::size_t bytes) {
  if (bytes <= scratchSize_) return scratch_;
  if (scratch_ != nullptr) deallocate(scratch_, scratchSize_, alignof(std::max_align_t));
  scratch_ = nullptr;  // stays so if the allocation below throws
  scratchSize_ = 0;
  scratch_ = static_cast<char*>(allocate(bytes, alignof(std::max_align_t)));
  scratchSize_ = bytes;
  return scratch_;
}

bool TableMemory::InBlock(const void* at) const {
  const std::less_equal<const void*> notAfter;
  return block_ != nullptr && notAfter(block_, at) && !notAfter(block_ + size_, at);
}

void* TableMemory::do_allocate(std::size_t bytes, std::size_t alignment) {
  bytes = bytes == 0 ? 1 : bytes;  // every piece served has an address of its own
  if (block_ != nullptr) {
    const std::size_t start = (used_ + alignment - 1) / alignment * alignment;
    if (start <= size_ && bytes <= size_ - start) {
      used_ = start + bytes;
      return block_ + start;
    }
  }
  return Upstream().allocate(bytes, alignment);
}

void TableMemory::do_deallocate(void* at, std::size_t bytes, std::size_t alignment) {
  bytes = bytes == 0 ? 1 : bytes;
  if (!InBlock(at)) {
    Upstream().deallocate(at, bytes, alignment);
    return;
  }
  // The last piece served is served again; room below it stays taken until the block goes.
  if (static_cast<char*>(at) + bytes == block_ + used_)
    used_ = static_cast<std::size_t>(static_cast<char*>(at) - block_);
}

}  // namespace menuconv
