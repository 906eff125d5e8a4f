// Analytics, trackers, their model, the dictionary builder and the usage codes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsDictionaryBuilder.h"
#include "analytics/AnalyticsDispatchSender.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsTrackedViewController.h"
#include "analytics/AnalyticsTrackerImpl.h"
#include "analytics/AnalyticsTrackerModel.h"
#include "analytics/AnalyticsUsageTracker.h"
#include "platform/foundation/Bundle.h"
#include "support/Files.h"

namespace analyticstest {
namespace {

using platform::Dictionary;
using platform::Value;

// Keeps the models a tracker hands over.
class RecordingSender : public AnalyticsDispatchSender {
 public:
  void queueModel(std::shared_ptr<AnalyticsTrackerModel> model) override {
    platform::MutexLock lock(mutex_);
    models_.push_back(std::move(model));
  }
  void queueDispatch(const Dictionary&) override {}
  std::vector<std::shared_ptr<AnalyticsTrackerModel>> models() {
    platform::MutexLock lock(mutex_);
    return models_;
  }

 private:
  platform::Mutex mutex_;
  std::vector<std::shared_ptr<AnalyticsTrackerModel>> models_ GUARDED_BY(mutex_);
};

class AnalyticsTrackerTest : public AnalyticsTest {
 protected:
  std::shared_ptr<RecordingSender> sender_ = std::make_shared<RecordingSender>();
  std::shared_ptr<AnalyticsTrackerImpl> tracker_ =
      AnalyticsTrackerImpl::trackerWithDispatcher(sender_, "test");

  std::size_t sent() { return sender_->models().size(); }
  Value lastParameter(const std::string& key) {
    return sender_->models().back()->objectForKeyedSubscript(key).value_or(Value("(absent)"));
  }
};

TEST_F(AnalyticsTrackerTest, BurstOfSixtyPassesThenOneEveryTwoSeconds) {
  for (int i = 0; i < 61; ++i) tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(sent(), 60u);
  EXPECT_EQ(logger_->count("Excessive tracking detected and throttled."), 1u);
  clock_->advanceSeconds(1.9);
  tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(sent(), 60u);
  clock_->advanceSeconds(2.0);
  tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(sent(), 61u);
  tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(sent(), 61u);
  // Transactions and items are never throttled and spend nothing.
  for (const char* type : {kAnalyticsTransaction, kAnalyticsItem}) {
    tracker_->send({{kAnalyticsHitType, type}});
  }
  EXPECT_EQ(sent(), 63u);
}

TEST_F(AnalyticsTrackerTest, HitWithoutTypeIsWarnedAboutAndStillSent) {
  tracker_->send({{kAnalyticsScreenName, "x"}});
  EXPECT_EQ(sent(), 1u);
  EXPECT_TRUE(logger_->contains("Bad or missing hit type."));
}

TEST_F(AnalyticsTrackerTest, SetPersistsWhileSendParametersApplyToOneHit) {
  tracker_->set(kAnalyticsScreenName, "kept");
  tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}, {kAnalyticsEventLabel, "once"}});
  EXPECT_EQ(lastParameter(kAnalyticsScreenName), Value("kept"));
  EXPECT_EQ(lastParameter(kAnalyticsEventLabel), Value("once"));
  tracker_->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(lastParameter(kAnalyticsEventLabel), Value("(absent)"));
  // A key set to nothing reads as nothing but stays.
  tracker_->set(kAnalyticsScreenName, std::nullopt);
  EXPECT_EQ(tracker_->get(kAnalyticsScreenName), std::nullopt);
  EXPECT_EQ(tracker_->get("analyticsVersion"), "3.01");
  EXPECT_EQ(tracker_->get(kAnalyticsLanguage), AnalyticsHitUtil::systemLanguage());
}

TEST_F(AnalyticsTrackerTest, BuiltDictionaryHasForcedComputedAndConsecutiveCacheBusters) {
  tracker_->set(kAnalyticsProtocolVersion, "9");
  tracker_->send({{kAnalyticsHitType, kAnalyticsAppView}});
  tracker_->send({{kAnalyticsHitType, kAnalyticsAppView}});
  auto first = sender_->models()[0]->buildDictionary();
  auto second = sender_->models()[1]->buildDictionary();
  EXPECT_EQ(first.at("&v"), Value("1"));
  EXPECT_EQ(first.at("&_v"), Value("mi3.0.1"));
  EXPECT_EQ(first.at("&sr"), Value(AnalyticsHitUtil::systemScreenResolution()));
  EXPECT_EQ(first.at("&an"), Value(platform::Bundle::main().name()));
  EXPECT_EQ(first.at("analyticsVersion"), Value("3.01"));
  // No dispatcher, no client id: the key is there without a value.
  EXPECT_TRUE(first.at("&cid").isNull());
  EXPECT_EQ(std::stoull(second.at("&z").stringValue()) - std::stoull(first.at("&z").stringValue()),
            1u);
}

TEST_F(AnalyticsTrackerTest, UsageCodesOfTheCallsGoWithTheNextHit) {
  auto builder = AnalyticsDictionaryBuilder::createAppView();
  builder->set("x", kAnalyticsScreenName);
  AnalyticsUsageTracker::getUsageSequence();
  builder->set("y", kAnalyticsScreenName);
  tracker_->send(builder->build());
  EXPECT_EQ(lastParameter(kAnalyticsUsage), Value(".AL"));
  EXPECT_EQ(AnalyticsUsageTracker::getUsageSequence(), "");
  tracker_->get("a");
  tracker_->set("a", "b");
  EXPECT_EQ(AnalyticsUsageTracker::getUsageSequence(), ".JK");
}

TEST_F(AnalyticsTrackerTest, UsageCodesPerTargetAreSortedAndCleared) {
  AnalyticsUsageTracker::getUsageClearingTarget(AnalyticsUsageTracker::classTarget());
  AnalyticsUsageTracker own;
  own.trackInstanceAction("send:");
  own.trackInstanceAction("get:");
  own.trackInstanceAction("send:");
  AnalyticsUsageTracker::trackAction("createAppView");
  AnalyticsUsageTracker::trackAction("no:such:selector:");
  EXPECT_EQ(own.getUsage(), "-JL");
  EXPECT_EQ(own.getUsage(), "");
  EXPECT_EQ(AnalyticsUsageTracker::getUsageSequence(), ".LJL-");
}

TEST_F(AnalyticsTrackerTest, UsageCodesAndCacheBusterHoldUpUnderThreads) {
  AnalyticsUsageTracker::getUsageSequence();
  std::vector<std::thread> threads;
  std::vector<std::vector<std::string>> busters(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &busters] {
      AnalyticsUsageTracker own;
      for (int i = 0; i < 200; ++i) {
        own.trackInstanceAction("send:");
        AnalyticsUsageTracker::trackAction("dispatch");
        busters[t].push_back(AnalyticsTrackerModel::cacheBuster());
      }
      EXPECT_NE(own.getUsage().find('L'), std::string::npos);
    });
  }
  for (auto& thread : threads) thread.join();
  std::string sequence = AnalyticsUsageTracker::getUsageSequence();
  EXPECT_EQ(sequence.size(), 1u + 8 * 200 * 2);
  std::set<std::string> unique;
  for (const auto& list : busters) unique.insert(list.begin(), list.end());
  EXPECT_EQ(unique.size(), 8u * 200);
}

TEST_F(AnalyticsTrackerTest, BuilderFactoriesSetEveryFieldOfTheirHitType) {
  auto event =
      AnalyticsDictionaryBuilder::createEventWithCategory("c", "a", std::nullopt, 5)->build();
  EXPECT_EQ(
      event,
      (Dictionary{{"&t", "event"}, {"&ec", "c"}, {"&ea", "a"}, {"&el", Value()}, {"&ev", "5"}}));
  auto noNumber = AnalyticsDictionaryBuilder::createEventWithCategory("c", "a", "l", "5")->build();
  EXPECT_TRUE(noNumber.at("&ev").isNull());
  auto exception = AnalyticsDictionaryBuilder::createExceptionWithDescription("d", true)->build();
  EXPECT_EQ(exception, (Dictionary{{"&t", "exception"}, {"&exd", "d"}, {"&exf", "1"}}));
  auto item =
      AnalyticsDictionaryBuilder::createItemWithTransactionId("t1", "n", "s", "c", 2.5, 3, "CNY")
          ->build();
  EXPECT_EQ(item.at("&ip"), Value("2.5"));
  EXPECT_EQ(item.at("&iq"), Value("3"));
  EXPECT_EQ(item.size(), 8u);
  auto timing = AnalyticsDictionaryBuilder::createTimingWithCategory("c", 120, "n", "l")->build();
  EXPECT_EQ(timing.at("&utt"), Value("120"));
  EXPECT_EQ(AnalyticsDictionaryBuilder::createSocialWithNetwork("n", "a", "t")->build().size(), 4u);
  EXPECT_EQ(
      AnalyticsDictionaryBuilder::createTransactionWithId("t", "a", 1, 2, 3, "CNY")->build().size(),
      7u);
}

TEST_F(AnalyticsTrackerTest, BuilderRefusesWhatItCannotStore) {
  AnalyticsDictionaryBuilder builder;
  builder.set("v", std::nullopt);
  EXPECT_TRUE(logger_->contains("nil key not allowed in setString"));
  builder.setAll({{"&a", "text"}, {"&b", Value()}, {"&c", 7}});
  EXPECT_EQ(logger_->count("Unexpected value type: Integer"), 1u);
  EXPECT_EQ(builder.build(), (Dictionary{{"&a", "text"}, {"&b", Value()}}));
  EXPECT_EQ(builder.get("&a"), "text");
  EXPECT_EQ(builder.get("&b"), std::nullopt);
  builder.parameters()["&d"] = 1.5;
  EXPECT_EQ(builder.get("&d"), std::nullopt);
  EXPECT_TRUE(logger_->contains("Unexpected type in Builder: Double"));
}

TEST_F(AnalyticsTrackerTest, CampaignParametersSetAllNineFields) {
  AnalyticsDictionaryBuilder builder;
  builder.setCampaignParametersFromUrl("app://open?utm_source=x&utm_term=a+b%26c&gclid=g");
  auto built = builder.build();
  EXPECT_EQ(built.size(), 9u);
  EXPECT_EQ(built.at("&cs"), Value("x"));
  EXPECT_EQ(built.at("&ck"), Value("a b&c"));
  EXPECT_EQ(built.at("&gclid"), Value("g"));
  EXPECT_TRUE(built.at("&cm").isNull());
  AnalyticsDictionaryBuilder bare;
  bare.setCampaignParametersFromUrl("utm_medium=m");
  EXPECT_EQ(bare.build().at("&cm"), Value("m"));
}

TEST(AnalyticsFieldsTest, IndexedNames) {
  EXPECT_EQ(AnalyticsFields::customDimensionForIndex(0), "&cd0");
  EXPECT_EQ(AnalyticsFields::customDimensionForIndex(12), "&cd12");
  EXPECT_EQ(AnalyticsFields::customMetricForIndex(1), "&cm1");
  EXPECT_EQ(AnalyticsFields::contentGroupForIndex(3), "&cg3");
}

class AnalyticsSingletonTest : public AnalyticsTest {};

TEST_F(AnalyticsSingletonTest, TrackersByTrimmedNameAndTheDefault) {
  auto analytics = Analytics::sharedInstance();
  EXPECT_EQ(Analytics::sharedInstance(), analytics);
  EXPECT_EQ(analytics->trackerWithName("  ", "UA-1"), nullptr);
  EXPECT_TRUE(logger_->contains("Nil or empty name supplied. Cannot create tracker."));
  auto a = analytics->trackerWithName(" a ", "UA-1");
  ASSERT_TRUE(a);
  EXPECT_EQ(analytics->trackerWithName("a", "UA-2"), a);
  EXPECT_EQ(a->get("&tid"), "UA-1");
  EXPECT_EQ(analytics->defaultTracker(), a);
  auto b = analytics->trackerWithTrackingId("UA-3");
  EXPECT_EQ(analytics->defaultTracker(), a);
  EXPECT_EQ(b->name(), "UA-3");
  analytics->removeTrackerByName("nobody");
  EXPECT_EQ(analytics->trackers().size(), 2u);
  analytics->removeTrackerByName("a");
  EXPECT_EQ(analytics->defaultTracker(), nullptr);
  EXPECT_EQ(analytics->trackers().size(), 1u);
  analytics->setDefaultTracker(b);
  EXPECT_EQ(analytics->defaultTracker(), b);
  analytics->reset();
  EXPECT_EQ(analytics->defaultTracker(), nullptr);
  EXPECT_TRUE(analytics->trackers().empty());
}

// The instance lock is recursive: a callback run under it (the tracker factory, the connection
// class's dry-run switch) may call back into the instance on the same thread. Run on a thread of
// its own, so a lock that deadlocks fails the test instead of hanging it.
TEST_F(AnalyticsSingletonTest, CallbacksUnderTheInstanceLockMayCallBackIntoIt) {
  auto analytics = Analytics::sharedInstance();
  auto originalClass = analytics->trackerImplClass();
  auto originalConnection = analytics->urlConnectionClass();
  auto done = std::make_shared<std::promise<std::size_t>>();
  auto finished = done->get_future();
  std::thread([analytics, originalClass, originalConnection, done] {
    std::size_t seen = 0;
    analytics->setTrackerImplClass(
        [&](std::shared_ptr<AnalyticsDispatchSender> dispatcher, const std::string& name) {
          seen += analytics->trackers().size();
          analytics->dryRun();
          return originalClass(std::move(dispatcher), name);
        });
    auto connection = originalConnection;
    connection.setDryRun = [&](bool dryRun) {
      analytics->urlConnectionClass();
      originalConnection.setDryRun(dryRun);
    };
    analytics->setUrlConnectionClass(connection);
    analytics->trackerWithTrackingId("UA-1");
    analytics->trackerWithTrackingId("UA-2");
    analytics->setDryRun(true);
    analytics->setTrackerImplClass(originalClass);
    analytics->setUrlConnectionClass(originalConnection);
    done->set_value(seen);
  }).detach();
  if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "a callback under the instance lock could not call back into the instance";
    // The lock stays held for good: ending here, failed, beats hanging in the tear-down.
    std::fflush(stdout);
    _exit(1);
  }
  EXPECT_EQ(finished.get(), 1u) << "the second factory call saw the first tracker";
  EXPECT_EQ(analytics->trackers().size(), 2u);
  EXPECT_TRUE(AnalyticsURLConnection::dryRun());
}

TEST_F(AnalyticsSingletonTest, OptionsRecordTheirUsageCodes) {
  auto analytics = Analytics::sharedInstance();
  analytics->setDryRun(true);
  EXPECT_TRUE(analytics->dryRun());
  EXPECT_TRUE(AnalyticsURLConnection::dryRun());
  analytics->setOptOut(false);
  analytics->optOut();
  analytics->setLogger(logger_);  // the current logger: no code
  analytics->dispatch();
  EXPECT_EQ(AnalyticsUsageTracker::getUsageSequence(), ".23qrs");
  analytics->setLogger(std::make_shared<RecordingLogger>());
  EXPECT_EQ(AnalyticsUsageTracker::getUsageSequence(), ".4");
}

TEST_F(AnalyticsSingletonTest, DryRunCompletesRequestsWithoutSendingThem) {
  auto analytics = Analytics::sharedInstance();
  analytics->setDryRun(true);
  analytics->setDispatchInterval(20.0);
  analytics->trackerWithTrackingId("UA-1");
  analytics->defaultTracker()->send({{kAnalyticsHitType, kAnalyticsAppView}});
  analytics->dispatch();
  ASSERT_TRUE(runUntil([&] { return logger_->contains("1 hit(s) sent"); }));
  EXPECT_EQ(endpoint_.requestCount(), 0u);
  EXPECT_EQ(storedHits(), 0);
}

TEST_F(AnalyticsSingletonTest, AnalyticsThreadSleepsWhileIdle) {
  flush();
  // The kernel's view of the thread: "S" while it waits for work, "R" while it runs.
  std::string statPath;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (testsupport::readFile(task.path() / "comm") == "AnalyticsThread\n") {
      statPath = task.path() / "stat";
    }
  }
  ASSERT_FALSE(statPath.empty());
  auto state = [&] {
    std::string stat = testsupport::readFile(statPath);
    std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (state() != 'S' && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(state(), 'S');
}

class TrackedScreen : public AnalyticsTrackedViewController {
  CH_SHARED_OBJECT(TrackedScreen)
 private:
  TrackedScreen() = default;
};

TEST_F(AnalyticsSingletonTest, TrackedScreenSendsAScreenViewWhenShown) {
  auto screen = TrackedScreen::create();
  screen->viewDidAppear(false);
  EXPECT_TRUE(logger_->contains("Tracked view controller missing view name."));

  auto sender = std::make_shared<RecordingSender>();
  auto tracker = AnalyticsTrackerImpl::trackerWithDispatcher(sender, "screens");
  screen->setScreenName("zada_MyCourse");
  screen->viewDidAppear(false);  // no tracker at all: nothing
  screen->setTracker(tracker);
  screen->viewDidAppear(false);
  ASSERT_EQ(sender->models().size(), 1u);
  auto hit = sender->models()[0];
  EXPECT_EQ(hit->objectForKeyedSubscript("&t"), Value("appview"));
  EXPECT_EQ(hit->objectForKeyedSubscript("&cd"), Value("zada_MyCourse"));
  // The name stays with the tracker for its later hits.
  tracker->send({{kAnalyticsHitType, kAnalyticsEvent}});
  EXPECT_EQ(sender->models()[1]->objectForKeyedSubscript("&cd"), Value("zada_MyCourse"));
  screen->setScreenName("");
  screen->viewDidAppear(false);
  EXPECT_EQ(sender->models()[2]->objectForKeyedSubscript("&cd"), Value(""));
}

}  // namespace
}  // namespace analyticstest
