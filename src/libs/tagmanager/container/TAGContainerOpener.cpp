#include "tagmanager/container/TAGContainerOpener.h"

#include <cstdio>
#include <map>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/container/TAGContainerFutureImpl.h"
#include "tagmanager/container/TAGFutureNotifier.h"
#include "tagmanager/container/TAGWaitForFresh.h"
#include "tagmanager/container/TAGWaitForNonDefaultRefresh.h"
#include "tagmanager/manager/TAGManager.h"

namespace {

using Notifiers = std::vector<std::shared_ptr<TAGContainerOpenerNotifier>>;

// Container id to the notifiers waiting for that container's first notification.
struct WaitingLists {
  platform::Mutex mutex;
  std::map<std::string, Notifiers> lists GUARDED_BY(mutex);
};

WaitingLists& waitingLists() {
  static auto* shared = new WaitingLists;
  return *shared;
}

double nowSeconds() { return platform::toSeconds(platform::Clock::shared()->now()); }

}  // namespace

std::shared_ptr<TAGContainerFuture> TAGContainerOpener::openContainerWithId(
    const std::optional<std::string>& containerId, const std::shared_ptr<TAGManager>& tagManager,
    std::int32_t openType, std::optional<double> timeout) {
  if (!containerId) {
    TAGLog::error("containerId must be non-nil");
    return nullptr;
  }
  if (!tagManager) {
    TAGLog::error("tagManager must be non-nil");
    return nullptr;
  }
  auto future = std::make_shared<TAGContainerFutureImpl>();
  openContainerWithId(containerId, tagManager, openType, timeout,
                      std::make_shared<TAGFutureNotifier>(future));
  return future;
}

void TAGContainerOpener::openContainerWithId(const std::optional<std::string>& containerId,
                                             const std::shared_ptr<TAGManager>& tagManager,
                                             std::int32_t openType, std::optional<double> timeout,
                                             std::shared_ptr<TAGContainerOpenerNotifier> notifier) {
  if (!containerId) {
    TAGLog::error("containerId must be non-nil");
    return;
  }
  if (!tagManager) {
    TAGLog::error("tagManager must be non-nil");
    return;
  }
  if (!notifier) {
    TAGLog::error("notifier must be non-nil");
    return;
  }
  auto opener = initWithContainerId(*containerId, tagManager, timeout, std::move(notifier));
  opener->openWithRefreshType(openType != 0 ? 1 : 0);
}

std::shared_ptr<TAGContainerOpener> TAGContainerOpener::initWithContainerId(
    const std::string& containerId, std::shared_ptr<TAGManager> tagManager,
    std::optional<double> timeout, std::shared_ptr<TAGContainerOpenerNotifier> notifier) {
  double seconds = timeout.value_or(defaultTimeout);
  if (timeout && *timeout >= 100) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", *timeout);
    TAGLog::warning(std::string("Excessive timeout detected (") + text +
                    "). Timeout should be in seconds.");
  }
  return std::shared_ptr<TAGContainerOpener>(
      new TAGContainerOpener(containerId, std::move(tagManager), seconds, std::move(notifier)));
}

TAGContainerOpener::TAGContainerOpener(std::string containerId,
                                       std::shared_ptr<TAGManager> tagManager, double timeout,
                                       std::shared_ptr<TAGContainerOpenerNotifier> notifier)
    : containerId_(std::move(containerId)), tagManager_(tagManager), _timeout(timeout) {
  platform::MutexLock lock(mutex_);
  notifier_ = std::move(notifier);
}

void TAGContainerOpener::openWithRefreshType(std::int32_t openType) {
  double start = nowSeconds();
  auto manager = tagManager_.lock();
  if (!manager) return;
  std::shared_ptr<TAGContainer> container;
  std::shared_ptr<TAGContainerOpenerNotifier> notifier;
  {
    platform::MutexLock own(mutex_);
    notifier = std::move(notifier_);
    notifier_ = nullptr;
  }
  {
    WaitingLists& waiting = waitingLists();
    platform::MutexLock lock(waiting.mutex);
    auto list = waiting.lists.find(containerId_);
    if (list != waiting.lists.end()) {
      // An earlier open has not notified yet: told together with it.
      list->second.push_back(std::move(notifier));
      return;
    }
    container = manager->getContainerById(containerId_);
    if (!container) waiting.lists[containerId_].push_back(notifier);
  }
  if (container) {
    notifier->containerAvailable(container);
    return;
  }
  // Opened outside the waiting lists' lock: the container's lock is held when a refresh tells
  // the waiters, and they take the waiting lists' lock then.
  std::shared_ptr<TAGContainerCallback> waiter;
  if (openType == 1) {
    waiter = std::make_shared<TAGWaitForFresh>(
        shared_from_this(), nowSeconds() * 1000.0 - TAGContainer::refreshPeriodOnSuccess);
  } else {
    waiter = std::make_shared<TAGWaitForNonDefaultRefresh>(shared_from_this());
  }
  container = manager->openContainerById(containerId_, waiter);
  auto self = shared_from_this();
  platform::Timer::scheduled(platform::seconds(_timeout - (nowSeconds() - start)), false,
                             [self, container](platform::Timer&) { self->handleTimer(container); });
}

void TAGContainerOpener::callNotifiers(const std::shared_ptr<TAGContainer>& container) {
  if (_haveNotified.exchange(true)) return;
  Notifiers notifiers;
  {
    WaitingLists& waiting = waitingLists();
    platform::MutexLock lock(waiting.mutex);
    auto list = waiting.lists.find(containerId_);
    if (list != waiting.lists.end()) {
      notifiers = std::move(list->second);
      waiting.lists.erase(list);
    }
  }
  for (const auto& notifier : notifiers) {
    if (notifier) notifier->containerAvailable(container);
  }
}

void TAGContainerOpener::handleTimer(const std::shared_ptr<TAGContainer>& container) {
  callNotifiers(container);
}
