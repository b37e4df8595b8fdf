// The in-place overwrite: a menu document the user may write, in a folder where nothing can be
// made, is overwritten in place. Its space is reserved before the old content is touched, so
// a full file system or a file size limit fails the save and leaves the old file whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/run_process.h"
#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::Outcome;
using testing_support::ReadBytes;
using testing_support::RunMenuconv;
using testing_support::WriteBytes;

constexpr uid_t kOtherUser = 65534;  // nobody

const std::string kWide(60000, 'w');  // makes a menu document of some 60 KB
// Two pages and more, so that an overwrite that is not refused up front changes some of it.
const std::string kOld = [] {
  std::string old;
  while (old.size() < 10000) old += "the old menu document\n";
  return old;
}();

std::string Document() {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ROOT><MENU_MODULE ctr=\"1\">m1<SPRITE_MODULE ld.x=\"" + kWide +
         "\"/></MENU_MODULE></ROOT>\n";
}

// The menu document of Document(): declaration, the root with its six attributes in the
// store's order, the sprite, and the closing zero byte.
std::string MenuFile() {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n") +
         "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"1\" on_create_anim=\"\">\r\n" +
         "    <sprite rect=\"" + kWide + ",,,,,,,\"/>\r\n</menu>" + std::string(1, '\0');
}

std::vector<std::string> EntriesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Lays the old m1.xml into `out` for the user the run is made as, and makes `out` a folder
// where that user can make nothing: the superuser's, or the suite's own and read-only.
std::optional<uid_t> LayOldOutput(const fs::path& out) {
  WriteBytes((out / "m1.xml").string(), kOld);
  std::optional<uid_t> user;
  if (::geteuid() == 0) {
    user = kOtherUser;
    EXPECT_EQ(::chown((out / "m1.xml").c_str(), kOtherUser, kOtherUser), 0);
  }
  EXPECT_EQ(::chmod(out.c_str(), 0555), 0);
  return user;
}

// Runs a command of the system; true when it ran and succeeded.
bool RunCommand(std::vector<std::string> argv) {
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execvp(raw[0], raw.data());
    ::_exit(127);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A small file system of its own, unmounted when the test ends: a tmpfs, which reserves space
// ahead, or an ext2 image, which does not (its files have no extents).
enum class FileSystem { kTmpfs, kExt2 };

class SmallFileSystem {
 public:
  SmallFileSystem(const fs::path& at, FileSystem kind) : at_(at) {
    fs::create_directories(at_);
    if (kind == FileSystem::kTmpfs) {
      mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755") == 0;
      if (!mounted_) why_ = std::strerror(errno);
    } else {
      const std::string image = at_.string() + ".img";
      { std::ofstream(image, std::ios::binary); }
      fs::resize_file(image, 2 << 20);
      mounted_ =
          RunCommand({"mkfs.ext2", "-q", "-F", image}) && RunCommand({"mount", "-o", "loop", image, at_.string()});
      if (!mounted_) why_ = "mkfs.ext2 or mount -o loop failed";
      if (mounted_) ::chmod(at_.c_str(), 0755);
    }
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), 0);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }

  // Fills what is left with one file.
  void Fill(const fs::path& filler) const {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
  }

 private:
  fs::path at_;
  bool mounted_ = false;
  std::string why_;
};

void PrintTo(FileSystem kind, std::ostream* os) { *os << (kind == FileSystem::kTmpfs ? "tmpfs" : "ext2 image"); }

class InPlaceFull : public ::testing::TestWithParam<FileSystem> {};

TEST_P(InPlaceFull, FullFileSystemLeavesTheOldFileWhole) {
  testing_support::TempFolder temp("menuconv-in-place");
  WriteBytes(temp.PathOf("menus"), Document());
  const SmallFileSystem small(temp.path() / "small", GetParam());
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small file system here: " << small.Why();
  const fs::path out = temp.path() / "small" / "out";
  fs::create_directory(out);
  const std::optional<uid_t> user = LayOldOutput(out);
  small.Fill(temp.path() / "small" / "filler");

  const std::vector<std::string> args = {"-o", out.string(), temp.PathOf("menus")};
  Outcome outcome = RunMenuconv(temp.path(), args, std::nullopt, 10, false, std::nullopt, user);
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.err, (out / "m1.xml").string() +
                             ": Cannot save menu file\n  No space left on device\nError: Cannot reparsing file!\n");
  EXPECT_TRUE(ReadBytes((out / "m1.xml").string()) == kOld) << "the old file was touched";
  EXPECT_EQ(EntriesOf(out), std::vector<std::string>{"m1.xml"});

  // With room again the same run overwrites it whole.
  fs::remove(temp.path() / "small" / "filler");
  outcome = RunMenuconv(temp.path(), args, std::nullopt, 10, false, std::nullopt, user);
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
  EXPECT_TRUE(ReadBytes((out / "m1.xml").string()) == MenuFile()) << "not the whole new file";
  EXPECT_EQ(EntriesOf(out), std::vector<std::string>{"m1.xml"});
}

INSTANTIATE_TEST_SUITE_P(InPlace, InPlaceFull, ::testing::Values(FileSystem::kTmpfs, FileSystem::kExt2),
                         [](const ::testing::TestParamInfo<FileSystem>& info) {
                           return std::string(info.param == FileSystem::kTmpfs ? "tmpfs" : "ext2_image");
                         });

TEST(InPlace, FileSizeLimitLeavesTheOldFileWhole) {
  testing_support::TempFolder temp("menuconv-in-place");
  WriteBytes(temp.PathOf("menus"), Document());
  const fs::path out = temp.path() / "out";
  fs::create_directory(out);
  ::chmod(temp.path().c_str(), 0755);
  const std::optional<uid_t> user = LayOldOutput(out);

  const Outcome outcome = RunMenuconv(temp.path(), {"-o", "out", "menus"}, 4096, 10, false, std::nullopt, user);
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.err, "out/m1.xml: Cannot save menu file\n  File too large\nError: Cannot reparsing file!\n");
  EXPECT_TRUE(ReadBytes((out / "m1.xml").string()) == kOld) << "the old file was touched";
  EXPECT_EQ(EntriesOf(out), std::vector<std::string>{"m1.xml"});
  ::chmod(out.c_str(), 0755);
}

}  // namespace
}  // namespace menuconv
