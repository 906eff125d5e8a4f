#pragma once
// TAGResourceLoaderScheduler: one container's pending network load. It keeps the server, path
// and previous-version settings and a one-shot timer; when the timer fires it starts a fresh
// TAGResourceLoader with those settings, reporting to the load callback. Each
// `loadAfterDelay` replaces the pending load, so at most one is pending per container.
//
// The timer runs on the main run loop, where the container handles its load outcomes, whichever
// thread scheduled it, and the fetch reports there. `loadAfterDelay` and `close` may come from
// any thread; the settings are guarded by its lock.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/container/TAGResourceLoader.h"

class TAGResourceLoaderScheduler : public std::enable_shared_from_this<TAGResourceLoaderScheduler> {
  CH_SHARED_OBJECT(TAGResourceLoaderScheduler)

 public:
  // `delay` in milliseconds.
  void loadAfterDelay(double delay, const std::optional<std::string>& previousVersion)
      EXCLUDES(mutex_);
  // Cancels the pending load; a fetch already running still reports.
  void close() EXCLUDES(mutex_);

  const std::string& containerId() const { return _containerId; }
  void setLoadCallback(std::shared_ptr<TAGResourceLoader::Callback> callback) EXCLUDES(mutex_);
  void setCtfeServerAddress(std::optional<std::string> address) EXCLUDES(mutex_);
  void setCtfeUrlPathAndQuery(std::optional<std::string> pathAndQuery) EXCLUDES(mutex_);
  std::optional<std::string> ctfeUrlPathAndQuery() const EXCLUDES(mutex_);
  std::optional<std::string> previousVersion() const EXCLUDES(mutex_);
  // Whether a load is pending (tests).
  bool hasPendingLoad() const EXCLUDES(mutex_);

  // The timer's action: starts one fetch. Raises "IllegalStateException" without a callback.
  void requestResource() EXCLUDES(mutex_);

 protected:
  explicit TAGResourceLoaderScheduler(std::string containerId)
      : _containerId(std::move(containerId)), runLoop_(platform::RunLoop::main()) {}

 private:
  void cancelTimer() REQUIRES(mutex_);

  const std::string _containerId;
  // Where the timer fires and the fetch runs; set at creation, read-only after.
  const std::shared_ptr<platform::RunLoop> runLoop_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<TAGResourceLoader::Callback> _loadCallback GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeServerAddress GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeUrlPathAndQuery GUARDED_BY(mutex_);
  std::optional<std::string> _previousVersion GUARDED_BY(mutex_);
  std::shared_ptr<platform::Timer> _timer GUARDED_BY(mutex_);
};
