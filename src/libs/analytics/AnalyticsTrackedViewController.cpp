#include "analytics/AnalyticsTrackedViewController.h"

#include "analytics/Analytics.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsTrackerImpl.h"
#include "platform/foundation/Thread.h"

void AnalyticsTrackedViewController::viewDidAppear(bool animated) {
  platform::assertMainThread("AnalyticsTrackedViewController::viewDidAppear");
  ViewController::viewDidAppear(animated);
  if (!_screenName) {
    ANALYTICS_LOG_INFO("Tracked view controller missing view name.");
    return;
  }
  auto tracker = _tracker.lock();
  if (!tracker) tracker = Analytics::sharedInstance()->defaultTracker();
  if (!tracker) return;
  platform::Dictionary hit{{kAnalyticsHitType, kAnalyticsAppView}};
  // The SDK's own calls record no usage codes.
  if (auto impl = std::dynamic_pointer_cast<AnalyticsTrackerImpl>(tracker)) {
    impl->an_set(kAnalyticsScreenName, _screenName);
    impl->an_send(hit);
  } else {
    tracker->set(kAnalyticsScreenName, _screenName);
    tracker->send(hit);
  }
}
