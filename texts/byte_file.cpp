#include "texts/byte_file.h"

#include <cerrno>
#include <memory>
#include <utility>

#include "platform/mapped_file.h"

namespace menuconv {

Status ReadFileBytes(const std::string& path, HeldBytes& bytes) {
  bytes.Clear();
  auto held = std::make_unique<platform::HeldMappedFile>();
  const Status read = held->file.Open(path, static_cast<std::size_t>(-1));
  if (!read) return read.systemError() == ENOENT ? Status::Success() : read;  // not there: no bytes
  const std::string_view view = held->file.Bytes();
  if (!view.empty()) bytes = HeldBytes(view, std::move(held));
  return Status::Success();
}

}  // namespace menuconv
