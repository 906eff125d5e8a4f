#pragma once
// Analytics: the one entry point of the usage analytics. One shared object per process owns the
// trackers (by name) and names one of them the default tracker; it owns the batching dispatcher
// that stores and sends hits, holds the SDK's logger and the options (dispatch interval,
// uncaught-exception reporting, opt-out, dry run), and owns "AnalyticsThread", the thread with
// its own run loop on which all store and dispatch work runs.
//
// The application's launch, in this order:
//
//   auto analytics = Analytics::sharedInstance();
//   analytics->setTrackUncaughtExceptions(true);
//   analytics->setDispatchInterval(20.0);
//   analytics->logger()->setLogLevel(4);
//   analytics->trackerWithTrackingId(trackingId);   // the first tracker is the default
//
// Any thread may call it. Operations take the instance lock briefly and record their usage code
// (see AnalyticsUsageTracker); nothing waits for the analytics thread while holding the lock.
// The lock is recursive: the callbacks run under it (the tracker factory, the connection class's
// dry-run switch) may call back into the instance on the same thread. The default tracker and
// the dispatcher are written under it but read without it, so the analytics thread (building a
// hit asks for the client id) and the uncaught-exception report never wait for a lock a thrower
// may hold.
// `reset` drops trackers, dispatcher and store files but keeps the options; the next tracker or
// dispatch makes a fresh dispatcher, which starts from the kept opt-out flag.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "analytics/AnalyticsLogger.h"
#include "analytics/AnalyticsURLConnection.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Thread.h"

class AnalyticsBatchingDispatcher;
class AnalyticsDispatchSender;
class AnalyticsTracker;
class AnalyticsTrackerImpl;

class Analytics {
 public:
  using TrackerClass = std::function<std::shared_ptr<AnalyticsTrackerImpl>(
      std::shared_ptr<AnalyticsDispatchSender> dispatcher, const std::string& name)>;
  using Trackers = std::map<std::string, std::shared_ptr<AnalyticsTracker>>;
  using KeyValueObserver = std::function<void(const platform::Dictionary& change)>;

  // The one instance, made on first use and never destroyed.
  static std::shared_ptr<Analytics> sharedInstance();
  // The SDK's logger, which every SDK class logs through; usable before the instance exists.
  static std::shared_ptr<AnalyticsLogger> sharedLogger();
  // "AnalyticsThread", started once per process; it runs its run loop until the process ends,
  // sleeping while there is nothing to do.
  static std::shared_ptr<platform::Thread> thread();
  // Runs `work` on the analytics thread and returns once it has run (inline on the thread).
  static void performOnThreadAndWait(const std::function<void()>& work);

  Analytics(const Analytics&) = delete;
  Analytics& operator=(const Analytics&) = delete;

  std::shared_ptr<AnalyticsTracker> defaultTracker() EXCLUDES(mutex_);
  // Not owned: the tracker need not be one of `trackers`, and the caller keeps it alive.
  void setDefaultTracker(const std::shared_ptr<AnalyticsTracker>& tracker) EXCLUDES(mutex_);
  // The tracker kept under the trimmed name, made (with "&tid" = `trackingId`) when there is
  // none; the first tracker made becomes the default. Null, with an error line, for a blank
  // name.
  std::shared_ptr<AnalyticsTracker> trackerWithName(const std::string& name,
                                                    const std::string& trackingId) EXCLUDES(mutex_);
  std::shared_ptr<AnalyticsTracker> trackerWithTrackingId(const std::string& trackingId) {
    return trackerWithName(trackingId, trackingId);
  }
  void removeTrackerByName(const std::string& name) EXCLUDES(mutex_);

  void dispatch();
  double dispatchInterval();
  // 0 or less stops periodic dispatch.
  void setDispatchInterval(double interval);
  bool trackUncaughtExceptions() EXCLUDES(mutex_);
  // On: reports an uncaught exception as a fatal exception hit before the process ends. Off:
  // restores the handler that was there before.
  void setTrackUncaughtExceptions(bool track) EXCLUDES(mutex_);
  bool optOut();
  // The flag without a usage code (for the SDK's own readers); usable before the instance
  // exists.
  static bool an_optOut();
  // Opting out drops every stored hit and every new one; it is not kept across launches.
  void setOptOut(bool optOut);
  bool dryRun() EXCLUDES(mutex_);
  // Requests complete as a 200 without leaving the device.
  void setDryRun(bool dryRun) EXCLUDES(mutex_);
  AnalyticsURLConnection::Class urlConnectionClass() EXCLUDES(mutex_);
  void setUrlConnectionClass(AnalyticsURLConnection::Class connectionClass) EXCLUDES(mutex_);
  std::shared_ptr<AnalyticsLogger> logger() { return sharedLogger(); }
  void setLogger(std::shared_ptr<AnalyticsLogger> logger);
  // The store's identifier of this installation; absent while there is no dispatcher.
  std::optional<std::string> clientId() EXCLUDES(mutex_);
  void reset() EXCLUDES(mutex_);
  // The dispatcher, made when there is none; null when it cannot be made.
  std::shared_ptr<AnalyticsBatchingDispatcher> dispatcher() EXCLUDES(mutex_);

  // Plain accessors.
  Trackers trackers() EXCLUDES(mutex_);
  void setTrackers(Trackers trackers) EXCLUDES(mutex_);
  TrackerClass trackerImplClass() EXCLUDES(mutex_);
  void setTrackerImplClass(TrackerClass trackerClass) EXCLUDES(mutex_);
  void setDispatcher(std::shared_ptr<AnalyticsBatchingDispatcher> dispatcher) EXCLUDES(mutex_);

  // Key-value observation of "optOut" (kAnalyticsOptOutKeyPath): each change calls `observer`,
  // on the changing thread, with the new value under kKeyValueChangeNewKey. The observer stays
  // registered while the token lives. The flag and its observers are kept beside the instance,
  // as the logger is, so a dispatcher made while the instance is set up can observe it without
  // asking for the instance.
  [[nodiscard]] static platform::ObserverToken addObserver(const std::string& keyPath,
                                                           KeyValueObserver observer);

 private:
  Analytics();
  void init();
  std::shared_ptr<AnalyticsBatchingDispatcher> dispatcherLocked() REQUIRES(mutex_);

  // Guarded by mutex_.
  platform::RecursiveMutex mutex_;
  Trackers _trackers GUARDED_BY(mutex_);
  // Written under mutex_ (so a dispatcher is made once), read without it.
  std::atomic<std::weak_ptr<AnalyticsTracker>> _defaultTracker;
  std::atomic<std::shared_ptr<AnalyticsBatchingDispatcher>> _dispatcher;
  bool _trackUncaughtExceptions GUARDED_BY(mutex_) = false;
  bool _dryRun GUARDED_BY(mutex_) = false;
  TrackerClass _trackerImplClass GUARDED_BY(mutex_);
  AnalyticsURLConnection::Class _urlConnectionClass GUARDED_BY(mutex_);
};
