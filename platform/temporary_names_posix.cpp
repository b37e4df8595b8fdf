#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "platform/temporary_names.h"

namespace menuconv::platform {

namespace {

// A fixed table the signal handler can read without locks or allocation: a slot is claimed
// atomically (any thread may make such a file), its name is written, and only then is it
// marked used.
struct Slot {
  char name[PATH_MAX];
  volatile sig_atomic_t folder;  // the descriptor `name` is relative to, or AT_FDCWD
  std::atomic<int> used;         // 0 free, 1 claimed, 2 used
};
constexpr int kSlots = 16;
Slot slots[kSlots];

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// Whether interrupts are held off, and the first that came meanwhile: bit 0 is set while held
// off, the bits above carry the signal. One word, so that the handler (on any thread) and the
// thread that ends the hold cannot miss each other.
std::atomic<int> held{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free word");

void RemoveAll() {
  for (Slot& slot : slots) {
    if (slot.used.load() == 2) ::unlinkat(slot.folder, slot.name, 0);
  }
}

// Removes the temporary files, then ends the process as the signal would have.
void EndBy(int signal) {
  RemoveAll();
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
}

extern "C" void RemoveAndEnd(int signal) {
  int now = held.load();
  while (now & 1) {
    // Held off: the end of the hold ends the process; the first signal is the one it takes.
    if (now > 1 || held.compare_exchange_weak(now, now | (signal << 1))) return;
  }
  EndBy(signal);
}

}  // namespace

void TemporaryName::Set(const std::string& name, int folder) {
  Release();
  name_ = name;
  folder_ = folder;
  if (name.size() >= PATH_MAX) return;  // such a name cannot have been made
  for (int i = 0; i < kSlots; ++i) {
    int free = 0;
    if (!slots[i].used.compare_exchange_strong(free, 1)) continue;
    std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
    slots[i].folder = folder;
    slots[i].used.store(2);  // the name is there before it counts
    slot_ = i;
    return;
  }
}

void TemporaryName::Release() {
  if (slot_ >= 0) slots[slot_].used.store(0);
  slot_ = -1;
  name_.clear();
}

void TemporaryName::Remove() {
  if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  Release();
}

void RemoveTemporaryFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = RemoveAndEnd;
  // Held off, the handler returns: the calls it came between go on.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterrupts) {
    // A signal the parent set to be ignored (nohup, a background job) stays ignored.
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler != SIG_DFL) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

InterruptsHeldOff::InterruptsHeldOff() {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (int signal : kInterrupts) sigaddset(&interrupts, signal);
  // This thread takes none meanwhile; another thread's handler leaves its signal in `held`.
  ::pthread_sigmask(SIG_BLOCK, &interrupts, &before_);
  held.store(1);
}

InterruptsHeldOff::~InterruptsHeldOff() {
  const int came = held.exchange(0) >> 1;
  // A signal this thread held back is handled as soon as it is let through.
  ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  if (came != 0) EndBy(came);
}

}  // namespace menuconv::platform
