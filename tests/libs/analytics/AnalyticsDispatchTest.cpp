// The whole road of a hit: tracker, dispatcher, store and wire, against a loopback collection
// endpoint, on the manual clock.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsRequestBuilder.h"
#include "analytics/AnalyticsServerConfig.h"
#include "analytics/AnalyticsTracker.h"
#include "platform/foundation/Bundle.h"
#include "sqlite/SQLDatabase.h"

namespace analyticstest {
namespace {

using Answer = CollectionEndpoint::Answer;

class AnalyticsDispatchTest : public AnalyticsTest {
 protected:
  // The application's launch calls.
  std::shared_ptr<AnalyticsTracker> launch() {
    auto analytics = Analytics::sharedInstance();
    analytics->setTrackUncaughtExceptions(true);
    analytics->setDispatchInterval(20.0);
    analytics->logger()->setLogLevel(4);
    return analytics->trackerWithTrackingId("UA-12345-1");
  }

  // The course-list screen's screen view.
  static void sendScreenView() {
    auto tracker = Analytics::sharedInstance()->defaultTracker();
    tracker->send(AnalyticsDictionaryBuilder::createAppView()
                      ->set("zada_MyCourse", kAnalyticsScreenName)
                      .build());
    // Stored before any time passes, as a screen view is long before the first dispatch.
    flush();
  }

  // Hits stored and not yet sent: a launch without the first dispatch (the host is found
  // unreachable first).
  std::shared_ptr<AnalyticsTracker> launchOffline() {
    reachability_->setFlags("127.0.0.1", 0);
    auto tracker = launch();
    EXPECT_TRUE(runUntil([&] { return !dispatcher()->hostReachable(); }));
    return tracker;
  }

  void goOnline() {
    reachability_->setFlags("127.0.0.1", platform::kReachabilityFlagsReachable);
    ASSERT_TRUE(runUntil([&] { return dispatcher()->hostReachable(); }));
  }

  // Runs the main loop until no request is in flight (completions arrive there).
  void settle() {
    ASSERT_TRUE(runUntil([&] { return !dispatcher()->hasConnection(); }));
    flush();
  }

  // The launch and one screen view, whose first request (1 s after start) gets `answer`.
  void firstRequestAnswered(Answer answer) {
    endpoint_.script({answer});
    launch();
    sendScreenView();
    advance(1.0);
    ASSERT_TRUE(endpoint_.waitForRequests(1));
  }

  // After a first request without an answer: the next timer tick sends the hit again, with the
  // same cache buster.
  void resentOnTheNextTick() {
    EXPECT_EQ(storedHits(), 1);
    EXPECT_EQ(logger_->count("hit(s) sent"), 0u);
    advance(20.0);
    ASSERT_TRUE(endpoint_.waitForRequests(2));
    settle();
    auto requests = endpoint_.requests();
    EXPECT_EQ(cacheBusterOf(requests[0]), cacheBusterOf(requests[1]));
    EXPECT_EQ(storedHits(), 0);
  }

  std::string cacheBusterOf(const testsupport::ScriptedRequest& request) {
    return queryValue(request.query(), "z");
  }
};

TEST_F(AnalyticsDispatchTest, LaunchAndOneScreenViewSendOneGetWithinASecond) {
  launch();
  sendScreenView();
  flush();
  ASSERT_EQ(storedHits(), 1);
  auto stored = dispatcher()->dataStore()->fetchHitsWithLimit(1).value();
  std::string z = stored[0].at("parameters")["&z"].stringValue();

  advance(0.999);
  EXPECT_EQ(endpoint_.requestCount(), 0u);
  EXPECT_FALSE(dispatcher()->hasConnection());

  advance(0.001);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  auto request = endpoint_.requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path(), "/collect");
  std::string expected =
      "_u=.etno-AL&_v=mi3.0.1&an=" + platform::Bundle::main().name() +
      "&av=" + platform::Bundle::main().shortVersion() +
      "&cd=zada_MyCourse&cid=" + Analytics::sharedInstance()->clientId().value() +
      "&sr=" + AnalyticsHitUtil::systemScreenResolution() +
      "&t=appview&tid=UA-12345-1&ul=" + AnalyticsHitUtil::systemLanguage() +
      "&v=1&ht=1767225600000&qt=1000&z=" + z;
  EXPECT_EQ(request.query(), expected);
  EXPECT_EQ(request.header("User-Agent"), AnalyticsHitUtil::userAgentString());
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");

  // Answered: deleted, the store found empty, and the timer stopped.
  ASSERT_TRUE(runUntil([&] { return logger_->contains("No pending hits."); }));
  flush();
  EXPECT_EQ(logger_->count("1 hit(s) sent"), 1u);
  EXPECT_TRUE(logger_->contains("Hit(s) dispatched: HTTP status 200"));
  EXPECT_EQ(storedHits(), 0);
  EXPECT_FALSE(dispatcher()->hasHits());
  EXPECT_FALSE(dispatcher()->isTimerScheduled());
  EXPECT_EQ(endpoint_.requestCount(), 1u);
}

TEST_F(AnalyticsDispatchTest, EveryHttpAnswerDeletesTheHit) {
  firstRequestAnswered(Answer::ServerError);
  settle();
  EXPECT_TRUE(logger_->contains("Hit(s) dispatched: HTTP status 500"));
  EXPECT_EQ(logger_->count("1 hit(s) sent"), 1u);
  EXPECT_EQ(storedHits(), 0);
}

TEST_F(AnalyticsDispatchTest, ClosedWithoutAnswerKeepsTheHitForALaterDispatch) {
  firstRequestAnswered(Answer::Close);
  settle();
  EXPECT_TRUE(logger_->contains("Dispatch error: NSURLErrorDomain"));
  resentOnTheNextTick();
}

TEST_F(AnalyticsDispatchTest, HungRequestTimesOutAndSendingGoesOn) {
  firstRequestAnswered(Answer::Hang);
  advance(59.0);
  EXPECT_TRUE(dispatcher()->hasConnection());
  advance(1.0);
  settle();
  EXPECT_TRUE(logger_->contains("Dispatch error: NSURLErrorDomain -1001"));
  resentOnTheNextTick();
}

TEST_F(AnalyticsDispatchTest, RefusedConnectionKeepsTheHit) {
  // A loopback port bound but never listening refuses every connection.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  AnalyticsServerConfig::setSecureHost("http://127.0.0.1:" +
                                       std::to_string(ntohs(address.sin_port)));

  launch();
  sendScreenView();
  advance(1.0);
  ASSERT_TRUE(
      runUntil([&] { return logger_->contains("Dispatch error: NSURLErrorDomain -1004"); }));
  settle();
  EXPECT_EQ(storedHits(), 1);
  ::close(fd);
}

TEST_F(AnalyticsDispatchTest, UnreachableHostSendsNothingUntilItIsReachableAgain) {
  launchOffline();
  sendScreenView();
  advance(1.0);
  advance(20.0);
  advance(20.0);
  EXPECT_EQ(endpoint_.requestCount(), 0u);
  EXPECT_FALSE(dispatcher()->isTimerScheduled());
  EXPECT_EQ(storedHits(), 1);

  goOnline();
  EXPECT_TRUE(dispatcher()->isTimerScheduled());
  advance(20.0);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  settle();
  EXPECT_EQ(storedHits(), 0);
}

TEST_F(AnalyticsDispatchTest, OptOutEmptiesTheStoreAndSurvivesAReset) {
  auto tracker = launchOffline();
  sendScreenView();
  sendScreenView();
  flush();
  ASSERT_EQ(storedHits(), 2);

  auto analytics = Analytics::sharedInstance();
  analytics->setOptOut(true);
  flush();
  EXPECT_EQ(storedHits(), 0);
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 0);

  // The options outlive a reset: the new dispatcher starts opted out.
  analytics->reset();
  EXPECT_EQ(analytics->defaultTracker(), nullptr);
  EXPECT_DOUBLE_EQ(analytics->dispatchInterval(), 120.0);
  EXPECT_TRUE(dispatcher()->optOut());
  analytics->trackerWithTrackingId("UA-12345-1");
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 0);

  analytics->setOptOut(false);
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 1);
}

TEST_F(AnalyticsDispatchTest, SamplingDropsHitsWhoseClientHashFallsOutsideTheRate) {
  // Client ids on both sides of 50%.
  std::string in, out;
  for (int i = 0; in.empty() || out.empty(); ++i) {
    std::string cid = "client-" + std::to_string(i);
    (AnalyticsHitUtil::samplingHash(cid) % 10000 < 5000 ? in : out) = cid;
  }
  auto tracker = launchOffline();
  tracker->set(kAnalyticsSampleRate, "50");
  tracker->set(kAnalyticsClientId, out);
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 0);
  tracker->set(kAnalyticsClientId, in);
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 1);
  // A rate that is no number samples nothing out.
  tracker->set(kAnalyticsSampleRate, "half");
  tracker->set(kAnalyticsClientId, out);
  sendScreenView();
  flush();
  EXPECT_EQ(storedHits(), 2);
}

TEST_F(AnalyticsDispatchTest, LongHitGoesByPostAndPlainHitsToThePlainEndpoint) {
  CollectionEndpoint plain;
  AnalyticsServerConfig::setPlainHost(plain.origin());
  auto tracker = launch();
  tracker->set(kAnalyticsScreenName, std::string(2000, 'x'));
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  advance(1.0);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  settle();
  auto post = endpoint_.requests()[0];
  EXPECT_EQ(post.method, "POST");
  EXPECT_EQ(post.target, "/collect");
  EXPECT_EQ(post.header("Content-Length"), std::to_string(post.body.size()));
  EXPECT_EQ(queryValue(post.body, "cd"), std::string(2000, 'x'));
  EXPECT_EQ(queryValue(post.body, "t"), "event");

  tracker->set(kAnalyticsScreenName, "short");
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}, {kAnalyticsUseSecure, "0"}});
  Analytics::sharedInstance()->dispatch();
  ASSERT_TRUE(plain.waitForRequests(1));
  EXPECT_EQ(plain.requests()[0].method, "GET");
  EXPECT_EQ(endpoint_.requestCount(), 1u);
}

TEST_F(AnalyticsDispatchTest, HitTooLongForTheWireIsDeletedUnsent) {
  auto tracker = launchOffline();
  tracker->set(kAnalyticsScreenName, std::string(9000, 'x'));
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  tracker->set(kAnalyticsScreenName, "fits");
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  ASSERT_EQ(storedHits(), 2);
  goOnline();
  advance(20.0);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  settle();
  EXPECT_EQ(logger_->count("Failed to generate request for hit(s)."), 1u);
  ASSERT_EQ(endpoint_.requestCount(), 1u);
  EXPECT_EQ(queryValue(endpoint_.requests()[0].query(), "cd"), "fits");
  EXPECT_EQ(storedHits(), 0);
}

TEST_F(AnalyticsDispatchTest, FailedRequestsAreRetriedThroughTheRunLoopNotByRecursion) {
  auto tracker = launchOffline();
  tracker->set(kAnalyticsScreenName, std::string(9000, 'x'));
  for (int i = 0; i < 5; ++i) tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  ASSERT_EQ(storedHits(), 5);
  reachability_->setFlags("127.0.0.1", platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(runUntil([&] { return dispatcher()->hostReachable(); }));
  // One dispatch deletes one hit and leaves the next attempt to a later turn of the loop.
  auto current = dispatcher();
  std::int64_t afterOne = -1;
  Analytics::thread()->runLoop()->performAndWait([&] {
    current->dispatch();
    afterOne = current->dataStore()->hitCount();
  });
  EXPECT_EQ(afterOne, 4);
  ASSERT_TRUE(runUntil([&] { return storedHits() == 0; }));
  EXPECT_EQ(logger_->count("Failed to generate request for hit(s)."), 5u);
  EXPECT_EQ(endpoint_.requestCount(), 0u);
}

TEST_F(AnalyticsDispatchTest, StaleHitsAreDeletedUnsentOverSeveralRounds) {
  auto tracker = launchOffline();
  for (int i = 0; i < 45; ++i) tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  clock_->advanceSeconds(2592000.0);
  tracker->set(kAnalyticsScreenName, "fresh");
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  ASSERT_EQ(storedHits(), 46);
  goOnline();
  Analytics::sharedInstance()->dispatch();
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  settle();
  EXPECT_EQ(queryValue(endpoint_.requests()[0].query(), "cd"), "fresh");
  EXPECT_EQ(storedHits(), 0);
  EXPECT_EQ(endpoint_.requestCount(), 1u);
}

TEST_F(AnalyticsDispatchTest, UndecodableRowIsDroppedAndTheRestSent) {
  auto tracker = launchOffline();
  for (const char* name : {"one", "two", "three"}) {
    tracker->set(kAnalyticsScreenName, name);
    tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  }
  flush();
  auto path = AnalyticsDataStore::databaseFullPath(AnalyticsDataStore::kCurrentStoreName).value();
  auto db = SQLDatabase::databaseWithPath(path);
  ASSERT_TRUE(db->open());
  ASSERT_TRUE(db->executeUpdate(
      "UPDATE AnalyticsHit SET parameters = 'not json' WHERE id = (SELECT MIN(id) + 1 FROM "
      "AnalyticsHit)"));
  db->close();

  goOnline();
  Analytics::sharedInstance()->dispatch();
  // Each answer, delivered on the main loop, sends the next hit.
  ASSERT_TRUE(runUntil([&] { return logger_->contains("No pending hits."); }));
  auto requests = endpoint_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(queryValue(requests[0].query(), "cd"), "one");
  EXPECT_EQ(queryValue(requests[1].query(), "cd"), "three");
  EXPECT_EQ(logger_->count("Deleting a stored hit that does not decode: v3/2"), 1u);
  EXPECT_EQ(storedHits(), 0);
}

TEST_F(AnalyticsDispatchTest, BatchesHoldAtLeastOneHitAndCountTheLineFeeds) {
  auto tracker = launchOffline();
  auto current = dispatcher();
  current->setBatchingStrategy(1);
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  flush();
  auto hits = current->dataStore()->fetchHitsWithLimit(0).value();
  ASSERT_EQ(hits.size(), 2u);
  AnalyticsRequestBuilder builder;
  std::size_t both =
      builder.parametersForHit(hits[0]).size() + builder.parametersForHit(hits[1]).size();
  auto batchSize = [&](std::size_t maxBody) {
    current->setMaxBodySize(static_cast<unsigned>(maxBody));
    std::size_t size = 0;
    Analytics::thread()->runLoop()->performAndWait(
        [&] { size = current->hitsForDispatch().size(); });
    return size;
  };
  // The payload joins the two with a line feed: they fit together only with room for it.
  EXPECT_EQ(batchSize(both), 1u);
  EXPECT_EQ(batchSize(both + 1), 2u);
  // A first hit larger than the limit still makes a batch, which then cannot be sent.
  EXPECT_EQ(batchSize(10), 1u);
  goOnline();
  Analytics::sharedInstance()->dispatch();
  ASSERT_TRUE(runUntil([&] { return storedHits() == 0; }));
  EXPECT_EQ(logger_->count("Failed to generate request for hit(s)."), 2u);
  EXPECT_EQ(endpoint_.requestCount(), 0u);
}

// Whether the thread `tid` of this process is asleep (state "S" in /proc).
bool threadSleeps(pid_t tid) {
  if (tid == 0) return false;
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}

TEST_F(AnalyticsDispatchTest, ClientIdDoesNotWaitOnTheThreadWhileHoldingTheLock) {
  auto analytics = Analytics::sharedInstance();
  auto runLoop = Analytics::thread()->runLoop();
  struct Shared {
    std::atomic<bool> release{false};
    std::promise<bool> lockFree;
  };
  auto shared = std::make_shared<Shared>();
  // Busy the thread, so the new store's set-up (and with it the client id) waits behind this.
  runLoop->perform([shared, analytics] {
    while (!shared->release.load()) std::this_thread::yield();
    // A caller of clientId() is now waiting on this thread; work here that needs Analytics's
    // lock must still get it.
    auto asked = std::make_shared<std::promise<void>>();
    auto answered = asked->get_future();
    std::thread([asked, analytics] {
      // dryRun() takes the instance lock on every call, whatever else exists.
      analytics->dryRun();
      asked->set_value();
    }).detach();
    shared->lockFree.set_value(answered.wait_for(std::chrono::seconds(10)) ==
                               std::future_status::ready);
  });
  analytics->setDispatchInterval(20.0);
  std::atomic<pid_t> callerTid{0};
  std::thread caller([analytics, &callerTid] {
    callerTid = static_cast<pid_t>(::syscall(SYS_gettid));
    analytics->clientId();
  });
  // The caller's only way to sleep in clientId() is the wait on the busy thread; once the
  // kernel shows it asleep, it waits there (holding whatever it holds while waiting).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!threadSleeps(callerTid.load()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  shared->release = true;
  EXPECT_TRUE(shared->lockFree.get_future().get());
  caller.join();
  EXPECT_TRUE(analytics->clientId().has_value());
}

}  // namespace
}  // namespace analyticstest
