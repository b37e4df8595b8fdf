// An input document or text table that another process cuts short while a run reads it: the
// run never crashes. It fails with the load or conversion message, or completes on what it
// read, and every file it put in place is the one an undisturbed run on what it read writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

// Some 24 MB: 300 screens of 800 sprites each, so that a run takes a good while to read it.
std::string LargeDocument() {
  std::string sprites;
  for (int i = 0; i < 800; ++i) {
    sprites += "<SPRITE_MODULE _keyImg=\"pic\" _sModeDraw=\"normal\" _colObj=\"" + std::to_string(i) +
               "\" _iAlph=\"255\" _fX=\"1.5\" _fY=\"2.5\"/>\n";
  }
  std::string document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ROOT>\n";
  for (int screen = 0; screen < 300; ++screen) {
    document += "<MENU_MODULE>s" + std::to_string(screen) + "\n" + sprites + "</MENU_MODULE>\n";
  }
  return document + "<PICTURES_MODULE><IMAGE_MODULE path=\"p.png\">pic</IMAGE_MODULE></PICTURES_MODULE>\n</ROOT>\n";
}

// The sanitizers take SIGBUS for themselves, which leaves a run no guard to map its inputs
// with: it would read them instead, and a cut while they are read could not be noticed. The
// runs leave it to menuconv.
void LeaveSigbusToTheRun() {
  for (const char* variable : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* set = std::getenv(variable);
    const std::string options = set ? set : "";
    if (options.find("handle_sigbus=0") != std::string::npos) continue;
    ::setenv(variable, (options + (options.empty() ? "" : ":") + "handle_sigbus=0").c_str(), 1);
  }
}

// Starts menuconv in the folder on menus.xml, with stdout and stderr going to files there.
pid_t StartRun(const fs::path& folder) {
  LeaveSigbusToTheRun();
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string err = (folder / "stderr").string();
    if (::chdir(folder.c_str()) != 0 || !std::freopen(err.c_str(), "w", stderr)) ::_exit(126);
    ::execl(MENUCONV_EXE, MENUCONV_EXE, "-o", "out", "menus.xml", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(InputChanges, CutShortDuringARunNeverCrashesIt) {
  const std::string document = LargeDocument();
  TempFolder reference;
  WriteBytes(reference.PathOf("menus.xml"), document);
  fs::create_directory(reference.path() / "out");
  ASSERT_EQ(WaitFor(StartRun(reference.path())), 0) << ReadBytes(reference.PathOf("stderr")).value_or("");

  int failed = 0;
  for (int delayMs = 0; delayMs <= 180; delayMs += 20) {
    SCOPED_TRACE("cut after " + std::to_string(delayMs) + " ms");
    TempFolder trial;
    WriteBytes(trial.PathOf("menus.xml"), document);
    fs::create_directory(trial.path() / "out");
    const pid_t child = StartRun(trial.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    fs::resize_file(trial.path() / "menus.xml", document.size() / 3);
    const int status = WaitFor(child);
    const std::string err = ReadBytes(trial.PathOf("stderr")).value_or("");
    ASSERT_TRUE(status == 0 || status == 1) << "exit " << status << "\n" << err;
    if (status == 1) {
      ++failed;
      EXPECT_TRUE(err.rfind("Error: Cannot load file, check file exist!\n", 0) == 0 ||
                  err.rfind("Error: Cannot reparsing file!\n", 0) == 0)
          << err;
    }
    for (const auto& entry : fs::directory_iterator(trial.path() / "out")) {
      const fs::path name = entry.path().filename();
      EXPECT_EQ(ReadBytes(entry.path().string()), ReadBytes((reference.path() / "out" / name).string())) << name;
    }
  }
  // Cut early, the run cannot have completed: the loop met the cut at least once.
  EXPECT_GT(failed, 0);
}

// A text table of some 12 MB: 300,000 records in no order, so that merging it takes a while.
std::string LargeTable() {
  std::u16string units = u"\xFEFF";
  for (unsigned i = 0; i < 300000; ++i) {
    units += u"key_" + std::u16string(1, static_cast<char16_t>(u'a' + i * 7919 % 26));
    for (const char c : std::to_string(i * 104729u % 1000003)) units += static_cast<char16_t>(c);
    units += u"\ttext of the record\r\n";
  }
  std::string bytes;
  for (const char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(InputChanges, TextTableCutShortDuringARunIsNeverMergedFromZeros) {
  const std::string table = LargeTable();
  const std::string cut = table.substr(0, table.size() / 3);
  const std::string document = "<ROOT><MENU_MODULE>s</MENU_MODULE></ROOT>\n";
  const std::string second("\xFF\xFEz\0\t\0t\0", 8);
  // What a run writes when it read the whole first table, and when it read it cut; and how
  // long a whole run takes here, so that the cuts below fall all over it, however fast the
  // build is.
  std::string merged[2];
  std::chrono::steady_clock::duration took{};
  for (int i = 0; i < 2; ++i) {
    TempFolder reference;
    WriteBytes(reference.PathOf("menus.xml"), document);
    WriteBytes(reference.PathOf("menus.txt"), i == 0 ? table : cut);
    WriteBytes(reference.PathOf("menus_txts.txt"), second);
    fs::create_directory(reference.path() / "out");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(WaitFor(StartRun(reference.path())), 0) << ReadBytes(reference.PathOf("stderr")).value_or("");
    if (i == 0) took = std::chrono::steady_clock::now() - start;
    merged[i] = ReadBytes(reference.PathOf("menus_txts.txt")).value_or("");
  }
  ASSERT_NE(merged[0], merged[1]);

  int failed = 0;
  for (int tenth = 0; tenth < 10; ++tenth) {
    const auto delay = took * tenth / 10;
    SCOPED_TRACE("cut after " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count()) +
                 " ms");
    TempFolder trial;
    WriteBytes(trial.PathOf("menus.xml"), document);
    WriteBytes(trial.PathOf("menus.txt"), table);
    WriteBytes(trial.PathOf("menus_txts.txt"), second);
    fs::create_directory(trial.path() / "out");
    const pid_t child = StartRun(trial.path());
    std::this_thread::sleep_for(delay);
    fs::resize_file(trial.path() / "menus.txt", cut.size());
    const int status = WaitFor(child);
    const std::string err = ReadBytes(trial.PathOf("stderr")).value_or("");
    ASSERT_TRUE(status == 0 || status == 1) << "exit " << status << "\n" << err;
    const std::string written = ReadBytes(trial.PathOf("menus_txts.txt")).value_or("");
    if (status == 1) {
      ++failed;
      EXPECT_NE(err.find("menus.txt: Cannot load text file"), std::string::npos) << err;
      EXPECT_NE(err.find("the file was cut short while it was read"), std::string::npos) << err;
      EXPECT_EQ(written, second);
    } else {
      EXPECT_TRUE(written == merged[0] || written == merged[1]) << err;
    }
  }
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace menuconv
