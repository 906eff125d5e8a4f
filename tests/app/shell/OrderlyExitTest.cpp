// How the executable ends: the application hears that it terminates before the process goes, so
// the analytics hits recorded just before are in the store afterwards.

#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsTracker.h"
#include "platform/foundation/ApplicationNotifications.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "shell/OrderlyExit.h"
#include "sqlite/SQLDatabase.h"
#include "support/TempHome.h"

namespace {

int storedHits() {
  auto path = AnalyticsDataStore::databaseFullPath(AnalyticsDataStore::kCurrentStoreName);
  if (!path) return -1;
  auto db = SQLDatabase::databaseWithPath(*path);
  if (!db->open()) return -1;
  const int count = db->intForQuery("SELECT COUNT(*) FROM AnalyticsHit");
  db->close();
  return count;
}

TEST(OrderlyExitTest, HitsRecordedJustBeforeTheEndAreInTheStoreWhenTheProcessMayGo) {
  testsupport::TempHome home;
  platform::ScopedManualClock clock;  // no dispatch comes due: stored hits stay stored
  auto analytics = Analytics::sharedInstance();
  analytics->reset();

  // The analytics thread is held until the application is told it terminates: until then no
  // hit can reach the store, however quick the thread. Heard before the store hears it.
  std::promise<void> terminating;
  std::once_flag released;
  auto release = [&] { std::call_once(released, [&] { terminating.set_value(); }); };
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      platform::kApplicationWillTerminateNotification,
      [&](const platform::Notification&) { release(); });
  auto tracker = analytics->trackerWithName("exit", "CH-20140101-9");
  ASSERT_TRUE(tracker);
  std::shared_future<void> heard = terminating.get_future().share();
  Analytics::thread()->runLoop()->perform([heard] { heard.wait(); });

  for (int i = 0; i < 20; ++i) {
    tracker->send(AnalyticsDictionaryBuilder::createEventWithCategory(
                      std::string("road"), std::string("step"), std::nullopt, platform::Value(i))
                      ->build());
  }
  OrderlyExit::prepare();
  release();  // lets the thread go where the mend is missing, so the test can end
  EXPECT_EQ(storedHits(), 20);

  token.reset();
  analytics->reset();
}

}  // namespace
