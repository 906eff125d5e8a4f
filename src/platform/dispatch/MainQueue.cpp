#include "platform/dispatch/MainQueue.h"

#include <condition_variable>
#include <exception>

#include "platform/dispatch/QueueStack.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace platform::dispatch {

MainQueue::MainQueue(Tag) : Queue(Kind::Main, "main"), loop_(RunLoop::main()) {}

bool MainQueue::isMainThread() { return Thread::isMainThread(); }

// Posting happens under the lock so that work released by `resume` keeps its place ahead of
// work queued after it.
void MainQueue::async(Work work) {
  MutexLock lock(mutex_);
  if (suspendCount_ > 0) {
    held_.push_back(std::move(work));
    return;
  }
  post(std::move(work));
}

// The work waits in posted_ and the run loop gets a runner that holds only this queue, small
// enough to need no allocation of its own. Work and runners are queued in the same order under
// the lock, so each runner's work is the oldest one still waiting. The main queue is never
// destroyed, so the runner needs no reference to it.
void MainQueue::post(Work work) {
  posted_.push_back(std::move(work));
  loop_->perform([this] { runNext(); });
}

// Takes all posted work at once, so the posting threads meet the main thread on the mutex once
// per batch rather than once per item.
void MainQueue::runNext() {
  if (taken_.empty()) {
    MutexLock lock(mutex_);
    taken_.refill(posted_);
  }
  Work work = taken_.take();
  QueueStack::Frame frame(this);
  work();
}

void MainQueue::sync(const Work& work) {
  assertThat(!isMainThread() && !QueueStack::contains(this),
             "dispatch: sync onto the main queue from the main thread would deadlock");
  struct Waiter {
    Mutex mutex;
    std::condition_variable cv;
    bool done GUARDED_BY(mutex) = false;
  } waiter;
  // Written by the main thread before `done` is set, read here after it is seen.
  std::exception_ptr failure;
  async([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    MutexLock lock(waiter.mutex);
    waiter.done = true;
    waiter.cv.notify_one();
  });
  {
    WorkerPool::BlockingScope blocking;
    MutexLock lock(waiter.mutex);
    waiter.cv.wait(lock.native(), [&]() REQUIRES(waiter.mutex) { return waiter.done; });
  }
  if (failure) std::rethrow_exception(failure);
}

void MainQueue::suspend() {
  MutexLock lock(mutex_);
  ++suspendCount_;
}

void MainQueue::resume() {
  MutexLock lock(mutex_);
  assertThat(suspendCount_ > 0, "dispatch: resume of the main queue without a matching suspend");
  if (--suspendCount_ > 0) return;
  for (auto& work : held_) post(std::move(work));
  held_.clear();
}

}  // namespace platform::dispatch
