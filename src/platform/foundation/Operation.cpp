#include "platform/foundation/Operation.h"

namespace platform {

void Operation::start() {
  if (!cancelled_) {
    executing_ = true;
    stateDidChange();
    main();
    executing_ = false;
  }
  finished_ = true;
  stateDidChange();
}

void Operation::cancel() {
  cancelled_ = true;
  stateDidChange();
}

void Operation::setCompletionBlock(std::function<void()> block) {
  MutexLock lock(mutex_);
  completion_ = std::move(block);
}

void Operation::setObserver(std::function<void()> observer) {
  MutexLock lock(mutex_);
  observer_ = std::move(observer);
}

void Operation::stateDidChange() {
  std::function<void()> observer;
  {
    MutexLock lock(mutex_);
    observer = observer_;
  }
  if (isFinished()) runCompletionOnce();
  if (observer) observer();
}

void Operation::runCompletionOnce() {
  std::function<void()> completion;
  {
    MutexLock lock(mutex_);
    if (completionRan_) return;
    completionRan_ = true;
    completion = std::move(completion_);
    completion_ = nullptr;
  }
  if (completion) completion();
}

}  // namespace platform
