#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "texts/byte_file.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

using testing_support::kDirectoryError;

class ReadFileBytesTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return temp_.PathOf(name); }

  static std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
  }

  testing_support::TempFolder temp_{"menuconv-bytefile"};
};

TEST_F(ReadFileBytesTest, ReadsEveryByte) {
  // Lengths around the sizes of buffers and pages, and one large file.
  for (const std::size_t length : {1u, 2u, 3u, 4095u, 4096u, 4097u, 65536u, 1000003u}) {
    SCOPED_TRACE(length);
    const std::string path = PathOf("f" + std::to_string(length) + ".bin");
    const std::string bytes = Pattern(length);
    WriteBytes(path, bytes);
    HeldBytes read;
    const Status status = ReadFileBytes(path, read);
    EXPECT_TRUE(status.ok()) << status.message();
    EXPECT_TRUE(read.view() == bytes);
    // Reading never changes the file.
    EXPECT_TRUE(ReadBytes(path) == bytes);
  }
}

TEST_F(ReadFileBytesTest, ReplacesWhatTheBufferHeld) {
  const std::string longer = PathOf("longer.bin");
  const std::string shorter = PathOf("shorter.bin");
  WriteBytes(longer, "0123456789");
  WriteBytes(shorter, "abc");
  WriteBytes(PathOf("empty.bin"), "");
  fs::create_directory(PathOf("folder"));
  HeldBytes bytes;
  ASSERT_TRUE(ReadFileBytes(longer, bytes).ok());
  ASSERT_TRUE(ReadFileBytes(shorter, bytes).ok());
  EXPECT_EQ(bytes.view(), "abc");
  // Nothing is left of an earlier read when there is nothing to read, or a failure.
  for (const std::string& path : {PathOf("missing.bin"), PathOf("empty.bin"), PathOf("folder")}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(ReadFileBytes(longer, bytes).ok());
    // Whether the reading fails (the folder) or not, what was held before is gone.
    (void)ReadFileBytes(path, bytes);
    EXPECT_TRUE(bytes.empty());
  }
}

TEST_F(ReadFileBytesTest, NothingToReadIsNoFailureOtherFilesAre) {
  WriteBytes(PathOf("empty.bin"), "");
  WriteBytes(PathOf("plain"), "abc");
  fs::create_directory(PathOf("folder"));
  struct Case {
    const char* name;
    std::string path;
    std::optional<std::string> reason;  // none: no failure
  };
  std::vector<Case> cases = {
      {"missing file", PathOf("missing.bin"), std::nullopt},
      {"in a missing folder", PathOf("missing/file.bin"), std::nullopt},
      {"empty name", "", std::nullopt},
      {"empty file", PathOf("empty.bin"), std::nullopt},
      {"folder", PathOf("folder"), std::string(std::strerror(kDirectoryError))},
  };
#ifndef _WIN32
  // POSIX only: a FIFO must be refused, not waited on; a device is no file either.
  ASSERT_EQ(mkfifo(PathOf("fifo").c_str(), 0600), 0) << std::strerror(errno);
  cases.push_back({"FIFO without a writer", PathOf("fifo"), std::string("not a regular file")});
  cases.push_back({"device", "/dev/null", std::string("not a regular file")});
  cases.push_back({"below a file", PathOf("plain/file.bin"), std::string(std::strerror(ENOTDIR))});
  fs::create_symlink("loop", PathOf("loop"));
  cases.push_back({"link to itself", PathOf("loop"), std::string(std::strerror(ELOOP))});
  fs::create_symlink("missing.bin", PathOf("dangling"));
  cases.push_back({"link to a missing file", PathOf("dangling"), std::nullopt});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldBytes bytes;
    const Status status = ReadFileBytes(c.path, bytes);
    EXPECT_EQ(status.ok(), !c.reason.has_value());
    EXPECT_EQ(status.message(), c.reason.value_or(""));
    EXPECT_FALSE(status.place().has_value());
    EXPECT_TRUE(bytes.empty());
  }
  EXPECT_TRUE(fs::is_directory(PathOf("folder")));
  EXPECT_EQ(ReadBytes(PathOf("plain")), "abc");
}

#ifndef _WIN32
TEST_F(ReadFileBytesTest, ReadsThroughALink) {
  WriteBytes(PathOf("target.bin"), "linked bytes");
  fs::create_symlink("target.bin", PathOf("link.bin"));
  HeldBytes bytes;
  ASSERT_TRUE(ReadFileBytes(PathOf("link.bin"), bytes).ok());
  EXPECT_EQ(bytes.view(), "linked bytes");
}
#endif

}  // namespace
}  // namespace menuconv
