#include "texts/byte_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/file_io.h"

namespace menuconv {

namespace {

Status SystemFailure(int error) { return Status::Failure(std::strerror(error)); }

// Closes the stream however the read ends.
struct StreamCloser {
  std::FILE* stream;
  ~StreamCloser() { std::fclose(stream); }
};

}  // namespace

Status ReadFileBytes(const std::string& path, ByteBuffer& bytes) {
  bytes.Resize(0);
  int error = 0;
  std::FILE* const stream = platform::OpenSharedStream(path, platform::StreamMode::kRead, error);
  if (stream == nullptr) return error == ENOENT ? Status::Success() : SystemFailure(error);
  const StreamCloser closer{stream};
  if (!platform::IsRegularStream(stream)) return Status::Failure("not a regular file");
  std::int64_t end = -1;
  if (platform::SeekStream(stream, 0, SEEK_END)) end = platform::TellStream(stream);
  (void)platform::SeekStream(stream, 0, SEEK_SET);  // a failure shows as a short read
  if (end <= 0) return Status::Success();
  if (static_cast<std::uint64_t>(end) > std::numeric_limits<std::size_t>::max()) return SystemFailure(EFBIG);
  const auto count = static_cast<std::size_t>(end);
  try {
    bytes.Resize(count);
  } catch (const std::bad_alloc&) {
    return SystemFailure(ENOMEM);
  }
  errno = 0;
  const std::size_t total = std::fread(bytes.data(), 1, count, stream);
  if (total == count) return Status::Success();
  // A read error, or a file that shrank after it was measured.
  const int readError = std::ferror(stream) && errno != 0 ? errno : EIO;
  bytes.Clear();
  return SystemFailure(readError);
}

}  // namespace menuconv
