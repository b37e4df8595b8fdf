// Named files a run makes on its way and must not leave behind, even when it is interrupted.
#pragma once

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

  void Set(const std::string& name);
  const std::string& Name() const { return name_; }
  bool Empty() const { return name_.empty(); }
  void Release();
  void Remove();

 private:
  std::string name_;
  int slot_ = -1;
};

// SIGINT, SIGTERM and SIGHUP remove the run's temporary files, then end the process as the
// signal would have.
void RemoveTemporaryFilesOnInterrupt();

// Writes the pieces in order to the descriptor, as few system calls as the pieces allow.
Status WriteAllTo(int fd, std::vector<std::string_view> pieces);

}  // namespace menuconv::platform
