// Named files a run makes on its way and must not leave behind, even when it is interrupted.
#pragma once

#include <signal.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace menuconv::platform {

// One such file while it exists: removed again by Remove, or by the handlers below when a
// signal ends the run; forgotten by Release once it is in place.
class TemporaryName {
 public:
  TemporaryName() = default;
  ~TemporaryName() { Release(); }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;

  // `name` is relative to the folder descriptor `folder` (AT_FDCWD: the current folder), which
  // stays open while the name is set.
  void Set(const std::string& name, int folder);
  const std::string& Name() const { return name_; }
  bool Empty() const { return name_.empty(); }
  void Release();
  void Remove();

 private:
  std::string name_;
  int folder_ = -1;
  int slot_ = -1;
};

// SIGINT, SIGTERM and SIGHUP remove the run's temporary files, then end the process as the
// signal would have.
// Signals that are ignored when this is called stay ignored: handlers replace only the default
// action.
void RemoveTemporaryFilesOnInterrupt();

// While one exists, SIGINT, SIGTERM and SIGHUP wait: the first that comes meanwhile ends the
// process (as above) when it is dropped. For a step that must not be cut short, such as
// overwriting a file in place. One at a time, on the run's main thread.
class InterruptsHeldOff {
 public:
  InterruptsHeldOff();
  ~InterruptsHeldOff();
  InterruptsHeldOff(const InterruptsHeldOff&) = delete;
  InterruptsHeldOff& operator=(const InterruptsHeldOff&) = delete;

 private:
  sigset_t before_;
};

// Writes the pieces in order to the descriptor, as few system calls as the pieces allow.
Status WriteAllTo(int fd, std::vector<std::string_view> pieces);

}  // namespace menuconv::platform
