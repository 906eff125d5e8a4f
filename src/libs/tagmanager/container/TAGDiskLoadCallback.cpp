#include "tagmanager/container/TAGDiskLoadCallback.h"

#include <algorithm>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGContainer.h"

std::int32_t TAGDiskLoadCallback::containerFailure(std::int32_t failure) {
  switch (failure) {
    case 1:
      return 0;
    case 2:
      return 1;
    case 3:
      return 4;
    default:
      return 5;
  }
}

void TAGDiskLoadCallback::startLoad() {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  if (auto callback = this->callback()) callback->containerRefreshBegin(container, 0);
}

void TAGDiskLoadCallback::onSuccess(
    std::shared_ptr<const tagpb::TAGPResourceWithMetadata> resource) {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  if (container->isDefault()) {
    auto saved = std::shared_ptr<const tagpb::TAGPResource>(resource, &resource->resource());
    if (!container->setupEvaluatorsWithResource(saved, false)) {
      // A saved copy that does not expand is as unusable as one that does not parse.
      onFailure(2);
      return;
    }
    TAGLog::verbose("Setting refresh time to saved time: " +
                    std::to_string(resource->time_stamp()));
    container->setLastRefreshTime(static_cast<double>(resource->time_stamp()));
    double delay = std::min(TAGContainer::refreshPeriodOnSuccess,
                            container->lastRefreshTime() + TAGContainer::refreshPeriodOnSuccess -
                                TAGContainer::currentTimeInMilliseconds());
    container->loadAfterDelay(std::max(delay, 0.0));
  }
  if (auto callback = this->callback()) callback->containerRefreshSuccess(container, 0);
}

void TAGDiskLoadCallback::onFailure(std::int32_t failure) {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  if (auto callback = this->callback()) {
    callback->containerRefreshFailure(container, containerFailure(failure), 0);
  }
  if (container->isDefault()) container->loadAfterDelay(0);
}
