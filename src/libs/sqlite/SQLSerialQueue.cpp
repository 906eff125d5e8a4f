#include "sqlite/SQLSerialQueue.h"

#include "platform/foundation/Assert.h"

SQLSerialQueue::SQLSerialQueue(std::string label)
    : queue_(platform::dispatch::Queue::serial(std::move(label))) {}

void SQLSerialQueue::sync(const std::function<void()>& work) { queue_->sync(work); }

void SQLSerialQueue::assertOnQueue() const {
#ifndef NDEBUG
  if (platform::dispatch::Queue::current() != queue_) {
    throw platform::AssertionFailure("Work for " + queue_->label() + " runs off its queue");
  }
#endif
}
