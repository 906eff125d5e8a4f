#pragma once
// SQLSerialQueue: a serial dispatch queue that the thread-safety analysis treats as a capability,
// so the fields only its work may touch are declared `GUARDED_BY` it and checked by the
// compiler. Work handed to `sync` begins with `assertOnQueue()`, which tells the analysis the
// queue is held there (each lambda is analysed on its own) and, in debug builds, checks at run
// time that the work really runs on this queue.
//
// `sync` runs the work on the caller's thread once the queue is free, as the dispatch layer's
// serial queues do; a `sync` from work already on the queue fails the dispatch layer's
// nested-sync assertion (platform::AssertionFailure) instead of waiting for itself, and an
// exception thrown by the work reaches the caller.

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/ThreadAnnotations.h"

class CAPABILITY("serial queue") SQLSerialQueue {
 public:
  explicit SQLSerialQueue(std::string label);
  SQLSerialQueue(const SQLSerialQueue&) = delete;
  SQLSerialQueue& operator=(const SQLSerialQueue&) = delete;

  void sync(const std::function<void()>& work) EXCLUDES(this);
  // Called first thing by work running on the queue.
  void assertOnQueue() const ASSERT_CAPABILITY(this);

  const std::string& label() const { return queue_->label(); }

 private:
  // Set at construction, read-only after.
  const std::shared_ptr<platform::dispatch::Queue> queue_;
};
