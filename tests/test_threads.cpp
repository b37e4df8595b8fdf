// The program's threads: each runs its work and is joined when it goes, also when replaced;
// on Linux, one started off its caller's processor may then run wherever its caller may.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/threads.h"

#ifdef __linux__
#include <sched.h>
#endif

namespace menuconv {
namespace {

TEST(Thread, RunsItsWorkAndIsJoinedWhenItGoesOrIsReplaced) {
  std::atomic<bool> done[3] = {false, false, false};
  const auto slowWork = [&done](int i) {
    return [&done, i] {
      // Slow enough that a thread not waited for would still be running when checked.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      done[i] = true;
    };
  };
  platform::Thread none;
  EXPECT_FALSE(none.Joinable());
  {
    platform::Thread thread(slowWork(0));
    EXPECT_TRUE(thread.Joinable());
  }
  EXPECT_TRUE(done[0]) << "not joined when it went";

  platform::Thread replaced(slowWork(1));
  replaced = platform::Thread(slowWork(2));
  EXPECT_TRUE(done[1]) << "the thread replaced was not joined";
  platform::Thread moved(std::move(replaced));
  EXPECT_FALSE(replaced.Joinable());
  moved.Join();
  EXPECT_FALSE(moved.Joinable());
  EXPECT_TRUE(done[2]);
}

#ifdef __linux__
bool SameProcessors(const cpu_set_t& a, const cpu_set_t& b) { return CPU_EQUAL(&a, &b) != 0; }

TEST(Thread, MayRunWhereverItsCallerMay) {
  // A caller that may run on every processor it has, and one kept to a single processor
  // (which leaves no other processor to start on).
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  cpu_set_t single;
  CPU_ZERO(&single);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &single);
      break;
    }
  }
  for (const cpu_set_t* callerMay : {&all, &single}) {
    SCOPED_TRACE(CPU_COUNT(callerMay) == 1 ? "one processor" : "every processor");
    cpu_set_t seen;
    CPU_ZERO(&seen);
    bool started = false;
    std::thread caller([&] {
      if (sched_setaffinity(0, sizeof *callerMay, callerMay) != 0) return;
      platform::Thread thread([&] { started = sched_getaffinity(0, sizeof seen, &seen) == 0; });
    });
    caller.join();
    ASSERT_TRUE(started);
    EXPECT_TRUE(SameProcessors(seen, *callerMay));
  }
}

// A waiter woken by a thread that ends wakes on that thread's processor, then may run where it
// might before; one that only comes to wait after the other thread ended is left as it was.
TEST(ProcessorHandOff, WakesTheWaiterOnTheEndingThreadsProcessorThenLetsItGo) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  int last = -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &all)) last = cpu;
  }
  for (const bool waitsFirst : {true, false}) {
    SCOPED_TRACE(waitsFirst ? "the waiter waits first" : "the waiter comes late");
    platform::ProcessorHandOff handOff;
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool ready = false;
    int wokeOn = -1;
    bool pinned = false;
    bool endingPinned = false;  // the ending thread still wakes the waiter without it
    cpu_set_t after;
    std::thread waiter([&] {
      if (waitsFirst) handOff.WillWait();
      std::unique_lock<std::mutex> lock(mutex);
      waiting = true;
      changed.notify_all();
      changed.wait(lock, [&] { return ready; });
      lock.unlock();
      if (!waitsFirst) handOff.WillWait();
      wokeOn = sched_getcpu();
      cpu_set_t during;
      pinned = sched_getaffinity(0, sizeof during, &during) == 0 && CPU_COUNT(&during) == 1;
      handOff.Woken();
      (void)sched_getaffinity(0, sizeof after, &after);
    });
    std::thread ending([&] {
      // Kept to the last processor, so that where it ends is known.
      cpu_set_t only;
      CPU_ZERO(&only);
      CPU_SET(last, &only);
      endingPinned = sched_setaffinity(0, sizeof only, &only) == 0;
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return waiting; });
      handOff.BeforeWaking();
      ready = true;
      changed.notify_all();
    });
    ending.join();
    waiter.join();
    ASSERT_TRUE(endingPinned);
    if (waitsFirst) {
      EXPECT_EQ(wokeOn, last);
      EXPECT_TRUE(pinned || CPU_COUNT(&all) == 1);
    } else {
      EXPECT_FALSE(pinned && CPU_COUNT(&all) > 1);
    }
    EXPECT_TRUE(SameProcessors(after, all));
  }
}
#endif

}  // namespace
}  // namespace menuconv
