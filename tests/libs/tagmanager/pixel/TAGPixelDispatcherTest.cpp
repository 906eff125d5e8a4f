// The pixel-hit dispatcher against a loopback pixel endpoint on the manual clock: the rate
// limiter, batches, deleting and keeping failed hits, reachability, and the request's form.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/net/FakeReachabilitySource.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagPixelSupport.h"
#include "tagmanager/base/TAGServerConfig.h"
#include "tagmanager/pixel/TAGDispatcher.h"
#include "tagmanager/pixel/TAGNetReachability.h"

namespace {

using testsupport::onTagThread;
using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;
using testsupport::storedHits;

class TAGPixelDispatcherTest : public ::testing::Test {
 protected:
  TAGPixelDispatcherTest()
      : endpoint_([this](const ScriptedRequest&) {
          platform::MutexLock lock(mutex_);
          return ScriptedReply::text(status_, "");
        }) {
    TAGServerConfig::setPixelHost("127.0.0.1");
  }
  ~TAGPixelDispatcherTest() override {
    dispatcher_.reset();
    onTagThread();
    TAGServerConfig::setPixelHost("");
  }

  // A dispatcher whose timer does not run: the test dispatches by hand.
  std::shared_ptr<TAGDispatcher> manualDispatcher() {
    dispatcher_ = TAGDispatcher::init();
    dispatcher_->setDispatchInterval(0);
    onTagThread();
    return dispatcher_;
  }

  void answerWith(int status) {
    platform::MutexLock lock(mutex_);
    status_ = status;
  }

  std::string url(const std::string& path) const { return endpoint_.url(path); }

  std::size_t inFlight() {
    std::size_t count = 0;
    onTagThread([&] { count = dispatcher_->operationCount(); });
    return count;
  }

  // Dispatches and waits until the batch has been answered and handled.
  void dispatchAndSettle(std::size_t expectedRequests) {
    dispatcher_->dispatch();
    settle(expectedRequests);
  }

  // Waits until `expectedRequests` have come in and their answers have been handled.
  void settle(std::size_t expectedRequests) {
    ASSERT_TRUE(endpoint_.waitForRequests(expectedRequests));
    ASSERT_TRUE(testsupport::runUntil([&] { return inFlight() == 0; }));
    onTagThread();
  }

  // Hits left in the store by an earlier run, oldest first.
  void leftFromAnEarlierRun(std::size_t count) {
    auto earlier = TAGDataProvider::init();
    for (std::size_t i = 0; i < count; ++i) {
      earlier->addHitWithURLString(url("/p?n=" + std::to_string(i)));
    }
    ASSERT_EQ(storedHits(*earlier).size(), count);
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
  platform::ScopedFakeReachability reachability_;
  testsupport::TagLogRecorder log_;
  platform::Mutex mutex_;
  int status_ GUARDED_BY(mutex_) = 204;
  ScriptedServer endpoint_;
  std::shared_ptr<TAGDispatcher> dispatcher_;
};

TEST_F(TAGPixelDispatcherTest, RateLimiterPassesSixtyThenOneEveryTwoSeconds) {
  auto dispatcher = manualDispatcher();
  for (int i = 0; i < 61; ++i) dispatcher->sendHitToUrl(url("/p?n=" + std::to_string(i)));
  EXPECT_EQ(storedHits(*dispatcher->store()).size(), 60u) << "the 61st is dropped";
  clock_->advanceSeconds(1.999);
  dispatcher->sendHitToUrl(url("/p?early"));
  EXPECT_EQ(storedHits(*dispatcher->store()).size(), 60u);
  clock_->advanceSeconds(2.0);
  dispatcher->sendHitToUrl(url("/p?later"));
  EXPECT_EQ(storedHits(*dispatcher->store()).back().dispatchURL, url("/p?later"));
}

TEST_F(TAGPixelDispatcherTest, RateLimiterCountsFromTheReferenceDate) {
  auto limiter = TAGRateLimiter::rateLimiterWithMaxTokens(3, 10);
  EXPECT_EQ(limiter->lastTrackTime(), 0);
  EXPECT_TRUE(limiter->tokenAvailable());
  EXPECT_DOUBLE_EQ(limiter->lastTrackTime(), platform::toSeconds(clock_->now()) - 978307200.0);
  EXPECT_DOUBLE_EQ(limiter->tokens(), 2);
  clock_->advanceSeconds(5);
  EXPECT_TRUE(limiter->tokenAvailable());
  EXPECT_TRUE(limiter->tokenAvailable());
  EXPECT_DOUBLE_EQ(limiter->tokens(), 0.5) << "fractions of a token are kept";
  EXPECT_FALSE(limiter->tokenAvailable());
  EXPECT_FALSE(TAGRateLimiter::rateLimiterWithMaxTokens(3, 0)->tokenAvailable());
}

TEST_F(TAGPixelDispatcherTest, OneDispatchSendsTheFortyOldestWithTheUserAgent) {
  auto dispatcher = manualDispatcher();
  for (int i = 0; i < 45; ++i) {
    dispatcher->sendHitToUrl(url("/p?n=" + std::to_string(i)));
    onTagThread();
    clock_->advanceSeconds(2);
  }
  dispatchAndSettle(40);
  EXPECT_EQ(endpoint_.requestCount(), 40u);
  auto requests = endpoint_.requests();
  EXPECT_EQ(requests.front().target, "/p?n=0");
  EXPECT_EQ(requests.back().target, "/p?n=39");
  EXPECT_EQ(requests.front().method, "GET");
  EXPECT_EQ(requests.front().header("User-Agent"), TAGDispatchUtil::userAgentString());
  auto left = storedHits(*dispatcher->store());
  ASSERT_EQ(left.size(), 5u);
  EXPECT_EQ(left.front().dispatchURL, url("/p?n=40"));
  EXPECT_EQ(log_.lines("verbose").back(), "Successfully sent hit: " + url("/p?n=39"));
}

TEST_F(TAGPixelDispatcherTest, AFailingHitStaysUntilItsFirstFailureIsFourHoursOld) {
  auto dispatcher = manualDispatcher();
  answerWith(500);
  dispatcher->sendHitToUrl(url("/p?fails"));
  onTagThread();
  auto firstFailure = clock_->now();
  dispatchAndSettle(1);
  auto hits = storedHits(*dispatcher->store());
  ASSERT_EQ(hits.size(), 1u);
  ASSERT_TRUE(hits[0].dispatchTime.has_value());
  EXPECT_EQ(log_.lines("verbose").back(), "Failed to send hit: " + url("/p?fails"));

  clock_->advanceSeconds(500);
  dispatchAndSettle(2);
  hits = storedHits(*dispatcher->store());
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_NEAR(platform::toSeconds(*hits[0].dispatchTime), platform::toSeconds(firstFailure), 1e-3);

  clock_->advanceSeconds(14401 - 500);
  dispatchAndSettle(3);
  EXPECT_TRUE(storedHits(*dispatcher->store()).empty());
  EXPECT_EQ(log_.lines("verbose").back(), "Successfully sent hit: " + url("/p?fails"));
}

TEST_F(TAGPixelDispatcherTest, AFailureWithoutConnectionKeepsTheHit) {
  auto dispatcher = manualDispatcher();
  ScriptedServer closing([](const ScriptedRequest&) {
    ScriptedReply reply;
    reply.behaviour = ScriptedReply::Behaviour::CloseBeforeHead;
    return reply;
  });
  dispatcher->sendHitToUrl(closing.url("/p"));
  onTagThread();
  dispatcher->dispatch();
  ASSERT_TRUE(closing.waitForRequests(1));
  ASSERT_TRUE(testsupport::runUntil([&] { return inFlight() == 0; }));
  onTagThread();
  auto hits = storedHits(*dispatcher->store());
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_TRUE(hits[0].dispatchTime.has_value()) << "no response counts as status 0";
}

TEST_F(TAGPixelDispatcherTest, HitsThatNeverFailedGoBeforeFailedOnes) {
  auto dispatcher = manualDispatcher();
  ScriptedServer failing([](const ScriptedRequest&) { return ScriptedReply::text(500, ""); });
  for (int i = 0; i < 40; ++i) {
    dispatcher->sendHitToUrl(failing.url("/f?n=" + std::to_string(i)));
    onTagThread();
    clock_->advanceSeconds(2);
  }
  dispatcher->dispatch();
  ASSERT_TRUE(failing.waitForRequests(40));
  ASSERT_TRUE(testsupport::runUntil([&] { return inFlight() == 0; }));
  onTagThread();
  for (const auto& hit : storedHits(*dispatcher->store())) ASSERT_TRUE(hit.dispatchTime);

  // A batch's worth of failing hits, all older: the new hit still goes out with the next batch.
  dispatcher->sendHitToUrl(url("/p?new"));
  onTagThread();
  dispatcher->dispatch();
  ASSERT_TRUE(failing.waitForRequests(79));
  ASSERT_TRUE(endpoint_.waitForRequests(1)) << "the new hit was held back";
  ASSERT_TRUE(testsupport::runUntil([&] { return inFlight() == 0; }));
  onTagThread();
  EXPECT_EQ(endpoint_.requests().at(0).target, "/p?new");
  EXPECT_EQ(failing.requestCount(), 79u) << "the rest of the batch: the oldest failed ones";
  auto left = storedHits(*dispatcher->store());
  EXPECT_EQ(left.size(), 40u);
  EXPECT_EQ(left.front().dispatchURL, failing.url("/f?n=0"));
}

TEST_F(TAGPixelDispatcherTest, AHitWhoseUrlCanNeverBeSentIsDropped) {
  auto dispatcher = manualDispatcher();
  const std::vector<std::string> unsendable = {
      "ftp://127.0.0.1/p", "file:///etc/hostname", "gopher://127.0.0.1/x", "mailto:a@127.0.0.1", "",
      "http://[::1/p"};
  for (const auto& hit : unsendable) dispatcher->sendHitToUrl(hit);
  dispatcher->sendHitToUrl(url("/p?good"));
  onTagThread();
  dispatchAndSettle(1);
  EXPECT_TRUE(storedHits(*dispatcher->store()).empty());
  auto lines = log_.lines("verbose");
  for (const auto& hit : unsendable) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Dropped hit that cannot be sent: " + hit),
              lines.end())
        << hit;
  }
  EXPECT_EQ(endpoint_.requestCount(), 1u);
}

TEST_F(TAGPixelDispatcherTest, TimerRunsOnlyWhileHitsWaitAndTheHostIsReachable) {
  dispatcher_ = TAGDispatcher::init();
  onTagThread();
  auto& dispatcher = dispatcher_;
  dispatcher->sendHitToUrl(url("/p?1"));
  onTagThread();
  // The first send goes out a second after creation.
  clock_->advanceSeconds(1);
  ASSERT_TRUE(endpoint_.waitForRequests(1));
  ASSERT_TRUE(testsupport::runUntil([&] { return storedHits(*dispatcher->store()).empty(); }));
  onTagThread();
  double interval = -1;
  onTagThread([&] { interval = dispatcher->timerInterval(); });
  EXPECT_EQ(interval, 0) << "no hits, no timer";

  reachability_->setFlags("127.0.0.1", 0);
  ASSERT_TRUE(testsupport::runUntil([&] { return !dispatcher->network()->isReachable(); }));
  dispatcher->sendHitToUrl(url("/p?2"));
  onTagThread();
  clock_->advanceSeconds(240);
  onTagThread();
  EXPECT_EQ(endpoint_.requestCount(), 1u) << "nothing goes out while unreachable";

  reachability_->setFlags("127.0.0.1", platform::kReachabilityFlagsReachable);
  ASSERT_TRUE(testsupport::runUntil([&] { return dispatcher->network()->isReachable(); }));
  onTagThread();
  onTagThread([&] { interval = dispatcher->timerInterval(); });
  EXPECT_EQ(interval, 120);
  clock_->advanceSeconds(119);
  onTagThread();
  EXPECT_EQ(endpoint_.requestCount(), 1u);
  clock_->advanceSeconds(1);
  ASSERT_TRUE(endpoint_.waitForRequests(2));
  EXPECT_EQ(endpoint_.requests()[1].target, "/p?2");
}

// The store reports its hits while it opens, before the dispatcher listens; the dispatcher must
// still start its timer, or only the first batch ever goes out.
TEST_F(TAGPixelDispatcherTest, EachTickSendsTheNextFortyUntilTheStoreIsEmpty) {
  leftFromAnEarlierRun(100);
  dispatcher_ = TAGDispatcher::init();
  onTagThread();
  double interval = 0;
  onTagThread([&] { interval = dispatcher_->timerInterval(); });
  EXPECT_EQ(interval, 120) << "hits wait and the host is reachable";

  // The first batch a second after creation; the timer, started at creation, ticks at 120 s.
  clock_->advanceSeconds(1);
  settle(40);
  EXPECT_EQ(endpoint_.requests().back().target, "/p?n=39");
  clock_->advanceSeconds(118);
  onTagThread();
  EXPECT_EQ(endpoint_.requestCount(), 40u);
  clock_->advanceSeconds(1);
  settle(80);
  EXPECT_EQ(endpoint_.requests()[40].target, "/p?n=40");
  EXPECT_EQ(endpoint_.requests().back().target, "/p?n=79");
  clock_->advanceSeconds(120);
  settle(100);
  EXPECT_EQ(endpoint_.requests().back().target, "/p?n=99");
  EXPECT_TRUE(storedHits(*dispatcher_->store()).empty());

  onTagThread([&] { interval = dispatcher_->timerInterval(); });
  EXPECT_EQ(interval, 0) << "an empty store stops the timer";
  clock_->advanceSeconds(600);
  onTagThread();
  EXPECT_EQ(endpoint_.requestCount(), 100u);
}

TEST_F(TAGPixelDispatcherTest, AFailingHitIsTriedEveryIntervalUntilDroppedAfterFourHours) {
  answerWith(500);
  leftFromAnEarlierRun(1);
  dispatcher_ = TAGDispatcher::init();
  onTagThread();
  clock_->advanceSeconds(1);
  settle(1);
  auto firstFailure = storedHits(*dispatcher_->store()).at(0).dispatchTime;
  ASSERT_TRUE(firstFailure.has_value());

  // The first failure is at 1 s; the timer then ticks every 120 s from creation, and the tick at
  // 121 * 120 = 14,520 s is the first more than 14,400 s after that failure: 122 tries in all,
  // the last one dropping the hit. Each step below passes exactly one tick.
  for (std::size_t tries = 2; tries <= 122; ++tries) {
    clock_->advanceSeconds(120);
    settle(tries);
    auto left = storedHits(*dispatcher_->store());
    ASSERT_EQ(left.size(), tries < 122 ? 1u : 0u) << tries;
    if (!left.empty()) {
      EXPECT_EQ(left[0].dispatchTime, firstFailure) << tries;
    }
  }
  EXPECT_EQ(log_.lines("verbose").back(), "Successfully sent hit: " + url("/p?n=0"));
  clock_->advanceSeconds(1200);
  onTagThread();
  EXPECT_EQ(endpoint_.requestCount(), 122u);
}

TEST_F(TAGPixelDispatcherTest, WrapperSettingsWrapTheEncodedUrl) {
  auto dispatcher = manualDispatcher();
  dispatcher->setWrapperUrl("http://127.0.0.1/w");
  dispatcher->setWrapperQueryParameter("p");
  dispatcher->sendHitToUrl("http://127.0.0.1/x?a=1&b=2");
  EXPECT_EQ(storedHits(*dispatcher->store())[0].dispatchURL,
            "http://127.0.0.1/w?p=http%3A%2F%2F127.0.0.1%2Fx%3Fa%3D1%26b%3D2");
}

// What TAGThread owns is checked where it is reached: anywhere else is an assertion failure,
// as for a socket's queue; on TAGThread the same calls go through.
TEST_F(TAGPixelDispatcherTest, TagThreadStateRefusesOtherThreads) {
  auto dispatcher = manualDispatcher();
  auto store = dispatcher->store();
  auto operation = TAGNetOperation::operationWithRequest(
      platform::URLRequest("http://127.0.0.1:9/"), [](TAGNetOperation&) {});
  const std::pair<const char*, std::function<void()>> entries[] = {
      {"TAGDataProvider::context", [&] { store->context(); }},
      {"TAGDataProvider::save", [&] { store->save(); }},
      {"TAGDataProvider::hitCount", [&] { store->hitCount(nullptr); }},
      {"TAGDataProvider::deleteExcessHits", [&] { store->deleteExcessHits(nullptr); }},
      {"TAGDispatcher::timerInterval", [&] { dispatcher->timerInterval(); }},
      {"TAGDispatcher::operationCount", [&] { dispatcher->operationCount(); }},
      {"TAGNetOperation::response", [&] { operation->response(); }},
      {"TAGNetOperation::data", [&] { operation->data(); }},
      {"TAGNetOperation::error", [&] { operation->error(); }},
  };
  for (const auto& entry : entries) {
    const std::string name = entry.first;
    try {
      entry.second();
      ADD_FAILURE() << name << " ran off TAGThread";
    } catch (const platform::AssertionFailure& failure) {
      EXPECT_EQ(failure.what(), name + " must run on TAGThread");
    }
    onTagThread([&] { EXPECT_NO_THROW(entry.second()) << name; });
  }
}

TEST(TAGNetReachabilityTest, FlagsBecomeStatuses) {
  using namespace platform;
  struct Case {
    std::uint32_t flags;
    std::int32_t status;
  };
  const Case cases[] = {
      {0, 1},
      {kReachabilityFlagsReachable, 2},
      {kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN, 3},
      {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired, 1},
      {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
           kReachabilityFlagsConnectionOnTraffic,
       2},
      {kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
           kReachabilityFlagsConnectionOnDemand | kReachabilityFlagsInterventionRequired,
       1},
  };
  for (const auto& c : cases) EXPECT_EQ(TAGNetReachability::statusForFlags(c.flags), c.status);
}

TEST(TAGNetReachabilityTest, OnlyAChangedStatusIsReported) {
  auto watcher = TAGNetReachability::create("127.0.0.1");
  std::vector<std::int32_t> reported;
  watcher->setStatusChange([&](std::int32_t status) { reported.push_back(status); });
  watcher->setReachabilityStatus(2);
  watcher->setReachabilityStatus(2);
  watcher->setReachabilityStatus(1);
  EXPECT_EQ(reported, (std::vector<std::int32_t>{2, 1}));
}

TEST(TAGNetOperationTest, CancelledOperationCompletesOnceWithoutResponse) {
  int completions = 0;
  bool cancelled = false, hadResponse = true;
  auto operation = TAGNetOperation::operationWithRequest(
      platform::URLRequest("http://127.0.0.1:9/"), [&](TAGNetOperation& op) {
        ++completions;
        cancelled = op.isCancelled();
        hadResponse = op.response().has_value();
      });
  operation->cancel();
  operation->cancel();
  onTagThread();
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(hadResponse);
}

}  // namespace
