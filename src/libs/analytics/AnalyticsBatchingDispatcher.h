#pragma once
// AnalyticsBatchingDispatcher: receives every hit of every tracker, samples it by "&sf", stores
// it, and sends stored hits to the collection endpoint: once 1 second after it is made, on a
// repeating timer of `dispatchInterval` seconds (120 at first; 0 or less: none), on demand, and
// again at once after each answered request. It sends the oldest hits first, one batch per
// request (with the default strategy 0, one hit per request), by GET, or by POST for a query of
// 2000 bytes or more, a batch of several hits, or compression.
//
// Delivery is at least once: any HTTP answer (500 included) deletes the hits sent; a request
// without an answer (refused, cut before the answer, or no answer within 60 seconds) keeps them
// for a later dispatch, with the same "&z". A hit the wire cannot carry (its query longer than
// `maxHitSize`, a body longer than `maxBodySize`) is deleted unsent with the error line "Failed
// to generate request for hit(s).". Hits stored 30 days ago or more are deleted unsent.
//
// It pauses while the secure endpoint's host is not reachable, and drops all hits, stored and
// new, while `Analytics` is opted out (its flag is copied when the dispatcher is made and
// followed afterwards).
//
// Threads: public operations may be called from any thread; every state change, store call and
// the timer run on the analytics thread, one at a time. Reachability news (main thread), request
// completions (main queue) and opt-out changes are carried over to it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/AnalyticsDispatchSender.h"
#include "analytics/AnalyticsReachabilityDelegate.h"
#include "analytics/AnalyticsRequestBuilder.h"
#include "analytics/AnalyticsURLConnection.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

class AnalyticsDataStore;
class AnalyticsReachabilityChecker;
class AnalyticsTrackerModel;

class AnalyticsBatchingDispatcher
    : public AnalyticsDispatchSender,
      public AnalyticsReachabilityDelegate,
      public std::enable_shared_from_this<AnalyticsBatchingDispatcher> {
 public:
  using Hits = std::vector<platform::Dictionary>;

  // A dispatcher on a new hit store.
  static std::shared_ptr<AnalyticsBatchingDispatcher> dispatcher();
  static std::shared_ptr<AnalyticsBatchingDispatcher> initWithDataStore(
      std::shared_ptr<AnalyticsDataStore> dataStore);
  // Stops the timer, the reachability checker, the request in flight and the delayed dispatch.
  ~AnalyticsBatchingDispatcher() override;

  // AnalyticsDispatchSender.
  void queueModel(std::shared_ptr<AnalyticsTrackerModel> model) override;
  void queueDispatch(const platform::Dictionary& parameters) override;
  // Sends the hit at once, from the calling thread, through a request of its own: neither the
  // store (whose lock or file another may hold) nor the analytics thread (which may be stuck on
  // it) is waited for. Only a hit that gets no answer is handed to the store, without waiting.
  void sendExceptionModel(std::shared_ptr<AnalyticsTrackerModel> model) override EXCLUDES(mutex_);

  // Sends the next batch now, when the host is reachable and hits may be waiting.
  void dispatch();

  // AnalyticsReachabilityDelegate: status 1 pauses sending; 0, 2 and 3 let it go on.
  void reachabilityStatusChanged(AnalyticsReachabilityChecker& reachability,
                                 std::int32_t status) override;

  double dispatchInterval() const { return _dispatchInterval.load(); }
  void setDispatchInterval(double interval);
  bool hostReachable() const { return _hostReachable.load(); }
  void setHostReachable(bool reachable);
  bool hasHits() const { return _hasHits.load(); }
  void setHasHits(bool hasHits);
  bool optOut() const { return _optOut.load(); }
  std::optional<std::string> clientId();

  const std::shared_ptr<AnalyticsDataStore>& dataStore() const { return _dataStore; }
  const std::string& httpsURL() const { return _httpsURL; }
  const std::string& httpURL() const { return _httpURL; }
  const std::shared_ptr<AnalyticsReachabilityChecker>& reachability() const {
    return _reachability;
  }

  // Settings; set them before hits flow.
  std::int64_t maxHitsPerDispatch() const { return _maxHitsPerDispatch.load(); }
  void setMaxHitsPerDispatch(std::int64_t count) { _maxHitsPerDispatch.store(count); }
  double maxHitAge() const { return _maxHitAge.load(); }
  void setMaxHitAge(double seconds) { _maxHitAge.store(seconds); }
  unsigned maxBodySize() const { return _maxBodySize.load(); }
  void setMaxBodySize(unsigned bytes) { _maxBodySize.store(bytes); }
  unsigned maxHitSize() const { return _maxHitSize.load(); }
  void setMaxHitSize(unsigned bytes) { _maxHitSize.store(bytes); }
  unsigned batchingStrategy() const { return _batchingStrategy.load(); }
  void setBatchingStrategy(unsigned strategy) { _batchingStrategy.store(strategy); }
  unsigned compressionStrategy() const { return _compressionStrategy.load(); }
  void setCompressionStrategy(unsigned strategy) { _compressionStrategy.store(strategy); }
  AnalyticsURLConnection::Class urlConnectionClass() const EXCLUDES(mutex_);
  void setUrlConnectionClass(AnalyticsURLConnection::Class connectionClass) EXCLUDES(mutex_);

  // Whether the repeating timer is scheduled, and whether a request is in flight (asked on the
  // analytics thread).
  bool isTimerScheduled();
  bool hasConnection();

  // The batch steps, on the analytics thread (exposed for tests).
  Hits hitsForDispatch(bool* more = nullptr);
  Hits nextPendingHits(bool* more = nullptr);
  std::string buildPayload(const Hits& hits) const;
  static std::size_t batchByTimeGap(const Hits& hits, std::size_t maxHits);
  static std::size_t batchBySessionSplit(const Hits& hits, std::size_t maxHits);

 private:
  explicit AnalyticsBatchingDispatcher(std::shared_ptr<AnalyticsDataStore> dataStore);

  // Runs `work` on the analytics thread and answers true when the caller is elsewhere (the work
  // then runs there later, or before this returns when `wait`); false on the thread itself.
  bool rescheduleIfNeeded(void (AnalyticsBatchingDispatcher::*work)(), bool wait);
  bool onThread() const;
  void post(void (AnalyticsBatchingDispatcher::*work)());

  void persist(const platform::Dictionary& hit);
  bool deleteHits(const Hits& hits);
  void deleteAllHits();
  void didSendHits(const Hits& hits);
  void didSendHits(const Hits& hits, const std::optional<platform::URLResponse>& response,
                   const std::optional<platform::Error>& error);
  void clearConnection();
  void initialDispatch();
  void timerFired();
  void rescheduleDispatch();
  void cancelDispatch();
  void cancelPerformRequests();
  bool canDispatch() const { return hostReachable() && hasHits(); }
  bool canScheduleDispatch() const { return dispatchInterval() > 0 && canDispatch(); }
  void optOutChanged(bool optOut);

  // Set before start, read-only after.
  const std::shared_ptr<AnalyticsDataStore> _dataStore;
  const std::string _httpsURL;
  const std::string _httpURL;
  const AnalyticsRequestBuilder _requestBuilder;
  std::shared_ptr<AnalyticsReachabilityChecker> _reachability;
  platform::ObserverToken optOutObserver_;
  // Names the delayed first dispatch for cancelling; distinct from every other delayed work.
  const char initialDispatchTag_ = 0;

  std::atomic<double> _dispatchInterval{120.0};
  std::atomic<std::int64_t> _maxHitsPerDispatch{20};
  std::atomic<double> _maxHitAge{2592000.0};
  std::atomic<unsigned> _maxBodySize{8192};
  std::atomic<unsigned> _maxHitSize{8192};
  std::atomic<unsigned> _batchingStrategy{0};
  std::atomic<unsigned> _compressionStrategy{0};
  std::atomic<bool> _hostReachable{true};
  std::atomic<bool> _hasHits{true};
  std::atomic<bool> _optOut{false};

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  AnalyticsURLConnection::Class _urlConnectionClass GUARDED_BY(mutex_);
  std::shared_ptr<AnalyticsURLConnection> exceptionConnection_ GUARDED_BY(mutex_);

  // Owned by the analytics thread (the destructor also stops them).
  std::shared_ptr<platform::Timer> _timer;
  std::shared_ptr<AnalyticsURLConnection> _connection;
};
