// A folder on the way of an output name, swapped again and again for a link that leads out of
// the output folder while a run writes there: every file lands inside the output folder, or
// its save is refused, whichever the folder was when it was checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/run_process.h"
#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::Outcome;
using testing_support::ReadBytes;
using testing_support::RunMenuconv;
using testing_support::WriteBytes;

// Exchanges two names at once: no moment without either.
bool Exchange(const fs::path& a, const fs::path& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

TEST(FolderSwap, NothingLandsOutsideTheOutputFolder) {
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
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      // Bounded, should the run hang.
      for (int swaps = 0; swaps < 2000000 && !stop; ++swaps) Exchange(out / "d", out / "x");
    });
    const Outcome outcome = RunMenuconv(temp.path(), {"-o", "out", "menus"}, std::nullopt, 60);
    stop = true;
    swapper.join();
    if (fs::is_symlink(out / "d")) Exchange(out / "d", out / "x");

    EXPECT_TRUE(fs::is_empty(elsewhere)) << "written outside the output folder";
    ASSERT_FALSE(outcome.timedOut);
    if (outcome.exitStatus == 1) {
      ++refused;
      EXPECT_NE(outcome.err.find(": Cannot save menu file\n  the name leaves the current folder\n"), std::string::npos)
          << outcome.err;
    } else {
      EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
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

}  // namespace
}  // namespace menuconv
