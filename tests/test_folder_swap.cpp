// A folder on the way of an output name, swapped again and again for a link that leads out of
// the output folder while a run writes there: every file lands inside the output folder, or
// its save is refused, whichever the folder was when it was checked. The runs resolve the
// folder by the kernel (openat2), and again with openat2 refused by a seccomp filter, as
// container runtimes do, so that they walk the folders one by one; that filter also refuses
// linking a file by its descriptor, as kernels before 6.10 do, so that files are linked by
// the name the system shows them under.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

// Exchanges two names at once: no moment without either.
bool Exchange(const fs::path& a, const fs::path& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

enum class Resolution { kKernel, kWalk };

void PrintTo(Resolution r, std::ostream* os) { *os << (r == Resolution::kKernel ? "kernel" : "walk"); }

// Makes openat2 fail with EPERM, and linkat with AT_EMPTY_PATH with ENOENT, in this process
// and what it executes.
bool RefuseOpenat2() {
#ifdef SYS_openat2
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_linkat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOENT & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
  return true;
#endif
}

// Runs menuconv in the folder, its stderr into `err`; its exit status, or 1000 + the signal.
int RunMenuconv(const fs::path& folder, std::vector<std::string> args, Resolution resolution, std::string& err) {
  args.insert(args.begin(), MENUCONV_EXE);
  std::vector<char*> raw;
  for (std::string& a : args) raw.push_back(a.data());
  raw.push_back(nullptr);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    if (resolution == Resolution::kWalk && !RefuseOpenat2()) ::_exit(125);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

class FolderSwap : public ::testing::TestWithParam<Resolution> {};

TEST_P(FolderSwap, NothingLandsOutsideTheOutputFolder) {
  testing_support::TempFolder temp("menuconv-swap");
  const fs::path out = temp.path() / "out";
  const fs::path elsewhere = temp.path() / "elsewhere";
  fs::create_directories(out / "d");
  fs::create_directories(elsewhere);
  fs::create_symlink("../elsewhere", out / "x");
  std::string document;
  for (int s = 0; s < 300; ++s) {
    document += "<MENU_MODULE>d/s" + std::to_string(s);
    for (int i = 0; i < 100; ++i) document += "<SPRITE_MODULE ld.x=\"" + std::to_string(i) + "\"/>";
    document += "</MENU_MODULE>";
  }
  WriteBytes(temp.PathOf("menus"), document);
  if (!Exchange(out / "d", out / "x") || !Exchange(out / "d", out / "x")) {
    GTEST_SKIP() << "this file system cannot exchange two names at once";
  }

  int refused = 0, written = 0;
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // A process of its own, so that no thread runs while the run is forked off; bounded,
    // should the run hang.
    const pid_t swapper = ::fork();
    if (swapper == 0) {
      for (int swaps = 0; swaps < 2000000; ++swaps) Exchange(out / "d", out / "x");
      ::_exit(0);
    }
    ASSERT_GT(swapper, 0);
    std::string err;
    const int status = RunMenuconv(temp.path(), {"-o", "out", "menus"}, GetParam(), err);
    ::kill(swapper, SIGKILL);
    ::waitpid(swapper, nullptr, 0);
    if (fs::is_symlink(out / "d")) Exchange(out / "d", out / "x");

    EXPECT_TRUE(fs::is_empty(elsewhere)) << "written outside the output folder";
    ASSERT_NE(status, 125) << "the seccomp filter was refused";
    if (status == 1) {
      ++refused;
      EXPECT_NE(err.find(": Cannot save menu file\n  the name leaves the current folder\n"), std::string::npos) << err;
    } else {
      EXPECT_EQ(status, 0) << err;
    }
    for (const auto& entry : fs::directory_iterator(out / "d")) {
      const std::string bytes = *ReadBytes(entry.path().string());
      EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string("</menu>\0", 8)) << entry.path() << " is cut short";
      ++written;
    }
    for (const auto& entry : fs::directory_iterator(out / "d")) fs::remove(entry.path());
  }
  std::printf("6 runs against a swapped folder: %d refused a name, %d files written inside\n", refused, written);
}

INSTANTIATE_TEST_SUITE_P(FolderSwap, FolderSwap, ::testing::Values(Resolution::kKernel, Resolution::kWalk),
                         [](const ::testing::TestParamInfo<Resolution>& info) {
                           return std::string(info.param == Resolution::kKernel ? "kernel" : "walk");
                         });

}  // namespace
}  // namespace menuconv
