#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <exception>

#include "platform/threads.h"

namespace menuconv::platform {

namespace {

// What a new thread runs, and where it may run once it runs.
struct Launch {
  std::unique_ptr<Thread::Work> work;
#ifdef __linux__
  bool placed = false;
  cpu_set_t allowed;
#endif
};

// The program's threads started and not yet done with their work. While they are as many as
// the processors other than a caller's, those processors may all be busy with them, and a new
// thread held off its caller's processor would wait for one of them to stop.
std::atomic<int> working{0};

// Counts a thread's work as done when it goes.
struct WorkDone {
  ~WorkDone() { working.fetch_sub(1, std::memory_order_relaxed); }
};

void* Enter(void* argument) {
  const WorkDone done;
  const std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
#ifdef __linux__
  // Placed off its caller's processor only to start at once: from here on it may run
  // wherever its caller may.
  if (launch->placed) (void)::sched_setaffinity(0, sizeof launch->allowed, &launch->allowed);
#endif
  try {
    launch->work->Run();
  } catch (...) {
    std::terminate();
  }
  return nullptr;
}

#ifdef __linux__
// Asks for the new thread to start on a processor other than the caller's, when the caller
// may run on another one that none of the program's other threads may be keeping busy; false
// when it may not, or the system does not tell.
bool PlaceElsewhere(Launch& launch, pthread_attr_t& attributes) {
  if (::sched_getaffinity(0, sizeof launch.allowed, &launch.allowed) != 0) return false;
  const int current = ::sched_getcpu();
  if (current < 0 || current >= CPU_SETSIZE) return false;
  cpu_set_t others = launch.allowed;
  CPU_CLR(current, &others);
  if (CPU_COUNT(&others) <= working.load(std::memory_order_relaxed)) return false;
  return ::pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0;
}
#endif

}  // namespace

void Thread::Start(std::unique_ptr<Work> work) {
  auto launch = std::make_unique<Launch>();
  launch->work = std::move(work);
  pthread_attr_t attributes;
  if (const int failed = ::pthread_attr_init(&attributes)) {
    throw std::system_error(failed, std::generic_category(), "thread attributes");
  }
#ifdef __linux__
  launch->placed = PlaceElsewhere(*launch, attributes);
#endif
  working.fetch_add(1, std::memory_order_relaxed);
  int failed = ::pthread_create(&thread_, &attributes, Enter, launch.get());
#ifdef __linux__
  if (failed != 0 && launch->placed) {
    // Placing a thread may be refused (a container's own limits): started plainly instead.
    launch->placed = false;
    (void)::pthread_attr_destroy(&attributes);
    (void)::pthread_attr_init(&attributes);
    failed = ::pthread_create(&thread_, &attributes, Enter, launch.get());
  }
#endif
  (void)::pthread_attr_destroy(&attributes);
  if (failed != 0) {
    working.fetch_sub(1, std::memory_order_relaxed);
    throw std::system_error(failed, std::generic_category(), "thread");
  }
  launch.release();  // the thread owns it now
  started_ = true;
}

void Thread::Join() noexcept {
  if (!started_) return;
  (void)::pthread_join(thread_, nullptr);
  started_ = false;
}

#ifdef __linux__
void ProcessorHandOff::WillWait() {
  if (::sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) return;
  waiter_ = ::gettid();
  state_.store(kWaiting, std::memory_order_release);
}

void ProcessorHandOff::BeforeWaking() {
  int expected = kWaiting;
  if (!state_.compare_exchange_strong(expected, kMoved, std::memory_order_acquire)) return;
  const int here = ::sched_getcpu();
  cpu_set_t only;
  CPU_ZERO(&only);
  if (here >= 0 && here < CPU_SETSIZE) {
    CPU_SET(here, &only);
    // Refused (a processor the waiter may not use), the waiter is woken where it was.
    (void)::sched_setaffinity(waiter_, sizeof only, &only);
  }
}

void ProcessorHandOff::Woken() {
  if (state_.exchange(kIdle, std::memory_order_acquire) != kMoved) return;
  (void)::sched_setaffinity(0, sizeof allowed_, &allowed_);
}
#else
void ProcessorHandOff::WillWait() {}
void ProcessorHandOff::BeforeWaking() {}
void ProcessorHandOff::Woken() {}
#endif

}  // namespace menuconv::platform
