// Dispatch throughput: a million `async` hops through one serial queue, and a million posts to
// the main queue served by the main run loop, each next to the same work through a plain
// mutex-and-condition-variable queue served by one thread. The sides run in alternating rounds;
// each must run every item, in the order posted. Ratios above 1 mean dispatch is slower than the
// plain queue.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "BenchHarness.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/RunLoop.h"

using platform::RunLoop;
using platform::dispatch::Queue;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kItems = 1'000'000;

// The peer: one thread serving a FIFO of std::function under a mutex.
class PlainQueue {
 public:
  PlainQueue() : thread_([this] { serve(); }) {}
  ~PlainQueue() {
    post(nullptr);
    thread_.join();
  }
  void post(std::function<void()> work) {
    std::lock_guard<std::mutex> g(mutex_);
    items_.push_back(std::move(work));
    cv_.notify_one();
  }

 private:
  void serve() {
    while (true) {
      std::function<void()> work;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return !items_.empty(); });
        work = std::move(items_.front());
        items_.pop_front();
      }
      if (!work) return;
      work();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> items_;
  std::thread thread_;
};

// Waits until `counter` (touched only by the serving side) reaches kItems.
struct Done {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  void set() {
    std::lock_guard<std::mutex> g(mutex);
    done = true;
    cv.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [this] { return done; });
  }
};

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Counts the items run and those that ran out of the order they were posted in; touched only by
// the serving side.
struct Tally {
  long ran = 0;
  long outOfOrder = 0;
  // Returns true for the last item.
  bool run(long item) {
    if (item != ran) ++outOfOrder;
    return ++ran == kItems;
  }
};

bench::Outcome outcome(double millis, const Tally& tally) {
  return {millis, std::to_string(tally.ran) + " items, " + std::to_string(tally.outOfOrder) +
                      " out of order"};
}

bench::Outcome serialQueueHops() {
  auto q = Queue::serial("bench");
  Tally tally;
  Done done;
  auto start = Clock::now();
  for (long i = 0; i < kItems; ++i) {
    q->async([&, i] {
      if (tally.run(i)) done.set();
    });
  }
  done.wait();
  return outcome(millisSince(start), tally);
}

bench::Outcome plainQueueHops() {
  PlainQueue q;
  Tally tally;
  Done done;
  auto start = Clock::now();
  for (long i = 0; i < kItems; ++i) {
    q.post([&, i] {
      if (tally.run(i)) done.set();
    });
  }
  done.wait();
  return outcome(millisSince(start), tally);
}

bench::Outcome mainQueuePosts() {
  Tally tally;
  auto start = Clock::now();
  std::thread producer([&] {
    auto main = Queue::main();
    for (long i = 0; i < kItems; ++i) main->async([&, i] { tally.run(i); });
  });
  RunLoop::main()->runUntil([&] { return tally.ran == kItems; }, std::chrono::minutes(5));
  producer.join();
  return outcome(millisSince(start), tally);
}

bench::Outcome plainQueuePostsFromAnotherThread() {
  PlainQueue q;
  Tally tally;
  Done done;
  auto start = Clock::now();
  std::thread producer([&] {
    for (long i = 0; i < kItems; ++i) {
      q.post([&, i] {
        if (tally.run(i)) done.set();
      });
    }
  });
  done.wait();
  producer.join();
  return outcome(millisSince(start), tally);
}

}  // namespace

int main() {
  // Short runs on a loaded machine scatter widely: more rounds steady the medians.
  bench::Harness harness("dispatch", 9);
  harness.compare({"serial queue, 1,000,000 async",
                   "ms",
                   "serial Queue",
                   "mutex+condvar queue",
                   {"<=", 1.0},
                   ""},
                  serialQueueHops, plainQueueHops);
  harness.compare({"main queue from a thread, 1,000,000 async",
                   "ms",
                   "main Queue + RunLoop",
                   "mutex+condvar queue",
                   {"<=", 1.5},
                   ""},
                  mainQueuePosts, plainQueuePostsFromAnotherThread);
  return harness.exitCode();
}
