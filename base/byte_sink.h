// Where written bytes go, in order, in the manner of pugixml's xml_writer: a file, a buffer,
// a comparison with what is there.
#pragma once

#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/status.h"

namespace menuconv {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes the next bytes, as pieces in order; the views are valid for the call only. A
  // failure ends the writing with that status.
  virtual Status Write(const std::vector<std::string_view>& bytes) = 0;
};

// Appends what is written to a buffer.
class BufferSink final : public ByteSink {
 public:
  explicit BufferSink(ByteBuffer& into) : into_(&into) {}
  Status Write(const std::vector<std::string_view>& bytes) override {
    for (std::string_view piece : bytes) into_->Append(piece);
    return Status::Success();
  }

 private:
  ByteBuffer* into_;
};

}  // namespace menuconv
