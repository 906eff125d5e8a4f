#include "httpengine/HttpEngine.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "httpengine/RFC1123.h"
#include "httpengine/SaturatingDate.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Utf8.h"

namespace fs = std::filesystem;
namespace dispatch = platform::dispatch;
using platform::Bytes;
using platform::Dictionary;
using platform::Value;

namespace {

std::atomic<bool> indicatorVisible{false};

// The application notifications that make the engine write its memory cache to disk.
const char* const kCacheSavingNotifications[] = {
    platform::kApplicationDidReceiveMemoryWarningNotification,
    platform::kApplicationDidEnterBackgroundNotification,
    platform::kApplicationWillTerminateNotification,
};

// Frozen archives live in the one cache folder of the process, whichever engine wrote them:
// freezing (archive, cancel, and removal when the cancel did not take) and restoring (read and
// remove) never interleave, so an archive is never restored while its freezing is undecided.
platform::Mutex& frozenArchivesMutex() {
  static auto* mutex = new platform::Mutex();
  return *mutex;
}

std::optional<Bytes> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFileAtomically(const std::string& path, const std::string& contents) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << contents;
    if (!out) return false;
  }
  std::error_code failed;
  fs::rename(temporary, path, failed);
  if (!failed) return true;
  fs::remove(temporary, failed);
  return false;
}

// The JSON text of `value`; absent when it holds text that is not UTF-8, which JSON cannot carry
// (the library reports that by throwing, here turned into an answer).
std::optional<std::string> jsonText(const nlohmann::json& value) {
  try {
    return value.dump();
  } catch (const nlohmann::json::type_error&) {
    return std::nullopt;
  }
}

bool hasHeader(const HeaderDictionary& headers, const std::string& name) {
  for (const auto& [key, value] : headers) {
    if (platform::equalsIgnoringCase(key, name)) return true;
  }
  return false;
}

// The GETs handed to the shared queue, by `uniqueIdentifier`, so the duplicate check of an
// enqueue looks at the operations that could be equal instead of at every queued one. Entries
// of finished operations are dropped when their identifier is looked up and, for the rest, in
// a sweep whenever the index has doubled since the last one, so it stays about as large as the
// queue.
class QueuedGets {
 public:
  static QueuedGets& shared() {
    static auto* index = new QueuedGets();
    return *index;
  }

  // The first operation still queued or running, added before any other, that `operation`
  // counts as equal to; null when there is none.
  HttpOperation::Ptr findEqual(const HttpOperation::Ptr& operation, const std::string& key)
      EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    auto bucket = byKey_.find(key);
    if (bucket == byKey_.end()) return nullptr;
    auto& candidates = bucket->second;
    HttpOperation::Ptr equal;
    for (auto it = candidates.begin(); it != candidates.end();) {
      auto candidate = it->lock();
      if (!candidate || candidate->isFinished() || candidate->isCancelled()) {
        it = candidates.erase(it);
        --size_;
        continue;
      }
      ++it;
      if (!equal && candidate != operation && candidate->isCacheable() &&
          operation->isEqual(*candidate))
        equal = std::move(candidate);
    }
    if (candidates.empty()) byKey_.erase(bucket);
    return equal;
  }

  void add(const HttpOperation::Ptr& operation, const std::string& key) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    byKey_[key].push_back(operation);
    if (++size_ >= sweepAt_) sweepLocked();
  }

 private:
  void sweepLocked() REQUIRES(mutex_) {
    size_ = 0;
    for (auto bucket = byKey_.begin(); bucket != byKey_.end();) {
      std::erase_if(bucket->second, [](const std::weak_ptr<HttpOperation>& weak) {
        auto operation = weak.lock();
        return !operation || operation->isFinished() || operation->isCancelled();
      });
      size_ += bucket->second.size();
      bucket = bucket->second.empty() ? byKey_.erase(bucket) : std::next(bucket);
    }
    sweepAt_ = std::max<std::size_t>(kFirstSweep, 2 * size_);
  }

  static constexpr std::size_t kFirstSweep = 64;

  platform::Mutex mutex_;
  std::unordered_map<std::string, std::vector<std::weak_ptr<HttpOperation>>> byKey_
      GUARDED_BY(mutex_);
  std::size_t size_ GUARDED_BY(mutex_) = 0;
  std::size_t sweepAt_ GUARDED_BY(mutex_) = kFirstSweep;
};

// Every operation reaches the shared queue through here, so the duplicate check sees each GET.
void addToSharedQueue(const HttpOperation::Ptr& operation) {
  if (operation->HTTPMethod() == "GET")
    QueuedGets::shared().add(operation, operation->uniqueIdentifier());
  HttpEngine::sharedOperationQueue()->addOperation(operation);
}

}  // namespace

// Shared between an engine and the task that starts its watcher, so a watcher is never started
// after its engine has stopped it.
struct HttpEngine::WatcherStart {
  platform::Mutex mutex;
  bool engineGone GUARDED_BY(mutex) = false;
};

std::shared_ptr<platform::OperationQueue> HttpEngine::sharedOperationQueue() {
  static auto* queue = [] {
    auto* q = new std::shared_ptr<platform::OperationQueue>(
        platform::OperationQueue::create("httpengine.shared"));
    (*q)->setMaxConcurrentOperationCount(kWiFiWidth);
    (*q)->setOperationCountObserver([](std::size_t count) {
      platform::NotificationCenter::defaultCenter().post(kHttpEngineOperationCountChanged,
                                                         Value(count));
      indicatorVisible = count > 0;
    });
    return q;
  }();
  return *queue;
}

bool HttpEngine::networkActivityIndicatorVisible() { return indicatorVisible; }

HttpEngine::HttpEngine() : HttpEngine(std::nullopt, std::nullopt, std::nullopt) {}

HttpEngine::HttpEngine(const std::string& hostName)
    : HttpEngine(hostName, std::nullopt, std::nullopt) {}

HttpEngine::HttpEngine(const std::string& hostName, const HeaderDictionary& headers)
    : HttpEngine(hostName, std::nullopt, headers) {}

HttpEngine::HttpEngine(const std::optional<std::string>& hostName,
                       const std::optional<std::string>& apiPath,
                       const std::optional<HeaderDictionary>& headers)
    : _hostName(hostName), _apiPath(apiPath) {
  sharedOperationQueue();
  _backgroundCacheQueue = dispatch::Queue::serial("httpengine.cachequeue");
  if (_hostName) {
    // The token is dropped first thing in the destructor, so `this` outlives every call.
    reachabilityObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        kReachabilityChangedNotification,
        [this](const platform::Notification& n) { reachabilityChanged(n); });
    _reachability = Reachability::reachabilityWithHostname(*_hostName);
    watcherStart_ = std::make_shared<WatcherStart>();
    if (_reachability) {
      dispatch::Queue::global()->async([start = watcherStart_, watcher = _reachability] {
        platform::MutexLock lock(start->mutex);
        if (!start->engineGone) watcher->startNotifier();
      });
    }
  }
  _customHeaders = headers.value_or(HeaderDictionary());
  if (!hasHeader(_customHeaders, "User-Agent")) {
    auto& bundle = platform::Bundle::main();
    _customHeaders["User-Agent"] = bundle.name() + "/" + bundle.version();
  }
  registerOperationSubclass<HttpOperation>();
}

HttpEngine::~HttpEngine() {
  reachabilityObserver_.reset();
  cacheObservers_.clear();
  if (!watcherStart_) return;
  platform::MutexLock lock(watcherStart_->mutex);
  watcherStart_->engineGone = true;
  if (_reachability) _reachability->stopNotifier();
}

// ---- Requests ----

HttpOperation::Ptr HttpEngine::operationWithPath(const std::string& path) {
  return operationWithPath(path, std::nullopt);
}

HttpOperation::Ptr HttpEngine::operationWithPath(const std::string& path,
                                                 const std::optional<Dictionary>& params) {
  return operationWithPath(path, params, "GET");
}

HttpOperation::Ptr HttpEngine::operationWithPath(const std::string& path,
                                                 const std::optional<Dictionary>& params,
                                                 const std::string& method) {
  return operationWithPath(path, params, method, false);
}

HttpOperation::Ptr HttpEngine::operationWithPath(const std::string& path,
                                                 const std::optional<Dictionary>& params,
                                                 const std::string& method, bool ssl) {
  if (!_hostName) return nullptr;
  std::string url = ssl ? "https://" : "http://";
  url.append(*_hostName);
  if (int port = portNumber(); port != 0) url.append(":").append(std::to_string(port));
  if (auto api = apiPath()) url.append("/").append(*api);
  if (path != "/") {
    if (path.empty() || path.front() != '/') url.append("/");
    url.append(path);
  }
  return operationWithURLString(url, params, method);
}

HttpOperation::Ptr HttpEngine::operationWithURLString(const std::string& urlString) {
  return operationWithURLString(urlString, std::nullopt, "GET");
}

HttpOperation::Ptr HttpEngine::operationWithURLString(const std::string& urlString,
                                                      const std::optional<Dictionary>& params) {
  return operationWithURLString(urlString, params, "GET");
}

HttpOperation::Ptr HttpEngine::operationWithURLString(const std::string& urlString,
                                                      const std::optional<Dictionary>& params,
                                                      const std::optional<std::string>& method) {
  OperationFactory factory;
  {
    platform::MutexLock lock(mutex_);
    factory = _customOperationSubclass;
  }
  auto operation = factory(urlString, params, method);
  if (!operation) return nullptr;
  prepareHeaders(*operation);
  return operation;
}

void HttpEngine::prepareHeaders(HttpOperation& operation) { operation.addHeaders(_customHeaders); }

void HttpEngine::registerOperationSubclass(OperationFactory factory) {
  platform::MutexLock lock(mutex_);
  _customOperationSubclass = std::move(factory);
}

int HttpEngine::portNumber() const {
  platform::MutexLock lock(mutex_);
  return _portNumber;
}

void HttpEngine::setPortNumber(int port) {
  platform::MutexLock lock(mutex_);
  _portNumber = port;
}

std::optional<std::string> HttpEngine::apiPath() const {
  platform::MutexLock lock(mutex_);
  return _apiPath;
}

void HttpEngine::setApiPath(std::optional<std::string> path) {
  platform::MutexLock lock(mutex_);
  _apiPath = std::move(path);
}

void HttpEngine::enqueueOperation(const HttpOperation::Ptr& operation) {
  enqueueOperation(operation, false);
}

void HttpEngine::enqueueOperation(const HttpOperation::Ptr& operation, bool forceReload) {
  if (!operation) {
    // A caller may pass null when its URL could not be formed: report it and go on.
    std::fprintf(stderr,
                 "*** Assertion failure in enqueueOperation, httpengine/HttpEngine:409\n"
                 "Invalid parameter not satisfying: %s\n",
                 "operation != nil");
    return;
  }
  auto self = shared_from_this();
  dispatch::Queue::global()->async(
      [self, operation, forceReload] { self->enqueueNow(operation, forceReload); });
}

void HttpEngine::enqueueUncachedOperation(const HttpOperation::Ptr& operation) {
  if (!operation || operation->isCacheable() || operation->freezable() || isCacheEnabled()) {
    enqueueOperation(operation);
    return;
  }
  // Not indexed among the queued GETs: an operation that is not cacheable is never merged with.
  sharedOperationQueue()->addOperationStartingHere(operation);
}

void HttpEngine::enqueueNow(const HttpOperation::Ptr& operation, bool forceReload) {
  std::weak_ptr<HttpEngine> weak = weak_from_this();
  operation->setCacheHandler([weak](const HttpOperation::Ptr& completed) {
    auto engine = weak.lock();
    auto data = completed->responseData();
    if (!engine || !data) return;
    std::string key = completed->uniqueIdentifier();
    engine->saveCacheData(*data, key);
    platform::MutexLock lock(engine->cacheMutex_);
    if (engine->_cacheInvalidationParams)
      (*engine->_cacheInvalidationParams)[key] = Value(completed->cacheHeaders());
  });
  auto watcher = reachability();
  bool unreachable = !watcher || watcher->currentReachabilityStatus() == NotReachable;
  // Frozen instead of queued: once queued an operation may start at once, and a request that
  // is sent while its archive waits on disk would be sent again when the host comes back.
  if (unreachable && isFreezable(*operation)) {
    platform::MutexLock lock(frozenArchivesMutex());
    auto archive = jsonText(operation->encodeWithCoder());
    if (archive && writeFileAtomically(frozenPath(*operation), *archive)) {
      // Cancelled, it calls no handler; the queue retires it at once whatever its width.
      operation->cancel();
      sharedOperationQueue()->addOperation(operation);
      return;
    }
    // Not on disk: the operation runs (or fails) as usual rather than being lost.
  }
  double expiry = 0;
  if (operation->isCacheable()) {
    if (auto cached = cachedDataForOperation(*operation)) {
      dispatch::Queue::main()->async(
          [operation, data = std::move(*cached)] { operation->setCachedData(data); });
      std::optional<Dictionary> saved;
      if (!forceReload) {
        platform::MutexLock lock(cacheMutex_);
        if (_cacheInvalidationParams) {
          if (auto* headers =
                  platform::find(*_cacheInvalidationParams, operation->uniqueIdentifier()))
            if (auto* d = headers->asDictionary()) saved = *d;
        }
      }
      if (saved) {
        platform::MutexLock check(enqueueCheckMutex_);
        expiry = expiryInterval(*saved, platform::Clock::shared()->now());
        // Applied before the operation can start, so the conditional GET always carries them.
        operation->updateOperationBasedOnPreviousHeaders(*saved);
      }
    }
    addOrMerge(operation, expiry, forceReload);
  } else {
    addToSharedQueue(operation);
  }
  if (unreachable) freezeOperations();
}

double HttpEngine::expiryInterval(const Dictionary& cacheHeaders, platform::Date now) {
  auto* text = platform::find(cacheHeaders, "Expires");
  auto date = text && text->asText() ? RFC1123::dateFromRFC1123(*text->asText()) : std::nullopt;
  return date ? SaturatingDate::secondsBetween(now, *date) : 0;
}

void HttpEngine::addOrMerge(const HttpOperation::Ptr& operation, double expiry, bool forceReload) {
  bool shouldQueue = expiry <= 0 || forceReload;
  std::string key = operation->uniqueIdentifier();
  HttpOperation::Ptr equal;
  {
    // One engine's duplicate checks never interleave.
    platform::MutexLock check(enqueueCheckMutex_);
    equal = QueuedGets::shared().findEqual(operation, key);
  }
  if (!equal) {
    if (shouldQueue) addToSharedQueue(operation);
    return;
  }
  // One request serves both callers: the newcomer's handlers move to the queued operation and
  // the newcomer is not run. The merge happens on the main thread, where operations finish, so
  // the equal one cannot finish between the check and the merge unnoticed.
  dispatch::Queue::main()->async([equal, operation, shouldQueue] {
    if (!equal->isFinished() && !equal->isCancelled()) {
      equal->updateHandlersFromOperation(*operation);
      return;
    }
    if (shouldQueue) addToSharedQueue(operation);
  });
}

// ---- Reachability ----

void HttpEngine::reachabilityChanged(const platform::Notification&) {
  auto watcher = reachability();
  NetworkStatus status = watcher ? watcher->currentReachabilityStatus() : NotReachable;
  auto queue = sharedOperationQueue();
  if (status == ReachableViaWiFi) {
    queue->setMaxConcurrentOperationCount(kWiFiWidth);
    checkAndRestoreFrozenOperations();
  } else if (status == ReachableViaWWAN) {
    if (_wifiOnlyMode) {
      queue->setMaxConcurrentOperationCount(0);
    } else {
      queue->setMaxConcurrentOperationCount(kWWANWidth);
      checkAndRestoreFrozenOperations();
    }
  } else {
    freezeOperations();
  }
  ReachabilityChangedHandler handler;
  {
    platform::MutexLock lock(mutex_);
    handler = _reachabilityChangedHandler;
  }
  if (handler) handler(status);
}

bool HttpEngine::isReachable() const {
  auto watcher = reachability();
  return watcher && watcher->currentReachabilityStatus() != NotReachable;
}

void HttpEngine::setReachabilityChangedHandler(ReachabilityChangedHandler handler) {
  platform::MutexLock lock(mutex_);
  _reachabilityChangedHandler = std::move(handler);
}

// ---- Cancellation ----

void HttpEngine::cancelOperationsContainingURLString(const std::string& text) {
  for (const auto& queued : sharedOperationQueue()->operations()) {
    auto operation = std::dynamic_pointer_cast<HttpOperation>(queued);
    if (operation && operation->url().find(text) != std::string::npos) operation->cancel();
  }
}

void HttpEngine::cancelAllOperations() {
  if (_hostName) cancelOperationsContainingURLString(*_hostName);
}

// ---- Cache ----

std::string HttpEngine::cacheDirectoryName() const {
  // Read afresh each time: tests give every test a home folder of its own.
  return platform::Paths::join(platform::Paths::caches(), "HttpEngineCache");
}

std::string HttpEngine::headerStorePath() const { return cacheDirectoryName() + ".plist"; }

bool HttpEngine::isCacheEnabled() const {
  std::error_code ignored;
  return fs::is_directory(cacheDirectoryName(), ignored);
}

void HttpEngine::useCache() {
  std::string folder = cacheDirectoryName();
  {
    platform::MutexLock lock(cacheMutex_);
    _memoryCache.emplace();
    _memoryCacheKeys.emplace();
    _memoryCacheKeys->reserve(cacheMemoryCost());
    _cacheInvalidationParams.emplace();
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) fs::create_directories(folder, ignored);
    if (auto stored = readFile(headerStorePath())) {
      auto json = platform::Json::parse(
          std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
      if (json) {
        Value value = platform::Json::toValue(*json);
        if (auto* d = value.asDictionary()) _cacheInvalidationParams = *d;
      }
    }
  }
  std::weak_ptr<HttpEngine> weak = weak_from_this();
  cacheObservers_.clear();
  for (const char* name : kCacheSavingNotifications) {
    cacheObservers_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, [weak](const platform::Notification&) {
          if (auto engine = weak.lock()) engine->saveCache();
        }));
  }
}

void HttpEngine::writeToDisk(const std::string& key, const Bytes& data) const {
  std::string path = platform::Paths::join(cacheDirectoryName(), key);
  std::error_code ignored;
  fs::remove(path, ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void HttpEngine::saveCacheData(const Bytes& data, const std::string& key) {
  std::weak_ptr<HttpEngine> weak = weak_from_this();
  _backgroundCacheQueue->async([weak, data, key] {
    auto engine = weak.lock();
    if (!engine) return;
    platform::MutexLock lock(engine->cacheMutex_);
    if (!engine->_memoryCache || !engine->_memoryCacheKeys) return;
    (*engine->_memoryCache)[key] = data;
    auto& keys = *engine->_memoryCacheKeys;
    std::erase(keys, key);
    keys.insert(keys.begin(), key);
    if (keys.size() < engine->cacheMemoryCost()) return;
    std::string oldest = keys.back();
    engine->writeToDisk(oldest, engine->_memoryCache->at(oldest));
    engine->_memoryCache->erase(oldest);
    keys.pop_back();
  });
}

std::optional<Bytes> HttpEngine::cachedDataForOperation(const HttpOperation& operation) {
  std::string key = operation.uniqueIdentifier();
  {
    platform::MutexLock lock(cacheMutex_);
    if (_memoryCache) {
      auto it = _memoryCache->find(key);
      if (it != _memoryCache->end()) return it->second;
    }
  }
  auto stored = readFile(platform::Paths::join(cacheDirectoryName(), key));
  if (!stored) return std::nullopt;
  saveCacheData(*stored, key);
  return stored;
}

std::vector<std::string> HttpEngine::memoryCacheKeys() const {
  platform::MutexLock lock(cacheMutex_);
  return _memoryCacheKeys.value_or(std::vector<std::string>());
}

void HttpEngine::saveCache() {
  platform::MutexLock lock(cacheMutex_);
  if (_memoryCache) {
    for (const auto& [key, data] : *_memoryCache) writeToDisk(key, data);
    _memoryCache->clear();
  }
  if (_memoryCacheKeys) _memoryCacheKeys->clear();
  if (!_cacheInvalidationParams) return;
  // The store is JSON text, which holds UTF-8 only: headers a server sent in raw bytes (an ETag)
  // cannot be stored. Their entry is left out, so that response is simply asked for again.
  nlohmann::json store = nlohmann::json::object();
  for (const auto& [key, headers] : *_cacheInvalidationParams) {
    nlohmann::json entry = platform::Json::fromValue(headers);
    if (!platform::isValidUtf8(key) || !jsonText(entry)) {
      std::fprintf(stderr, "HttpEngine: cache headers of %s are not UTF-8 text; not stored\n",
                   platform::isValidUtf8(key) ? key.c_str() : "an entry");
      continue;
    }
    store[key] = std::move(entry);
  }
  if (auto text = jsonText(store)) writeFileAtomically(headerStorePath(), *text);
}

void HttpEngine::emptyCache() {
  saveCache();
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(cacheDirectoryName(), ignored))
    fs::remove_all(entry.path(), ignored);
  fs::remove(headerStorePath(), ignored);
}

// ---- Freezing ----

bool HttpEngine::isFreezable(const HttpOperation& operation) const {
  return _hostName && isCacheEnabled() && operation.freezable() &&
         operation.url().find(*_hostName) != std::string::npos;
}

std::string HttpEngine::frozenPath(const HttpOperation& operation) const {
  return platform::Paths::join(cacheDirectoryName(),
                               operation.uniqueIdentifier() + "." + kFrozenOperationExtension);
}

void HttpEngine::freezeOperations() {
  if (!isCacheEnabled() || !_hostName) return;
  platform::MutexLock lock(frozenArchivesMutex());
  for (const auto& queued : sharedOperationQueue()->operations()) {
    auto operation = std::dynamic_pointer_cast<HttpOperation>(queued);
    // An operation frozen earlier stays queued, cancelled, until the queue retires it;
    // archiving it again would overwrite its good archive with a cancelled one.
    if (!operation || operation->isCancelled() || operation->isFinished() ||
        !isFreezable(*operation))
      continue;
    std::string path = frozenPath(*operation);
    // Only an operation safely on disk may be cancelled; otherwise it would be lost.
    auto archive = jsonText(operation->encodeWithCoder());
    if (!archive || !writeFileAtomically(path, *archive)) continue;
    // A request that went out may have reached the server, and a cancel does not take on an
    // operation that finished in the meantime: either way the archive must not send the
    // request a second time.
    if (!operation->cancelUnlessSent()) {
      std::error_code ignored;
      fs::remove(path, ignored);
    }
  }
}

void HttpEngine::checkAndRestoreFrozenOperations() {
  if (!isCacheEnabled()) return;
  std::vector<HttpOperation::Ptr> restored;
  {
    platform::MutexLock lock(frozenArchivesMutex());
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(cacheDirectoryName(), ignored)) {
      std::string name = entry.path().filename().string();
      if (name.find(kFrozenOperationExtension) == std::string::npos) continue;
      auto stored = readFile(entry.path().string());
      fs::remove(entry.path(), ignored);
      if (!stored) continue;
      auto json = platform::Json::parse(
          std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
      std::string failure = "it is not JSON";
      auto operation = json ? HttpOperation::initWithCoder(*json, &failure) : nullptr;
      if (!operation) {
        // A damaged archive cannot be sent as it stands; say so instead of failing later.
        std::fprintf(stderr, "HttpEngine: dropped the frozen request %s: %s\n", name.c_str(),
                     failure.c_str());
        continue;
      }
      restored.push_back(std::move(operation));
    }
  }
  for (const auto& operation : restored) enqueueOperation(operation);
}
