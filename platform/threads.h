// A thread of the program's own work, joined when it goes. Where the system lets a program say
// where a thread may run (Linux), a new thread is started on another processor than its
// caller's, then let run anywhere: started plainly, it was queued behind its caller, which
// goes on working, and waited up to a scheduler tick (some 4 ms) while another processor
// stood idle. It is started plainly while the program's other threads may keep every other
// processor busy: held off its caller's, it would wait for one of them instead.
#pragma once

#include <atomic>
#include <memory>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <thread>
#else
#include <pthread.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif

namespace menuconv::platform {

class Thread {
 public:
  Thread() = default;
  // Runs fn() on a new thread; throws std::system_error when no thread can be had. What fn
  // throws ends the program, as with std::thread.
  template <class Fn>
  explicit Thread(Fn fn) {
    Start(std::make_unique<Body<Fn>>(std::move(fn)));
  }
  Thread(Thread&& other) noexcept { Swap(other); }
  Thread& operator=(Thread&& other) noexcept {
    Join();
    Swap(other);
    return *this;
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { Join(); }

  bool Joinable() const { return started_; }
  void Join() noexcept;

  // What a thread runs, as the code that starts it on each system sees it.
  struct Work {
    virtual ~Work() = default;
    virtual void Run() = 0;
  };

 private:
  template <class Fn>
  struct Body final : Work {
    explicit Body(Fn f) : fn(std::move(f)) {}
    void Run() override { fn(); }
    Fn fn;
  };

  void Start(std::unique_ptr<Work> work);
  void Swap(Thread& other) noexcept {
    std::swap(started_, other.started_);
    std::swap(thread_, other.thread_);
  }

  bool started_ = false;
#ifdef _WIN32
  std::thread thread_;
#else
  pthread_t thread_{};
#endif
};

// Hands the processor of a thread about to end to a thread that waits for its result. Woken
// plainly, the waiter was queued on the processor it last ran on, behind the thread that
// went on working there, while the ending thread's processor stood idle until the system
// looked again, up to a few milliseconds later. The waiter says it waits; the ending thread,
// right before it wakes the waiter, lets it run only on its own processor; woken, the waiter
// may run where it could before. Nothing where the system lets no program say where a thread
// runs.
class ProcessorHandOff {
 public:
  // On the waiting thread, before it waits.
  void WillWait();
  // On the ending thread, right before it wakes the waiter.
  void BeforeWaking();
  // On the waiting thread, once woken: the wake is ordered after BeforeWaking.
  void Woken();

 private:
  enum State : int { kIdle, kWaiting, kMoved };
  std::atomic<int> state_{kIdle};
#ifdef __linux__
  int waiter_ = 0;       // the waiting thread's id, set before state_ says it waits
  cpu_set_t allowed_{};  // where the waiter may run when it waits
#endif
};

}  // namespace menuconv::platform
