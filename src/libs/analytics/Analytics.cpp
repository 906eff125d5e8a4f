#include "analytics/Analytics.h"

#include <atomic>
#include <filesystem>
#include <mutex>

#include "analytics/AnalyticsBatchingDispatcher.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsDefaultLogger.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsNotifications.h"
#include "analytics/AnalyticsStringUtil.h"
#include "analytics/AnalyticsTrackerImpl.h"
#include "analytics/AnalyticsUncaughtExceptionHandler.h"
#include "analytics/AnalyticsUsageTracker.h"

namespace {

struct LoggerSlot {
  platform::Mutex mutex;
  std::shared_ptr<AnalyticsLogger> logger GUARDED_BY(mutex) =
      std::make_shared<AnalyticsDefaultLogger>();
};

LoggerSlot& loggerSlot() {
  // Never destroyed: any thread may log while the process exits.
  static auto* slot = new LoggerSlot;
  return *slot;
}

struct OptOutState {
  std::atomic<bool> optOut{false};
  platform::NotificationCenter observers;
};

OptOutState& optOutState() {
  static auto* state = new OptOutState;
  return *state;
}

}  // namespace

std::shared_ptr<Analytics> Analytics::sharedInstance() {
  // Once set up, the instance is read without a lock. Setting it up takes the class lock; it is
  // recursive and the instance is recorded before its set-up, so a call made during the set-up
  // on the same thread finds it.
  static std::atomic<std::shared_ptr<Analytics>*> ready{nullptr};
  if (auto* instance = ready.load(std::memory_order_acquire)) return *instance;
  static auto* classLock = new platform::RecursiveMutex;
  static std::shared_ptr<Analytics>* instance = nullptr;
  platform::RecursiveMutexLock lock(*classLock);
  if (!instance) {
    instance = new std::shared_ptr<Analytics>(new Analytics());
    (*instance)->init();
    ready.store(instance, std::memory_order_release);
  }
  return *instance;
}

std::shared_ptr<AnalyticsLogger> Analytics::sharedLogger() {
  LoggerSlot& slot = loggerSlot();
  platform::MutexLock lock(slot.mutex);
  return slot.logger;
}

std::shared_ptr<platform::Thread> Analytics::thread() {
  static std::once_flag once;
  static std::shared_ptr<platform::Thread>* analyticsThread = nullptr;
  std::call_once(once, [] {
    analyticsThread = new std::shared_ptr<platform::Thread>(
        platform::Thread::startWithRunLoop("AnalyticsThread"));
  });
  return *analyticsThread;
}

void Analytics::performOnThreadAndWait(const std::function<void()>& work) {
  auto runLoop = thread()->runLoop();
  if (runLoop->isCurrent()) {
    work();
  } else {
    runLoop->performAndWait(work);
  }
}

Analytics::Analytics() = default;

void Analytics::init() {
  {
    platform::RecursiveMutexLock lock(mutex_);
    _trackerImplClass = &AnalyticsTrackerImpl::trackerWithDispatcher;
    _urlConnectionClass = AnalyticsURLConnection::connectionClass();
  }
  if (!dispatcher()) ANALYTICS_LOG_ERROR("Dispatcher initialization failed: (null)");
}

std::shared_ptr<AnalyticsTracker> Analytics::defaultTracker() {
  AnalyticsUsageTracker::trackAction("defaultTracker");
  return _defaultTracker.load().lock();
}

void Analytics::setDefaultTracker(const std::shared_ptr<AnalyticsTracker>& tracker) {
  AnalyticsUsageTracker::trackAction("setDefaultTracker:");
  platform::RecursiveMutexLock lock(mutex_);
  _defaultTracker.store(tracker);
}

std::shared_ptr<AnalyticsTracker> Analytics::trackerWithName(const std::string& name,
                                                             const std::string& trackingId) {
  std::string trimmed = AnalyticsStringUtil::trim(name);
  if (trimmed.empty()) {
    ANALYTICS_LOG_ERROR("Nil or empty name supplied. Cannot create tracker.");
    return nullptr;
  }
  AnalyticsUsageTracker::trackAction("trackerWithName:trackingId:");
  platform::RecursiveMutexLock lock(mutex_);
  auto known = _trackers.find(trimmed);
  if (known != _trackers.end()) return known->second;
  auto tracker = _trackerImplClass ? _trackerImplClass(dispatcherLocked(), trimmed) : nullptr;
  if (!tracker) return nullptr;
  tracker->an_set(kAnalyticsTrackingId, trackingId);
  _trackers[trimmed] = tracker;
  if (!_defaultTracker.load().lock()) _defaultTracker.store(tracker);
  return tracker;
}

void Analytics::removeTrackerByName(const std::string& name) {
  AnalyticsUsageTracker::trackAction("removeTrackerByName:");
  std::shared_ptr<AnalyticsTracker> removed;
  platform::RecursiveMutexLock lock(mutex_);
  auto found = _trackers.find(name);
  if (found == _trackers.end()) return;
  removed = found->second;
  _trackers.erase(removed->name());
  if (_defaultTracker.load().lock() == removed) _defaultTracker.store({});
}

void Analytics::dispatch() {
  AnalyticsUsageTracker::trackAction("dispatch");
  if (auto current = dispatcher()) current->dispatch();
}

double Analytics::dispatchInterval() {
  auto current = dispatcher();
  return current ? current->dispatchInterval() : 0.0;
}

void Analytics::setDispatchInterval(double interval) {
  AnalyticsUsageTracker::trackAction("setDispatchInterval:");
  if (auto current = dispatcher()) current->setDispatchInterval(interval);
}

bool Analytics::trackUncaughtExceptions() {
  AnalyticsUsageTracker::trackAction("trackUncaughtExceptions");
  platform::RecursiveMutexLock lock(mutex_);
  return _trackUncaughtExceptions;
}

void Analytics::setTrackUncaughtExceptions(bool track) {
  AnalyticsUsageTracker::trackAction("setTrackUncaughtExceptions:");
  platform::RecursiveMutexLock lock(mutex_);
  if (track) {
    AnalyticsInstallUncaughtExceptionHandler();
  } else {
    AnalyticsRestoreUncaughtExceptionHandler();
  }
  _trackUncaughtExceptions = track;
}

bool Analytics::optOut() {
  AnalyticsUsageTracker::trackAction("optOut");
  return an_optOut();
}

bool Analytics::an_optOut() { return optOutState().optOut.load(); }

void Analytics::setOptOut(bool optOut) {
  AnalyticsUsageTracker::trackAction("setOptOut:");
  optOutState().optOut.store(optOut);
  optOutState().observers.post(kAnalyticsOptOutKeyPath, {}, {{kKeyValueChangeNewKey, optOut}});
}

bool Analytics::dryRun() {
  AnalyticsUsageTracker::trackAction("dryRun");
  platform::RecursiveMutexLock lock(mutex_);
  return _dryRun;
}

void Analytics::setDryRun(bool dryRun) {
  AnalyticsUsageTracker::trackAction("setDryRun:");
  platform::RecursiveMutexLock lock(mutex_);
  _dryRun = dryRun;
  if (_urlConnectionClass.setDryRun) _urlConnectionClass.setDryRun(dryRun);
}

AnalyticsURLConnection::Class Analytics::urlConnectionClass() {
  platform::RecursiveMutexLock lock(mutex_);
  return _urlConnectionClass;
}

void Analytics::setUrlConnectionClass(AnalyticsURLConnection::Class connectionClass) {
  platform::RecursiveMutexLock lock(mutex_);
  _urlConnectionClass = std::move(connectionClass);
  if (_urlConnectionClass.setDryRun) _urlConnectionClass.setDryRun(_dryRun);
}

void Analytics::setLogger(std::shared_ptr<AnalyticsLogger> logger) {
  std::shared_ptr<AnalyticsLogger> previous;
  {
    LoggerSlot& slot = loggerSlot();
    platform::MutexLock lock(slot.mutex);
    if (slot.logger == logger) return;
    previous = std::move(slot.logger);
    slot.logger = std::move(logger);
  }
  AnalyticsUsageTracker::trackAction("setLogger:");
}

std::optional<std::string> Analytics::clientId() {
  // Without the lock: the store may wait for the analytics thread, whose work (building a hit)
  // asks for this very client id, and the lock may be held by a thread that will never let go
  // (an exception thrown under it, on its way to the uncaught-exception report).
  auto current = _dispatcher.load();
  return current ? current->clientId() : std::nullopt;
}

void Analytics::reset() {
  std::shared_ptr<AnalyticsBatchingDispatcher> old;
  {
    platform::RecursiveMutexLock lock(mutex_);
    old = _dispatcher.exchange(nullptr);
    if (old) old->setDispatchInterval(-1.0);
    _trackers.clear();
    _defaultTracker.store({});
  }
  // Everything queued on the thread before now has run once this returns.
  performOnThreadAndWait([] {});
  old.reset();
  for (const char* name :
       {AnalyticsDataStore::kOldStoreName, AnalyticsDataStore::kCurrentStoreName}) {
    auto path = AnalyticsDataStore::databaseFullPath(name);
    if (!path) continue;
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      std::filesystem::remove(*path + suffix, ignored);
    }
  }
}

std::shared_ptr<AnalyticsBatchingDispatcher> Analytics::dispatcher() {
  if (auto current = _dispatcher.load()) return current;
  platform::RecursiveMutexLock lock(mutex_);
  return dispatcherLocked();
}

std::shared_ptr<AnalyticsBatchingDispatcher> Analytics::dispatcherLocked() {
  if (auto current = _dispatcher.load()) return current;
  auto made = AnalyticsBatchingDispatcher::dispatcher();
  if (!made) {
    ANALYTICS_LOG_ERROR("Cannot initiate dispatcher: (null)");
    return nullptr;
  }
  made->setUrlConnectionClass(_urlConnectionClass);
  _dispatcher.store(made);
  return made;
}

Analytics::Trackers Analytics::trackers() {
  platform::RecursiveMutexLock lock(mutex_);
  return _trackers;
}

void Analytics::setTrackers(Trackers trackers) {
  platform::RecursiveMutexLock lock(mutex_);
  _trackers = std::move(trackers);
}

Analytics::TrackerClass Analytics::trackerImplClass() {
  platform::RecursiveMutexLock lock(mutex_);
  return _trackerImplClass;
}

void Analytics::setTrackerImplClass(TrackerClass trackerClass) {
  platform::RecursiveMutexLock lock(mutex_);
  _trackerImplClass = std::move(trackerClass);
}

void Analytics::setDispatcher(std::shared_ptr<AnalyticsBatchingDispatcher> dispatcher) {
  platform::RecursiveMutexLock lock(mutex_);
  _dispatcher.store(std::move(dispatcher));
}

platform::ObserverToken Analytics::addObserver(const std::string& keyPath,
                                               KeyValueObserver observer) {
  return optOutState().observers.addObserver(
      keyPath, [observer = std::move(observer)](const platform::Notification& notification) {
        observer(notification.userInfo);
      });
}
