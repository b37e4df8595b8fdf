// Read errors of the system, made to order: this program's own pread fails with EIO for the
// bytes of one file from a given offset on, and passes every other read to the system. It is a
// program of its own so that no other test reads through it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/mapped_file.h"

namespace {

std::atomic<ino_t> failingFile{0};
std::atomic<off_t> failingFrom{0};

}  // namespace

extern "C" ssize_t pread(int fd, void* into, size_t count, off_t offset) {
  struct stat info {};
  const ino_t failing = failingFile.load();
  if (failing != 0 && count > 0 && offset + static_cast<off_t>(count) > failingFrom.load() && ::fstat(fd, &info) == 0 &&
      info.st_ino == failing) {
    errno = EIO;
    return -1;
  }
  return static_cast<ssize_t>(::syscall(SYS_pread64, fd, into, count, offset));
}

namespace menuconv {
namespace {

namespace fs = std::filesystem;

struct ReadErrorCase {
  const char* what;
  std::size_t size;
  std::size_t failFrom;  // the first byte whose read fails
};

class ReadErrors : public ::testing::TestWithParam<ReadErrorCase> {
 protected:
  void TearDown() override { failingFile = 0; }
};

// A read error is no end of the file: the text must not end where the error came, whatever
// way the file is taken in (mapped with its last partial page read, or read whole).
TEST_P(ReadErrors, FailTheOpenInsteadOfShorteningTheText) {
  const ReadErrorCase& c = GetParam();
  const fs::path path = fs::path(::testing::TempDir()) / ("read_error_" + std::to_string(::getpid()) + ".xml");
  std::ofstream(path, std::ios::binary) << std::string(c.size, 'x');
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);

  platform::MappedFile file;
  ASSERT_TRUE(file.Open(path.string(), c.size));
  EXPECT_EQ(file.Bytes().size(), c.size) << "without errors, the whole file";
  file.Close();

  failingFrom = static_cast<off_t>(c.failFrom);
  failingFile = info.st_ino;
  const Status opened = file.Open(path.string(), c.size);
  failingFile = 0;
  EXPECT_FALSE(opened) << c.what << ": " << file.Bytes().size() << " bytes taken as the whole text";
  EXPECT_TRUE(file.Bytes().empty());
  fs::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Files, ReadErrors,
                         ::testing::Values(ReadErrorCase{"in the last, partial page", 3 * 4096 + 100, 3 * 4096 + 50},
                                           ReadErrorCase{"in a file of less than a page", 100, 0}),
                         [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace menuconv
