#pragma once
// HttpEngine: makes and schedules the HTTP requests for one host. It forms request URLs from
// the host name, an optional port, an optional API path and a request path, creates
// HttpOperations carrying the engine's custom headers (a "User-Agent" of the bundle's name and
// version unless the caller gives one), and hands them to the one operation queue every engine
// of the process shares. The width of that queue follows reachability: six requests at once on
// WiFi, two on a mobile network.
//
// Engines are shared objects (std::make_shared): enqueueing keeps the engine alive until its
// checks have run. An engine with a host keeps a started watcher of that host, stopped when the
// engine goes away. Equal GETs (same method and URL) enqueued while one is still queued or
// running make a single request; every caller's handlers run once.
//
// The optional response cache (memory and disk, under the caches folder) and the freezing of
// non-GET operations while the host is unreachable are off until `useCache()`.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "httpengine/HttpOperation.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/Reachability.h"

inline constexpr const char* kHttpEngineOperationCountChanged = "kHttpEngineOperationCountChanged";

class HttpEngine : public std::enable_shared_from_this<HttpEngine> {
 public:
  using OperationFactory = std::function<HttpOperation::Ptr(
      const std::string& urlString, const std::optional<platform::Dictionary>& params,
      const std::optional<std::string>& method)>;
  using ReachabilityChangedHandler = std::function<void(NetworkStatus)>;

  static constexpr long kWiFiWidth = 6;
  static constexpr long kWWANWidth = 2;
  static constexpr std::size_t kCacheMemoryCost = 10;
  static constexpr const char* kFrozenOperationExtension = "httpenginefrozenoperation";

  // An engine without host (no URL forming from paths, no reachability watcher).
  HttpEngine();
  explicit HttpEngine(const std::string& hostName);
  HttpEngine(const std::string& hostName, const HeaderDictionary& headers);
  HttpEngine(const std::optional<std::string>& hostName, const std::optional<std::string>& apiPath,
             const std::optional<HeaderDictionary>& headers);
  virtual ~HttpEngine();
  HttpEngine(const HttpEngine&) = delete;
  HttpEngine& operator=(const HttpEngine&) = delete;

  // The queue all engines share (width 6 at first).
  static std::shared_ptr<platform::OperationQueue> sharedOperationQueue();

  // Requests. Null without host name or when no URL can be formed.
  HttpOperation::Ptr operationWithPath(const std::string& path);
  HttpOperation::Ptr operationWithPath(const std::string& path,
                                       const std::optional<platform::Dictionary>& params);
  HttpOperation::Ptr operationWithPath(const std::string& path,
                                       const std::optional<platform::Dictionary>& params,
                                       const std::string& method);
  HttpOperation::Ptr operationWithPath(const std::string& path,
                                       const std::optional<platform::Dictionary>& params,
                                       const std::string& method, bool ssl);
  HttpOperation::Ptr operationWithURLString(const std::string& urlString);
  HttpOperation::Ptr operationWithURLString(const std::string& urlString,
                                            const std::optional<platform::Dictionary>& params);
  HttpOperation::Ptr operationWithURLString(const std::string& urlString,
                                            const std::optional<platform::Dictionary>& params,
                                            const std::optional<std::string>& method);
  virtual void prepareHeaders(HttpOperation& operation);
  void enqueueOperation(const HttpOperation::Ptr& operation);
  void enqueueOperation(const HttpOperation::Ptr& operation, bool forceReload);
  // Replaces the class of the operations the engine makes.
  void registerOperationSubclass(OperationFactory factory);
  template <class T>
  void registerOperationSubclass() {
    registerOperationSubclass([](const std::string& url,
                                 const std::optional<platform::Dictionary>& params,
                                 const std::optional<std::string>& method) -> HttpOperation::Ptr {
      return HttpOperation::make<T>(url, params, method);
    });
  }

  // Reachability.
  virtual void reachabilityChanged(const platform::Notification& notification);
  bool isReachable() const;
  std::string readonlyHostName() const { return hostName_.value_or(""); }
  virtual std::shared_ptr<Reachability> reachability() const { return reachability_; }
  void setReachabilityChangedHandler(ReachabilityChangedHandler handler);
  bool wifiOnlyMode() const { return wifiOnlyMode_; }
  void setWifiOnlyMode(bool value) { wifiOnlyMode_ = value; }

  // URL parts.
  int portNumber() const { return portNumber_; }
  void setPortNumber(int port) { portNumber_ = port; }
  const std::optional<std::string>& apiPath() const { return apiPath_; }
  void setApiPath(std::optional<std::string> path) { apiPath_ = std::move(path); }
  const HeaderDictionary& customHeaders() const { return customHeaders_; }

  // Cancellation.
  static void cancelOperationsContainingURLString(const std::string& text);
  void cancelAllOperations();

  // Cache and freezing.
  void useCache();
  bool isCacheEnabled() const;
  virtual std::string cacheDirectoryName() const;
  virtual std::size_t cacheMemoryCost() const { return kCacheMemoryCost; }
  void saveCache();
  void saveCacheData(const platform::Bytes& data, const std::string& key);
  std::optional<platform::Bytes> cachedDataForOperation(const HttpOperation& operation);
  void emptyCache();
  void freezeOperations();
  void checkAndRestoreFrozenOperations();
  // Keys of the memory cache, most recently stored first (for diagnostics and tests).
  std::vector<std::string> memoryCacheKeys() const;

  // Whether the platform's network activity indicator is shown (some operation is queued).
  static bool networkActivityIndicatorVisible();

 private:
  struct WatcherStart;
  void enqueueNow(const HttpOperation::Ptr& operation, bool forceReload);
  void addOrMerge(const HttpOperation::Ptr& operation, double expiry, bool forceReload);
  std::string headerStorePath() const;
  void writeToDisk(const std::string& key, const platform::Bytes& data) const;

  std::optional<std::string> hostName_;
  std::shared_ptr<platform::dispatch::Queue> backgroundCacheQueue_;
  // Serialises the duplicate check and expiry computation of enqueueing (kept as a lock rather
  // than a serial queue, so a burst of enqueues never parks worker threads in a wait).
  std::mutex enqueueCheckMutex_;
  std::atomic<bool> wifiOnlyMode_{false};
  std::optional<std::string> apiPath_;
  ReachabilityChangedHandler reachabilityChangedHandler_;
  std::shared_ptr<Reachability> reachability_;
  int portNumber_ = 0;
  HeaderDictionary customHeaders_;
  OperationFactory customOperationSubclass_;

  mutable std::mutex cacheMutex_;
  std::optional<platform::Dictionary> cacheInvalidationParams_;
  std::optional<std::map<std::string, platform::Bytes>> memoryCache_;
  std::optional<std::vector<std::string>> memoryCacheKeys_;

  std::shared_ptr<WatcherStart> watcherStart_;
  platform::ObserverToken reachabilityObserver_;
  std::vector<platform::ObserverToken> cacheObservers_;
};
