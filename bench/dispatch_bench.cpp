// Dispatch throughput: a million `async` hops through one serial queue, and a million posts to
// the main queue served by the main run loop, each next to the same work through a plain
// mutex-and-condition-variable queue served by one thread. Ratios above 1 mean dispatch is
// slower than the plain queue.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

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

double serialQueueHops() {
  auto q = Queue::serial("bench");
  long counter = 0;
  Done done;
  auto start = Clock::now();
  for (long i = 0; i < kItems; ++i) {
    q->async([&] {
      if (++counter == kItems) done.set();
    });
  }
  done.wait();
  return millisSince(start);
}

double plainQueueHops() {
  PlainQueue q;
  long counter = 0;
  Done done;
  auto start = Clock::now();
  for (long i = 0; i < kItems; ++i) {
    q.post([&] {
      if (++counter == kItems) done.set();
    });
  }
  done.wait();
  return millisSince(start);
}

double mainQueuePosts() {
  long counter = 0;
  auto start = Clock::now();
  std::thread producer([&] {
    auto main = Queue::main();
    for (long i = 0; i < kItems; ++i) main->async([&] { ++counter; });
  });
  RunLoop::main()->runUntil([&] { return counter == kItems; }, std::chrono::minutes(5));
  producer.join();
  return millisSince(start);
}

double plainQueuePostsFromAnotherThread() {
  PlainQueue q;
  long counter = 0;
  Done done;
  auto start = Clock::now();
  std::thread producer([&] {
    for (long i = 0; i < kItems; ++i) {
      q.post([&] {
        if (++counter == kItems) done.set();
      });
    }
  });
  done.wait();
  producer.join();
  return millisSince(start);
}

void report(const char* name, double ours, double peer) {
  std::printf("%-34s %9.1f ms   mutex+condvar queue %9.1f ms   ratio %.2f\n", name, ours, peer,
              ours / peer);
}

}  // namespace

int main() {
  std::printf("%ld items each\n", kItems);
  report("serial queue async", serialQueueHops(), plainQueueHops());
  report("main queue async (main run loop)", mainQueuePosts(), plainQueuePostsFromAnotherThread());
  return 0;
}
