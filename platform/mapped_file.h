// A whole input file held as it is on disk, for reading only: mapped where the system can map
// it, so that its bytes are never copied into fresh memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "base/held_bytes.h"
#include "base/status.h"

namespace menuconv::platform {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept { Swap(other); }
  MappedFile& operator=(MappedFile&& other) noexcept {
    MappedFile(std::move(other)).Swap(*this);
    return *this;
  }

  // Holds the regular file at `path` (opened with a share mode that denies others neither
  // reading nor writing). Files larger than `maxSize` bytes are refused. A failure gives the
  // system's error text.
  Status Open(const std::string& path, std::size_t maxSize);
  void Close();

  // The file's bytes. One zero byte always follows them, so a text that must end in a zero
  // can be read in place.
  std::string_view Bytes() const { return std::string_view(data_, size_); }
  // True once another process cut the file short while it was mapped: the bytes past its new
  // end read as zeros from then on, and what was made from them must not be kept.
  bool WasCut() const;

  void Swap(MappedFile& other) noexcept;

 private:
  // Reads the file into fresh memory instead, where it cannot be mapped.
  Status Read(const std::string& path, std::size_t maxSize);

  const char* data_ = nullptr;
  std::size_t size_ = 0;
  // Where the system cannot map, the bytes are read into this buffer instead.
  ByteBuffer read_;
  std::size_t mappedLength_ = 0;  // 0 when nothing is mapped
  int slot_ = -1;                 // the mapping's entry among the guarded ones
};

// The failure of a run whose input was cut short under it.
inline Status CutShortFailure() {
  return Status::Failure(StatusCode::kInputChanged, "the file was cut short while it was read");
}

// Keeps a file for bytes held where they lie (see HeldBytes), and tells when it was cut.
struct HeldMappedFile final : HeldBytes::Owner {
  MappedFile file;
  bool CutShort() const override { return file.WasCut(); }
};

}  // namespace menuconv::platform
