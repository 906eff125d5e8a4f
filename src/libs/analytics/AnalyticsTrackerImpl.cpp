#include "analytics/AnalyticsTrackerImpl.h"

#include <algorithm>

#include "analytics/AnalyticsDispatchSender.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsLog.h"
#include "platform/foundation/Clock.h"

namespace {

// Seconds from 1970 to the platform's reference date, 1 January 2001.
constexpr double kReferenceDateOffset = 978307200.0;

}  // namespace

std::shared_ptr<AnalyticsTrackerImpl> AnalyticsTrackerImpl::trackerWithDispatcher(
    std::shared_ptr<AnalyticsDispatchSender> dispatcher, const std::string& name) {
  if (!dispatcher) {
    ANALYTICS_LOG_ERROR("initialization failed: dispatcher is required.");
    return nullptr;
  }
  return std::shared_ptr<AnalyticsTrackerImpl>(
      new AnalyticsTrackerImpl(std::move(dispatcher), name));
}

AnalyticsTrackerImpl::AnalyticsTrackerImpl(std::shared_ptr<AnalyticsDispatchSender> dispatcher,
                                           std::string name)
    : _name(std::move(name)),
      _dispatcher(std::move(dispatcher)),
      snapshot_(std::make_shared<AnalyticsTrackerModel>()) {}

void AnalyticsTrackerImpl::set(const std::string& key, const std::optional<std::string>& value) {
  _usageTracker.trackInstanceAction("set:value:");
  an_set(key, value);
}

std::optional<std::string> AnalyticsTrackerImpl::get(const std::string& key) {
  _usageTracker.trackInstanceAction("get:");
  return an_get(key);
}

void AnalyticsTrackerImpl::send(const platform::Dictionary& parameters) {
  _usageTracker.trackInstanceAction("send:");
  an_send(parameters);
}

void AnalyticsTrackerImpl::an_set(const std::string& key, const std::optional<std::string>& value) {
  platform::MutexLock lock(mutex_);
  _model.setValue(value ? platform::Value(*value) : platform::Value(), key);
  publishSnapshotLocked();
}

std::optional<std::string> AnalyticsTrackerImpl::an_get(const std::string& key) {
  platform::MutexLock lock(mutex_);
  auto value = _model.objectForKeyedSubscript(key);
  if (!value || !value->asText()) return std::nullopt;
  return *value->asText();
}

void AnalyticsTrackerImpl::an_set(const platform::Dictionary& parameters) {
  for (const auto& [key, value] : parameters) {
    const std::string* text = value.asText();
    an_set(key, text ? std::optional<std::string>(*text) : std::nullopt);
  }
}

void AnalyticsTrackerImpl::an_send(const platform::Dictionary& parameters) {
  const platform::Value* hitType = platform::find(parameters, kAnalyticsHitType);
  const std::string* hitTypeText = hitType ? hitType->asText() : nullptr;
  if (!hitTypeText || hitTypeText->empty()) ANALYTICS_LOG_WARNING("Bad or missing hit type.");
  bool exempt =
      hitTypeText && (*hitTypeText == kAnalyticsTransaction || *hitTypeText == kAnalyticsItem);
  std::shared_ptr<AnalyticsTrackerModel> hit;
  {
    platform::MutexLock lock(mutex_);
    if (!exempt && shouldRateLimitLocked()) {
      lock.unlock();
      ANALYTICS_LOG_INFO("Excessive tracking detected and throttled.");
      return;
    }
    _model.setObject(AnalyticsUsageTracker::getUsageSequence(), kAnalyticsUsage);
    publishSnapshotLocked();
    hit = _model.copyWithOverride(parameters);
    // Handed over under the lock, so one tracker's hits reach the dispatcher in call order.
    _dispatcher->queueModel(std::move(hit));
  }
}

void AnalyticsTrackerImpl::publishSnapshotLocked() {
  std::shared_ptr<const AnalyticsTrackerModel> copy = _model.copy();
  platform::MutexLock lock(snapshotMutex_);
  snapshot_.swap(copy);
}

void AnalyticsTrackerImpl::an_sendException(const platform::Dictionary& parameters) {
  std::shared_ptr<const AnalyticsTrackerModel> model;
  {
    platform::MutexLock lock(snapshotMutex_);
    model = snapshot_;
  }
  _dispatcher->sendExceptionModel(model->copyWithOverride(parameters));
}

bool AnalyticsTrackerImpl::shouldRateLimit() {
  platform::MutexLock lock(mutex_);
  return shouldRateLimitLocked();
}

bool AnalyticsTrackerImpl::shouldRateLimitLocked() {
  double now = platform::toSeconds(platform::Clock::shared()->now()) - kReferenceDateOffset;
  if (_lastTrackTime != 0.0 && _trackingCredits < 60.0) {
    double elapsed = now - _lastTrackTime;
    if (elapsed > 0) _trackingCredits = std::min(60.0, _trackingCredits + elapsed * 0.5);
  }
  _lastTrackTime = now;
  if (_trackingCredits >= 1.0) {
    _trackingCredits -= 1.0;
    return false;
  }
  return true;
}

double AnalyticsTrackerImpl::trackingCredits() const {
  platform::MutexLock lock(mutex_);
  return _trackingCredits;
}
