// The outcome of an operation that can fail: whether it succeeded, why not, and where in its
// input when the failure has a place there. Every layer reports failures this way.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace menuconv {

struct Status {
  bool ok = true;
  // The system's error text, or what was wrong with the input.
  std::string reason;
  // Where the failure lies in the input: byte offset, and 1-based line and column (in bytes).
  // Line 0 when the failure has no place in the input.
  std::size_t offset = 0;
  std::size_t line = 0;
  std::size_t column = 0;
  // The system's error number (errno) when the system gave the reason; 0 otherwise.
  int error = 0;

  static Status Success() { return Status{}; }
  static Status Failure(std::string why) {
    Status status;
    status.ok = false;
    status.reason = std::move(why);
    return status;
  }
  static Status SystemFailure(int systemError) {
    Status status = Failure(std::strerror(systemError));
    status.error = systemError;
    return status;
  }
  bool HasPosition() const { return line != 0; }
  explicit operator bool() const { return ok; }
};

}  // namespace menuconv
