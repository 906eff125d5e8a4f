#include "tagmanager/pixel/TAGDispatcher.h"

#include <strings.h>

#include <cstring>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/net/URLError.h"
#include "tagmanager/base/TAGDispatchUtil.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

TAGDispatcher::TAGDispatcher() : _rateLimiter(TAGRateLimiter::rateLimiterWithMaxTokens(60, 2.0)) {}

std::shared_ptr<TAGDispatcher> TAGDispatcher::instance() {
  static std::once_flag once;
  static std::shared_ptr<TAGDispatcher>* shared = nullptr;
  std::call_once(once, [] { shared = new std::shared_ptr<TAGDispatcher>(init()); });
  return *shared;
}

std::shared_ptr<TAGDispatcher> TAGDispatcher::init() {
  auto dispatcher = create();
  dispatcher->_store = TAGDataProvider::init();
  dispatcher->_network = TAGNetworking::init();
  std::weak_ptr<TAGDispatcher> weak = dispatcher;
  dispatcher->_rateLimiter->setLoggerSource([weak]() -> std::shared_ptr<TAGLogger> {
    auto self = weak.lock();
    return self ? self->logger() : nullptr;
  });
  dispatcher->startObserving();
  // The store opens on TAGThread as soon as it is made and may report its hits before anyone
  // listens; a change nobody heard would never start the timer. So the state is judged once on
  // TAGThread after the observers are in place (and before the first send is arranged, which a
  // reschedule would cancel).
  dispatcher->canScheduleDispatchChanged();
  dispatcher->initialDispatch();
  return dispatcher;
}

TAGDispatcher::~TAGDispatcher() {
  if (_store) _store->setHasHitsObserver(nullptr);
  if (_network) _network->setIsReachableObserver(nullptr);
  auto loop = TAGDispatchUtil::runLoop();
  loop->cancelPerforms(this);
  if (timer_) timer_->invalidate();
}

void TAGDispatcher::startObserving() {
  std::weak_ptr<TAGDispatcher> weak = weak_from_this();
  auto changed = [weak] {
    if (auto self = weak.lock()) self->canScheduleDispatchChanged();
  };
  _store->setHasHitsObserver(changed);
  _network->setIsReachableObserver(changed);
}

void TAGDispatcher::initialDispatch() {
  std::weak_ptr<TAGDispatcher> weak = weak_from_this();
  const void* owner = this;
  TAGDispatchUtil::background(
      [weak, owner] {
        TAGDispatchUtil::runLoop()->performAfter(
            platform::seconds(1.0),
            [weak] {
              if (auto self = weak.lock()) self->timerFired();
            },
            owner);
      },
      false);
}

bool TAGDispatcher::canDispatch() const { return _network->isReachable() && _store->hasHits(); }

bool TAGDispatcher::canScheduleDispatch() const {
  return _dispatchInterval.load() > 0 && canDispatch();
}

void TAGDispatcher::setDispatchInterval(double seconds) {
  _dispatchInterval = seconds;
  canScheduleDispatchChanged();
}

void TAGDispatcher::canScheduleDispatchChanged() {
  std::weak_ptr<TAGDispatcher> weak = weak_from_this();
  TAGDispatchUtil::background(
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        bool old = self->lastCanScheduleDispatch_;
        bool now = self->canScheduleDispatch();
        self->lastCanScheduleDispatch_ = now;
        if (old == now && (!now || self->timerInterval() == self->dispatchInterval())) return;
        self->rescheduleDispatch();
      },
      false);
}

void TAGDispatcher::rescheduleDispatch() {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::rescheduleDispatch");
  TAGDispatchUtil::runLoop()->cancelPerforms(this);
  cancelTimer();
  if (canScheduleDispatch()) startTimer();
}

void TAGDispatcher::startTimer() {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::startTimer");
  std::weak_ptr<TAGDispatcher> weak = weak_from_this();
  timer_ = platform::Timer::create(platform::seconds(dispatchInterval()), true,
                                   [weak](platform::Timer&) {
                                     if (auto self = weak.lock()) self->timerFired();
                                   });
  TAGDispatchUtil::runLoop()->addTimer(timer_);
}

void TAGDispatcher::cancelTimer() {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::cancelTimer");
  if (timer_) timer_->invalidate();
  timer_.reset();
}

double TAGDispatcher::timerInterval() const {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::timerInterval");
  return timer_ ? platform::toSeconds(timer_->interval()) : 0;
}

std::size_t TAGDispatcher::operationCount() const {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::operationCount");
  return operations_.size();
}

void TAGDispatcher::timerFired() {
  if (canScheduleDispatch()) dispatch();
}

void TAGDispatcher::dispatch() {
  std::weak_ptr<TAGDispatcher> weak = weak_from_this();
  TAGDispatchUtil::background(
      [weak] {
        auto self = weak.lock();
        if (!self || !self->operations_.empty() || !self->canDispatch()) return;
        self->_store->fetchHitsWithLimit(
            self->maxRequestsPerDispatch(), [weak](const TAGDataProvider::HitList& hits) {
              auto self = weak.lock();
              if (!self) return;
              for (const auto& hit : hits) {
                if (!hasSendableScheme(hit.dispatchURL)) {
                  self->dropUnsendableHit(hit);
                  continue;
                }
                auto operation = self->_network->sendURL(hit.dispatchURL,
                                                         [weak, hit](TAGNetOperation& operation) {
                                                           if (auto self = weak.lock())
                                                             self->handleCompletion(hit, operation);
                                                         });
                self->operations_.insert(operation);
              }
            });
      },
      false);
}

void TAGDispatcher::handleCompletion(const TAGHit& hit, TAGNetOperation& operation) {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::handleCompletion");
  int status = operation.response() ? operation.response()->statusCode() : 0;
  double now = platform::toSeconds(platform::Clock::shared()->now());
  bool expired =
      hit.dispatchTime && now - platform::toSeconds(*hit.dispatchTime) > kFirstFailureLifetime;
  if ((status >= 200 && status <= 299) || expired) {
    TAGLog::verbose("Successfully sent hit: " + hit.dispatchURL);
    _store->deleteHits({hit});
  } else if (!operation.isCancelled() && canNeverBeSent(operation)) {
    dropUnsendableHit(hit);
  } else if (!operation.isCancelled() && _network->isReachable()) {
    TAGLog::verbose("Failed to send hit: " + hit.dispatchURL);
    _store->updateFailedHits({hit});
  }
  for (auto it = operations_.begin(); it != operations_.end(); ++it) {
    if (it->get() == &operation) {
      operations_.erase(it);
      break;
    }
  }
}

bool TAGDispatcher::hasSendableScheme(const std::string& url) {
  // Checked here rather than left to the connection: a URL without "//" ("mailto:a@host") would
  // be taken for a host name and a password and sent over HTTP to that host.
  for (const char* scheme : {"http://", "https://"}) {
    const std::size_t length = std::strlen(scheme);
    if (url.size() >= length && ::strncasecmp(url.c_str(), scheme, length) == 0) return true;
  }
  return false;
}

void TAGDispatcher::dropUnsendableHit(const TAGHit& hit) {
  TAGDispatchUtil::assertOnThread("TAGDispatcher::dropUnsendableHit");
  // Kept, it would be tried for four hours like a network failure, a batch place each time.
  TAGLog::verbose("Dropped hit that cannot be sent: " + hit.dispatchURL);
  _store->deleteHits({hit});
}

bool TAGDispatcher::canNeverBeSent(const TAGNetOperation& operation) {
  const std::optional<platform::Error>& error = operation.error();
  if (operation.response() || !error || error->domain() != platform::kURLErrorDomain) return false;
  return error->code() == platform::kURLErrorUnsupportedURL ||
         error->code() == platform::kURLErrorBadURL;
}

void TAGDispatcher::sendHitToUrl(const std::string& url) {
  if (!_rateLimiter->tokenAvailable()) return;
  std::string hitUrl = url;
  {
    platform::MutexLock lock(mutex_);
    if (_wrapperUrl && _wrapperQueryParameter) {
      hitUrl = *_wrapperUrl + "?" + *_wrapperQueryParameter + "=" +
               TAGValueEscapeUtil::urlEncode(url).value_or("");
    }
  }
  TAGLog::verbose("Dispatch url: " + hitUrl);
  _store->addHitWithURLString(hitUrl);
}

std::shared_ptr<TAGLogger> TAGDispatcher::logger() const {
  platform::MutexLock lock(mutex_);
  return _logger.lock();
}

void TAGDispatcher::setLogger(std::shared_ptr<TAGLogger> logger) {
  platform::MutexLock lock(mutex_);
  _logger = logger;
}

void TAGDispatcher::setWrapperUrl(std::optional<std::string> url) {
  platform::MutexLock lock(mutex_);
  _wrapperUrl = std::move(url);
}

void TAGDispatcher::setWrapperQueryParameter(std::optional<std::string> name) {
  platform::MutexLock lock(mutex_);
  _wrapperQueryParameter = std::move(name);
}
