#include "platform/dispatch/Queue.h"

#include <unordered_map>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/QueueStack.h"
#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/Mutex.h"

namespace platform::dispatch {

struct Queue::Specifics {
  // Guarded by mutex.
  mutable Mutex mutex;
  std::unordered_map<const void*, void*> values GUARDED_BY(mutex);
};

Queue::Queue(Kind kind, std::string label)
    : kind_(kind), label_(std::move(label)), specifics_(std::make_unique<Specifics>()) {}

Queue::~Queue() = default;

std::shared_ptr<Queue> Queue::serial(std::string label) {
  return std::make_shared<SerialQueue>(Tag{}, std::move(label));
}

std::shared_ptr<Queue> Queue::concurrent(std::string label) {
  return std::make_shared<ConcurrentQueue>(Tag{}, std::move(label), Priority::Default, false);
}

// The shared queues are made once and never destroyed: work may still run on them while the
// process's statics are torn down.
std::shared_ptr<Queue> Queue::main() {
  static auto* queue = new std::shared_ptr<Queue>(std::make_shared<MainQueue>(Tag{}));
  return *queue;
}

std::shared_ptr<Queue> Queue::global(Priority priority) {
  static auto* queues = new std::shared_ptr<Queue>[4] {
    std::make_shared<ConcurrentQueue>(Tag{}, "global.high", Priority::High, true),
        std::make_shared<ConcurrentQueue>(Tag{}, "global.default", Priority::Default, true),
        std::make_shared<ConcurrentQueue>(Tag{}, "global.low", Priority::Low, true),
        std::make_shared<ConcurrentQueue>(Tag{}, "global.background", Priority::Background, true),
  };
  return queues[static_cast<int>(priority)];
}

namespace {
// The queue whose work runs on this thread, looked at where it is: a queue on the stack lives
// while its work runs, and the main queue is never destroyed.
Queue* runningQueue() {
  if (Queue* q = QueueStack::top()) return q;
  if (MainQueue::isMainThread()) return Queue::main().get();
  return nullptr;
}
}  // namespace

std::shared_ptr<Queue> Queue::current() {
  Queue* q = runningQueue();
  return q ? q->shared_from_this() : nullptr;
}

std::string Queue::currentLabel() {
  auto q = current();
  return q ? q->label() : std::string();
}

// Asked on every step of a socket's work, so without taking a reference to the queue.
void* Queue::getCurrentSpecific(const void* key) {
  Queue* q = runningQueue();
  return q ? q->getSpecific(key) : nullptr;
}

void Queue::async(const std::shared_ptr<Group>& group, Work work) {
  group->enter();
  async([group, work = std::move(work)] {
    struct Leaver {
      Group* group;
      ~Leaver() { group->leave(); }
    } leaver{group.get()};
    work();
  });
}

void Queue::after(Duration delay, Work work) {
  auto deadline = Clock::shared()->monotonicNow() + delay;
  Reactor::shared().schedule(deadline,
                             [self = shared_from_this(), work = std::move(work)]() mutable {
                               self->async(std::move(work));
                             });
}

// Queues without a notion of suspension (none today) accept the calls and ignore them.
void Queue::suspend() {}
void Queue::resume() {}

void Queue::setSpecific(const void* key, void* context) {
  MutexLock lock(specifics_->mutex);
  if (context)
    specifics_->values[key] = context;
  else
    specifics_->values.erase(key);
}

void* Queue::getSpecific(const void* key) const {
  MutexLock lock(specifics_->mutex);
  auto it = specifics_->values.find(key);
  return it == specifics_->values.end() ? nullptr : it->second;
}

}  // namespace platform::dispatch
