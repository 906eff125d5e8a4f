#pragma once
// TAGContainerFutureImpl: the future an opener hands out; set once by its notifier. Any thread
// may set and ask; `get` runs the calling thread's run loop while it waits.

#include <memory>

#include "platform/foundation/Mutex.h"
#include "tagmanager/container/TAGContainerFuture.h"

class TAGContainerFutureImpl : public TAGContainerFuture {
 public:
  std::shared_ptr<TAGContainer> get() override;
  bool isDone() override;
  std::shared_ptr<TAGContainer> container() const EXCLUDES(mutex_);
  void setContainer(std::shared_ptr<TAGContainer> container) EXCLUDES(mutex_);

 private:
  mutable platform::Mutex mutex_;
  std::shared_ptr<TAGContainer> _container GUARDED_BY(mutex_);
};
