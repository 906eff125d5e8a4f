// Advertising click referrers: collected from URLs pushed to the data layer, kept by conversion
// id in memory and in the "ClickReferrer" property list, and looked up whole or by component.

#include <gtest/gtest.h>

#include <thread>

#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/manager/TAGAdClickReferrerListener.h"
#include "tagmanager/manager/TAGClickReferrerUtil.h"
#include "tagmanager/manager/TAGDataLayer.h"

namespace {

using platform::Dictionary;
using platform::Value;
using testsupport::TagLogRecorder;

class TAGClickReferrerTest : public ::testing::Test {
 protected:
  TAGClickReferrerTest() { TAGClickReferrerUtil::clearCache(); }
  ~TAGClickReferrerTest() override {
    waitForWrites();
    TAGClickReferrerUtil::clearCache();
  }

  // Background writes run in order on one queue: once a marker written after them is there,
  // they have all landed.
  void waitForWrites() {
    TAGPropertyListUtil::writePropertyListAsync("marker", Value(platform::Array{}));
    ASSERT_TRUE(testsupport::runUntil(
        [] { return TAGPropertyListUtil::readPropertyList("marker").has_value(); }));
    TAGPropertyListUtil::removePropertyList("marker");
  }

  testsupport::TempHome home_;
};

TEST_F(TAGClickReferrerTest, AReferrerIsFoundByItsConversionIdWholeOrByComponent) {
  TAGClickReferrerUtil::addClickReferrer("conv=123&src=abc");
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("123", std::nullopt),
            "conv=123&src=abc");
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("123", "src"), "abc");
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("123", "none"), std::nullopt);

  // It reached the file, and a fresh process (an empty cache) finds it there.
  waitForWrites();
  EXPECT_EQ(TAGPropertyListUtil::readPropertyList("ClickReferrer"),
            Value(Dictionary{{"123", Value("conv=123&src=abc")}}));
  TAGClickReferrerUtil::clearCache();
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("123", "src"), "abc");
}

TEST_F(TAGClickReferrerTest, AReferrerWithoutConversionIdIsNotStored) {
  TagLogRecorder log;
  TAGClickReferrerUtil::addClickReferrer("src=abc");
  TAGClickReferrerUtil::addClickReferrer("conv=&src=abc");
  waitForWrites();
  EXPECT_FALSE(testsupport::exists(TAGPropertyListUtil::plistFilePath("ClickReferrer")));
}

TEST_F(TAGClickReferrerTest, AnUnknownIdIsNothingAndARequestedComponentWarnsOnce) {
  TagLogRecorder log;
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("9", std::nullopt), std::nullopt);
  EXPECT_TRUE(log.lines("warning").empty());
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("9", "src"), std::nullopt);
  EXPECT_EQ(log.lines("warning"), (std::vector<std::string>{"Invalid component: "}));
}

TEST_F(TAGClickReferrerTest, AnUnknownIdIsRememberedAsEmptyOnceTheCacheExists) {
  TAGClickReferrerUtil::addClickReferrer("conv=1");
  waitForWrites();
  // Written behind the cache's back: the cache remembered "" for 2 already, so it is not read.
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("2", std::nullopt), std::nullopt);
  ASSERT_TRUE(TAGPropertyListUtil::writePropertyList(
      "ClickReferrer", Value(Dictionary{{"1", Value("conv=1")}, {"2", Value("conv=2")}})));
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("2", std::nullopt), std::nullopt);
  TAGClickReferrerUtil::clearCache();
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("2", std::nullopt), "conv=2");
}

TEST_F(TAGClickReferrerTest, QueryParametersAreSplitAndDecoded) {
  TagLogRecorder log;
  using Map = std::map<std::string, std::string>;
  EXPECT_EQ(TAGClickReferrerUtil::parseComponentsFromQueryParameters("a=1&&b=2&c"),
            (Map{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(log.lines("warning"),
            (std::vector<std::string>{"Invalid component: ", "Invalid component: c"}));
  log.clear();
  EXPECT_EQ(TAGClickReferrerUtil::parseComponentsFromQueryParameters("a=x%20y+z&a=2"),
            (Map{{"a", "2"}}));
  EXPECT_EQ(TAGClickReferrerUtil::parseComponentsFromQueryParameters("a=x%20y+z"),
            (Map{{"a", "x y+z"}}));
  EXPECT_EQ(TAGClickReferrerUtil::parseComponentsFromQueryParameters("a=b=c"), Map{});
  EXPECT_EQ(TAGClickReferrerUtil::parseComponentsFromQueryParameters("bad=%zz&ok=1"),
            (Map{{"ok", "1"}}));
  EXPECT_EQ(log.lines("warning"),
            (std::vector<std::string>{"Invalid component: a=b=c", "Invalid component: bad=%zz"}));
  EXPECT_EQ(TAGClickReferrerUtil::extractComponent(std::nullopt, std::string("")), std::nullopt);
  EXPECT_EQ(TAGClickReferrerUtil::extractComponent(std::nullopt, std::nullopt), std::nullopt);
}

TEST_F(TAGClickReferrerTest, TheDataLayerListenerCollectsReferrersFromPushedUrls) {
  TAGDataLayer dataLayer;
  dataLayer.registerListener(std::make_shared<TAGAdClickReferrerListener>());
  const std::vector<std::pair<const char*, Dictionary>> pushes = {
      {"dotted key", {{"tm.url", Value("app://open?referrer=conv%3D1%26src%3Da")}}},
      {"nested",
       {{"tm", Value(Dictionary{{"url", Value("app://open?x=1&referrer=conv%3D2#frag")}})}}},
      {"not a string", {{"tm.url", Value(5)}}},
      {"no referrer", {{"tm.url", Value("app://open?conv=3")}}},
      {"not a URL", {{"tm.url", Value("app://open?referrer=conv%3D4 x")}}},
      {"no query", {{"tm.url", Value("app://open#referrer=conv%3D5")}}},
      {"tm is no dictionary", {{"tm", Value("referrer=conv%3D6")}}},
  };
  for (const auto& [what, update] : pushes) dataLayer.push(update);
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("1", "src"), "a");
  EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId("2", std::nullopt), "conv=2");
  for (const char* id : {"3", "4", "5", "6"}) {
    EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId(id, std::nullopt), std::nullopt)
        << id;
  }
}

TEST_F(TAGClickReferrerTest, ThreadsAddAndLookUpAtOnceAndTheFileEndsWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        std::string id = std::to_string(t * 100 + i);
        TAGClickReferrerUtil::addClickReferrer("conv=" + id + "&n=" + std::to_string(i));
        EXPECT_EQ(TAGClickReferrerUtil::clickReferrerForConversionId(id, "n"), std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  waitForWrites();
  auto stored = TAGPropertyListUtil::readPropertyList("ClickReferrer");
  ASSERT_TRUE(stored && stored->asDictionary());
  EXPECT_EQ(stored->asDictionary()->size(), 200u);
}

}  // namespace
