#include <pthread.h>
#include <sched.h>

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

void* Enter(void* argument) {
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
// may run on another one; false when it may not, or the system does not tell.
bool PlaceElsewhere(Launch& launch, pthread_attr_t& attributes) {
  if (::sched_getaffinity(0, sizeof launch.allowed, &launch.allowed) != 0) return false;
  const int current = ::sched_getcpu();
  if (current < 0 || current >= CPU_SETSIZE) return false;
  cpu_set_t others = launch.allowed;
  CPU_CLR(current, &others);
  if (CPU_COUNT(&others) == 0) return false;
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
  if (failed != 0) throw std::system_error(failed, std::generic_category(), "thread");
  launch.release();  // the thread owns it now
  started_ = true;
}

void Thread::Join() noexcept {
  if (!started_) return;
  (void)::pthread_join(thread_, nullptr);
  started_ = false;
}

}  // namespace menuconv::platform
