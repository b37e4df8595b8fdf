#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "platform/temporary_names.h"

namespace menuconv::platform {

namespace {

// A fixed table the signal handler can read without locks or allocation: a slot's name is
// written before the slot is marked used, and only the run's main thread changes the table.
struct Slot {
  char name[PATH_MAX];
  volatile sig_atomic_t used;
};
constexpr int kSlots = 16;
Slot slots[kSlots];

extern "C" void RemoveAndEnd(int signal) {
  for (Slot& slot : slots) {
    if (slot.used) ::unlink(slot.name);
  }
  // The handler was reset to the default on entry: this ends the process with the signal.
  ::raise(signal);
}

}  // namespace

void TemporaryName::Set(const std::string& name) {
  Release();
  name_ = name;
  if (name.size() >= PATH_MAX) return;  // such a name cannot have been made
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used) continue;
    std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the name is there before it counts
    slots[i].used = 1;
    slot_ = i;
    return;
  }
}

void TemporaryName::Release() {
  if (slot_ >= 0) slots[slot_].used = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  slot_ = -1;
  name_.clear();
}

void TemporaryName::Remove() {
  if (!name_.empty()) ::unlink(name_.c_str());
  Release();
}

void RemoveTemporaryFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = RemoveAndEnd;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace menuconv::platform
