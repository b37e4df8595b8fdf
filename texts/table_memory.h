// Where a text table keeps its records and the room it sorts and merges them in.
#pragma once

#include <cstddef>
#include <memory_resource>

namespace menuconv {

// Serves a table's records and its scratch room from one block, sized ahead for the files to
// be read: in large pages where the system has them, so that filling a table of tens of
// thousands of records takes a page fault or two instead of hundreds of them (each costs more
// than sorting a page's worth of records). What does not fit the block, and every request
// when no block was reserved, goes to the allocator.
class TableMemory : public std::pmr::memory_resource {
 public:
  TableMemory() = default;
  TableMemory(const TableMemory&) = delete;
  TableMemory& operator=(const TableMemory&) = delete;
  ~TableMemory() override;

  // Takes a block of `bytes` when it is worth large pages and nothing was served yet.
  void Reserve(std::size_t bytes);
  // Room for at least `bytes` bytes, aligned for any record, kept from one call to the next;
  // what it held is not kept when it grows.
  char* Scratch(std::size_t bytes);

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* at, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
  bool InBlock(const void* at) const;

  char* block_ = nullptr;
  std::size_t size_ = 0;
  std::size_t used_ = 0;  // the block is served from its start on, in order
  char* scratch_ = nullptr;
  std::size_t scratchSize_ = 0;
};

}  // namespace menuconv
