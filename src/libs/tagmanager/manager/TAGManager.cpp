#include "tagmanager/manager/TAGManager.h"

#include <map>
#include <vector>

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/manager/TAGAdClickReferrerListener.h"
#include "tagmanager/manager/TAGManagerListener.h"
#include "tagmanager/manager/TAGPreviewManager.h"

namespace {

struct Shared {
  platform::Mutex mutex;
  std::shared_ptr<TAGManager> manager GUARDED_BY(mutex);
};

Shared& shared() {
  static auto* value = new Shared;
  return *value;
}

}  // namespace

TAGManager::TAGManager() : _dataLayer(std::make_shared<TAGDataLayer>()) {}

std::shared_ptr<TAGManager> TAGManager::make() {
  auto manager = std::shared_ptr<TAGManager>(new TAGManager);
  manager->_dataLayer->registerListener(std::make_shared<TAGManagerListener>(manager));
  manager->_dataLayer->registerListener(std::make_shared<TAGAdClickReferrerListener>());
  return manager;
}

std::shared_ptr<TAGManager> TAGManager::instance() { return initWithSameInstance(true); }

std::shared_ptr<TAGManager> TAGManager::initWithSameInstance(bool sameInstance) {
  Shared& s = shared();
  platform::MutexLock lock(s.mutex);
  if (s.manager && sameInstance) return s.manager;
  s.manager = make();
  return s.manager;
}

void TAGManager::clearManagerInstance() {
  Shared& s = shared();
  platform::MutexLock lock(s.mutex);
  s.manager.reset();
}

std::shared_ptr<TAGContainer> TAGManager::openContainerById(
    const std::string& containerId, std::shared_ptr<TAGContainerCallback> callback) {
  auto alreadyOpen = [&] {
    TAGLog::error("Container id: " + containerId + " has already been opened");
    return nullptr;
  };
  std::optional<std::string> server;
  {
    platform::MutexLock lock(mutex_);
    if (containers_.count(containerId)) return alreadyOpen();
    server = _ctfeServerAddress;
  }
  // Made outside the manager's lock, which is never held while a container's lock is taken.
  auto container = TAGContainer::initWithId(containerId, shared_from_this());
  if (server) container->setCtfeServerAddress(server);
  {
    platform::MutexLock lock(mutex_);
    if (!containers_.emplace(containerId, container).second) return alreadyOpen();
  }
  container->loadWithCallback(std::move(callback));
  return container;
}

std::shared_ptr<TAGContainer> TAGManager::getContainerById(const std::string& containerId) {
  platform::MutexLock lock(mutex_);
  auto it = containers_.find(containerId);
  return it == containers_.end() ? nullptr : it->second;
}

void TAGManager::removeContainerById(const std::string& containerId) {
  platform::MutexLock lock(mutex_);
  containers_.erase(containerId);
}

bool TAGManager::previewWithUrl(const std::optional<std::string>& url) {
  std::map<std::string, std::shared_ptr<TAGContainer>> open;
  std::optional<std::string> previewedId, previewPath;
  std::int32_t mode = 0;
  try {
    platform::MutexLock lock(mutex_);
    auto& preview = TAGPreviewManager::instance();
    if (!preview.generatePreviewDataForUrl(url)) return false;
    previewedId = preview.containerId();
    previewPath = preview.ctfeUrlPath();
    mode = preview.previewMode();
    open = containers_;
  } catch (const std::exception& e) {
    TAGLog::error(std::string("Calling previewWithUrl threw an exception: ") + e.what());
    return false;
  }
  // Containers are reached outside the manager's lock: a container's lock is held while the
  // application hears of its loads, and the application may call the manager from there.
  for (const auto& [id, container] : open) {
    bool previewed = previewedId && id == *previewedId;
    if (mode == 1 && previewed) {
      container->setCtfeUrlPathAndQuery(previewPath);
    } else if ((mode == 1 && container->ctfeUrlPathAndQuery()) || (mode == 0 && previewed)) {
      container->setCtfeUrlPathAndQuery(std::nullopt);
    } else {
      continue;
    }
    container->refresh();
  }
  return true;
}

void TAGManager::refreshTagsInAllContainers(const std::string& eventName) {
  std::vector<std::shared_ptr<TAGContainer>> snapshot;
  {
    platform::MutexLock lock(mutex_);
    for (const auto& [id, container] : containers_) snapshot.push_back(container);
  }
  for (const auto& container : snapshot) container->evaluateTags(eventName);
}

void TAGManager::setLogger(std::shared_ptr<TAGLogger> logger) {
  TAGLog::setLogger(std::move(logger));
}

std::shared_ptr<TAGLogger> TAGManager::logger() { return TAGLog::logger(); }

std::optional<std::string> TAGManager::ctfeServerAddress() const {
  platform::MutexLock lock(mutex_);
  return _ctfeServerAddress;
}

void TAGManager::setCtfeServerAddress(std::optional<std::string> address) {
  platform::MutexLock lock(mutex_);
  _ctfeServerAddress = std::move(address);
}
