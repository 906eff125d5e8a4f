#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

namespace {

// A plain operation around a block.
class BlockOperation : public Operation {
 public:
  explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
  void main() override {
    if (block_) block_();
  }

 private:
  std::function<void()> block_;
};

// Idle workers leave after this much real time; the next burst starts new ones.
constexpr auto kIdleExit = std::chrono::seconds(5);

}  // namespace

// The worker threads of one queue. Threads are detached and share this state, so a queue may
// be destroyed from one of its own workers.
struct OperationQueue::Pool {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Operation>> toStart;
  std::size_t idle = 0;
  bool shutdown = false;

  void submit(std::shared_ptr<Operation> operation, const std::shared_ptr<Pool>& self) {
    std::lock_guard lock(mutex);
    toStart.push_back(std::move(operation));
    if (idle >= toStart.size()) {
      cv.notify_one();
      return;
    }
    std::thread([self] { self->work(); }).detach();
  }

  void work() {
    std::unique_lock lock(mutex);
    for (;;) {
      ++idle;
      bool woken = cv.wait_for(lock, kIdleExit, [&] { return shutdown || !toStart.empty(); });
      --idle;
      if (shutdown || !woken) return;
      auto operation = std::move(toStart.front());
      toStart.pop_front();
      lock.unlock();
      operation->start();
      operation.reset();
      lock.lock();
    }
  }
};

std::shared_ptr<OperationQueue> OperationQueue::make(std::string name) {
  return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(name)));
}

OperationQueue::OperationQueue(std::string name)
    : name_(std::move(name)), pool_(std::make_shared<Pool>()) {}

OperationQueue::~OperationQueue() {
  std::lock_guard lock(pool_->mutex);
  pool_->shutdown = true;
  pool_->toStart.clear();
  pool_->cv.notify_all();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  std::weak_ptr<OperationQueue> weak = weak_from_this();
  const Operation* raw = operation.get();
  operation->setObserver([weak, raw] {
    if (auto queue = weak.lock()) queue->operationChanged(raw);
  });
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    entries_.push_back({operation, false});
    count = entries_.size();
    pumpLocked();
  }
  notifyCount(count);
}

void OperationQueue::addOperation(std::function<void()> block) {
  addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Operation>> result;
  result.reserve(entries_.size());
  for (const auto& entry : entries_) result.push_back(entry.operation);
  return result;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

long OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mutex_);
  return width_;
}

void OperationQueue::setMaxConcurrentOperationCount(long width) {
  std::lock_guard lock(mutex_);
  width_ = width < 0 ? kDefaultMaxConcurrentOperationCount : width;
  pumpLocked();
}

void OperationQueue::cancelAllOperations() {
  for (const auto& operation : operations()) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [&] { return entries_.empty(); });
}

void OperationQueue::setOperationCountObserver(CountObserver observer) {
  std::lock_guard lock(observerMutex_);
  countObserver_ = std::move(observer);
}

void OperationQueue::operationChanged(const Operation* operation) {
  std::size_t count = 0;
  bool removed = false;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.operation.get() == operation; });
    if (it == entries_.end()) return;
    if (operation->isFinished()) {
      if (it->started) --running_;
      entries_.erase(it);
      removed = true;
      count = entries_.size();
      if (entries_.empty()) drained_.notify_all();
    }
    pumpLocked();
  }
  if (removed) notifyCount(count);
}

void OperationQueue::pumpLocked() {
  for (auto& entry : entries_) {
    if (entry.started) continue;
    bool cancelled = entry.operation->isCancelled();
    bool hasRoom = width_ < 0 || running_ < static_cast<std::size_t>(width_);
    if (!cancelled && (!hasRoom || !entry.operation->isReady())) continue;
    entry.started = true;
    ++running_;
    pool_->submit(entry.operation, pool_);
  }
}

void OperationQueue::notifyCount(std::size_t count) {
  CountObserver observer;
  {
    std::lock_guard lock(observerMutex_);
    observer = countObserver_;
  }
  if (observer) observer(count);
}

}  // namespace platform
