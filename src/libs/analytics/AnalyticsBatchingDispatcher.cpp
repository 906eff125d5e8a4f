#include "analytics/AnalyticsBatchingDispatcher.h"

#include <algorithm>
#include <cstdlib>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsNotifications.h"
#include "analytics/AnalyticsReachabilityChecker.h"
#include "analytics/AnalyticsServerConfig.h"
#include "analytics/AnalyticsTrackerModel.h"
#include "analytics/AnalyticsUtil.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"

namespace {

using platform::Dictionary;
using platform::Error;
using platform::Value;

// Rounds of deleting stale hits in one dispatch; a store of hits older than 30 days is worked
// through over several dispatches rather than in one unbounded loop.
constexpr int kMaxStaleRounds = 100;

const Dictionary& parametersOf(const Dictionary& hit) {
  static const auto& kNone = *new Dictionary;
  const Value* parameters = platform::find(hit, "parameters");
  const Dictionary* dictionary = parameters ? parameters->asDictionary() : nullptr;
  return dictionary ? *dictionary : kNone;
}

platform::Date timestampOf(const Dictionary& hit) {
  const Value* stamp = platform::find(hit, "timestamp");
  return stamp && stamp->asDate() ? *stamp->asDate() : platform::Date{};
}

bool usesPlainEndpoint(const Dictionary& hit) {
  const Value* secure = platform::find(parametersOf(hit), kAnalyticsUseSecure);
  const std::string* text = secure ? secure->asText() : nullptr;
  return text && *text == "0";
}

// The whole text as a floating-point number.
std::optional<double> wholeNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::nullopt;
  return value;
}

// "host:port" of a URL, for watching its reachability.
std::string hostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::size_t end = url.find('/', start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string describe(const std::optional<Error>& error) {
  return AnalyticsUtil::descriptionFromError(error).value_or("(null)");
}

}  // namespace

std::shared_ptr<AnalyticsBatchingDispatcher> AnalyticsBatchingDispatcher::dispatcher() {
  auto store = AnalyticsDataStore::dataStore();
  if (!store) return nullptr;
  return initWithDataStore(std::move(store));
}

std::shared_ptr<AnalyticsBatchingDispatcher> AnalyticsBatchingDispatcher::initWithDataStore(
    std::shared_ptr<AnalyticsDataStore> dataStore) {
  std::shared_ptr<AnalyticsBatchingDispatcher> self(
      new AnalyticsBatchingDispatcher(std::move(dataStore)));
  std::weak_ptr<AnalyticsBatchingDispatcher> weak = self;
  self->_reachability =
      AnalyticsReachabilityChecker::initWithDelegate(weak, hostOf(self->_httpsURL));
  if (self->_reachability) self->_reachability->start();
  self->initialDispatch();
  // Observe first, then copy: a change in between is then seen by one or the other.
  self->optOutObserver_ =
      Analytics::addObserver(kAnalyticsOptOutKeyPath, [weak](const Dictionary& change) {
        auto self = weak.lock();
        const Value* value = platform::find(change, kKeyValueChangeNewKey);
        if (self && value) self->optOutChanged(value->boolValue());
      });
  self->_optOut.store(Analytics::an_optOut());
  return self;
}

AnalyticsBatchingDispatcher::AnalyticsBatchingDispatcher(
    std::shared_ptr<AnalyticsDataStore> dataStore)
    : _dataStore(std::move(dataStore)),
      _httpsURL(AnalyticsServerConfig::secureCollectURL()),
      _httpURL(AnalyticsServerConfig::plainCollectURL()),
      _urlConnectionClass(AnalyticsURLConnection::connectionClass()) {}

AnalyticsBatchingDispatcher::~AnalyticsBatchingDispatcher() {
  // Nothing else uses the dispatcher any more; each of these may be stopped from any thread.
  if (_timer) _timer->invalidate();
  if (_reachability) _reachability->stop();
  if (_connection) _connection->cancel();
  optOutObserver_.reset();
  cancelPerformRequests();
}

bool AnalyticsBatchingDispatcher::onThread() const {
  return Analytics::thread()->runLoop()->isCurrent();
}

void AnalyticsBatchingDispatcher::post(void (AnalyticsBatchingDispatcher::*work)()) {
  Analytics::thread()->runLoop()->perform([self = shared_from_this(), work] { (*self.*work)(); });
}

bool AnalyticsBatchingDispatcher::rescheduleIfNeeded(void (AnalyticsBatchingDispatcher::*work)(),
                                                     bool wait) {
  if (onThread()) return false;
  auto self = shared_from_this();
  if (wait) {
    Analytics::performOnThreadAndWait([&] { (*self.*work)(); });
  } else {
    post(work);
  }
  return true;
}

void AnalyticsBatchingDispatcher::queueModel(std::shared_ptr<AnalyticsTrackerModel> model) {
  if (optOut() || !model) return;
  if (!onThread()) {
    Analytics::thread()->runLoop()->perform(
        [self = shared_from_this(), model] { self->queueModel(model); });
    return;
  }
  queueDispatch(model->buildDictionary());
}

void AnalyticsBatchingDispatcher::queueDispatch(const Dictionary& parameters) {
  if (optOut()) return;
  if (const Value* rate = platform::find(parameters, kAnalyticsSampleRate)) {
    const std::string* text = rate->asText();
    auto percent = text ? wholeNumber(*text) : std::nullopt;
    if (percent) {
      const Value* cid = platform::find(parameters, kAnalyticsClientId);
      const std::string* cidText = cid ? cid->asText() : nullptr;
      std::int32_t hash = AnalyticsHitUtil::samplingHash(
          cidText ? std::optional<std::string>(*cidText) : std::nullopt);
      if ((hash % 10000) >= *percent * 100) return;
    }
  }
  Dictionary hit{{"timestamp", platform::Clock::shared()->now()}, {"parameters", parameters}};
  if (!onThread()) {
    Analytics::thread()->runLoop()->perform(
        [self = shared_from_this(), hit] { self->persist(hit); });
    return;
  }
  persist(hit);
}

void AnalyticsBatchingDispatcher::sendExceptionModel(std::shared_ptr<AnalyticsTrackerModel> model) {
  if (optOut() || !model) return;
  Dictionary hit{{"timestamp", platform::Clock::shared()->now()},
                 {"parameters", model->buildDictionary()}};
  std::string payload = buildPayload({hit});
  if (payload.empty()) {
    ANALYTICS_LOG_ERROR("Failed to generate request for hit(s).");
    return;
  }
  const std::string& url = usesPlainEndpoint(hit) ? _httpURL : _httpsURL;
  platform::URLRequest request = payload.size() < 2000
                                     ? _requestBuilder.requestGetUrl(url, payload)
                                     : _requestBuilder.requestPostUrl(url, payload, 0);
  ANALYTICS_LOG_VERBOSE("Sending exception hit " + request.httpMethod() + ": " + request.url());
  std::weak_ptr<AnalyticsBatchingDispatcher> weak = weak_from_this();
  auto connection = urlConnectionClass().initWithRequest(
      request, platform::dispatch::Queue::main(),
      [weak, hit](const std::optional<platform::URLResponse>& response,
                  const std::optional<platform::Bytes>&, const std::optional<Error>& error) {
        auto self = weak.lock();
        if (!self || response) return;
        ANALYTICS_LOG_INFO("Dispatch error: " + describe(error));
        // Unanswered: kept for a later launch, by the analytics thread when it gets to it.
        Analytics::thread()->runLoop()->perform([self, hit] { self->persist(hit); });
      });
  platform::MutexLock lock(mutex_);
  exceptionConnection_ = std::move(connection);
}

void AnalyticsBatchingDispatcher::persist(const Dictionary& hit) {
  _dataStore->addHit(hit);
  std::optional<Error> error;
  if (_dataStore->save(&error)) {
    ANALYTICS_LOG_VERBOSE("Saved hit: " + Value(hit).description());
  } else {
    ANALYTICS_LOG_ERROR("Failed to save hit: " + describe(error));
  }
  setHasHits(true);
}

void AnalyticsBatchingDispatcher::setDispatchInterval(double interval) {
  if (_dispatchInterval.exchange(interval) != interval) rescheduleDispatch();
}

void AnalyticsBatchingDispatcher::setHostReachable(bool reachable) {
  if (_hostReachable.exchange(reachable) != reachable) rescheduleDispatch();
}

void AnalyticsBatchingDispatcher::setHasHits(bool hasHits) {
  if (_hasHits.exchange(hasHits) != hasHits) rescheduleDispatch();
}

std::optional<std::string> AnalyticsBatchingDispatcher::clientId() {
  return _dataStore->clientId();
}

AnalyticsURLConnection::Class AnalyticsBatchingDispatcher::urlConnectionClass() const {
  platform::MutexLock lock(mutex_);
  return _urlConnectionClass;
}

void AnalyticsBatchingDispatcher::setUrlConnectionClass(
    AnalyticsURLConnection::Class connectionClass) {
  platform::MutexLock lock(mutex_);
  _urlConnectionClass = std::move(connectionClass);
}

void AnalyticsBatchingDispatcher::reachabilityStatusChanged(AnalyticsReachabilityChecker&,
                                                            std::int32_t status) {
  bool reachable = status != 1;
  Analytics::thread()->runLoop()->perform(
      [self = shared_from_this(), reachable] { self->setHostReachable(reachable); });
}

void AnalyticsBatchingDispatcher::optOutChanged(bool optOut) {
  _optOut.store(optOut);
  if (optOut) deleteAllHits();
}

void AnalyticsBatchingDispatcher::initialDispatch() {
  if (rescheduleIfNeeded(&AnalyticsBatchingDispatcher::initialDispatch, false)) return;
  // Apart from the timer: rescheduling the timer (the launch sets the interval right after the
  // dispatcher is made) must not cancel the first dispatch.
  std::weak_ptr<AnalyticsBatchingDispatcher> weak = weak_from_this();
  Analytics::thread()->runLoop()->performAfter(
      platform::seconds(1.0),
      [weak] {
        if (auto self = weak.lock()) self->timerFired();
      },
      &initialDispatchTag_);
}

void AnalyticsBatchingDispatcher::timerFired() {
  if (canScheduleDispatch()) dispatch();
}

void AnalyticsBatchingDispatcher::rescheduleDispatch() {
  if (rescheduleIfNeeded(&AnalyticsBatchingDispatcher::rescheduleDispatch, false)) return;
  cancelDispatch();
  if (!canScheduleDispatch()) return;
  std::weak_ptr<AnalyticsBatchingDispatcher> weak = weak_from_this();
  _timer = platform::Timer::create(platform::seconds(dispatchInterval()), true,
                                   [weak](platform::Timer&) {
                                     if (auto self = weak.lock()) self->timerFired();
                                   });
  Analytics::thread()->runLoop()->addTimer(_timer);
}

void AnalyticsBatchingDispatcher::cancelDispatch() {
  if (rescheduleIfNeeded(&AnalyticsBatchingDispatcher::cancelDispatch, true)) return;
  if (_timer) _timer->invalidate();
  _timer.reset();
}

void AnalyticsBatchingDispatcher::cancelPerformRequests() {
  Analytics::thread()->runLoop()->cancelPerforms(&initialDispatchTag_);
}

bool AnalyticsBatchingDispatcher::isTimerScheduled() {
  bool scheduled = false;
  Analytics::performOnThreadAndWait([&] { scheduled = _timer && _timer->isValid(); });
  return scheduled;
}

bool AnalyticsBatchingDispatcher::hasConnection() {
  bool inFlight = false;
  Analytics::performOnThreadAndWait([&] { inFlight = _connection != nullptr; });
  return inFlight;
}

void AnalyticsBatchingDispatcher::dispatch() {
  if (rescheduleIfNeeded(&AnalyticsBatchingDispatcher::dispatch, false)) return;
  if (!canDispatch()) return;
  bool more = false;
  Hits batch = hitsForDispatch(&more);
  if (batch.empty()) {
    if (more) {
      post(&AnalyticsBatchingDispatcher::dispatch);
    } else {
      setHasHits(false);
    }
    return;
  }
  if (_connection) return;
  platform::NotificationCenter::defaultCenter().post(kAnalyticsWillDispatchNotification,
                                                     Value::object(shared_from_this()));
  const std::string& url = usesPlainEndpoint(batch.front()) ? _httpURL : _httpsURL;
  std::string payload = buildPayload(batch);
  unsigned maxBody = maxBodySize();
  std::optional<platform::URLRequest> request;
  // An empty payload means every hit was left out: sending it would deliver nothing.
  if (!payload.empty() && !(maxBody != 0 && payload.size() > maxBody)) {
    if (batch.size() == 1 && payload.size() < 2000 && compressionStrategy() == 0) {
      request = _requestBuilder.requestGetUrl(url, payload);
    } else {
      request = _requestBuilder.requestPostUrl(url, payload, compressionStrategy());
    }
    const auto& body = request->httpBody();
    if (maxBody != 0 && body && body->size() > maxBody) request.reset();
  }
  if (!request) {
    ANALYTICS_LOG_ERROR("Failed to generate request for hit(s).");
    deleteHits(batch);
    // Posted, not called: a store of such hits is worked through one turn of the loop at a time.
    post(&AnalyticsBatchingDispatcher::dispatch);
    return;
  }
  ANALYTICS_LOG_VERBOSE("Sending hit(s) " + request->httpMethod() + ": " + request->url());
  std::weak_ptr<AnalyticsBatchingDispatcher> weak = weak_from_this();
  _connection = urlConnectionClass().initWithRequest(
      *request, platform::dispatch::Queue::main(),
      [weak, batch](const std::optional<platform::URLResponse>& response,
                    const std::optional<platform::Bytes>&, const std::optional<Error>& error) {
        if (auto self = weak.lock()) self->didSendHits(batch, response, error);
      });
}

void AnalyticsBatchingDispatcher::didSendHits(const Hits& hits,
                                              const std::optional<platform::URLResponse>& response,
                                              const std::optional<Error>& error) {
  auto self = shared_from_this();
  if (response) {
    Analytics::thread()->runLoop()->perform([self, hits] { self->didSendHits(hits); });
  } else {
    post(&AnalyticsBatchingDispatcher::clearConnection);
  }
  if (error) {
    ANALYTICS_LOG_INFO("Dispatch error: " + describe(error));
  } else {
    ANALYTICS_LOG_INFO("Hit(s) dispatched: HTTP status " +
                       std::to_string(response ? response->statusCode() : -1));
  }
}

void AnalyticsBatchingDispatcher::clearConnection() { _connection.reset(); }

void AnalyticsBatchingDispatcher::didSendHits(const Hits& hits) {
  deleteHits(hits);
  _connection.reset();
  ANALYTICS_LOG_INFO(std::to_string(hits.size()) + " hit(s) sent");
  if (canDispatch()) dispatch();
}

bool AnalyticsBatchingDispatcher::deleteHits(const Hits& hits) {
  std::vector<std::string> ids;
  for (const auto& hit : hits) {
    if (const Value* id = platform::find(hit, "objectID")) ids.push_back(id->stringValue());
  }
  bool deleted = _dataStore->deleteHitsWithIds(ids);
  // Hits that remain keep sending going; an empty store is left for the next dispatch to find
  // ("No pending hits."), which then stops the timer.
  if (_dataStore->hitCount() > 0) setHasHits(true);
  ANALYTICS_LOG_INFO("hit(s) Successfully dispatched");
  std::optional<Error> error;
  if (!_dataStore->save(&error)) {
    ANALYTICS_LOG_ERROR("Unable to save after deleting hit(s): " + describe(error));
  }
  return deleted;
}

void AnalyticsBatchingDispatcher::deleteAllHits() {
  if (rescheduleIfNeeded(&AnalyticsBatchingDispatcher::deleteAllHits, false)) return;
  std::optional<Error> error;
  if (!_dataStore->deleteAllHits(&error)) {
    ANALYTICS_LOG_ERROR("Failed to delete all hits for opt-out: " + describe(error));
  }
  if (!_dataStore->save(&error)) {
    ANALYTICS_LOG_ERROR(
        "Failed to save after updating opt-out property and deleting pending hits: " +
        describe(error));
  }
  setHasHits(false);
}

AnalyticsBatchingDispatcher::Hits AnalyticsBatchingDispatcher::nextPendingHits(bool* more) {
  if (more) *more = false;
  platform::Date cutoff =
      platform::Clock::shared()->now() -
      std::chrono::duration_cast<platform::Date::duration>(platform::seconds(maxHitAge()));
  std::int64_t perDispatch = maxHitsPerDispatch();
  unsigned limit = perDispatch > 0 ? static_cast<unsigned>(perDispatch) : 0;
  for (int round = 0; round < kMaxStaleRounds; ++round) {
    std::optional<Error> error;
    auto fetched = _dataStore->fetchHitsWithLimit(limit, &error);
    if (!fetched) {
      ANALYTICS_LOG_ERROR("Failed to load pending hits: " + describe(error));
      return {};
    }
    if (fetched->empty()) return {};
    Hits stale;
    for (const auto& hit : *fetched) {
      if (timestampOf(hit) <= cutoff) stale.push_back(hit);
    }
    if (stale.empty()) return *fetched;
    // A delete that fails would find the same hits again: stop rather than go round for ever.
    if (!deleteHits(stale)) return {};
  }
  if (more) *more = true;
  return {};
}

AnalyticsBatchingDispatcher::Hits AnalyticsBatchingDispatcher::hitsForDispatch(bool* more) {
  Hits pending = nextPendingHits(more);
  if (pending.empty()) {
    if (!more || !*more) ANALYTICS_LOG_INFO("No pending hits.");
    return {};
  }
  unsigned strategy = batchingStrategy();
  if (strategy == 0) return {pending.front()};
  bool plain = usesPlainEndpoint(pending.front());
  Hits kept;
  for (const auto& hit : pending) {
    if (usesPlainEndpoint(hit) == plain) kept.push_back(hit);
  }
  // Running totals count the line feed that joins each hit to the one before it, as the
  // payload does.
  std::vector<std::size_t> running;
  std::size_t total = 0;
  for (const auto& hit : kept) {
    total += _requestBuilder.parametersForHit(hit).size() + (running.empty() ? 0 : 1);
    running.push_back(total);
  }
  std::size_t maxBody = maxBodySize();
  if (maxBody == 0 || total <= maxBody) return kept;
  std::size_t fit = 0;
  while (fit < running.size() && running[fit] <= maxBody) ++fit;
  std::size_t n = 1;
  switch (strategy) {
    case 1:
      n = fit;
      break;
    case 2:
      n = batchByTimeGap(kept, fit);
      break;
    case 3:
      if (total < 2 * maxBody) {
        n = 0;
        for (std::size_t i = 1; i < running.size(); ++i) {
          if (running[i] <= total / 2) n = i;
        }
      } else {
        n = fit;
      }
      break;
    case 4:
      n = std::min(fit, kept.size() / 2);
      break;
    case 5:
      n = batchBySessionSplit(kept, fit);
      break;
    default:
      ANALYTICS_LOG_ERROR("unexpected batch strategy: " + std::to_string(strategy));
      n = 1;
      break;
  }
  // A batch always holds a hit: an empty one would read as an empty store while hits wait.
  n = std::clamp<std::size_t>(n, 1, kept.size());
  return Hits(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(n));
}

std::size_t AnalyticsBatchingDispatcher::batchByTimeGap(const Hits& hits, std::size_t maxHits) {
  if (maxHits <= 1) return maxHits;
  std::size_t result = maxHits;
  std::int64_t largest = 0;
  auto millis = [](const Dictionary& hit) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               timestampOf(hit).time_since_epoch())
        .count();
  };
  for (std::size_t i = 1; i < maxHits && i < hits.size(); ++i) {
    std::int64_t previous = millis(hits[i - 1]);
    std::int64_t current = millis(hits[i]);
    if (previous == 0 || current == 0) continue;
    std::int64_t gap = current - previous;
    if (gap >= largest) {
      largest = gap;
      result = i;
    }
  }
  return result;
}

std::size_t AnalyticsBatchingDispatcher::batchBySessionSplit(const Hits& hits,
                                                             std::size_t maxHits) {
  for (std::size_t i = std::min(maxHits, hits.size()); i-- > 1;) {
    const Value* control = platform::find(parametersOf(hits[i]), kAnalyticsSessionControl);
    const std::string* text = control ? control->asText() : nullptr;
    if (!text) continue;
    if (*text == "start") return i;
    if (*text == "end") return i + 1;
  }
  return maxHits;
}

std::string AnalyticsBatchingDispatcher::buildPayload(const Hits& hits) const {
  std::string payload;
  bool first = true;
  unsigned maxHit = maxHitSize();
  for (const auto& hit : hits) {
    std::string query = _requestBuilder.parametersForHit(hit);
    if (query.empty() || (maxHit != 0 && query.size() > maxHit)) continue;
    if (!first) payload += '\n';
    payload += query;
    first = false;
  }
  return payload;
}
