#pragma once
// Queue: the dispatch stand-in's queue. Serial queues run their work one item at a time in FIFO
// order, as strands over one shared, elastic worker pool (a thousand serial queues do not mean
// a thousand threads). Concurrent queues, among them the global queues by priority, run their
// work in parallel on the same pool. The main queue is served by the main run loop.
//
// `sync` runs the work on the caller's thread whenever it can: on a serial queue it waits until
// the work queued before has run, then takes the queue over for the duration of the call. While
// it runs, `Queue::current()` is that queue and its specifics are visible. A `sync` onto a queue
// the calling thread already holds (directly or further down its stack of `sync`s) fails an
// assertion instead of hanging. Work for the main queue always runs on the main thread: a `sync`
// onto it from another thread waits for the main run loop to run it, and one from the main
// thread fails the assertion.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/Clock.h"

namespace platform::dispatch {

class Group;

enum class Priority { High, Default, Low, Background };

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  enum class Kind { Serial, Concurrent, Main };
  using Work = std::function<void()>;

  static std::shared_ptr<Queue> serial(std::string label = {});
  static std::shared_ptr<Queue> concurrent(std::string label = {});
  static std::shared_ptr<Queue> main();
  static std::shared_ptr<Queue> global(Priority priority = Priority::Default);

  // The queue whose work is running on this thread (the innermost `sync`), or null. On the main
  // thread outside any other queue's work it is the main queue.
  static std::shared_ptr<Queue> current();
  // The label of `current()`, empty when none.
  static std::string currentLabel();
  // The specific value for `key` of `current()`, or null.
  static void* getCurrentSpecific(const void* key);

  virtual ~Queue();

  Kind kind() const { return kind_; }
  const std::string& label() const { return label_; }

  virtual void async(Work work) = 0;
  // Runs `work` in `group` (entered now, left when the work has run).
  void async(const std::shared_ptr<Group>& group, Work work);
  virtual void sync(const Work& work) = 0;
  // `sync` that hands back the work's result.
  template <class F>
  auto syncValue(F&& f) -> decltype(f()) {
    using R = decltype(f());
    std::optional<R> result;
    sync([&] { result.emplace(f()); });
    return std::move(*result);
  }
  // Queues `work` once `delay` of clock time has passed.
  void after(Duration delay, Work work);

  // Counted: work queued on a suspended serial queue waits until every suspend is resumed.
  // Work already running is not interrupted.
  virtual void suspend();
  virtual void resume();

  // Queue-specific values: any pointer as key, an untyped context as value (null removes).
  void setSpecific(const void* key, void* context);
  void* getSpecific(const void* key) const;

 protected:
  // The pass-key of the factories above. Queues hand out `shared_from_this` to the work they
  // queue, so they are made only through the factories; a key rather than private constructors
  // keeps `make_shared`'s single allocation on this hot path.
  class Tag {
    Tag() = default;
    friend class Queue;
  };

  Queue(Kind kind, std::string label);

 private:
  struct Specifics;
  const Kind kind_;
  const std::string label_;
  std::unique_ptr<Specifics> specifics_;
};

// Runs `work` at most once per flag in the process, as std::call_once does.
using OnceFlag = std::once_flag;
template <class F>
void once(OnceFlag& flag, F&& work) {
  std::call_once(flag, std::forward<F>(work));
}

}  // namespace platform::dispatch
