#include "tagmanager/container/TAGNetworkLoadCallback.h"

#include <cstdio>

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/manager/TAGPreviewManager.h"

std::int32_t TAGNetworkLoadCallback::containerFailure(std::int32_t failure) {
  switch (failure) {
    case 1:
      return 2;
    case 2:
      return 3;
    case 3:
      return 4;
    default:
      return 5;
  }
}

void TAGNetworkLoadCallback::startLoad() {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  if (auto callback = this->callback()) callback->containerRefreshBegin(container, 1);
}

void TAGNetworkLoadCallback::onSuccess(std::shared_ptr<const tagpb::TAGPResource> resource) {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  if (resource) {
    if (!container->setupEvaluatorsWithResource(resource, false)) {
      // An answer the runtime cannot use is a failed load: nothing is saved or stamped.
      fail(container, 3);
      return;
    }
  } else {
    resource = container->lastLoadedResource();
    if (!resource) {
      fail(container, 3);
      return;
    }
  }
  container->loadAfterDelay(TAGContainer::refreshPeriodOnSuccess);
  container->setLastRefreshTime(TAGContainer::currentTimeInMilliseconds());
  char text[64];
  std::snprintf(text, sizeof text, "%f", container->lastRefreshTime());
  TAGLog::verbose(std::string("Setting refresh time to current time: ") + text);
  if (auto callback = this->callback()) callback->containerRefreshSuccess(container, 1);
  if (!TAGPreviewManager::instance().isPreviewingContainer(container->containerId())) {
    container->saveResourceToDisk(resource);
  }
  // Again, so that a schedule made from inside the success notification is replaced.
  container->loadAfterDelay(TAGContainer::refreshPeriodOnSuccess);
}

void TAGNetworkLoadCallback::onFailure(std::int32_t failure) {
  auto container = container_.lock();
  if (!container) return;
  platform::RecursiveMutexLock lock(container->lock());
  fail(container, failure);
}

void TAGNetworkLoadCallback::fail(const std::shared_ptr<TAGContainer>& container,
                                  std::int32_t failure) {
  container->loadAfterDelay(TAGContainer::refreshPeriodOnFailure);
  if (auto callback = this->callback()) {
    callback->containerRefreshFailure(container, containerFailure(failure), 1);
  }
}
