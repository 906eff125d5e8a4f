#pragma once
// TAGManager: the tag manager's entry object. The process-wide instance owns the data layer,
// opens containers by id, runs every open container's tags when the data layer receives an
// "event", switches containers into and out of preview, and fronts the log's logger.
//
// Refresh mode 0 is normal; in mode 1 (default-container mode) containers neither load nor
// refresh. Any thread may call: the manager's lock covers opening, lookup, removal, the preview
// state and the server address; tags run without it.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "tagmanager/base/TAGLogger.h"
#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/container/TAGContainerCallback.h"
#include "tagmanager/manager/TAGDataLayer.h"

class TAGManager : public std::enable_shared_from_this<TAGManager> {
 public:
  // The shared manager, made on first use.
  static std::shared_ptr<TAGManager> instance();
  // With `sameInstance`, the shared manager when there is one; otherwise a new manager that
  // becomes the shared one.
  static std::shared_ptr<TAGManager> initWithSameInstance(bool sameInstance);
  static void clearManagerInstance();

  // The opened container, or none (logged) when the id is open already.
  std::shared_ptr<TAGContainer> openContainerById(const std::string& containerId,
                                                  std::shared_ptr<TAGContainerCallback> callback)
      EXCLUDES(mutex_);
  std::shared_ptr<TAGContainer> getContainerById(const std::string& containerId) EXCLUDES(mutex_);
  void removeContainerById(const std::string& containerId) EXCLUDES(mutex_);
  // True when `url` was a preview link that was acted on.
  bool previewWithUrl(const std::optional<std::string>& url) EXCLUDES(mutex_);
  void refreshTagsInAllContainers(const std::string& eventName) EXCLUDES(mutex_);

  static void setLogger(std::shared_ptr<TAGLogger> logger);
  static std::shared_ptr<TAGLogger> logger();

  std::int32_t refreshMode() const { return _refreshMode.load(); }
  void setRefreshMode(std::int32_t mode) { _refreshMode = mode; }
  std::optional<std::string> ctfeServerAddress() const EXCLUDES(mutex_);
  void setCtfeServerAddress(std::optional<std::string> address) EXCLUDES(mutex_);
  const std::shared_ptr<TAGDataLayer>& dataLayer() const { return _dataLayer; }

  TAGManager(const TAGManager&) = delete;
  TAGManager& operator=(const TAGManager&) = delete;

 private:
  TAGManager();
  static std::shared_ptr<TAGManager> make();

  const std::shared_ptr<TAGDataLayer> _dataLayer;
  // Read by containers under their own lock, so it is not behind the manager's.
  std::atomic<std::int32_t> _refreshMode{0};
  mutable platform::Mutex mutex_;
  std::map<std::string, std::shared_ptr<TAGContainer>> containers_ GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeServerAddress GUARDED_BY(mutex_);
};
