// POSIX only: runs the menuconv executable in a child process, as a user would.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace menuconv::testing_support {

struct Outcome {
  int exitStatus = -1;  // 1000 + the signal when the child was ended by one
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs menuconv with the arguments in the folder. `fileSizeLimit` (bytes) becomes the
// child's RLIMIT_FSIZE; SIGXFSZ keeps its default action, so a program that does not ignore
// it dies of it. stdout and stderr are pipes, which the limit does not touch.
// With `closeOutputs` the child starts with stdout and stderr closed, so that the first
// files it opens take their numbers. `memoryLimit` (bytes) becomes its RLIMIT_AS. With `user`
// the child runs as that user (and its group of the same number, no other groups), where the
// suite runs as the superuser.
inline Outcome RunMenuconv(const std::filesystem::path& folder, const std::vector<std::string>& args,
                           std::optional<rlim_t> fileSizeLimit = std::nullopt, int timeoutSeconds = 10,
                           bool closeOutputs = false, std::optional<rlim_t> memoryLimit = std::nullopt,
                           std::optional<uid_t> user = std::nullopt) {
  std::vector<std::string> argv = {MENUCONV_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  const std::string dir = folder.string();
  rlimit limit{};
  if (fileSizeLimit) limit.rlim_cur = limit.rlim_max = *fileSizeLimit;

  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::setpgid(0, 0);  // its own process group, killed as a whole on a timeout
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(outPipe[1], 1) < 0 || ::dup2(errPipe[1], 2) < 0 ||
        ::chdir(dir.c_str()) != 0) {
      ::_exit(126);
    }
    if (closeOutputs) {
      ::close(1);
      ::close(2);
    }
    ::signal(SIGXFSZ, SIG_DFL);
    if (fileSizeLimit && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    const rlimit memory{memoryLimit.value_or(0), memoryLimit.value_or(0)};
    if (memoryLimit && ::setrlimit(RLIMIT_AS, &memory) != 0) ::_exit(126);
    if (user && ::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) {
      ::_exit(126);
    }
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);

  Outcome outcome;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      outcome.timedOut = true;
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
      break;
    }
    const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return outcome;
}

}  // namespace menuconv::testing_support
