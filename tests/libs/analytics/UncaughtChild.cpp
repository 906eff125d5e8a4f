// A process that starts the usage analytics as the application does, stores one screen view and
// then lets an exception go uncaught. The collection hosts come from the environment.
//
//   analytics_uncaught_child <home> [chain] [instance-lock | held-lock | tracker-lock |
//                                    store-lock | return]
//
// "chain" installs a terminate handler of its own first, which ends the process with exit code
// 42, to show that the analytics handler hands over to it. "instance-lock" throws from the
// tracker factory, so the exception goes uncaught while the analytics instance lock is held.
// "held-lock" throws once the analytics log waits for a lock that is never let go, as a lock the
// thrower holds would be: the report then cannot end. "tracker-lock" throws from inside the
// default tracker's send, under the tracker's lock. "store-lock" holds the hit store's write
// lock for good from a connection of its own, as another process might, before it throws.
// "return" throws nothing: it hands one screen view to the tracker and returns from `main` at
// once, with no terminate notification (exit status 0); the collection host reads as unreachable.

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsBatchingDispatcher.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsDispatchSender.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsLogger.h"
#include "analytics/AnalyticsTracker.h"
#include "analytics/AnalyticsTrackerImpl.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/net/FakeReachabilitySource.h"
#include "sqlite/SQLDatabase.h"

namespace {

[[noreturn]] void previousHandler() { _exit(42); }

[[noreturn]] void throwUncaught() { throw std::out_of_range("lecture index past the end"); }

// A lock taken for good by a thread of its own, which never lets go.
std::mutex& heldForGood() {
  static std::mutex gate;
  static std::once_flag once;
  std::call_once(once, [] {
    std::mutex started;
    std::condition_variable cv;
    bool holding = false;
    std::thread([&] {
      gate.lock();
      {
        // Notified under the lock: the waiter's variables live until it has seen `holding`.
        std::lock_guard<std::mutex> lock(started);
        holding = true;
        cv.notify_one();
      }
      // Holds the gate until the process ends.
      std::mutex never;
      std::unique_lock<std::mutex> wait(never);
      std::condition_variable().wait(wait, [] { return false; });
    }).detach();
    std::unique_lock<std::mutex> lock(started);
    cv.wait(lock, [&] { return holding; });
  });
  return gate;
}

// A logger whose every line waits for the lock held for good.
class BlockedLogger : public AnalyticsLogger {
 public:
  void verbose(const std::string&) override { wait(); }
  void info(const std::string&) override { wait(); }
  void warning(const std::string&) override { wait(); }
  void error(const std::string&) override { wait(); }
  std::uint32_t logLevel() const override { return 4; }
  void setLogLevel(std::uint32_t) override {}

 private:
  static void wait() { std::lock_guard<std::mutex> lock(heldForGood()); }
};

// Hands hits on to the analytics dispatcher, but throws at the first one: the exception goes
// uncaught inside the tracker's send, with the tracker's lock held.
class ThrowingForwarder : public AnalyticsDispatchSender {
 public:
  void queueModel(std::shared_ptr<AnalyticsTrackerModel> model) override {
    if (!thrown_.exchange(true)) throwUncaught();
    Analytics::sharedInstance()->dispatcher()->queueModel(std::move(model));
  }
  void queueDispatch(const platform::Dictionary& parameters) override {
    Analytics::sharedInstance()->dispatcher()->queueDispatch(parameters);
  }
  void sendExceptionModel(std::shared_ptr<AnalyticsTrackerModel> model) override {
    Analytics::sharedInstance()->dispatcher()->sendExceptionModel(std::move(model));
  }

 private:
  std::atomic<bool> thrown_{false};
};

void throwUnderTheTrackersLock(Analytics& analytics) {
  auto tracker =
      AnalyticsTrackerImpl::trackerWithDispatcher(std::make_shared<ThrowingForwarder>(), "crash");
  tracker->set(kAnalyticsTrackingId, "UA-12345-3");
  analytics.setDefaultTracker(tracker);
  tracker->send({{kAnalyticsHitType, platform::Value("appview")}});
}

// Takes the hit store's write lock from a connection of its own and keeps it.
void holdTheStoreLock(Analytics& analytics) {
  analytics.clientId();  // the store is set up
  static std::shared_ptr<SQLDatabase> holder = SQLDatabase::databaseWithPath(
      AnalyticsDataStore::databaseFullPath(AnalyticsDataStore::kCurrentStoreName).value_or(""));
  if (!holder->open() || !holder->executeUpdate("BEGIN EXCLUSIVE")) std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  platform::Paths::setHome(argv[1]);
  std::set<std::string> modes(argv + 2, argv + argc);
  if (modes.count("chain")) std::set_terminate(&previousHandler);
  // Nothing is sent while the process ends (the first dispatch, 1 s after start on a clock that
  // does not move, never comes): the hit can only be kept by being stored.
  if (modes.count("return")) {
    platform::Clock::setShared(std::make_shared<platform::ManualClock>());
    platform::ReachabilitySource::setShared(std::make_shared<platform::FakeReachabilitySource>(0));
  }
  auto analytics = Analytics::sharedInstance();
  analytics->setTrackUncaughtExceptions(true);
  analytics->setDispatchInterval(20.0);
  analytics->logger()->setLogLevel(4);
  analytics->trackerWithTrackingId("UA-12345-1");
  if (modes.count("instance-lock")) {
    analytics->setTrackerImplClass(
        [](auto, const std::string&) -> std::shared_ptr<AnalyticsTrackerImpl> { throwUncaught(); });
    analytics->trackerWithTrackingId("UA-12345-2");
  }
  if (modes.count("held-lock")) {
    heldForGood();
    analytics->setLogger(std::make_shared<BlockedLogger>());
  }
  if (modes.count("return")) {
    analytics->defaultTracker()->send({{kAnalyticsHitType, platform::Value("appview")},
                                       {"&cd", platform::Value("handed over last")}});
    return 0;
  }
  if (modes.count("tracker-lock")) throwUnderTheTrackersLock(*analytics);
  if (modes.count("store-lock")) holdTheStoreLock(*analytics);
  throwUncaught();
}
