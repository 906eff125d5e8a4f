// The tags a container fires: the image pixel ("_img": its URL, parameters, once-only ids across
// a restart and across threads) and the analytics tag ("_ua": pass-through hits, "&aip",
// transactions and their items).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsBatchingDispatcher.h"
#include "analytics/AnalyticsDataStore.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsServerConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/net/FakeReachabilitySource.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/tags/TAGArbitraryPixel.h"
#include "tagmanager/tags/TAGUniversalAnalytics.h"

namespace {

using namespace tagtest;

class RecordingHitSender : public TAGHitSender {
 public:
  void sendHitToUrl(const std::string& url) override {
    platform::MutexLock lock(mutex_);
    urls_.push_back(url);
  }
  std::shared_ptr<TAGLogger> logger() const override { return nullptr; }
  void setLogger(std::shared_ptr<TAGLogger>) override {}
  std::vector<std::string> urls() const {
    platform::MutexLock lock(mutex_);
    return urls_;
  }

 private:
  mutable platform::Mutex mutex_;
  std::vector<std::string> urls_ GUARDED_BY(mutex_);
};

class TAGArbitraryPixelTest : public ::testing::Test {
 protected:
  TAGArbitraryPixelTest() { TAGArbitraryPixel::clearCache(); }
  ~TAGArbitraryPixelTest() override { TAGArbitraryPixel::clearCache(); }

  std::vector<std::string> fire(const TAGPropertyMap& properties) {
    auto sender = std::make_shared<RecordingHitSender>();
    TAGArbitraryPixel(sender).evaluate(properties);
    return sender->urls();
  }

  testsupport::TempHome home_;
  testsupport::TagLogRecorder log_;
};

TEST_F(TAGArbitraryPixelTest, AdditionalParamsJoinTheUrl) {
  struct Case {
    std::string url;
    TAGPValue::Ref params;
    std::string expected;
  };
  const Case cases[] = {
      {"http://127.0.0.1/p", list({map({{str("a"), integer(1)}}), map({{str("b"), integer(2)}})}),
       "http://127.0.0.1/p?a=1&b=2"},
      {"http://127.0.0.1/p?x=0",
       list({map({{str("a"), integer(1)}}), map({{str("b"), integer(2)}})}),
       "http://127.0.0.1/p?x=0&a=1&b=2"},
      {"http://127.0.0.1/p", list({map({{str("a b"), str("x&y=z")}})}),
       "http://127.0.0.1/p?a%20b=x%26y%3Dz"},
      // An empty list still adds its separator.
      {"http://127.0.0.1/p", list({}), "http://127.0.0.1/p?"},
      {"http://127.0.0.1/p", nullptr, "http://127.0.0.1/p"},
  };
  for (const auto& c : cases) {
    TAGPropertyMap properties{{"url", str(c.url)}};
    if (c.params) properties["additional_params"] = c.params;
    EXPECT_EQ(fire(properties), (std::vector<std::string>{c.expected})) << c.expected;
  }
  EXPECT_EQ(TAGArbitraryPixel(nullptr).requiredKeys(), std::set<std::string>{"url"});
  EXPECT_FALSE(TAGArbitraryPixel(nullptr).isCacheable());
}

TEST_F(TAGArbitraryPixelTest, BadParamsSendNothingAndSayWhy) {
  EXPECT_TRUE(fire({{"url", str("http://127.0.0.1/p")},
                    {"additional_params", map({{str("a"), integer(1)}})},
                    {"unrepeatable", str("once")}})
                  .empty());
  EXPECT_EQ(log_.lines("warning").back(),
            "ArbitraryPixel: additional params not a list: not sending partial hit: "
            "http://127.0.0.1/p");
  EXPECT_TRUE(fire({{"url", str("http://127.0.0.1/p")},
                    {"additional_params", list({map({{str("a"), integer(1)}}), str("x")})}})
                  .empty());
  EXPECT_EQ(log_.lines("warning").back(),
            "ArbitraryPixel: additional params contains non-map: not sending partial hit: "
            "http://127.0.0.1/p");
  EXPECT_FALSE(TAGArbitraryPixel::idInCache("once")) << "a pixel not sent is not recorded";
}

TEST_F(TAGArbitraryPixelTest, AnUnrepeatablePixelGoesOnceEvenAcrossARestart) {
  TAGPropertyMap once{{"url", str("http://127.0.0.1/once")}, {"unrepeatable", str("u1")}};
  EXPECT_EQ(fire(once).size(), 1u);
  EXPECT_TRUE(fire(once).empty()) << "another tag object, same process";
  // The id reaches the file in the background.
  ASSERT_TRUE(testsupport::runUntil([] { return TAGArbitraryPixel::idInPlist("u1"); }));

  TAGArbitraryPixel::clearCache();  // as a new process starts
  EXPECT_TRUE(fire(once).empty());
  EXPECT_TRUE(TAGArbitraryPixel::idInCache("u1")) << "copied from the file on first lookup";
  EXPECT_EQ(fire({{"url", str("http://127.0.0.1/once")}, {"unrepeatable", str("u2")}}).size(), 1u);
  auto stored = TAGPropertyListUtil::readPropertyList("tm_img_unrepeatable");
  ASSERT_TRUE(testsupport::runUntil([] { return TAGArbitraryPixel::idInPlist("u2"); }));
}

TEST_F(TAGArbitraryPixelTest, ConcurrentTagsSendOneIdOnce) {
  auto sender = std::make_shared<RecordingHitSender>();
  TAGPropertyMap once{{"url", str("http://127.0.0.1/race")}, {"unrepeatable", str("race")}};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      TAGArbitraryPixel tag(sender);
      for (int j = 0; j < 20; ++j) tag.evaluate(once);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(sender->urls().size(), 1u);
  testsupport::runUntil([] { return TAGArbitraryPixel::idInPlist("race"); });
}

class TAGUniversalAnalyticsTest : public ::testing::Test {
 protected:
  TAGUniversalAnalyticsTest()
      : endpoint_([](const testsupport::ScriptedRequest&) {
          return testsupport::ScriptedReply::text(200, "");
        }) {
    std::string origin = "http://127.0.0.1:" + std::to_string(endpoint_.port());
    AnalyticsServerConfig::setSecureHost(origin);
    AnalyticsServerConfig::setPlainHost(origin);
    Analytics::sharedInstance()->reset();
  }
  ~TAGUniversalAnalyticsTest() override {
    Analytics::sharedInstance()->reset();
    AnalyticsServerConfig::setSecureHost("");
    AnalyticsServerConfig::setPlainHost("");
  }

  // The parameters of the hits stored so far, oldest first.
  static std::vector<platform::Dictionary> storedHits() {
    std::vector<platform::Dictionary> hits;
    Analytics::performOnThreadAndWait([&] {
      auto stored = Analytics::sharedInstance()->dispatcher()->dataStore()->fetchHitsWithLimit(0);
      for (const auto& hit : stored.value_or(std::vector<platform::Dictionary>{})) {
        hits.push_back(*hit.at("parameters").asDictionary());
      }
    });
    return hits;
  }
  static std::string field(const platform::Dictionary& hit, const std::string& name) {
    const platform::Value* value = platform::find(hit, name);
    return value ? value->description() : "<absent>";
  }
  void fire(const TAGPropertyMap& tag) {
    tag_.evaluate(tag);
    Analytics::performOnThreadAndWait([] {});
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
  platform::ScopedFakeReachability reachability_;
  testsupport::TagLogRecorder log_;
  testsupport::ScriptedServer endpoint_;
  std::shared_ptr<TAGDataLayer> dataLayer_ = std::make_shared<TAGDataLayer>();
  TAGUniversalAnalytics tag_{dataLayer_};
};

TEST_F(TAGUniversalAnalyticsTest, AnonymizeIpIsDroppedForEmptyZeroOrFalse) {
  struct Case {
    std::string aip;
    bool kept;
  };
  const Case cases[] = {{"", false},      {"0", false}, {"false", false},
                        {"FALSE", false}, {"1", true},  {"true", true}};
  for (const auto& c : cases) {
    auto fields = tag_.trackerFieldsWithAnalyticsFields(
        map({{str("&aip"), str(c.aip)}, {str("&t"), str("event")}}));
    EXPECT_EQ(fields.count("&aip"), c.kept ? 1u : 0u) << c.aip;
    EXPECT_EQ(field(fields, "&t"), "event");
  }
  EXPECT_TRUE(tag_.trackerFieldsWithAnalyticsFields(str("not a map")).empty());
}

TEST_F(TAGUniversalAnalyticsTest, PassThroughSendsTheFieldsAndRemovesItsTracker) {
  auto before = Analytics::sharedInstance()->trackers();
  fire({{"analytics_pass_through", boolean(true)},
        {"analytics_fields", map({{str("&t"), str("event")},
                                  {str("&ec"), str("course")},
                                  {str("&aip"), str("false")}})}});
  auto hits = storedHits();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(field(hits[0], "&t"), "event");
  EXPECT_EQ(field(hits[0], "&ec"), "course");
  EXPECT_EQ(field(hits[0], "&aip"), "<absent>");
  EXPECT_EQ(field(hits[0], "&tid"), "__TM_DEFAULT_TRACKER__");
  EXPECT_EQ(Analytics::sharedInstance()->trackers().size(), before.size());
  EXPECT_EQ(Analytics::sharedInstance()->trackers().count("__TM_DEFAULT_TRACKER__"), 0u);
  ASSERT_NE(tag_.logger(), nullptr);
  // The tag installed its forwarding into analytics: analytics lines now reach the tag
  // manager's log.
  EXPECT_EQ(Analytics::sharedLogger(), tag_.logger());
  log_.clear();
  analyticsLogPlain(AnalyticsLogLevel::Warning, "through the tag manager");
  EXPECT_EQ(log_.lines("warning"), (std::vector<std::string>{"through the tag manager"}));
}

TEST_F(TAGUniversalAnalyticsTest, TransactionThenItemsInOrderAllCarryTheTransactionId) {
  dataLayer_->push(
      {{"transactionId", platform::Value("T-1")},
       {"transactionTotal", platform::Value("12.5")},
       {"transactionProducts",
        platform::Value(platform::Array{
            platform::Value(platform::Dictionary{{"name", platform::Value("A")},
                                                 {"sku", platform::Value("a-1")}}),
            platform::Value(platform::Dictionary{{"name", platform::Value("B")},
                                                 {"quantity", platform::Value("2")}})})}});
  fire({{"track_transaction", boolean(true)}, {"account", str("UA-9")}});
  auto hits = storedHits();
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(field(hits[0], "&t"), "transaction");
  EXPECT_EQ(field(hits[0], "&tid"), "UA-9");
  EXPECT_EQ(field(hits[0], "&tr"), "12.5");
  EXPECT_EQ(field(hits[1], "&t"), "item");
  EXPECT_EQ(field(hits[1], "&in"), "A");
  EXPECT_EQ(field(hits[1], "&ic"), "a-1");
  EXPECT_EQ(field(hits[2], "&in"), "B");
  EXPECT_EQ(field(hits[2], "&iq"), "2");
  for (const auto& hit : hits) EXPECT_EQ(field(hit, "&ti"), "T-1");
  EXPECT_EQ(field(hits[1], "&tid"), "__TM_DEFAULT_TRACKER__") << "items carry the tracker's";
}

TEST_F(TAGUniversalAnalyticsTest, ItemNumbersGoOutAsTextsLikeTheTransactionsOwn) {
  dataLayer_->push(
      {{"transactionId", platform::Value(std::int64_t{77})},
       {"transactionTotal", platform::Value(25.5)},
       {"transactionProducts", platform::Value(platform::Array{platform::Value(platform::Dictionary{
                                   {"name", platform::Value("A")},
                                   {"price", platform::Value(12.75)},
                                   {"quantity", platform::Value(std::int64_t{2})},
                                   {"sku", platform::Value(true)}})})}});
  fire({{"track_transaction", boolean(true)}, {"account", str("UA-9")}});
  auto hits = storedHits();
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(field(hits[0], "&tr"), "25.5");
  const std::pair<const char*, const char*> expected[] = {
      {"&ti", "77"}, {"&ip", "12.75"}, {"&iq", "2"}, {"&ic", "1"}, {"&in", "A"}};
  for (const auto& [name, text] : expected) {
    const platform::Value* value = platform::find(hits[1], name);
    ASSERT_NE(value, nullptr) << name;
    ASSERT_NE(value->asText(), nullptr) << name << " is a text";
    EXPECT_EQ(*value->asText(), text) << name;
  }
}

TEST_F(TAGUniversalAnalyticsTest, TransactionsThatCannotGoWholeSendNothing) {
  struct Case {
    platform::Dictionary dataLayer;
    std::string error;
  };
  const Case cases[] = {
      {{}, "Cannot find transactionId in data layer."},
      {{{"transactionId", platform::Value("T")},
        {"transactionProducts", platform::Value("not a list")}},
       "Unable to send transaction: transactionProducts should be of type NSArray"},
      {{{"transactionId", platform::Value("T")},
        {"transactionProducts", platform::Value(platform::Array{platform::Value(1)})}},
       "Unable to send transaction: Each element of transactionProducts should be of type "
       "NSDictionary"},
      {{{"transactionId", platform::Value("T")},
        {"transactionProducts", platform::Value(platform::Array{platform::Value(
                                    platform::Dictionary{{"sku", platform::Value("s")}})})}},
       "Unable to send transaction item hit due to missing 'name' field."},
  };
  for (const auto& c : cases) {
    auto dataLayer = std::make_shared<TAGDataLayer>();
    dataLayer->push(c.dataLayer);
    TAGUniversalAnalytics tag(dataLayer);
    tag.evaluate({{"track_transaction", boolean(true)}});
    Analytics::performOnThreadAndWait([] {});
    EXPECT_TRUE(storedHits().empty()) << c.error;
    EXPECT_EQ(log_.lines("error").back(), c.error);
  }
  EXPECT_EQ(Analytics::sharedInstance()->trackers().count("__TM_DEFAULT_TRACKER__"), 0u);
}

TEST_F(TAGUniversalAnalyticsTest, ATagOfNeitherKindOnlyWarns) {
  fire({{"account", str("UA-1")}});
  EXPECT_EQ(log_.lines("warning").back(), "Ignoring unknown tag.");
  EXPECT_TRUE(storedHits().empty());
  EXPECT_EQ(Analytics::sharedInstance()->trackers().count("__TM_DEFAULT_TRACKER__"), 0u);
}

}  // namespace
