// The outcome of an operation that can fail: whether it succeeded, what kind of failure it was
// (a code a caller can compare), why in words, and where in its input when the failure has a
// place there. Every layer reports failures this way: a Status, or a Result holding a value.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace menuconv {

// The kinds of failure the callers tell apart.
enum class StatusCode {
  kOk,
  kSystemError,       // the system refused; the message is its reason
  kNotFound,          // something the input must hold is not there
  kNotRegularFile,    // the path names a device, a pipe or the like
  kTooLarge,          // the file is larger than can be held
  kMalformedInput,    // the input is not what its format says it must be
  kTextEndedEarly,    // the text ended inside a construct or an open element
  kUnconvertible,     // the encoding cannot be converted
  kNameLeavesFolder,  // a name reaches outside the folder it must stay in
  kInputChanged,      // another process cut the input short while it was read
  kAlreadyReported,   // the failure was reported where it happened; nothing more to say
  kThrown,            // an exception ended the operation (exhausted memory included)
};

// Where a failure lies in the input: byte offset, and 1-based line and column (in bytes).
struct InputPlace {
  std::size_t offset = 0;
  std::size_t line = 0;
  std::size_t column = 0;
};

inline bool operator==(const InputPlace& a, const InputPlace& b) {
  return a.offset == b.offset && a.line == b.line && a.column == b.column;
}
inline bool operator!=(const InputPlace& a, const InputPlace& b) { return !(a == b); }

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status Success() { return Status(); }
  static Status Failure(StatusCode code, std::string message) { return Status(code, std::move(message)); }
  static Status Failure(StatusCode code, std::string message, InputPlace place) {
    Status status(code, std::move(message));
    status.place_ = place;
    return status;
  }
  // The system's reason for the error number (errno).
  static Status SystemFailure(int systemError) {
    Status status(StatusCode::kSystemError, std::strerror(systemError));
    status.systemError_ = systemError;
    return status;
  }
  // The system's reason already in words, with no error number to go with it.
  static Status SystemFailure(std::string reason) { return Status(StatusCode::kSystemError, std::move(reason)); }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  // The system's error text, or what was wrong with the input; empty on success.
  const std::string& message() const { return message_; }
  // Where in the input, when the failure has a place there.
  const std::optional<InputPlace>& place() const { return place_; }
  // The system's error number (errno) when the system gave the reason; 0 otherwise.
  int systemError() const { return systemError_; }
  explicit operator bool() const { return ok(); }

 private:
  Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

  StatusCode code_ = StatusCode::kOk;
  std::string message_;
  std::optional<InputPlace> place_;
  int systemError_ = 0;
};

// A value, or the failed Status that says why there is none.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : held_(std::move(value)) {}          // NOLINT: a value converts, as in a return
  Result(Status failure) : held_(std::move(failure)) {  // NOLINT: a failure converts, too
    assert(!std::get<Status>(held_).ok() && "a Result without a value holds a failure");
  }

  bool ok() const { return std::holds_alternative<T>(held_); }
  explicit operator bool() const { return ok(); }
  // Success when there is a value.
  Status status() const { return ok() ? Status::Success() : std::get<Status>(held_); }

  const T& value() const& { return std::get<T>(held_); }
  T& value() & { return std::get<T>(held_); }
  T&& value() && { return std::get<T>(std::move(held_)); }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }

 private:
  std::variant<T, Status> held_;
};

}  // namespace menuconv
