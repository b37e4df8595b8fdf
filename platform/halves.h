// Work over a large range shared out in two halves done at once, the second on a thread of
// its own: reading, checking or decoding a large file takes half as long on two cores.
#pragma once

#include <cstddef>
#include <system_error>

#include "platform/threads.h"

namespace menuconv {

// One part of the range: [begin, end), and which part it is (0 or 1).
struct Half {
  std::size_t begin;
  std::size_t end;
  int index;

  std::size_t size() const { return end - begin; }
};

// Calls work(Half) over [0, size): for a size of at least minimumToSplit, on [0, size / 2)
// here and on [size / 2, size) on a second thread at once; as one part [0, size) (index 0)
// here when the range is smaller or when no second thread can be had. `work` must not throw;
// the parts touch disjoint state through their index.
template <class Work>
void InTwoHalves(std::size_t size, std::size_t minimumToSplit, Work&& work) {
  const std::size_t split = size / 2;
  if (size >= minimumToSplit && split > 0) {
    platform::Thread other;
    try {
      other = platform::Thread([&work, split, size] { work(Half{split, size, 1}); });
    } catch (const std::system_error&) {
      work(Half{0, size, 0});  // no second thread to be had: all of it here
      return;
    }
    work(Half{0, split, 0});
    other.Join();
    return;
  }
  work(Half{0, size, 0});
}

}  // namespace menuconv
