// A thread of the program's own work, joined when it goes. Where the system lets a program say
// where a thread may run (Linux), a new thread is started on another processor than its
// caller's, then let run anywhere: started plainly, it was queued behind its caller, which
// goes on working, and waited up to a scheduler tick (some 4 ms) while another processor
// stood idle. It is started plainly while the program's other threads may keep every other
// processor busy: held off its caller's, it would wait for one of them instead.
#pragma once

#include <memory>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <thread>
#else
#include <pthread.h>
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

}  // namespace menuconv::platform
