// The parts of the file layer that are the same on every platform.
#include "platform/file_io.h"

#include <utility>

namespace menuconv::platform {

AtomicFile::AtomicFile() = default;
AtomicFile::~AtomicFile() { Abandon(); }

Status AtomicFile::Open(const std::string& path) {
  Abandon();
  Status status = Open(path, state_);
  if (!status) Abandon();
  return status;
}

Status AtomicFile::Open(OutputFolder& folder, const std::string& name) {
  Abandon();
  Status status = Open(folder, name, state_);
  if (!status) Abandon();
  return status;
}

Status AtomicFile::Write(const std::vector<std::string_view>& pieces) {
  if (!state_) return NotOpen();
  Status status = Write(*state_, pieces);
  if (!status) Abandon();
  return status;
}

void AtomicFile::StartWriteOut() {
  if (state_) StartWriteOut(*state_);
}

Status AtomicFile::Commit() {
  if (!state_) return NotOpen();
  Status status = Commit(*state_);
  if (!status) Abandon();
  state_.reset();
  return status;
}

void AtomicFile::Abandon() {
  if (!state_) return;
  Abandon(*state_);
  state_.reset();
}

FileSink::FileSink(std::string path) : name_(std::move(path)) {}

FileSink::FileSink(OutputFolder& folder, std::string name) : folder_(&folder), name_(std::move(name)) {}

Status FileSink::Open() { return folder_ ? file_.Open(*folder_, name_) : file_.Open(name_); }

Status FileSink::Write(const std::vector<std::string_view>& bytes) {
  Status status = file_.IsOpen() ? Status::Success() : Open();
  if (status) status = file_.Write(bytes);
  failed_ = failed_ || !status;
  return status;
}

Status FileSink::Commit() {
  Status status = file_.Commit();
  failed_ = failed_ || !status;
  return status;
}

Status WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces) {
  AtomicFile file;
  Status status = file.Open(path);
  if (status) status = file.Write(pieces);
  if (status) status = file.Commit();
  return status;
}

}  // namespace menuconv::platform
