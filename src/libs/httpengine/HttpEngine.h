#pragma once
// HttpEngine: makes and schedules the HTTP requests for one host. It forms request URLs from
// the host name, an optional port, an optional API path and a request path, creates
// HttpOperations carrying the engine's custom headers (a "User-Agent" of the bundle's name and
// version unless the caller gives one), and hands them to the one operation queue every engine
// of the process shares. The width of that queue follows reachability: six requests at once on
// WiFi, two on a mobile network.
//
// Engines are shared objects, made by `create` (or a subclass's own factory): enqueueing keeps
// the engine alive until its checks have run. An engine with a host keeps a started watcher of
// that host, stopped when the engine goes away. Equal GETs (same method and URL) enqueued while
// one is still queued or running make a single request; every caller's handlers run once.
//
// The optional response cache (memory and disk, under the caches folder) and the freezing of
// non-GET operations while the host is unreachable are off until `useCache()`. Freezing is
// decided before an operation is queued, so a frozen request is never also sent; an operation
// that finishes while it is being frozen keeps no archive, and one whose request has gone out
// is never frozen (it runs to its end), so no request is sent twice. Archives
// that cannot be read back whole are dropped with a line on the console.
//
// Pictures (`imageAtURL`) are the UI additions' (`HttpEngineImageAdditions`): the engine itself
// links only the platform's network, dispatch and foundation parts.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "httpengine/HttpEngineNotifications.h"
#include "httpengine/HttpOperation.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/SharedObject.h"
#include "platform/net/Reachability.h"

class HttpEngine : public std::enable_shared_from_this<HttpEngine> {
  CH_SHARED_OBJECT(HttpEngine)

 public:
  using OperationFactory = std::function<HttpOperation::Ptr(
      const std::string& urlString, const std::optional<platform::Dictionary>& params,
      const std::optional<std::string>& method)>;
  using ReachabilityChangedHandler = std::function<void(NetworkStatus)>;
  static constexpr long kWiFiWidth = 6;
  static constexpr long kWWANWidth = 2;
  static constexpr std::size_t kCacheMemoryCost = 10;
  static constexpr const char* kFrozenOperationExtension = "httpenginefrozenoperation";

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
  // Gives each operation the two families above make the engine's `customHeaders`.
  virtual void prepareHeaders(HttpOperation& operation);
  void enqueueOperation(const HttpOperation::Ptr& operation);
  void enqueueOperation(const HttpOperation::Ptr& operation, bool forceReload);
  // Queues an operation that is never cached on the calling thread, and starts it there when the
  // shared queue has room, with no hand-off to a global queue or a queue worker (its connection
  // still delivers on the main run loop). The hop of `enqueueOperation` is for the response
  // cache, merging and freezing, which have nothing to do for such an operation while the cache
  // is off; one they could take (cacheable, freezable, or the cache in use) is queued by
  // `enqueueOperation` instead.
  void enqueueUncachedOperation(const HttpOperation::Ptr& operation);
  // Replaces the class of the operations the engine makes.
  void registerOperationSubclass(OperationFactory factory) EXCLUDES(mutex_);
  template <class T>
  void registerOperationSubclass() {
    registerOperationSubclass([](const std::string& url,
                                 const std::optional<platform::Dictionary>& params,
                                 const std::optional<std::string>& method) -> HttpOperation::Ptr {
      return HttpOperation::make<T>(url, params, method);
    });
  }

  // Reachability.
  virtual void reachabilityChanged(const platform::Notification& notification) EXCLUDES(mutex_);
  bool isReachable() const;
  std::string readonlyHostName() const { return _hostName.value_or(""); }
  virtual std::shared_ptr<Reachability> reachability() const { return _reachability; }
  void setReachabilityChangedHandler(ReachabilityChangedHandler handler) EXCLUDES(mutex_);
  // The screens never set it; kept as the design has it.
  bool wifiOnlyMode() const { return _wifiOnlyMode; }
  void setWifiOnlyMode(bool value) { _wifiOnlyMode = value; }

  // URL parts. Set by whoever makes the engine; nothing outside it reads them back.
  int portNumber() const EXCLUDES(mutex_);
  void setPortNumber(int port) EXCLUDES(mutex_);
  std::optional<std::string> apiPath() const EXCLUDES(mutex_);
  void setApiPath(std::optional<std::string> path) EXCLUDES(mutex_);
  const HeaderDictionary& customHeaders() const { return _customHeaders; }

  // Cancellation.
  static void cancelOperationsContainingURLString(const std::string& text);
  void cancelAllOperations();

  // Cache and freezing. Nothing in the application switches the cache on; the screens never
  // call these, and they are kept, tested, as the design has them.
  void useCache() EXCLUDES(cacheMutex_);
  bool isCacheEnabled() const;
  virtual std::string cacheDirectoryName() const;
  virtual std::size_t cacheMemoryCost() const { return kCacheMemoryCost; }
  // Writes the memory cache and the header store to disk. Never fails loudly: an entry whose
  // headers are not UTF-8 text (an ETag of raw bytes) is left out of the store.
  void saveCache() EXCLUDES(cacheMutex_);
  void saveCacheData(const platform::Bytes& data, const std::string& key);
  std::optional<platform::Bytes> cachedDataForOperation(const HttpOperation& operation)
      EXCLUDES(cacheMutex_);
  void emptyCache();
  void freezeOperations();
  void checkAndRestoreFrozenOperations();
  // Keys of the memory cache, most recently stored first (for diagnostics and tests).
  std::vector<std::string> memoryCacheKeys() const EXCLUDES(cacheMutex_);
  // Seconds from `now` to the "Expires" date of saved cache headers; 0 when there is none or it
  // does not parse. Dates beyond what a Date holds count as its first or last one.
  static double expiryInterval(const platform::Dictionary& cacheHeaders, platform::Date now);

  // Whether the platform's network activity indicator is shown (some operation is queued).
  static bool networkActivityIndicatorVisible();

 protected:
  // An engine without host (no URL forming from paths, no reachability watcher).
  HttpEngine();
  explicit HttpEngine(const std::string& hostName);
  HttpEngine(const std::string& hostName, const HeaderDictionary& headers);
  HttpEngine(const std::optional<std::string>& hostName, const std::optional<std::string>& apiPath,
             const std::optional<HeaderDictionary>& headers);

 private:
  struct WatcherStart;
  void enqueueNow(const HttpOperation::Ptr& operation, bool forceReload) EXCLUDES(cacheMutex_);
  void addOrMerge(const HttpOperation::Ptr& operation, double expiry, bool forceReload);
  // Whether `operation` is one this engine freezes: the cache is on and it is a freezable
  // operation for this engine's host.
  bool isFreezable(const HttpOperation& operation) const;
  std::string frozenPath(const HttpOperation& operation) const;
  std::string headerStorePath() const;
  void writeToDisk(const std::string& key, const platform::Bytes& data) const;

  // Set at construction, read-only after.
  const std::optional<std::string> _hostName;
  std::shared_ptr<platform::dispatch::Queue> _backgroundCacheQueue;
  std::shared_ptr<Reachability> _reachability;
  std::shared_ptr<WatcherStart> watcherStart_;
  platform::ObserverToken reachabilityObserver_;
  HeaderDictionary _customHeaders;
  std::atomic<bool> _wifiOnlyMode{false};

  // Guarded by mutex_: what the owner may change at any time.
  mutable platform::Mutex mutex_;
  std::optional<std::string> _apiPath GUARDED_BY(mutex_);
  int _portNumber GUARDED_BY(mutex_) = 0;
  ReachabilityChangedHandler _reachabilityChangedHandler GUARDED_BY(mutex_);
  OperationFactory _customOperationSubclass GUARDED_BY(mutex_);

  // Serialises one engine's duplicate checks and expiry computations (a lock rather than a
  // serial queue, so a burst of enqueues never parks worker threads in a wait).
  platform::Mutex enqueueCheckMutex_;

  // Guarded by cacheMutex_: the response cache, absent until `useCache()`.
  mutable platform::Mutex cacheMutex_;
  std::optional<platform::Dictionary> _cacheInvalidationParams GUARDED_BY(cacheMutex_);
  std::optional<std::map<std::string, platform::Bytes>> _memoryCache GUARDED_BY(cacheMutex_);
  std::optional<std::vector<std::string>> _memoryCacheKeys GUARDED_BY(cacheMutex_);

  // The owner's thread: set by `useCache()`, dropped at destruction (never under cacheMutex_,
  // which the observers take).
  std::vector<platform::ObserverToken> cacheObservers_;
};
