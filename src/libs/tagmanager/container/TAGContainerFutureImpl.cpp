#include "tagmanager/container/TAGContainerFutureImpl.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

std::shared_ptr<TAGContainer> TAGContainerFutureImpl::get() {
  auto loop = platform::RunLoop::current();
  while (!isDone()) loop->runUntil([this] { return isDone(); }, platform::seconds(0.1));
  return container();
}

bool TAGContainerFutureImpl::isDone() { return container() != nullptr; }

std::shared_ptr<TAGContainer> TAGContainerFutureImpl::container() const {
  platform::MutexLock lock(mutex_);
  return _container;
}

void TAGContainerFutureImpl::setContainer(std::shared_ptr<TAGContainer> container) {
  platform::MutexLock lock(mutex_);
  _container = std::move(container);
}
