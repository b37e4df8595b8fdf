#include "texts/byte_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

using testing_support::kDirectoryError;

class ByteFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return temp_.PathOf(name); }

  static std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
  }
  static std::string DataOf(const ByteFile& file, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(file.Data()), length);
  }

  testing_support::TempFolder temp_{"menuconv-bytefile"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(ByteFileTest, NewFileHoldsNothing) {
  ByteFile file;
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Path(), "");
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Write("x", 1), 0u);
  EXPECT_NE(file.Flush(), 0);
}

TEST_F(ByteFileTest, ReadAllReadsEveryByte) {
  // Lengths around a 20-byte read piece, and one large file.
  for (const std::size_t length : {1u, 2u, 19u, 20u, 21u, 40u, 41u, 1000003u}) {
    SCOPED_TRACE(length);
    const std::string path = PathOf("f" + std::to_string(length) + ".bin");
    const std::string bytes = Pattern(length);
    WriteBytes(path, bytes);
    ByteFile file;
    ASSERT_TRUE(file.ReadAll(path));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Path(), path);
    ASSERT_NE(file.Data(), nullptr);
    EXPECT_EQ(DataOf(file, length), bytes);
    // The length is cached: it is known without the file.
    fs::remove(path);
    EXPECT_EQ(file.Size(), length);
  }
}

TEST_F(ByteFileTest, ReadAllFailsWithoutData) {
  const std::string empty = PathOf("empty.bin");
  WriteBytes(empty, "");
  fs::create_directory(PathOf("folder"));
  struct Case {
    const char* name;
    std::string path;
    int error;
    bool staysOpen;
  };
  std::vector<Case> cases = {
      {"missing file", PathOf("missing.bin"), ENOENT, false},
      {"empty file", empty, 0, true},
      {"directory", PathOf("folder"), kDirectoryError, false},
      {"empty name", "", ENOENT, false},
  };
#ifndef _WIN32
  // POSIX only: a FIFO must be refused, not waited on.
  ASSERT_EQ(mkfifo(PathOf("fifo").c_str(), 0600), 0) << std::strerror(errno);
  cases.push_back({"FIFO without a writer", PathOf("fifo"), ByteFile::kNotRegular, false});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteFile file;
    EXPECT_FALSE(file.ReadAll(c.path));
    EXPECT_EQ(file.Data(), nullptr);
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_EQ(file.LastError(), c.error);
    EXPECT_EQ(file.IsOpen(), c.staysOpen);
    EXPECT_EQ(file.Path(), c.staysOpen ? c.path : "");
  }
  EXPECT_TRUE(fs::is_directory(PathOf("folder")));
}

TEST_F(ByteFileTest, ReadAllAfterAnotherReadReplacesTheData) {
  const std::string first = PathOf("first.bin");
  const std::string second = PathOf("second.bin");
  WriteBytes(first, "0123456789");
  WriteBytes(second, "abc");
  ByteFile file;
  ASSERT_TRUE(file.ReadAll(first));
  ASSERT_TRUE(file.ReadAll(second));
  EXPECT_EQ(file.Size(), 3u);
  EXPECT_EQ(DataOf(file, 3), "abc");
  EXPECT_EQ(file.Path(), second);
  // A failed read leaves nothing of the earlier one.
  EXPECT_FALSE(file.ReadAll(PathOf("missing.bin")));
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(file.Path(), "");
}

TEST_F(ByteFileTest, OpenTakesTheFirstModeBitSet) {
  struct Case {
    const char* name;
    unsigned mode;
    std::optional<std::string> before;  // none: no file
    bool opens;
    std::size_t written;                // by Write("XY", 2)
    std::optional<std::string> after;  // after writing "XY" and closing; none: no file
  };
  const std::vector<Case> cases = {
      {"no mode bit", 0, "abcdef", false, 0, "abcdef"},
      {"unknown bit only", 8, "abcdef", false, 0, "abcdef"},
      {"read, missing file", ByteFile::ModeRead, std::nullopt, false, 0, std::nullopt},
      {"read, existing file", ByteFile::ModeRead, "abcdef", true, 0, "abcdef"},
      {"read and write bits read", 3, std::nullopt, false, 0, std::nullopt},
      {"read and write bits read an existing file", 3, "abcdef", true, 0, "abcdef"},
      {"write creates", ByteFile::ModeWrite, std::nullopt, true, 2, "XY"},
      {"write truncates", ByteFile::ModeWrite, "abcdef", true, 2, "XY"},
      {"write bit before update bit", 6, "abcdef", true, 2, "XY"},
      {"update, missing file", ByteFile::ModeUpdate, std::nullopt, false, 0, std::nullopt},
      {"update writes in place", ByteFile::ModeUpdate, "abcdef", true, 2, "XYcdef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf("open.bin");
    fs::remove(path);
    if (c.before) WriteBytes(path, *c.before);
    ByteFile file;
    EXPECT_EQ(file.Open(path, c.mode), c.opens);
    EXPECT_EQ(file.IsOpen(), c.opens);
    EXPECT_EQ(file.Path(), c.opens ? path : "");
    const std::size_t written = file.Write("XY", 2);
    if (c.opens) {
      EXPECT_EQ(file.Flush(), 0);
    }
    file.Close();
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(ReadBytes(path), c.after);
  }
}

TEST_F(ByteFileTest, OpenNeverOpensADirectory) {
  const std::string folder = PathOf("folder");
  fs::create_directory(folder);
  for (const unsigned mode : {ByteFile::ModeRead, ByteFile::ModeWrite, ByteFile::ModeUpdate}) {
    SCOPED_TRACE(mode);
    ByteFile file;
    EXPECT_FALSE(file.Open(folder, mode));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Path(), "");
    EXPECT_EQ(file.LastError(), kDirectoryError);
    EXPECT_TRUE(fs::is_directory(folder));
  }
}

TEST_F(ByteFileTest, OpenClearsEverything) {
  const std::string path = PathOf("data.bin");
  WriteBytes(path, "abcdef");
  ByteFile file;
  ASSERT_TRUE(file.ReadAll(path));
  ASSERT_NE(file.Data(), nullptr);
  EXPECT_FALSE(file.Open(PathOf("missing.bin"), ByteFile::ModeRead));
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(file.Path(), "");
  EXPECT_EQ(file.LastError(), ENOENT);
  EXPECT_EQ(file.ErrorText(), std::strerror(ENOENT));
}

TEST_F(ByteFileTest, SizeMeasuresAndRewinds) {
  const std::string path = PathOf("data.bin");
  WriteBytes(path, "abcdef");
  ByteFile file;
  ASSERT_TRUE(file.Open(path, ByteFile::ModeUpdate));
  ASSERT_EQ(file.Write("12", 2), 2u);
  EXPECT_EQ(file.Size(), 6u);
  // The next write lands at the start again.
  ASSERT_EQ(file.Write("XY", 2), 2u);
  ASSERT_EQ(file.Write("Z", 1), 1u);
  EXPECT_EQ(file.Size(), 6u);
  file.Close();
  EXPECT_EQ(ReadBytes(path), "XYZdef");

  ASSERT_TRUE(file.Open(path, ByteFile::ModeWrite));
  EXPECT_EQ(file.Size(), 0u);
  ASSERT_EQ(file.Write("0123456", 7), 7u);
  EXPECT_EQ(file.Size(), 7u);
  ASSERT_EQ(file.Write("ab", 2), 2u);
  file.Close();
  EXPECT_EQ(ReadBytes(path), "ab23456");
}

TEST_F(ByteFileTest, CloseKeepsDataAndReleaseDataKeepsTheStream) {
  const std::string path = PathOf("data.bin");
  WriteBytes(path, "abc");
  ByteFile file;
  ASSERT_TRUE(file.ReadAll(path));
  file.Close();
  ASSERT_NE(file.Data(), nullptr);
  EXPECT_EQ(DataOf(file, 3), "abc");
  EXPECT_EQ(file.Size(), 3u);
  EXPECT_EQ(file.Path(), path);
  file.ReleaseData();
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(file.Path(), "");

  const std::string written = PathOf("written.bin");
  ASSERT_TRUE(file.Open(written, ByteFile::ModeWrite));
  file.ReleaseData();
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Write("xyz", 3), 3u);
  EXPECT_EQ(file.Flush(), 0);
  EXPECT_EQ(ReadBytes(written), "xyz");
  file.Close();
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace menuconv
