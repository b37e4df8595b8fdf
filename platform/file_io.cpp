// The parts of the file layer that are the same on every platform.
#include "platform/file_io.h"

namespace menuconv::platform {

AtomicFile::AtomicFile() = default;
AtomicFile::~AtomicFile() { Abandon(); }

Status AtomicFile::Open(const std::string& path) {
  Abandon();
  return Begin(path, state_);
}

Status AtomicFile::Open(const std::string& folder, const std::string& name) {
  Abandon();
  return BeginBeneath(folder, name, state_);
}

Status AtomicFile::Write(const std::vector<std::string_view>& pieces) {
  if (!state_) return NotOpen();
  Status status = Put(*state_, pieces);
  if (!status) Abandon();
  return status;
}

Status AtomicFile::Commit() {
  if (!state_) return NotOpen();
  Status status = Place(*state_);
  if (!status) Abandon();
  state_.reset();
  return status;
}

void AtomicFile::Abandon() {
  if (!state_) return;
  Discard(*state_);
  state_.reset();
}

Status WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces) {
  AtomicFile file;
  Status status = file.Open(path);
  if (status) status = file.Write(pieces);
  if (status) status = file.Commit();
  return status;
}

}  // namespace menuconv::platform
