#include "platform/foundation/OperationQueue.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace platform {

namespace {

// A plain operation around a block.
class BlockOperation : public Operation {
  CH_SHARED_OBJECT(BlockOperation)

 public:
  void main() override {
    if (block_) block_();
  }

 private:
  explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

  // Set before start, read-only after.
  const std::function<void()> block_;
};

// Idle workers leave after this much real time; the next burst starts new ones.
constexpr auto kIdleExit = std::chrono::seconds(5);

std::atomic<std::size_t>& inFlightCount() {
  static std::atomic<std::size_t> count{0};
  return count;
}

}  // namespace

// The worker threads of one queue. Threads are detached and share this object, so a queue may
// be destroyed from one of its own workers.
class OperationQueue::Pool {
 public:
  void submit(std::shared_ptr<Operation> operation, const std::shared_ptr<Pool>& self)
      EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    toStart_.push_back(std::move(operation));
    if (idle_ >= toStart_.size()) {
      cv_.notify_one();
      return;
    }
    std::thread([self] { self->work(); }).detach();
  }

  // Drops the operations not yet started and lets every worker leave.
  void shutDown() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    shutdown_ = true;
    toStart_.clear();
    cv_.notify_all();
  }

 private:
  void work() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    for (;;) {
      ++idle_;
      bool woken = cv_.wait_for(lock.native(), kIdleExit,
                                [&]() REQUIRES(mutex_) { return shutdown_ || !toStart_.empty(); });
      --idle_;
      if (shutdown_ || !woken) return;
      auto operation = std::move(toStart_.front());
      toStart_.pop_front();
      lock.unlock();
      operation->start();
      operation.reset();
      lock.lock();
    }
  }

  // Guarded by mutex_.
  Mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Operation>> toStart_ GUARDED_BY(mutex_);
  std::size_t idle_ GUARDED_BY(mutex_) = 0;
  bool shutdown_ GUARDED_BY(mutex_) = false;
};

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name) {
  return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(name)));
}

OperationQueue::OperationQueue(std::string name)
    : name_(std::move(name)), pool_(std::make_shared<Pool>()) {}

OperationQueue::~OperationQueue() {
  pool_->shutDown();
  // Their finishing is no longer followed (it finds no queue): they count no more.
  MutexLock lock(mutex_);
  inFlightCount().fetch_sub(entries_.size());
}

std::size_t OperationQueue::operationsInFlight() { return inFlightCount().load(); }

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  add(operation, false);
}

void OperationQueue::addOperationStartingHere(const std::shared_ptr<Operation>& operation) {
  if (add(operation, true)) operation->start();
}

bool OperationQueue::add(const std::shared_ptr<Operation>& operation, bool startHere) {
  if (!operation) return false;
  std::weak_ptr<OperationQueue> weak = weak_from_this();
  const Operation* raw = operation.get();
  operation->setObserver([weak, raw] {
    if (auto queue = weak.lock()) queue->operationChanged(raw);
  });
  std::size_t count;
  std::uint64_t change;
  bool callerStarts;
  {
    MutexLock lock(mutex_);
    // Added twice while unfinished: it is one entry, as before.
    if (slots_.contains(raw)) return false;
    Slot slot;
    slot.entry = entries_.insert(entries_.end(), operation);
    slot.waiting = waiting_.insert(waiting_.end(), operation.get());
    Slot& added = slots_.emplace(raw, slot).first->second;
    inFlightCount().fetch_add(1);
    count = entries_.size();
    change = ++countChanges_;
    // Cancelled before it came: its cancel was reported to nobody, so it starts now.
    if (operation->isCancelled()) startLocked(added);
    callerStarts = pumpLocked(startHere ? raw : nullptr);
  }
  notifyCount(change, count);
  return callerStarts;
}

void OperationQueue::addOperation(std::function<void()> block) {
  addOperation(BlockOperation::create(std::move(block)));
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  MutexLock lock(mutex_);
  std::vector<std::shared_ptr<Operation>> result;
  result.reserve(entries_.size());
  for (const auto& operation : entries_) result.push_back(operation);
  return result;
}

std::size_t OperationQueue::operationCount() const {
  MutexLock lock(mutex_);
  return entries_.size();
}

long OperationQueue::maxConcurrentOperationCount() const {
  MutexLock lock(mutex_);
  return width_;
}

void OperationQueue::setMaxConcurrentOperationCount(long width) {
  MutexLock lock(mutex_);
  width_ = width < 0 ? kDefaultMaxConcurrentOperationCount : width;
  pumpLocked();
}

void OperationQueue::cancelAllOperations() {
  for (const auto& operation : operations()) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  MutexLock lock(mutex_);
  drained_.wait(lock.native(), [&]() REQUIRES(mutex_) { return entries_.empty(); });
}

void OperationQueue::setOperationCountObserver(CountObserver observer) {
  MutexLock lock(observerMutex_);
  countObserver_ = std::move(observer);
}

void OperationQueue::operationChanged(const Operation* operation) {
  std::size_t count = 0;
  std::uint64_t change = 0;
  bool removed = false;
  {
    MutexLock lock(mutex_);
    auto found = slots_.find(operation);
    if (found == slots_.end()) return;
    Slot& slot = found->second;
    if (operation->isFinished()) {
      if (slot.started) {
        --running_;
      } else {
        waiting_.erase(slot.waiting);
      }
      entries_.erase(slot.entry);
      slots_.erase(found);
      inFlightCount().fetch_sub(1);
      removed = true;
      count = entries_.size();
      change = ++countChanges_;
      if (entries_.empty()) drained_.notify_all();
    } else if (!slot.started && operation->isCancelled()) {
      startLocked(slot);
    }
    pumpLocked();
  }
  if (removed) notifyCount(change, count);
}

bool OperationQueue::pumpLocked(const Operation* here) {
  auto hasRoom = [&]() REQUIRES(mutex_) {
    return width_ < 0 || running_ < static_cast<std::size_t>(width_);
  };
  bool startsHere = false;
  for (auto it = waiting_.begin(); it != waiting_.end() && hasRoom();) {
    Operation* operation = *it++;
    if (!operation->isCancelled() && !operation->isReady()) continue;
    bool isHere = operation == here;
    startLocked(slots_.at(operation), !isHere);
    startsHere = startsHere || isHere;
  }
  return startsHere;
}

void OperationQueue::startLocked(Slot& slot, bool onWorker) {
  waiting_.erase(slot.waiting);
  slot.started = true;
  ++running_;
  if (onWorker) pool_->submit(*slot.entry, pool_);
}

void OperationQueue::notifyCount(std::uint64_t change, std::size_t count) {
  CountObserver observer;
  {
    MutexLock lock(observerMutex_);
    observer = countObserver_;
  }
  RecursiveMutexLock lock(deliveryMutex_);
  if (change <= countChangesTold_) return;
  countChangesTold_ = change;
  if (observer) observer(count);
}

}  // namespace platform
