#include "tagmanager/container/TAGContainer.h"

#include <cmath>
#include <cstdio>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/container/TAGResourceStorageImpl.h"
#include "tagmanager/container/TAGResourceUtil.h"
#include "tagmanager/manager/TAGManager.h"
#include "tagmanager/manager/TAGPreviewManager.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGFunctionCallMacroHandlerAdapter.h"
#include "tagmanager/runtime/TAGFunctionCallTagHandlerAdapter.h"
#include "tagmanager/tags/TAGArbitraryPixel.h"
#include "tagmanager/tags/TAGUniversalAnalytics.h"
#include "tagmanager/values/TAGBoolean.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

std::string exceptionReason(const std::exception& e) { return e.what(); }

}  // namespace

TAGContainer::TAGContainer(std::string containerId, const std::shared_ptr<TAGManager>& tagManager,
                           std::shared_ptr<TAGResourceStorage> resourceStorage)
    : _containerId(std::move(containerId)), _tagManager(tagManager) {
  platform::RecursiveMutexLock lock(mutex_);
  _resourceStorage = std::move(resourceStorage);
}

std::shared_ptr<TAGContainer> TAGContainer::initWithId(
    const std::string& containerId, const std::shared_ptr<TAGManager>& tagManager) {
  return initWithId(containerId, tagManager, TAGResourceStorageImpl::create(containerId));
}

std::shared_ptr<TAGContainer> TAGContainer::initWithId(
    const std::string& containerId, const std::shared_ptr<TAGManager>& tagManager,
    std::shared_ptr<TAGResourceStorage> resourceStorage) {
  auto container = create(containerId, tagManager, std::move(resourceStorage));
  container->createInitialContainer();
  return container;
}

void TAGContainer::createInitialContainer() {
  auto storage = resourceStorage();
  if (auto resource = storage->loadResourceFromContainerFile(_containerId)) {
    setupEvaluatorsWithResource(resource, true);
    return;
  }
  if (auto expanded = storage->loadExpandedResourceFromPlistFile(_containerId)) {
    setupEvaluatorsWithExpandedResource(expanded);
    return;
  }
  if (auto expanded = storage->loadExpandedResourceFromJsonFile(_containerId)) {
    setupEvaluatorsWithExpandedResource(expanded);
    return;
  }
  TAGLog::error("No default container found; creating an empty container.");
  setupEvaluatorsWithExpandedResource(TAGExpandedResource::builder().build());
}

bool TAGContainer::setupEvaluatorsWithResource(
    const std::shared_ptr<const tagpb::TAGPResource>& resource, bool isDefaultResource) {
  std::shared_ptr<const TAGExpandedResource> expanded;
  try {
    expanded = TAGResourceUtil::expandResource(*resource);
  } catch (const platform::Exception& e) {
    if (e.name() != kTAGInvalidResourceException) throw;
    TAGLog::error("Not loading resource: " + TAGResourceUtil::summaryOfResource(*resource) +
                  " because it is invalid: " + e.name() + ": " + e.reason());
    return false;
  }
  platform::RecursiveMutexLock lock(mutex_);
  if (!isDefaultResource) _lastLoadedResource = resource;
  setupEvaluatorsWithExpandedResource(expanded);
  return true;
}

void TAGContainer::setupEvaluatorsWithExpandedResource(
    const std::shared_ptr<const TAGExpandedResource>& resource) {
  auto manager = tagManager();
  auto dataLayer = manager ? manager->dataLayer() : nullptr;
  std::weak_ptr<TAGContainer> weak = weak_from_this();
  TAGRuntime::TrackingTags tags = {std::make_shared<TAGArbitraryPixel>(),
                                   std::make_shared<TAGUniversalAnalytics>(dataLayer)};
  auto runtime = TAGRuntime::runtimeWithResource(
      resource, dataLayer, std::make_shared<TAGFunctionCallMacroHandlerAdapter>(weak),
      std::make_shared<TAGFunctionCallTagHandlerAdapter>(weak), tags);
  platform::RecursiveMutexLock lock(mutex_);
  _resourceVersion = resource->version();
  platform::MutexLock runtimeLock(runtimeMutex_);
  _runtime = std::move(runtime);
}

double TAGContainer::currentTimeInMilliseconds() {
  return platform::toSeconds(platform::Clock::shared()->now()) * 1000.0;
}

bool TAGContainer::isDefaultContainerRefreshMode() const {
  auto manager = tagManager();
  return manager && manager->refreshMode() == 1;
}

std::shared_ptr<TAGRuntime> TAGContainer::runtime() const {
  platform::MutexLock lock(runtimeMutex_);
  return _runtime;
}

template <class Value, class Convert>
Value TAGContainer::typedValue(const char* getter, const std::string& key, Value fallback,
                               Convert convert) {
  try {
    auto runtime = this->runtime();
    if (!runtime) {
      TAGLog::error(std::string(getter) + " called for closed container");
      return fallback;
    }
    return convert(runtime->evaluateMacroReference(key)->value());
  } catch (const std::exception& e) {
    TAGLog::error(std::string("Calling ") + getter + " threw an exception: " + exceptionReason(e) +
                  " Returning default value.");
    return fallback;
  }
}

bool TAGContainer::booleanForKey(const std::string& key) {
  return typedValue(
      "booleanForKey", key, TAGTypes::defaultBoolean()->boolValue(),
      [](const TAGPValue::Ref& v) { return TAGTypes::valueToBoolean(v)->boolValue(); });
}

double TAGContainer::doubleForKey(const std::string& key) {
  return typedValue(
      "doubleForKey", key, TAGTypes::getDouble(TAGTypes::defaultDouble()),
      [](const TAGPValue::Ref& v) { return TAGTypes::getDouble(TAGTypes::valueToDouble(v)); });
}

std::int64_t TAGContainer::int64ForKey(const std::string& key) {
  return typedValue(
      "int64ForKey", key, TAGTypes::getInt64(TAGTypes::defaultInt64()),
      [](const TAGPValue::Ref& v) { return TAGTypes::getInt64(TAGTypes::valueToInt64(v)); });
}

std::string TAGContainer::stringForKey(const std::string& key) {
  return typedValue("stringForKey", key, *TAGTypes::defaultString(),
                    [](const TAGPValue::Ref& v) { return *TAGTypes::valueToString(v); });
}

void TAGContainer::refresh() {
  platform::RecursiveMutexLock lock(mutex_);
  try {
    if (!runtime()) {
      TAGLog::warning("refresh called for closed container");
    } else if (isDefaultContainerRefreshMode()) {
      TAGLog::warning("Container is in DEFAULT_CONTAINER mode. Refresh request is ignored.");
    } else {
      double now = currentTimeInMilliseconds();
      if (useAvailableTokenWithCurrentTime(now)) {
        TAGLog::verbose("Container refresh requested.");
        loadAfterDelay(0);
        _lastRefreshMethodCalledTime = now;
      } else {
        TAGLog::verbose("Container refresh was called too often. Ignored.");
      }
    }
  } catch (const std::exception& e) {
    TAGLog::error("Calling refresh threw an exception: " + exceptionReason(e));
  }
}

bool TAGContainer::useAvailableTokenWithCurrentTime(double now) {
  double last = _lastRefreshMethodCalledTime.load();
  if (last == 0) {
    _numTokens = _numTokens.load() - 1;
    return true;
  }
  double elapsed = now - last;
  if (elapsed < minimumRefreshPeriodInBurstMode) return false;
  std::uint32_t tokens = _numTokens.load();
  if (tokens < maximumTokenCount) {
    double earned = std::floor(elapsed / minimumRefreshPeriod);
    tokens = earned >= maximumTokenCount - tokens ? maximumTokenCount
                                                  : tokens + static_cast<std::uint32_t>(earned);
  }
  if (tokens == 0) {
    _numTokens = tokens;
    return false;
  }
  _numTokens = tokens - 1;
  return true;
}

void TAGContainer::close() {
  {
    platform::RecursiveMutexLock lock(mutex_);
    try {
      if (_networkLoadScheduler) _networkLoadScheduler->close();
      _networkLoadScheduler.reset();
      _resourceStorage.reset();
      if (diskLoadCallback_) diskLoadCallback_->close();
      diskLoadCallback_.reset();
      if (networkLoadCallback_) networkLoadCallback_->close();
      networkLoadCallback_.reset();
      platform::MutexLock runtimeLock(runtimeMutex_);
      _runtime.reset();
    } catch (const std::exception& e) {
      TAGLog::error("Calling close threw an exception: " + exceptionReason(e));
    }
  }
  // Outside the container's lock: the manager takes its own lock first when it reaches into
  // containers, so taking them the other way round here could deadlock.
  if (auto manager = tagManager()) manager->removeContainerById(_containerId);
}

void TAGContainer::registerFunctionCallTagHandler(
    std::shared_ptr<TAGFunctionCallTagHandler> handler, const std::string& tagName) {
  platform::RecursiveMutexLock lock(mutex_);
  functionCallTagHandlers_[tagName] = std::move(handler);
}

void TAGContainer::registerFunctionCallMacroHandler(
    std::shared_ptr<TAGFunctionCallMacroHandler> handler, const std::string& macroName) {
  platform::RecursiveMutexLock lock(mutex_);
  functionCallMacroHandlers_[macroName] = std::move(handler);
}

std::shared_ptr<TAGFunctionCallTagHandler> TAGContainer::functionCallTagHandlerForTag(
    const std::string& tagName) {
  platform::RecursiveMutexLock lock(mutex_);
  auto it = functionCallTagHandlers_.find(tagName);
  return it == functionCallTagHandlers_.end() ? nullptr : it->second;
}

std::shared_ptr<TAGFunctionCallMacroHandler> TAGContainer::functionCallMacroHandlerForMacro(
    const std::string& macroName) {
  platform::RecursiveMutexLock lock(mutex_);
  auto it = functionCallMacroHandlers_.find(macroName);
  return it == functionCallMacroHandlers_.end() ? nullptr : it->second;
}

void TAGContainer::evaluateTags(const std::string& eventName) {
  if (auto runtime = this->runtime()) runtime->evaluateTags(eventName);
}

void TAGContainer::loadWithCallback(std::shared_ptr<TAGContainerCallback> callback) {
  loadWithCallback(std::move(callback), TAGResourceLoaderScheduler::create(_containerId));
}

void TAGContainer::loadWithCallback(
    std::shared_ptr<TAGContainerCallback> callback,
    std::shared_ptr<TAGResourceLoaderScheduler> resourceLoaderScheduler) {
  platform::RecursiveMutexLock lock(mutex_);
  if (diskLoadCallback_) {
    throw platform::Exception(kTAGContainerAlreadyLoadedException,
                              "Container already loaded: container Id:" + _containerId);
  }
  std::weak_ptr<TAGContainer> weak = weak_from_this();
  diskLoadCallback_ = std::make_shared<TAGDiskLoadCallback>(callback, weak);
  if (isDefaultContainerRefreshMode()) {
    TAGLog::info("Container is in DEFAULT_CONTAINER mode. Use default container.");
    return;
  }
  if (_resourceStorage) _resourceStorage->setLoadCallback(diskLoadCallback_);
  networkLoadCallback_ = std::make_shared<TAGNetworkLoadCallback>(callback, weak);
  resourceLoaderScheduler->setLoadCallback(networkLoadCallback_);
  auto& preview = TAGPreviewManager::instance();
  if (preview.isPreviewingContainer(_containerId)) {
    _ctfeUrlPathAndQuery = preview.ctfeUrlPath();
    resourceLoaderScheduler->setCtfeUrlPathAndQuery(_ctfeUrlPathAndQuery);
  }
  if (_ctfeServerAddress) resourceLoaderScheduler->setCtfeServerAddress(_ctfeServerAddress);
  _networkLoadScheduler = std::move(resourceLoaderScheduler);
  if (_resourceStorage) _resourceStorage->loadResourceFromDiskInBackground();
}

void TAGContainer::loadAfterDelay(double delay) {
  platform::RecursiveMutexLock lock(mutex_);
  if (isDefaultContainerRefreshMode() || !_networkLoadScheduler) return;
  std::optional<std::string> version;
  if (_lastLoadedResource) version = _lastLoadedResource->version();
  _networkLoadScheduler->loadAfterDelay(delay, version);
}

void TAGContainer::saveResourceToDisk(const std::shared_ptr<const tagpb::TAGPResource>& resource) {
  platform::RecursiveMutexLock lock(mutex_);
  char text[64];
  std::snprintf(text, sizeof text, "%f", lastRefreshTime());
  TAGLog::verbose(std::string("Saving resource to disk with timestamp of ") + text);
  auto saved = std::make_shared<tagpb::TAGPResourceWithMetadata>();
  saved->set_time_stamp(static_cast<std::int64_t>(lastRefreshTime()));
  *saved->mutable_resource() = *resource;
  if (_resourceStorage) _resourceStorage->saveResourceToDiskInBackground(saved);
}

std::shared_ptr<const tagpb::TAGPResource> TAGContainer::lastLoadedResource() {
  platform::RecursiveMutexLock lock(mutex_);
  return _lastLoadedResource;
}

std::optional<std::string> TAGContainer::resourceVersion() {
  platform::RecursiveMutexLock lock(mutex_);
  return _resourceVersion;
}

std::optional<std::string> TAGContainer::ctfeServerAddress() {
  platform::RecursiveMutexLock lock(mutex_);
  return _ctfeServerAddress;
}

void TAGContainer::setCtfeServerAddress(std::optional<std::string> address) {
  platform::RecursiveMutexLock lock(mutex_);
  _ctfeServerAddress = std::move(address);
  if (_networkLoadScheduler) _networkLoadScheduler->setCtfeServerAddress(_ctfeServerAddress);
}

std::optional<std::string> TAGContainer::ctfeUrlPathAndQuery() {
  platform::RecursiveMutexLock lock(mutex_);
  return _ctfeUrlPathAndQuery;
}

void TAGContainer::setCtfeUrlPathAndQuery(std::optional<std::string> pathAndQuery) {
  platform::RecursiveMutexLock lock(mutex_);
  _ctfeUrlPathAndQuery = std::move(pathAndQuery);
  if (_networkLoadScheduler) _networkLoadScheduler->setCtfeUrlPathAndQuery(_ctfeUrlPathAndQuery);
}

std::shared_ptr<TAGResourceLoaderScheduler> TAGContainer::networkLoadScheduler() {
  platform::RecursiveMutexLock lock(mutex_);
  return _networkLoadScheduler;
}

std::shared_ptr<TAGResourceStorage> TAGContainer::resourceStorage() {
  platform::RecursiveMutexLock lock(mutex_);
  return _resourceStorage;
}
