#pragma once
// MainLoopProbe: how long the main run loop takes to answer, measured in real time while it
// lives. A thread of its own posts a small task to the main run loop, waits until it has run,
// notes how long that took, and posts the next a few milliseconds later; `longestWait` is the
// longest any task waited (a task still waiting counts up to now). A run loop held by work on
// the main thread shows as a long wait, whatever clock the test has installed. Made and ended
// on the main thread.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"

namespace testsupport {

class MainLoopProbe {
 public:
  using RealClock = std::chrono::steady_clock;

  // How long the main run loop may take to answer: a quarter of a second in an optimised build.
  // Unoptimised builds (the sanitizer runs) do the same main-thread work, such as drawing a whole
  // screen, several times slower; today's faults held the loop for 13 s and more.
#ifdef NDEBUG
  static constexpr double kAnswerSeconds = 0.25;
#else
  static constexpr double kAnswerSeconds = 2.0;
#endif

  MainLoopProbe() : thread_([this] { probe(); }) {}
  ~MainLoopProbe() {
    {
      platform::MutexLock lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    // The last task may still be queued: it must run before the probe ends.
    platform::RunLoop::main()->runUntil([this] { return !isWaiting(); });
  }
  MainLoopProbe(const MainLoopProbe&) = delete;
  MainLoopProbe& operator=(const MainLoopProbe&) = delete;

  // The longest wait so far, in seconds.
  double longestWait() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    auto longest = longest_;
    if (waiting_) longest = std::max(longest, RealClock::now() - posted_);
    return std::chrono::duration<double>(longest).count();
  }

 private:
  bool isWaiting() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return waiting_;
  }

  void answered() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    longest_ = std::max(longest_, RealClock::now() - posted_);
    waiting_ = false;
    changed_.notify_all();
  }

  void probe() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    while (!stopping_) {
      waiting_ = true;
      posted_ = RealClock::now();
      platform::RunLoop::main()->perform([this] { answered(); });
      changed_.wait(lock.native(), [this]() REQUIRES(mutex_) { return !waiting_ || stopping_; });
      // The pace of the probe, not a wait for anything: the loop gets to be idle in between.
      changed_.wait_for(lock.native(), std::chrono::milliseconds(5),
                        [this]() REQUIRES(mutex_) { return stopping_; });
    }
  }

  platform::Mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool waiting_ GUARDED_BY(mutex_) = false;
  RealClock::time_point posted_ GUARDED_BY(mutex_);
  RealClock::duration longest_ GUARDED_BY(mutex_){};
  std::thread thread_;
};

}  // namespace testsupport
