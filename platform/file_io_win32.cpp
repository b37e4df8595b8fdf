// Windows file access: streams opened with _fsopen and _SH_DENYNO, so other processes may read
// and write the file meanwhile; atomic replacement with MoveFileExA.
#include <share.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_io.h"

namespace menuconv::platform {

namespace {

std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n && text ? std::string(text, n) : "error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

}  // namespace

Status ReadWholeFile(const std::string& path, ByteBuffer& contents, std::size_t maxSize) {
  std::string reason;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  // A folder is refused as the C runtime refuses it: access denied.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Status::SystemFailure(EACCES);
  }
  FILE* file = _fsopen(path.c_str(), "rb", _SH_DENYNO);
  if (!file) {
    return Status::SystemFailure(errno);
  }
  _fseeki64(file, 0, SEEK_END);
  const long long length = _ftelli64(file);
  _fseeki64(file, 0, SEEK_SET);
  if (length < 0 || static_cast<unsigned long long>(length) > maxSize) {
    Status failed = length < 0 ? Status::SystemFailure(std::strerror(errno))
                               : Status::Failure(StatusCode::kTooLarge, "file too large");
    std::fclose(file);
    return failed;
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
    return Status::SystemFailure(reason);
  }
  contents.Resize(read);
  return Status::Success();
}

struct AtomicFile::State {
  FILE* file = nullptr;
  std::string target;
  std::string temp;
};

void AtomicFile::StateDeleter::operator()(State* state) const { delete state; }

Status AtomicFile::NotOpen() { return Status::SystemFailure(SystemErrorText(ERROR_INVALID_HANDLE)); }

Status AtomicFile::Open(const std::string& path, StatePointer& opened) {
  std::string reason;
  if (path.empty()) {
    return Status::SystemFailure(SystemErrorText(ERROR_PATH_NOT_FOUND));
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Status::SystemFailure(SystemErrorText(ERROR_ACCESS_DENIED));
  }
  const std::size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char temp[MAX_PATH + 1];
  if (GetTempFileNameA(folder.c_str(), "mcv", 0, temp) == 0) {
    return Status::SystemFailure(SystemErrorText(GetLastError()));
  }
  StatePointer state(new State);
  state->target = path;
  state->temp = temp;
  state->file = _fsopen(temp, "wb", _SH_DENYNO);
  if (state->file == nullptr) {
    reason = std::strerror(errno);
    DeleteFileA(temp);
    return Status::SystemFailure(reason);
  }
  opened = std::move(state);
  return Status::Success();
}

OutputFolder::~OutputFolder() = default;

// The folder's names are not listed here: each file is opened by its path.
struct OutputFolder::Listing {};
void OutputFolder::ListingDeleter::operator()(Listing* listing) const { delete listing; }

// Nothing is held open here, and folder links are not followed (see StaysInside): the name is
// joined to the folder's path for each file.
Status AtomicFile::Open(OutputFolder& folder, const std::string& name, StatePointer& opened) {
  return Open(folder.Path().empty() ? name : folder.Path() + "/" + name, opened);
}

Status AtomicFile::Write(State& state, const std::vector<std::string_view>& pieces) {
  for (std::string_view piece : pieces) {
    if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), state.file) != piece.size()) {
      return Status::SystemFailure(std::strerror(errno));
    }
  }
  return Status::Success();
}

Status AtomicFile::Commit(State& state) {
  const bool flushed = std::fflush(state.file) == 0;
  const int flushError = errno;
  if (std::fclose(std::exchange(state.file, nullptr)) != 0 || !flushed) {
    return Status::SystemFailure(std::strerror(flushed ? errno : flushError));
  }
  if (!MoveFileExA(state.temp.c_str(), state.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Status::SystemFailure(SystemErrorText(GetLastError()));
  }
  state.temp.clear();  // in place: nothing left to remove
  return Status::Success();
}

// The system writes the file out as it sees fit; nothing is waited for at the commit.
void AtomicFile::StartWriteOut(State&) {}

void AtomicFile::Abandon(State& state) {
  if (state.file != nullptr) std::fclose(std::exchange(state.file, nullptr));
  if (!state.temp.empty()) DeleteFileA(state.temp.c_str());
}

std::string_view PathSeparators() { return "/\\"; }

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  // A drive letter, with or without a folder behind it, names another folder.
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// Folder links are not followed here: the spelling check of the name is what counts.
bool StaysInside(const std::string&, const std::string&) { return true; }

}  // namespace menuconv::platform
