// What a build pipeline relies on when runs are interrupted, users differ and folders are
// shared: the real executable is run as a user would run it (as a second user where the suite
// runs as the superuser), interrupted at random moments, and pointed at planted links.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "tests/test_support.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

constexpr uid_t kOtherUser = 65534;  // nobody

struct Child {
  pid_t pid = -1;
  int errFd = -1;
};

// Starts menuconv in the folder, as `user` when given and the suite runs as the superuser.
Child Start(const fs::path& folder, const std::vector<std::string>& args, std::optional<uid_t> user = std::nullopt) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv = {MENUCONV_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    if (user && ::geteuid() == 0 && (::setgid(*user) != 0 || ::setuid(*user) != 0)) ::_exit(126);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return Child{pid, pipeFds[0]};
}

// Waits for the child: its exit status, or 1000 + the signal that ended it; `err` gets stderr.
int Finish(const Child& child, std::string* err = nullptr) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(child.errFd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(child.errFd);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (err) *err = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

int RunMenuconvAs(const fs::path& folder, const std::vector<std::string>& args, std::string* err,
                  std::optional<uid_t> user = std::nullopt) {
  return Finish(Start(folder, args, user), err);
}

std::vector<std::string> EntriesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A folder the other user may use, and whom the runs are made as: the other user where the
// suite is the superuser (who may write anything), else the suite's own user.
struct UserFolder {
  UserFolder() : temp("menuconv-protect") {
    ::chmod(temp.path().c_str(), 0755);
    if (::geteuid() == 0) {
      user = kOtherUser;
      EXPECT_EQ(::chown(temp.path().c_str(), kOtherUser, kOtherUser), 0);
    }
  }
  ~UserFolder() { ::chmod(temp.path().c_str(), 0755); }
  fs::path path() const { return temp.path(); }
  void GiveToUser(const fs::path& file) const {
    if (user) {
      EXPECT_EQ(::chown(file.c_str(), *user, *user), 0);
    }
  }
  testing_support::TempFolder temp;
  std::optional<uid_t> user;
};

const std::string kScreen = "<MENU_MODULE>m1<SPRITE_MODULE/></MENU_MODULE>";

// Replacing never overrides protection: a file the user may not write is refused, untouched;
// a file the user may write, in a folder where nothing can be created, is overwritten.
TEST(Protection, ReplacingRespectsWhatTheUserMayWrite) {
  {
    UserFolder folder;
    WriteBytes((folder.path() / "menus").string(), kScreen);
    WriteBytes((folder.path() / "m1.xml").string(), "protected");
    ::chmod((folder.path() / "m1.xml").c_str(), 0444);  // the superuser's own, or read-only
    std::string err;
    EXPECT_EQ(RunMenuconvAs(folder.path(), {"menus"}, &err, folder.user), 1);
    EXPECT_EQ(err, "m1.xml: Cannot save menu file\n  Permission denied\nError: Cannot reparsing file!\n");
    EXPECT_EQ(ReadBytes((folder.path() / "m1.xml").string()), "protected");
    struct stat info;
    ASSERT_EQ(::stat((folder.path() / "m1.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_EQ(EntriesOf(folder.path()), (std::vector<std::string>{"m1.xml", "menus"}));
  }
  {
    UserFolder folder;
    WriteBytes((folder.path() / "menus").string(), kScreen);
    WriteBytes((folder.path() / "m1.xml").string(), "old");
    folder.GiveToUser(folder.path() / "m1.xml");
    ::chmod(folder.path().c_str(), 0555);
    std::string err;
    EXPECT_EQ(RunMenuconvAs(folder.path(), {"menus"}, &err, folder.user), 0) << err;
    EXPECT_EQ(ReadBytes((folder.path() / "m1.xml").string()),
              std::string("<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\r\n"
                          "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"\" on_create_anim=\"\">\r\n"
                          "    <sprite rect=\",,,,,,,\"/>\r\n</menu>") +
                  '\0');
    EXPECT_EQ(EntriesOf(folder.path()), (std::vector<std::string>{"m1.xml", "menus"}));
  }
}

// In a sticky, world-writable folder another user planted links: the run follows a file link
// only where the system would (protected links), and refuses a folder link that leads out.
TEST(Protection, PlantedLinksLeadNowhere) {
  testing_support::TempFolder root("menuconv-shared");
  const fs::path shared = root.path() / "shared";
  const fs::path elsewhere = root.path() / "elsewhere";
  fs::create_directories(shared);
  fs::create_directories(elsewhere);
  ::chmod(shared.c_str(), 01777);
  WriteBytes((elsewhere / "important.txt").string(), "secret");
  WriteBytes((shared / "menus").string(), "<MENU_MODULE>d/passwd</MENU_MODULE><MENU_MODULE>screen</MENU_MODULE>");
  fs::create_directory_symlink(elsewhere, shared / "d");

  std::string err;
  EXPECT_EQ(RunMenuconvAs(shared, {"menus"}, &err), 1);
  EXPECT_EQ(err,
            "d/passwd.xml: Cannot save menu file\n  the name leaves the current folder\n"
            "Error: Cannot reparsing file!\n");
  EXPECT_EQ(EntriesOf(elsewhere), std::vector<std::string>{"important.txt"});

  std::ifstream setting("/proc/sys/fs/protected_symlinks");
  int protectedLinks = 0;
  setting >> protectedLinks;
  if (::geteuid() != 0 || protectedLinks != 1) {
    GTEST_SKIP() << "the planted file link needs the superuser and fs.protected_symlinks=1";
  }
  WriteBytes((shared / "menus").string(), "<MENU_MODULE>screen</MENU_MODULE>");
  fs::create_symlink(elsewhere / "important.txt", shared / "screen.xml");
  ASSERT_EQ(::lchown((shared / "screen.xml").c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(RunMenuconvAs(shared, {"menus"}, &err), 1);
  EXPECT_EQ(err, "screen.xml: Cannot save menu file\n  Permission denied\nError: Cannot reparsing file!\n");
  EXPECT_EQ(ReadBytes((elsewhere / "important.txt").string()), "secret");
}

// A text table that is there but that the user may not read fails the run, and the merged
// table is not rewritten: a build would otherwise ship it without the unreadable records.
TEST(Protection, UnreadableTextTablesFailTheRun) {
  for (const std::string unreadable : {"menus.txt", "menus_txts.txt"}) {
    SCOPED_TRACE(unreadable);
    UserFolder folder;
    const std::string table = std::string("\xFF\xFE", 2) + std::string("k\0\t\0A\0\r\0\n\0", 10);
    WriteBytes((folder.path() / "menus.xml").string(), kScreen);
    WriteBytes((folder.path() / "menus.txt").string(), table);
    WriteBytes((folder.path() / "menus_txts.txt").string(), "old table");
    for (const char* name : {"menus.xml", "menus.txt", "menus_txts.txt"}) folder.GiveToUser(folder.path() / name);
    ::chmod((folder.path() / unreadable).c_str(), 0);
    std::string err;
    EXPECT_EQ(RunMenuconvAs(folder.path(), {"menus.xml"}, &err, folder.user), 1);
    EXPECT_EQ(err, unreadable + ": Cannot load text file\n  Permission denied\n");
    ::chmod((folder.path() / unreadable).c_str(), 0644);
    EXPECT_EQ(ReadBytes((folder.path() / "menus_txts.txt").string()), "old table");
    EXPECT_EQ(ReadBytes((folder.path() / "menus.txt").string()), table);
    EXPECT_EQ(EntriesOf(folder.path()),
              (std::vector<std::string>{"m1.xml", "menus.txt", "menus.xml", "menus_txts.txt"}));
  }
}

// A failed first write removes nothing it did not make: here another writer completes the
// file of the same name while this one is under way, and this one then fails.
TEST(Protection, FailedNewFileLeavesAnotherWritersFile) {
  testing_support::TempFolder folder("menuconv-race");
  const std::string path = folder.PathOf("screen_0.xml");
  platform::AtomicFile file;
  ASSERT_TRUE(file.Open(path).ok());
  WriteBytes(path, "written by the other run");
  const Status written = testing_support::WithFileSizeLimit(1024, [&] { return file.Write({std::string(4096, 'x')}); });
  EXPECT_FALSE(written.ok());
  EXPECT_EQ(ReadBytes(path), "written by the other run");
  EXPECT_EQ(EntriesOf(folder.path()), std::vector<std::string>{"screen_0.xml"});
}

// Interrupted at random moments by SIGINT, SIGTERM, SIGHUP or SIGKILL, a run leaves each output
// absent, as it was, or complete, and nothing else, but for the one temporary file that
// SIGKILL may leave while a complete replacement is being renamed into place.
TEST(Interrupt, OutputsAreAbsentOldOrComplete) {
  std::string wide = "<MENU_MODULE>screen_0";
  for (int i = 0; i < 120000; ++i) wide += "<TEXT_MODULE ld.x=\"" + std::to_string(i) + "\">t</TEXT_MODULE>";
  wide += "</MENU_MODULE>";
  std::string many;
  for (int s = 0; s < 400; ++s) {
    many += "<MENU_MODULE>screen_" + std::to_string(s);
    for (int i = 0; i < 200; ++i) many += "<SPRITE_MODULE ld.x=\"" + std::to_string(i) + "\"/>";
    many += "</MENU_MODULE>";
  }
  std::mt19937 random(12345);
  int trials = 0, interrupted = 0, complete = 0, absent = 0, old = 0;
  for (const std::string* document : {&wide, &many}) {
    // What an uninterrupted run writes.
    testing_support::TempFolder reference("menuconv-reference");
    WriteBytes(reference.PathOf("menus.xml"), *document);
    WriteBytes(reference.PathOf("menus.txt"), std::string("\xFF\xFE", 2));
    std::string err;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunMenuconvAs(reference.path(), {"menus.xml"}, &err), 0) << err;
    const auto runTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::map<std::string, std::string> finished;
    for (const std::string& name : EntriesOf(reference.path())) finished[name] = *ReadBytes(reference.PathOf(name));

    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
      for (const bool withOldOutputs : {false, true}) {
        for (int round = 0; round < 3; ++round) {
          SCOPED_TRACE("signal " + std::to_string(signal) + (withOldOutputs ? ", old outputs" : ", new outputs"));
          testing_support::TempFolder folder("menuconv-interrupt");
          WriteBytes(folder.PathOf("menus.xml"), *document);
          WriteBytes(folder.PathOf("menus.txt"), std::string("\xFF\xFE", 2));
          std::map<std::string, std::string> before;
          if (withOldOutputs) {
            for (const auto& [name, bytes] : finished) {
              if (name.rfind("screen_", 0) == 0 || name == "menus_txts.txt") {
                before[name] = "old " + name;
                WriteBytes(folder.PathOf(name), before[name]);
              }
            }
          }
          const Child child = Start(folder.path(), {"menus.xml"});
          std::this_thread::sleep_for(std::chrono::microseconds(random() % (runTime.count() + 1)));
          ::kill(child.pid, signal);
          const int status = Finish(child);
          ++trials;
          if (status == 1000 + signal) {
            ++interrupted;
          } else {
            EXPECT_EQ(status, 0) << "neither finished nor ended by the signal, after "
                                 << EntriesOf(folder.path()).size() << " files";
          }
          int temporaries = 0;
          for (const std::string& name : EntriesOf(folder.path())) {
            const std::string bytes = *ReadBytes(folder.PathOf(name));
            if (name == "menus.xml" || name == "menus.txt") continue;
            // A replacement is a complete file given a temporary name, then renamed over the
            // old one: SIGKILL, which no program can handle, may fall between the two.
            if (signal == SIGKILL && withOldOutputs && name.rfind(".menuconv-", 0) == 0) {
              EXPECT_EQ(++temporaries, 1) << "more than one temporary left behind";
              continue;
            }
            ASSERT_TRUE(finished.count(name)) << "left behind: " << name;
            if (bytes == finished[name]) {
              ++complete;
            } else {
              EXPECT_EQ(bytes, before[name]) << name << " is neither complete nor as it was";
              ++old;
            }
          }
          for (const auto& [name, bytes] : finished) absent += fs::exists(folder.path() / name) ? 0 : 1;
        }
      }
    }
  }
  // Many trials must really cut a run short, or the test proves little.
  EXPECT_GT(interrupted, trials / 4);
  std::printf("%d interrupted runs of %d: outputs complete %d, as they were %d, absent %d\n", interrupted, trials,
              complete, old, absent);
}

// A signal the run was started with ignored (nohup, a background job of a script) stays
// ignored: SIGHUP sent again and again while the run goes on changes nothing.
TEST(Interrupt, SignalIgnoredAtTheStartStaysIgnored) {
  std::string many;
  for (int s = 0; s < 400; ++s) {
    many += "<MENU_MODULE>screen_" + std::to_string(s);
    for (int i = 0; i < 200; ++i) many += "<SPRITE_MODULE ld.x=\"" + std::to_string(i) + "\"/>";
    many += "</MENU_MODULE>";
  }
  testing_support::TempFolder reference("menuconv-reference");
  WriteBytes(reference.PathOf("menus.xml"), many);
  std::string err;
  ASSERT_EQ(RunMenuconvAs(reference.path(), {"menus.xml"}, &err), 0) << err;

  testing_support::TempFolder folder("menuconv-nohup");
  WriteBytes(folder.PathOf("menus.xml"), many);
  // Ignored here while the child starts: it inherits the setting, as under nohup.
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignore, &before);
  const Child child = Start(folder.path(), {"menus.xml"});
  ::sigaction(SIGHUP, &before, nullptr);
  int sent = 0;
  int status = 0;
  while (::waitpid(child.pid, &status, WNOHANG) == 0) {
    ::kill(child.pid, SIGHUP);
    ++sent;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::close(child.errFd);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << " after " << sent << " SIGHUP";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(EntriesOf(folder.path()), EntriesOf(reference.path()));
  for (const std::string& name : EntriesOf(reference.path())) {
    EXPECT_TRUE(ReadBytes(folder.PathOf(name)) == ReadBytes(reference.PathOf(name))) << name;
  }
  std::printf("%d SIGHUP sent during the run\n", sent);
}

}  // namespace
}  // namespace menuconv
