#pragma once
// TAGContainer: one opened tag container. It starts from a default container in the bundle
// (binary, else property list, else JSON, else empty), then loads its saved copy and from then
// on fetches it from the container server: 12 h after a success, 1 h after a failure, at once on
// an accepted `refresh`. Every resource it accepts is expanded and handed to a new runtime,
// which answers the typed getters and runs tags (with the image-pixel and analytics tags).
//
// Early refreshes are rationed: 30 tokens, one earned per 15 min since the last accepted
// refresh, and none accepted within 5 s of the previous one. In the manager's default-container
// mode the container neither loads nor refreshes.
//
// Threads: the container's (recursive) lock covers refresh, close, loading, scheduling, saving,
// the server settings and the handlers; both load callbacks apply an outcome under it, so the
// application's callback runs with it held. The getters and `evaluateTags` read the runtime
// under a lock of its own and evaluate outside it, so any thread may call them.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/container/TAGContainerCallback.h"
#include "tagmanager/container/TAGDiskLoadCallback.h"
#include "tagmanager/container/TAGNetworkLoadCallback.h"
#include "tagmanager/container/TAGResourceLoaderScheduler.h"
#include "tagmanager/container/TAGResourceStorage.h"
#include "tagmanager/proto/serving.pb.h"
#include "tagmanager/runtime/TAGExpandedResource.h"
#include "tagmanager/runtime/TAGFunctionCallMacroHandler.h"
#include "tagmanager/runtime/TAGFunctionCallTagHandler.h"
#include "tagmanager/runtime/TAGRuntime.h"

class TAGManager;

class TAGContainer : public std::enable_shared_from_this<TAGContainer> {
  CH_SHARED_OBJECT(TAGContainer)

 public:
  // Milliseconds.
  static constexpr double refreshPeriodOnSuccess = 43200000.0;
  static constexpr double refreshPeriodOnFailure = 3600000.0;
  static constexpr double minimumRefreshPeriod = 900000.0;
  static constexpr double minimumRefreshPeriodInBurstMode = 5000.0;
  static constexpr std::uint32_t maximumTokenCount = 30;

  // A container with its initial (bundle default) content; the storage defaults to the saved
  // copy of this id.
  static std::shared_ptr<TAGContainer> initWithId(const std::string& containerId,
                                                  const std::shared_ptr<TAGManager>& tagManager);
  static std::shared_ptr<TAGContainer> initWithId(
      const std::string& containerId, const std::shared_ptr<TAGManager>& tagManager,
      std::shared_ptr<TAGResourceStorage> resourceStorage);

  bool booleanForKey(const std::string& key);
  double doubleForKey(const std::string& key);
  std::int64_t int64ForKey(const std::string& key);
  std::string stringForKey(const std::string& key);

  void refresh();
  void close();
  bool isDefault() const { return lastRefreshTime() == 0; }

  void registerFunctionCallTagHandler(std::shared_ptr<TAGFunctionCallTagHandler> handler,
                                      const std::string& tagName);
  void registerFunctionCallMacroHandler(std::shared_ptr<TAGFunctionCallMacroHandler> handler,
                                        const std::string& macroName);
  std::shared_ptr<TAGFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& tagName);
  std::shared_ptr<TAGFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& macroName);

  void evaluateTags(const std::string& eventName);

  // Starts loading (saved copy, then network); raises "ContainerAlreadyLoadedException" on a
  // second call.
  void loadWithCallback(std::shared_ptr<TAGContainerCallback> callback);
  void loadWithCallback(std::shared_ptr<TAGContainerCallback> callback,
                        std::shared_ptr<TAGResourceLoaderScheduler> resourceLoaderScheduler);

  // Used by the load callbacks and the manager.
  void loadAfterDelay(double delay);
  void saveResourceToDisk(const std::shared_ptr<const tagpb::TAGPResource>& resource);
  // False (after an error line) when the resource does not expand; nothing changes then.
  bool setupEvaluatorsWithResource(const std::shared_ptr<const tagpb::TAGPResource>& resource,
                                   bool isDefaultResource);
  void setupEvaluatorsWithExpandedResource(
      const std::shared_ptr<const TAGExpandedResource>& resource);
  static double currentTimeInMilliseconds();
  bool isDefaultContainerRefreshMode() const;
  bool useAvailableTokenWithCurrentTime(double now);
  // The container's lock, taken by the load callbacks for each step.
  platform::RecursiveMutex& lock() RETURN_CAPABILITY(mutex_) { return mutex_; }

  const std::string& containerId() const { return _containerId; }
  std::shared_ptr<TAGManager> tagManager() const { return _tagManager.lock(); }
  std::shared_ptr<TAGRuntime> runtime() const EXCLUDES(runtimeMutex_);
  std::shared_ptr<const tagpb::TAGPResource> lastLoadedResource();
  std::optional<std::string> resourceVersion();
  double lastRefreshTime() const { return _lastRefreshTime.load(); }
  void setLastRefreshTime(double time) { _lastRefreshTime = time; }
  double lastRefreshMethodCalledTime() const { return _lastRefreshMethodCalledTime.load(); }
  std::uint32_t numTokens() const { return _numTokens.load(); }
  std::optional<std::string> ctfeServerAddress();
  void setCtfeServerAddress(std::optional<std::string> address);
  std::optional<std::string> ctfeUrlPathAndQuery();
  void setCtfeUrlPathAndQuery(std::optional<std::string> pathAndQuery);
  std::shared_ptr<TAGResourceLoaderScheduler> networkLoadScheduler();
  std::shared_ptr<TAGResourceStorage> resourceStorage();

 protected:
  TAGContainer(std::string containerId, const std::shared_ptr<TAGManager>& tagManager,
               std::shared_ptr<TAGResourceStorage> resourceStorage);

 private:
  void createInitialContainer();
  template <class Value, class Convert>
  Value typedValue(const char* getter, const std::string& key, Value fallback, Convert convert);

  const std::string _containerId;
  const std::weak_ptr<TAGManager> _tagManager;
  std::atomic<double> _lastRefreshTime{0};
  std::atomic<double> _lastRefreshMethodCalledTime{0};
  std::atomic<std::uint32_t> _numTokens{maximumTokenCount};

  platform::RecursiveMutex mutex_;
  std::shared_ptr<TAGResourceStorage> _resourceStorage GUARDED_BY(mutex_);
  std::shared_ptr<const tagpb::TAGPResource> _lastLoadedResource GUARDED_BY(mutex_);
  std::optional<std::string> _resourceVersion GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeServerAddress GUARDED_BY(mutex_);
  std::optional<std::string> _ctfeUrlPathAndQuery GUARDED_BY(mutex_);
  std::shared_ptr<TAGResourceLoaderScheduler> _networkLoadScheduler GUARDED_BY(mutex_);
  std::shared_ptr<TAGDiskLoadCallback> diskLoadCallback_ GUARDED_BY(mutex_);
  std::shared_ptr<TAGNetworkLoadCallback> networkLoadCallback_ GUARDED_BY(mutex_);
  std::map<std::string, std::shared_ptr<TAGFunctionCallTagHandler>> functionCallTagHandlers_
      GUARDED_BY(mutex_);
  std::map<std::string, std::shared_ptr<TAGFunctionCallMacroHandler>> functionCallMacroHandlers_
      GUARDED_BY(mutex_);

  // The runtime is swapped under its own lock and used outside it.
  mutable platform::Mutex runtimeMutex_;
  std::shared_ptr<TAGRuntime> _runtime GUARDED_BY(runtimeMutex_);
};
