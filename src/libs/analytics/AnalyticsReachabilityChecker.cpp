#include "analytics/AnalyticsReachabilityChecker.h"

#include <cstdio>

#include "analytics/AnalyticsLog.h"
#include "platform/net/Reachability.h"

struct AnalyticsReachabilityRef : std::enable_shared_from_this<AnalyticsReachabilityRef> {
  std::shared_ptr<Reachability> reachability;
  platform::Mutex mutex;
  AnalyticsReachabilityApi::Callback callback GUARDED_BY(mutex);
  std::shared_ptr<platform::RunLoop> runLoop GUARDED_BY(mutex);
  // Moves on with every schedule and unschedule, so a change already on its way to the run loop
  // when the object is unscheduled is dropped there.
  std::uint64_t generation GUARDED_BY(mutex) = 0;
};

namespace {

using Ref = AnalyticsReachabilityRef;

// Hands `flags` to the callback on the run loop the object is scheduled on, unless it was
// unscheduled (or released) in the meantime.
void deliver(const std::weak_ptr<Ref>& weak, std::uint64_t generation, std::uint32_t flags) {
  auto ref = weak.lock();
  if (!ref) return;
  std::shared_ptr<platform::RunLoop> runLoop;
  {
    platform::MutexLock lock(ref->mutex);
    if (ref->generation != generation) return;
    runLoop = ref->runLoop;
  }
  if (!runLoop) return;
  runLoop->perform([weak, generation, flags] {
    auto ref = weak.lock();
    if (!ref) return;
    AnalyticsReachabilityApi::Callback callback;
    {
      platform::MutexLock lock(ref->mutex);
      if (ref->generation != generation) return;
      callback = ref->callback;
    }
    if (callback) callback(flags);
  });
}

std::shared_ptr<Ref> createWithName(const std::string& host) {
  auto reachability = Reachability::reachabilityWithHostname(host);
  if (!reachability) return nullptr;
  auto ref = std::make_shared<Ref>();
  ref->reachability = std::move(reachability);
  return ref;
}

bool setCallback(Ref& ref, AnalyticsReachabilityApi::Callback callback) {
  platform::MutexLock lock(ref.mutex);
  ref.callback = std::move(callback);
  return true;
}

bool scheduleWithRunLoop(Ref& ref, std::shared_ptr<platform::RunLoop> runLoop) {
  std::uint64_t generation;
  {
    platform::MutexLock lock(ref.mutex);
    ref.runLoop = std::move(runLoop);
    generation = ++ref.generation;
  }
  std::weak_ptr<Ref> weak = ref.weak_from_this();
  auto changed = [weak, generation](Reachability& reachability) {
    deliver(weak, generation, reachability.reachabilityFlags());
  };
  ref.reachability->setReachableBlock(changed);
  ref.reachability->setUnreachableBlock(changed);
  if (!ref.reachability->startNotifier()) return false;
  // A host's flags are known once it is watched: the first report is the current state.
  deliver(weak, generation, ref.reachability->reachabilityFlags());
  return true;
}

bool unscheduleFromRunLoop(Ref& ref, std::shared_ptr<platform::RunLoop>) {
  {
    platform::MutexLock lock(ref.mutex);
    ++ref.generation;
    ref.runLoop.reset();
  }
  ref.reachability->stopNotifier();
  return true;
}

void release(std::shared_ptr<Ref>& ref) {
  if (ref) unscheduleFromRunLoop(*ref, nullptr);
  ref.reset();
}

const AnalyticsReachabilityApi kDefaultApi = {createWithName, setCallback, scheduleWithRunLoop,
                                              unscheduleFromRunLoop, release};

}  // namespace

const AnalyticsReachabilityApi* AnalyticsReachabilityApi::defaultApi() { return &kDefaultApi; }

std::shared_ptr<AnalyticsReachabilityChecker> AnalyticsReachabilityChecker::initWithDelegate(
    std::weak_ptr<AnalyticsReachabilityDelegate> delegate, const std::string& host) {
  if (host.empty()) {
    ANALYTICS_LOG_ERROR("Invalid host specified.");
    return nullptr;
  }
  return std::shared_ptr<AnalyticsReachabilityChecker>(
      new AnalyticsReachabilityChecker(std::move(delegate), host));
}

AnalyticsReachabilityChecker::AnalyticsReachabilityChecker(
    std::weak_ptr<AnalyticsReachabilityDelegate> delegate, std::string host)
    : _host(std::move(host)),
      _reachabilityApi(AnalyticsReachabilityApi::defaultApi()),
      _delegate(std::move(delegate)) {}

AnalyticsReachabilityChecker::~AnalyticsReachabilityChecker() { stop(); }

bool AnalyticsReachabilityChecker::start() {
  // Nothing the functions do calls back into the checker at once (changes are queued to the
  // main run loop), so they run under the lock.
  platform::MutexLock lock(mutex_);
  if (_reachability) return true;
  const AnalyticsReachabilityApi* api = _reachabilityApi;
  auto reachability = api->createWithName(_host);
  if (!reachability) return false;
  std::weak_ptr<AnalyticsReachabilityChecker> weak = weak_from_this();
  bool ready = api->setCallback(*reachability, [weak](std::uint32_t flags) {
    if (auto self = weak.lock()) self->reachabilityFlagsChanged(flags);
  });
  if (ready) ready = api->scheduleWithRunLoop(*reachability, platform::RunLoop::main());
  if (!ready) {
    api->release(reachability);
    return false;
  }
  _reachability = std::move(reachability);
  return true;
}

void AnalyticsReachabilityChecker::stop() {
  platform::MutexLock lock(mutex_);
  if (!_reachability) return;
  _reachabilityStatus = 0;
  _reachabilityApi->unscheduleFromRunLoop(*_reachability, platform::RunLoop::main());
  _reachabilityApi->release(_reachability);
}

bool AnalyticsReachabilityChecker::isActive() const {
  platform::MutexLock lock(mutex_);
  return _reachability != nullptr;
}

std::int32_t AnalyticsReachabilityChecker::statusForFlags(std::uint32_t flags) {
  const bool reachable = flags & platform::kReachabilityFlagsReachable;
  const bool required = flags & platform::kReachabilityFlagsConnectionRequired;
  const bool automatic = flags & (platform::kReachabilityFlagsConnectionOnTraffic |
                                  platform::kReachabilityFlagsConnectionOnDemand);
  const bool intervention = flags & platform::kReachabilityFlagsInterventionRequired;
  if (!reachable) return 1;
  if (required && !automatic) return 1;
  if (required && automatic && intervention) return 1;
  return (flags & platform::kReachabilityFlagsIsWWAN) ? 3 : 2;
}

void AnalyticsReachabilityChecker::reachabilityFlagsChanged(std::uint32_t flags) {
  char text[32];
  std::snprintf(text, sizeof text, "%#08X", flags);
  ANALYTICS_LOG_INFO(std::string("Reachability flags update: ") + text);
  std::int32_t status = statusForFlags(flags);
  std::shared_ptr<AnalyticsReachabilityDelegate> delegate;
  {
    platform::MutexLock lock(mutex_);
    if (!_reachability || status == _reachabilityStatus) return;
    _reachabilityStatus = status;
    delegate = _delegate.lock();
  }
  if (delegate) delegate->reachabilityStatusChanged(*this, status);
}

std::int32_t AnalyticsReachabilityChecker::reachabilityStatus() const {
  platform::MutexLock lock(mutex_);
  return _reachabilityStatus;
}

std::shared_ptr<AnalyticsReachabilityDelegate> AnalyticsReachabilityChecker::delegate() const {
  platform::MutexLock lock(mutex_);
  return _delegate.lock();
}

void AnalyticsReachabilityChecker::setDelegate(
    std::weak_ptr<AnalyticsReachabilityDelegate> delegate) {
  platform::MutexLock lock(mutex_);
  _delegate = std::move(delegate);
}

const AnalyticsReachabilityApi* AnalyticsReachabilityChecker::reachabilityApi() const {
  platform::MutexLock lock(mutex_);
  return _reachabilityApi;
}

void AnalyticsReachabilityChecker::setReachabilityApi(const AnalyticsReachabilityApi* api) {
  {
    platform::MutexLock lock(mutex_);
    if (!_reachability) {
      _reachabilityApi = api ? api : AnalyticsReachabilityApi::defaultApi();
      return;
    }
  }
  ANALYTICS_LOG_ERROR(
      "Cannot change reachability API while reachability running; call stop first.");
}
