#pragma once
// Thread: a named thread of our own. Either it runs a body and ends, or it runs its own run loop
// until stopped, so other threads can hand it work (`runLoop()->perform(...)`) and schedule
// timers on it.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

class Thread {
 public:
  // Starts a thread named `name` that runs `body` and ends. An exception leaving `body` ends the
  // process, as an uncaught exception on any thread does.
  static std::shared_ptr<Thread> start(std::string name, std::function<void()> body);
  // Starts a thread named `name` that runs its own run loop until `stop()`; returns once the
  // run loop exists. Work that throws there ends the process, as in a body thread.
  static std::shared_ptr<Thread> startWithRunLoop(std::string name);

  // Stops the run loop (if any) and waits for the thread, unless detached. Run on the thread
  // itself (its last owner let go there), it lets the thread finish on its own instead.
  ~Thread();

  const std::string& name() const { return name_; }
  // The thread's run loop; null for a body thread.
  std::shared_ptr<RunLoop> runLoop() const { return runLoop_; }
  // Stops the thread's run loop; the thread then ends.
  void stop();
  void join();
  // Lets the thread run on after this object goes (a thread that lives until the process ends).
  void detach();

  // The calling thread's name ("main" for the main thread unless renamed), and renaming it.
  static std::string currentName();
  static void setCurrentName(const std::string& name);
  static bool isMainThread();
  // The kernel's id of the calling thread.
  static long currentId();

 private:
  explicit Thread(std::string name) : name_(std::move(name)) {}
  std::string name_;
  std::thread thread_;
  std::shared_ptr<RunLoop> runLoop_;
  bool detached_ = false;
  // Shared with the thread's body: a stop must end the loop even when it lands in a nested run.
  std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
};

// Entry points of classes that are main-thread only call this; debug builds fail an assertion
// naming `where` when it is called on another thread, release builds check nothing.
inline void assertMainThread([[maybe_unused]] const char* where) {
#ifndef NDEBUG
  if (!Thread::isMainThread()) {
    throw AssertionFailure(std::string(where) + " used off the main thread");
  }
#endif
}

}  // namespace platform
