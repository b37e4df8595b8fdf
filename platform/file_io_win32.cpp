// Windows file access: streams opened with _fsopen and _SH_DENYNO, so other processes may read
// and write the file meanwhile; atomic replacement with MoveFileExA.
#include <windows.h>

#include <share.h>

#include <cerrno>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_io.h"

namespace menuconv::platform {

namespace {

std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n && text ? std::string(text, n) : "error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

}  // namespace

bool ReadWholeFile(const std::string& path, ByteBuffer& contents, std::string& reason,
                   std::size_t maxSize) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    reason = SystemErrorText(ERROR_ACCESS_DENIED);
    return false;
  }
  FILE* file = _fsopen(path.c_str(), "rb", _SH_DENYNO);
  if (!file) {
    reason = std::strerror(errno);
    return false;
  }
  _fseeki64(file, 0, SEEK_END);
  const long long length = _ftelli64(file);
  _fseeki64(file, 0, SEEK_SET);
  if (length < 0 || static_cast<unsigned long long>(length) > maxSize) {
    reason = length < 0 ? std::strerror(errno) : "file too large";
    std::fclose(file);
    return false;
  }
  const auto size = static_cast<std::size_t>(length);
  contents.Reserve(size + 1);
  contents.Resize(size);
  const std::size_t read = size ? std::fread(contents.data(), 1, size, file) : 0;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    reason = std::strerror(errno);
    contents.Clear();
    return false;
  }
  contents.Resize(read);
  return true;
}

struct AtomicFile::State {
  FILE* file = nullptr;
  std::string target;
  std::string temp;
};

// Here, where State is complete.
AtomicFile::AtomicFile() = default;
AtomicFile::~AtomicFile() { Abandon(); }

bool AtomicFile::Open(const std::string& path, std::string& reason) {
  Abandon();
  if (path.empty()) {
    reason = SystemErrorText(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    reason = SystemErrorText(ERROR_ACCESS_DENIED);
    return false;
  }
  const std::size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char temp[MAX_PATH + 1];
  if (GetTempFileNameA(folder.c_str(), "mcv", 0, temp) == 0) {
    reason = SystemErrorText(GetLastError());
    return false;
  }
  auto state = std::make_unique<State>();
  state->target = path;
  state->temp = temp;
  state->file = _fsopen(temp, "wb", _SH_DENYNO);
  if (state->file == nullptr) {
    reason = std::strerror(errno);
    DeleteFileA(temp);
    return false;
  }
  state_ = std::move(state);
  return true;
}

bool AtomicFile::Write(const std::vector<std::string_view>& pieces, std::string& reason) {
  if (!state_) {
    reason = SystemErrorText(ERROR_INVALID_HANDLE);
    return false;
  }
  for (std::string_view piece : pieces) {
    if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), state_->file) != piece.size()) {
      reason = std::strerror(errno);
      Abandon();
      return false;
    }
  }
  return true;
}

bool AtomicFile::Commit(std::string& reason) {
  if (!state_) {
    reason = SystemErrorText(ERROR_INVALID_HANDLE);
    return false;
  }
  bool ok = true;
  if (std::fflush(state_->file) != 0) {
    reason = std::strerror(errno);
    ok = false;
  }
  if (std::fclose(std::exchange(state_->file, nullptr)) != 0 && ok) {
    reason = std::strerror(errno);
    ok = false;
  }
  if (ok && !MoveFileExA(state_->temp.c_str(), state_->target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    reason = SystemErrorText(GetLastError());
    ok = false;
  }
  if (!ok) {
    Abandon();
    return false;
  }
  state_.reset();
  return true;
}

void AtomicFile::Abandon() {
  if (!state_) return;
  if (state_->file != nullptr) std::fclose(state_->file);
  DeleteFileA(state_->temp.c_str());
  state_.reset();
}

std::FILE* OpenSharedStream(const std::string& path, StreamMode mode, int& error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = EACCES;
    return nullptr;
  }
  const char* streamMode = mode == StreamMode::kRead ? "rb" : mode == StreamMode::kWrite ? "wb" : "r+b";
  std::FILE* stream = _fsopen(path.c_str(), streamMode, _SH_DENYNO);
  if (stream == nullptr) error = errno;
  return stream;
}

bool SeekStream(std::FILE* stream, int64_t offset, int origin) {
  return _fseeki64(stream, offset, origin) == 0;
}

int64_t TellStream(std::FILE* stream) { return _ftelli64(stream); }

bool IsRegularStream(std::FILE*) { return true; }

void AdviseLargePages(char*, std::size_t) {}

std::string_view PathSeparators() { return "/\\"; }

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  // A drive letter, with or without a folder behind it, names another folder.
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

}  // namespace menuconv::platform
