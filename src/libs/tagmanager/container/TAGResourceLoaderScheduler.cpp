#include "tagmanager/container/TAGResourceLoaderScheduler.h"

#include <cstdio>

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/base/TAGLog.h"

void TAGResourceLoaderScheduler::loadAfterDelay(double delay,
                                                const std::optional<std::string>& previousVersion) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", delay);
  TAGLog::verbose("scheduleTask: containerId=" + _containerId + " delay=" + text);
  platform::MutexLock lock(mutex_);
  cancelTimer();
  _previousVersion = previousVersion;
  std::weak_ptr<TAGResourceLoaderScheduler> weak = weak_from_this();
  _timer =
      platform::Timer::create(platform::seconds(delay / 1000.0), false, [weak](platform::Timer&) {
        if (auto self = weak.lock()) self->requestResource();
      });
  // On the loader's own run loop whoever asks: a refresh from a thread that runs no run loop
  // would otherwise leave the load on a loop that never fires it.
  runLoop_->addTimer(_timer);
}

void TAGResourceLoaderScheduler::close() {
  platform::MutexLock lock(mutex_);
  cancelTimer();
}

void TAGResourceLoaderScheduler::cancelTimer() {
  if (_timer) _timer->invalidate();
  _timer.reset();
}

bool TAGResourceLoaderScheduler::hasPendingLoad() const {
  platform::MutexLock lock(mutex_);
  return _timer && _timer->isValid();
}

void TAGResourceLoaderScheduler::setLoadCallback(
    std::shared_ptr<TAGResourceLoader::Callback> callback) {
  platform::MutexLock lock(mutex_);
  _loadCallback = std::move(callback);
}

void TAGResourceLoaderScheduler::setCtfeServerAddress(std::optional<std::string> address) {
  platform::MutexLock lock(mutex_);
  _ctfeServerAddress = std::move(address);
}

void TAGResourceLoaderScheduler::setCtfeUrlPathAndQuery(std::optional<std::string> pathAndQuery) {
  platform::MutexLock lock(mutex_);
  _ctfeUrlPathAndQuery = std::move(pathAndQuery);
}

std::optional<std::string> TAGResourceLoaderScheduler::ctfeUrlPathAndQuery() const {
  platform::MutexLock lock(mutex_);
  return _ctfeUrlPathAndQuery;
}

std::optional<std::string> TAGResourceLoaderScheduler::previousVersion() const {
  platform::MutexLock lock(mutex_);
  return _previousVersion;
}

void TAGResourceLoaderScheduler::requestResource() {
  std::shared_ptr<TAGResourceLoader::Callback> callback;
  std::optional<std::string> server, path, version;
  {
    platform::MutexLock lock(mutex_);
    callback = _loadCallback;
    server = _ctfeServerAddress;
    path = _ctfeUrlPathAndQuery;
    version = _previousVersion;
  }
  if (!callback) {
    throw platform::Exception(kTAGIllegalStateException,
                              "Callback must be set before scheduleTaskWithDelay is called.");
  }
  auto loader = TAGResourceLoader::create(_containerId);
  loader->setCallback(callback);
  if (server) {
    TAGLog::debug("Setting CTFE server address to " + *server);
    loader->setCtfeServerAddress(*server);
  }
  if (path) TAGLog::debug("Setting CTFE url path to " + *path);
  loader->setCtfeUrlPathAndQuery(path);
  loader->setPreviousVersion(version);
  loader->loadResourceAsync();
}
