// Compares the bytes of a file being made, piece by piece as they come, with the file already
// under its name, so that an output whose bytes did not change can be left as it is, time
// stamp included.
#pragma once

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_sink.h"

namespace menuconv {

class UnchangedCheck final : public ByteSink {
 public:
  // Only a regular file can be the same; anything else, or nothing, differs.
  explicit UnchangedCheck(const std::string& existingPath);

  void Add(std::string_view piece);
  // Adds every piece; comparing never fails.
  Status Write(const std::vector<std::string_view>& bytes) override {
    for (std::string_view piece : bytes) Add(piece);
    return Status::Success();
  }
  // True when every byte added so far matched and the existing file holds no more.
  bool Unchanged();

 private:
  std::ifstream existing_;
  bool same_ = false;
  std::string buffer_;
};

}  // namespace menuconv
